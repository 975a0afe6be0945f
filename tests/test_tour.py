"""The tour command: a gallery of every view of every family that agrees with the view table,
and one-line errors for mistakes in the command."""

import contextlib
import io
import os
import subprocess
import sys
from html.parser import HTMLParser
from types import SimpleNamespace

import matplotlib.image as mpimg
import matplotlib.pyplot as plt
import numpy as np
import pytest

pytest.importorskip("vexo.workflow.interpret_api")
from test_experiment_views import DRAW, MODELS, REFUSALS, SHOW, VIEWS as TABLE  # noqa: E402
from test_experiment_views import REFUSE  # noqa: E402

from vexo.workflow import tour  # noqa: E402

DISTINCT = ("uni_feature", "bi_features", "original_scale")
CHOICES = tour.Choices("f", ("f", "g"), ("f", "g"), 0)


def table_outcome(view, family, experiment):
    """What the view table says the tour's view does for a family; a model that found no pair
    refuses the pair it is shown."""
    if view.slug == "interaction" and family != "reludnn" and not experiment.act_inter_lis[family]:
        return REFUSE
    keys = {k for k in view.arguments(CHOICES) if k in DISTINCT}
    model = next(m for m in MODELS if {"relu": "reludnn"}.get(m, m) == family)
    [outcome] = [o for show, arguments, _, o in TABLE
                 if show == view.show and keys == {k for k in arguments if k in DISTINCT}][:1]
    return outcome[model]


class Gallery(HTMLParser):
    """Per figure id: its caption, images, refusal and error texts, table count; the links, and
    the ids shown in the grid of drawn views."""

    def __init__(self, page):
        super().__init__()
        self.figures, self.links, self.shown, self.in_grid, self.text_of = {}, [], set(), False, None
        self.feed(page)

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "div" and attrs.get("class") in ("views", "refusals"):
            self.in_grid = attrs["class"] == "views"
        elif tag == "figure":
            self.current = self.figures[attrs["id"]] = dict(caption="", img=[], alt=[], srcset=[], refused="",
                                                            error="", tables=0, wide=attrs.get("class") == "wide")
            if self.in_grid:
                self.shown.add(attrs["id"])
        elif tag == "img":
            for key, name in (("src", "img"), ("alt", "alt"), ("srcset", "srcset")):
                self.current[name].append(attrs.get(key))
        elif tag == "a":
            self.links.append(attrs["href"])
        elif tag == "table":
            self.current["tables"] += 1
        elif tag == "figcaption" or (tag == "p" and attrs.get("class") in ("refused", "error")):
            self.text_of = attrs.get("class", "caption")

    def handle_endtag(self, tag):
        self.text_of = None if tag in ("p", "figcaption") else self.text_of

    def handle_data(self, data):
        if self.text_of:
            self.current[self.text_of] += data


def run(argv, capsys):
    status = tour.main(argv)
    out, err = capsys.readouterr()
    return status, out, err


@pytest.fixture(scope="module")
def gallery(tmp_path_factory):
    out, made = tmp_path_factory.mktemp("tour") / "gallery", []
    make_experiment = tour.make_experiment
    tour.make_experiment = lambda *args, **kw: made.append(make_experiment(*args, **kw)) or made[0]
    printed = io.StringIO()
    try:
        with contextlib.redirect_stdout(printed), contextlib.redirect_stderr(io.StringIO()):
            status = tour.main(["--rows", "150", "--out", str(out)])
    finally:
        tour.make_experiment = make_experiment
    return status, printed.getvalue(), out, Gallery((out / "index.html").read_text(encoding="utf-8")), made[0]


def test_the_gallery_agrees_with_the_view_table_and_links_its_images(gallery):
    status, printed, out, parsed, experiment = gallery
    assert status == 0 and printed.splitlines()[-1] == "Gallery: %s" % (out / "index.html")
    assert {view.show for view in tour.VIEWS} == {row[0] for row in TABLE}
    families = tour.model_families()
    assert len(parsed.figures) == len(families) * len(tour.VIEWS)
    for family in families:
        for view in tour.VIEWS:
            where, figure = (family, view.slug), parsed.figures["%s-%s" % (family, view.slug)]
            expected = table_outcome(view, family, experiment)
            assert figure["caption"], where
            if expected is TypeError and view.show == "glm_coef":
                # a model without coefficients: the module's TypeError is that model's refusal
                assert figure["refused"] == tour.NO_COEFFICIENTS and not figure["error"], where
                assert "%s-%s" % where not in parsed.shown
            elif expected not in (DRAW, SHOW, REFUSE):
                assert figure["error"].startswith(expected.__name__ + ": ") and not figure["img"]
            else:
                assert not figure["error"], (where, figure)
                assert figure["img"] == (["%s-%s.png" % where] if expected == DRAW else []), where
                assert (figure["tables"] == 1) == (expected == SHOW), where
                assert (figure["refused"] in REFUSALS) == (expected == REFUSE), where
    images = {src for figure in parsed.figures.values() for src in figure["img"]}
    assert images and set(parsed.links) - {"#" + f for f in families} == images
    assert {name for name in os.listdir(out) if name.endswith(".png")} == images
    for name in images:
        pixels = mpimg.imread(out / name)[..., :3]
        assert 0.01 < (pixels.min(axis=2) < 0.9).mean() < 0.9 and np.ptp(pixels) > 0.5, name
    # shown at half their pixel size: drawn at twice the resolution
    assert all(srcset == src + " 2x" for figure in parsed.figures.values()
               for src, srcset in zip(figure["img"], figure["srcset"]))
    # only trees and tables take a row of their own; the summary is an HTML table
    assert {name.split("-", 1)[1] for name, f in parsed.figures.items() if f["wide"]} == \
        {"llm-summary", "tree", "tree-path"}
    assert "<th>Count</th>" in (out / "index.html").read_text(encoding="utf-8")


def test_mistakes_in_the_command_and_bad_tables_end_with_one_line(tmp_path, monkeypatch, capsys):
    monkeypatch.chdir(tmp_path)
    files = {"header.csv": "a,b,price\n", "blank.csv": "", "quotes.csv": 'a,b\n1,"2\n3,4\n',
             "t.csv": "a,kind,same\n" + "".join("%d,%s,1\n" % (k, "xyz"[k % 3]) for k in range(30))}
    for name, text in files.items():
        (tmp_path / name).write_text(text)
    (tmp_path / "image.csv").write_bytes(b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR" * 20)
    t, classify = ["--csv", "t.csv", "--target"], ["--task", "classification"]
    cases = [
        (["--csv", "absent.csv", "--target", "a"], "no such file: absent.csv"),
        (t + ["cost"], "no column 'cost' in t.csv"),
        (t + ["kind"], "column 'kind' is not numeric"),
        (["--csv", "t.csv"], "--csv needs --target COLUMN"),
        (["--rows", "0"], "--rows must be a positive number"),
        (["--data", "iris"], "argument --data: invalid choice"),
        (["--rows", "40", "--out", "t.csv"], "cannot make the folder t.csv"),
        (["--csv", "header.csv", "--target", "price"], "header.csv: the file has no rows"),
        (["--csv", "blank.csv", "--target", "price"], "cannot read blank.csv as CSV: "),
        (["--csv", "image.csv", "--target", "a"], "cannot read image.csv as CSV: it is not a text"),
        (["--csv", "quotes.csv", "--target", "a"], "cannot read quotes.csv as CSV: "),
        (t + ["same"] + classify, "column 'same' takes a single value; a classification target needs at least 2"),
        (t + ["kind", "--class", "w"] + classify,
         "--class w is not a class of column 'kind'; its classes are x, y, z"),
        (t + ["a", "--class", "3"], "--class is for a classification target; the task is regression"),
        (["--class", "malignant"], "--class is for a classification target"),
    ]
    for argv, message in cases:
        status, out, err = run(argv, capsys)
        assert (status, out) == (2, ""), argv
        assert err.startswith("vexo-tour: error: " + message) and err.count("\n") == 1, (argv, err)
    assert sorted(os.listdir(tmp_path)) == sorted(list(files) + ["image.csv"])


def test_a_table_of_ones_own_is_toured_into_a_new_folder(tmp_path):
    rng = np.random.default_rng(1)
    rows = ["%.3f,%.3f,%s,%s" % (a, b, c, "yes" if a + b + (c == "x") > 1.4 else "no")
            for a, b, c in zip(rng.uniform(size=80), rng.uniform(size=80), rng.choice(["x", "y"], 80))]
    (tmp_path / "mine.csv").write_text("a,b,c,label\n" + "\n".join(rows) + "\n")
    done = subprocess.run([sys.executable, "-m", "vexo.workflow.tour", "--csv", "mine.csv", "--target",
                           "label", "--task", "classification"], cwd=tmp_path, capture_output=True,
                          text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    folder = os.path.dirname(done.stdout.splitlines()[-1].split("Gallery: ")[1])
    assert os.path.dirname(folder) == str(tmp_path) and os.path.basename(folder).startswith("vexo-tour-mine_csv-")
    assert "mine.csv: 80 rows, target 'label' (classification)" in done.stdout
    assert any(name.endswith("importance.png") for name in os.listdir(folder))


def test_the_pair_shown_is_the_strongest_term_by_its_full_and_display_names():
    names = ["age", "income x region", "region", "a_very_long_feature_name"]
    terms = {"age x region": "age x region",
             "income x region x a_very_long_feature_name": "income x regi x a_very_long_fe"}
    # the model's terms by their display names, as the experiment lists them
    experiment = SimpleNamespace(
        dataset=SimpleNamespace(feature_names=names, test_index=np.array([7, 9]),
                                truncated_columns_dict_15={n: n[:15] for n in names}),
        act_inter_lis={"m": list(terms.values())}, inter_effect_trunc_dict={"m": terms},
        interpret_fi=lambda model: {"feature_names": ["region", "age"]},
        interpret_ei=lambda model: {"type": "effect", "value": (
            ["age x region", "region", "income x regi x a_very_long_fe", "age"], None)})
    assert tour.choose(experiment, "m") == tour.Choices(
        "age", ("income x region", "a_very_long_feature_name"), ("income x region", "a_very_long_fea"), 7)
    experiment.act_inter_lis = {"m": []}
    assert tour.choose(experiment, "m").pair == ("age", "region")


def test_a_header_with_a_quoted_separator_does_not_mislead_the_sniffer(tmp_path):
    for text, columns in [('"price; in $",size\n' + "".join("%d,%d\n" % (k, 2 * k) for k in range(5)),
                          ["price; in $", "size"]), ("price\n1\n2\n", ["price"])]:
        (tmp_path / "q.csv").write_text(text)
        frame, how = tour.read_csv(str(tmp_path / "q.csv"))
        assert how is None and list(frame.columns) == columns


def test_the_class_option_names_the_target_value_and_reaches_the_experiment(tmp_path, monkeypatch, capsys):
    import vexo.workflow.experiment as experiment_module

    passed = []
    monkeypatch.setattr(experiment_module, "Experiment", lambda *args, **kwargs: passed.append(kwargs))
    (tmp_path / "t.csv").write_text("a,grade,score,word,flag\n" + "".join(
        "%d,%d,%s,%s,%s\n" % (k, k % 3, k % 3 + 0.0, "abc"[k % 3], k % 2 == 0) for k in range(30)))
    for column, label, value in [("grade", "2", 2), ("score", "2", 2.0), ("score", "1.0", 1.0),
                                 ("word", "b", "b"), ("flag", "true", True), ("grade", None, None)]:
        argv = ["--csv", str(tmp_path / "t.csv"), "--target", column, "--task", "classification"]
        args = tour.parse_args(argv + (["--class", label] if label else []))
        _, frame, target = tour.load_table(args)
        tour.make_experiment(frame, target, args.task, args.seed, args.positive_class)
        for given in (args.positive_class, passed[-1]["positive_class"]):
            assert given == value and type(given) is type(value), (column, label)

    def stop(*args):  # the command line hands the label on as well
        raise tour.UsageError("given %r" % (args[4],))

    monkeypatch.setattr(tour, "make_experiment", stop)
    status, _, err = run(argv + ["--class", "2"], capsys)
    assert status == 2 and err.endswith("given 2\n"), err


@pytest.fixture
def broken_families(monkeypatch):
    """Two families registered for the test: "broken" raises while fitting (a message of two
    lines), "unexplained" while explaining a fitted tree."""
    from vexo.workflow import families

    class Unfittable:
        def __init__(self, **settings):
            self.settings = settings

        def get_params(self, deep=True):
            return dict(self.settings)

        def fit(self, X, y):
            raise RuntimeError("cannot fit today\n(the second line)")

    class Broken(families.Family):
        name = "broken"

        def classes(self):
            return Unfittable, Unfittable

    class Unexplained(families.TreeFamily):
        name = "unexplained"

        def explainer(self, experiment, model):
            raise KeyError("no explanation of column 'size'")

    for family in (Broken(), Unexplained()):
        monkeypatch.setitem(families.FAMILIES, family.name, family)
    monkeypatch.setattr(tour, "model_families", lambda: ["glm", "broken", "unexplained", "tree"])


def test_a_family_that_fails_leaves_the_others_and_the_gallery(tmp_path, capsys, broken_families, monkeypatch):
    (tmp_path / "t.csv").write_text("size;colour;price\n" + "".join(
        "%d;%s;%d\n" % (k, ("röt", "blau")[k % 2], 3 * k + k % 2) for k in range(40)), encoding="cp1252")
    make_experiment = tour.make_experiment

    def noted(*args, **kwargs):
        experiment = make_experiment(*args, **kwargs)
        experiment.notes.append("dropped 3 rows whose target is missing")
        return experiment

    monkeypatch.setattr(tour, "make_experiment", noted)
    out = tmp_path / "gallery"
    status, printed, err = run(["--csv", str(tmp_path / "t.csv"), "--target", "price", "--out", str(out)], capsys)
    assert status == 0 and "Traceback" not in err + printed
    lines = printed.splitlines()
    assert lines[:2] == ["Note: read t.csv as semicolon-separated, in cp1252 (it is not UTF-8)",
                         "Note: dropped 3 rows whose target is missing"]
    assert "; 2 models fitted and " in lines[2] and "2 of the 4 families failed to fit or explain" in lines[3]
    # one progress line per family, and no bar redraws off a terminal
    assert [line.split(" after ")[0].split(" in ")[0] for line in err.splitlines()] == [
        "vexo-tour: [25%] glm fitted", "vexo-tour: [50%] broken failed while fitting",
        "vexo-tour: [75%] unexplained failed while explaining", "vexo-tour: [100%] tree fitted"] and "\r" not in err
    page = (out / "index.html").read_text(encoding="utf-8")
    parsed = Gallery(page)
    for text in ["<li>dropped 3 rows whose target is missing</li>", "Failed while explaining: KeyError",
                 "Failed while fitting: RuntimeError: cannot fit today (the second line)"]:
        assert text in page
    assert not any(name.startswith(("broken", "unexplained")) for name in parsed.figures)
    assert all((out / parsed.figures["%s-importance" % f]["img"][0]).exists() for f in ("glm", "tree"))


def test_the_progress_bar_ends_at_100_percent_with_the_failures_above_it():
    families, stream = ["glm", "tree", "ebm"], io.StringIO()
    bar = tour.Progress(families, "bar", stream)
    for family in families:
        fails = "explaining" if family == "tree" else None
        bar.start(family)
        for what in bar.STEPS + tuple(view.slug for view in tour.VIEWS):
            with bar.step(what):
                pass
            if what == fails:
                break
        bar.finish(tour.Section(family, "", [], fails, "ValueError: no" if fails else None))
    bar.close()
    last, total = stream.getvalue().rstrip("\n").split("\r")[-1], len(families) * bar.per_family
    assert "100%" in last and "%d/%d" % (total, total) in last and "done" in last, last
    assert "vexo-tour: tree failed while explaining" in stream.getvalue()


class Drawing:
    """A model's views as the dispatcher draws them: a line for every view, or an error."""

    def __init__(self, raises=None):
        self.raises = raises

    def model_interpret(self, show, **arguments):
        if self.raises:
            raise self.raises
        plt.figure(figsize=(4, 3))
        plt.plot([0, 1], [1, 0])
        plt.show()


def test_views_are_saved_in_the_look_at_twice_the_resolution_or_refused(tmp_path, monkeypatch):
    from PIL import Image

    from vexo.workflow import look

    monkeypatch.setattr(look, "context", lambda: plt.rc_context({"lines.linewidth": 7.5,
                                                                 "savefig.facecolor": "#204080"}))
    view = {v.show: v for v in tour.VIEWS}
    entry = tour.run_view(Drawing(), "m", view["global_fi"], CHOICES, str(tmp_path))
    assert entry.files == ["m-importance.png"] and not entry.error
    with Image.open(tmp_path / "m-importance.png") as image:
        assert image.convert("RGB").getpixel((0, 0)) == (0x20, 0x40, 0x80)  # saved inside the look
        assert np.allclose(image.info["dpi"], (tour.DPI, tour.DPI), atol=0.1)
        # 4 inches wide: at most 4.2 with the tight margin, at least 3 without the empty border
        assert 3 * tour.DPI <= image.size[0] <= 4.2 * tour.DPI
    assert plt.rcParams["lines.linewidth"] != 7.5

    # only the coefficients of a model without them are its refusal
    subscripted = TypeError("'NoneType' object is not subscriptable")

    def broken(model):
        raise KeyError("the model 'm' is not registered")

    none, some = (SimpleNamespace(interpret_ei=lambda model, r=r: r) for r in (None, {"type": "effect"}))
    for show, raised, experiment, error in [
            ("glm_coef", subscripted, none, None), ("glm_coef", subscripted, some, "TypeError"),
            ("glm_coef", subscripted, SimpleNamespace(interpret_ei=broken), "TypeError"),
            ("glm_coef", KeyError("feature_hier"), none, "KeyError"), ("global_fi", subscripted, none, "TypeError")]:
        entry = tour.as_refusal(experiment, "m", tour.run_view(Drawing(raised), "m", view[show], CHOICES, str(tmp_path)))
        if error is None:
            assert (entry.error, entry.printed) == (None, tour.NO_COEFFICIENTS) and tour.refused(entry)
        else:
            assert entry.error.startswith(error + ": ") and not tour.refused(entry), raised
    drawn = tour.run_view(Drawing(), "m", view["glm_coef"], CHOICES, str(tmp_path))
    assert tour.as_refusal(none, "m", drawn) == drawn


def test_captions_and_alt_texts_name_the_features_in_full(tmp_path):
    import pandas as pd

    from vexo.workflow.experiment import Experiment

    rng = np.random.default_rng(0)
    a, b, c = rng.uniform(size=(3, 150))
    long_a, long_b = "mean texture of the nuclei", "worst compactness of the nuclei"
    frame = pd.DataFrame({long_a: a, long_b: b, "area": c, "y": 10 * a * b + c + rng.normal(scale=0.1, size=150)})
    section = tour.tour_family(Experiment(frame, "y"), "ebm", str(tmp_path), tour.Progress(["ebm"], False))
    entries = {entry.view.slug: entry for entry in section.entries}
    interaction = entries["interaction"]
    # the view itself was given the display names it knows the pair by, and drew
    assert interaction.files and not interaction.error and long_b in entries["main-effect"].title
    assert interaction.title == "Interaction of %s and %s" % (long_a, long_b)
    figure = Gallery(tour.entry_html("ebm", interaction)).figures["ebm-interaction"]
    assert long_a in figure["alt"][0] and long_b in figure["alt"][0] and figure["caption"] == interaction.title
