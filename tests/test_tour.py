"""The tour command: a gallery of every view of every family that agrees with the view table,
and one-line errors for mistakes in the command."""

import contextlib
import io
import os
import subprocess
import sys
from html.parser import HTMLParser

import matplotlib.image as mpimg
import numpy as np
import pytest

pytest.importorskip("vexo.workflow.interpret_api")
from test_experiment_views import DRAW, MODELS, REFUSALS, SHOW, VIEWS as TABLE  # noqa: E402
from test_experiment_views import REFUSE  # noqa: E402

from vexo.workflow import tour  # noqa: E402

# The view table's models by their family.
FAMILY = {"relu": "reludnn"}
DISTINCT = ("uni_feature", "bi_features", "original_scale")


def table_outcome(view, family, experiment):
    """What the view table says the tour's view does for a family. The test experiment's
    additive models are given their pair; a model that found none refuses the pair it is
    shown."""
    if (view.slug == "interaction" and family != "reludnn"
            and not experiment.act_inter_lis[family]):
        return REFUSE
    keys = {k for k in view.arguments(tour.Choices("f", ("f", "g"), ("f", "g"), 0)) if k in DISTINCT}
    model = next(m for m in MODELS if FAMILY.get(m, m) == family)
    for show, arguments, _, outcome in TABLE:
        if show == view.show and keys == {k for k in arguments if k in DISTINCT}:
            return outcome[model]
    raise LookupError("no row of the view table for %s %s" % (view.show, sorted(keys)))


class Gallery(HTMLParser):
    """Per figure id: its caption, image sources, links, refusal texts and table count."""

    def __init__(self):
        super().__init__()
        self.figures, self.links, self.current, self.text_of = {}, [], None, None
        # the ids of the figures in the grid of drawn views, not among the refusals
        self.shown, self.in_grid = set(), False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "div" and attrs.get("class") in ("views", "refusals"):
            self.in_grid = attrs["class"] == "views"
        if tag == "figure":
            self.current = self.figures.setdefault(attrs["id"], {
                "id": attrs["id"], "caption": "", "img": [], "alt": [], "srcset": [],
                "refused": "", "error": "", "tables": 0, "wide": attrs.get("class") == "wide"})
            if self.in_grid:
                self.shown.add(attrs["id"])
        elif tag == "img":
            self.current["img"].append(attrs["src"])
            self.current["alt"].append(attrs.get("alt"))
            self.current["srcset"].append(attrs.get("srcset"))
        elif tag == "a":
            self.links.append(attrs["href"])
        elif tag == "table":
            self.current["tables"] += 1
        elif tag == "figcaption":
            self.text_of = "caption"
        elif tag == "p" and attrs.get("class") in ("refused", "error"):
            self.text_of = attrs["class"]

    def handle_endtag(self, tag):
        if tag in ("p", "figcaption"):
            self.text_of = None

    def handle_data(self, data):
        if self.text_of:
            self.current[self.text_of] += data


@pytest.fixture(scope="module")
def gallery(tmp_path_factory):
    out = tmp_path_factory.mktemp("tour") / "gallery"
    printed, made = io.StringIO(), []
    make_experiment = tour.make_experiment
    tour.make_experiment = lambda *args, **kw: made.append(make_experiment(*args, **kw)) or made[0]
    try:
        with contextlib.redirect_stdout(printed), contextlib.redirect_stderr(io.StringIO()):
            status = tour.main(["--rows", "150", "--out", str(out)])
    finally:
        tour.make_experiment = make_experiment
    parser = Gallery()
    parser.feed((out / "index.html").read_text(encoding="utf-8"))
    return status, printed.getvalue(), out, parser, made[0]


def test_every_show_value_of_the_view_table_is_in_the_tour():
    assert {view.show for view in tour.VIEWS} == {row[0] for row in TABLE}


def test_the_gallery_agrees_with_the_view_table(gallery):
    status, printed, out, parsed, experiment = gallery
    assert status == 0
    assert printed.splitlines()[-1] == "Gallery: %s" % (out / "index.html")
    families = tour.model_families()
    assert len(parsed.figures) == len(families) * len(tour.VIEWS)
    for family in families:
        for view in tour.VIEWS:
            figure = parsed.figures["%s-%s" % (family, view.slug)]
            expected = table_outcome(view, family, experiment)
            assert figure["caption"], (family, view.slug)
            if expected is TypeError and view.show == "glm_coef":
                # a model without coefficients: the module's TypeError is that model's refusal
                assert figure["refused"] == tour.NO_COEFFICIENTS and not figure["error"]
                assert figure["id"] not in parsed.shown, (family, view.slug)
                continue
            if expected not in (DRAW, SHOW, REFUSE):
                assert figure["error"].startswith(expected.__name__ + ": ") and not figure["img"]
                continue
            assert not figure["error"], (family, view.slug, figure)
            if expected == DRAW:
                assert figure["img"] == ["%s-%s.png" % (family, view.slug)], (family, view.slug)
            elif expected == SHOW:
                assert figure["tables"] == 1 and not figure["img"]
            else:
                assert figure["refused"] in REFUSALS and not figure["img"], (family, view.slug)


def test_every_link_resolves_to_a_drawn_image(gallery):
    _, _, out, parsed, _ = gallery
    images = {src for figure in parsed.figures.values() for src in figure["img"]}
    assert images and set(parsed.links) - {"#" + f for f in tour.model_families()} == images
    assert {name for name in os.listdir(out) if name.endswith(".png")} == images
    for name in images:
        pixels = mpimg.imread(out / name)[..., :3]
        inked = (pixels.min(axis=2) < 0.9).mean()
        assert 0.01 < inked < 0.9 and np.ptp(pixels) > 0.5, name
    # shown at half their pixel size: drawn at twice the resolution
    assert all(srcset == src + " 2x" for figure in parsed.figures.values()
               for src, srcset in zip(figure["img"], figure["srcset"]))


def test_the_summary_table_is_html(gallery):
    _, _, out, parsed, _ = gallery
    page = (out / "index.html").read_text(encoding="utf-8")
    summary = parsed.figures["reludnn-llm-summary"]
    assert summary["tables"] == 1 and summary["wide"]
    assert "<th>Count</th>" in page
    # only trees and tables take a row of their own; the other figures share the grid
    wide = {name.split("-", 1)[1] for name, figure in parsed.figures.items() if figure["wide"]}
    assert wide == {"llm-summary", "tree", "tree-path"}


def run_tour(*args, cwd):
    return subprocess.run([sys.executable, "-m", "vexo.workflow.tour", *args], cwd=cwd,
                          capture_output=True, text=True, timeout=120)


def test_mistakes_in_the_command_end_with_one_line_and_status_2(tmp_path):
    (tmp_path / "table.csv").write_text(
        "size,colour,grade,price\n" + "".join(
            "%d,%s,%s,%d\n" % (k, "red" if k % 2 else "blue", "abc"[k % 3], 10 * k)
            for k in range(30)))
    cases = [
        (("--csv", "absent.csv", "--target", "price"), "no such file: absent.csv"),
        (("--csv", "table.csv", "--target", "cost"), "no column 'cost' in table.csv"),
        (("--csv", "table.csv", "--target", "colour"), "column 'colour' is not numeric"),
        (("--csv", "table.csv"), "--csv needs --target COLUMN"),
        (("--rows", "0"), "--rows must be a positive number"),
        (("--data", "iris"), "argument --data: invalid choice"),
        (("--rows", "40", "--out", "table.csv"), "cannot make the folder table.csv"),
    ]
    for args, message in cases:
        done = run_tour(*args, cwd=tmp_path)
        lines = done.stderr.splitlines()
        assert (done.returncode, len(lines)) == (2, 1), (args, done.stderr)
        assert lines[0].startswith("vexo-tour: error: " + message), (args, lines)
        assert not done.stdout
    assert os.listdir(tmp_path) == ["table.csv"]


def test_a_table_of_ones_own_is_toured_into_a_new_folder(tmp_path):
    rng = np.random.default_rng(1)
    rows = ["%.3f,%.3f,%s,%s" % (a, b, c, "yes" if a + b + (c == "x") > 1.4 else "no")
            for a, b, c in zip(rng.uniform(size=80), rng.uniform(size=80), rng.choice(["x", "y"], 80))]
    (tmp_path / "mine.csv").write_text("a,b,c,label\n" + "\n".join(rows) + "\n")
    done = run_tour("--csv", "mine.csv", "--target", "label", "--task", "classification",
                    cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    folder = done.stdout.splitlines()[-1].split("Gallery: ")[1]
    assert os.path.dirname(os.path.dirname(folder)) == str(tmp_path)
    assert os.path.basename(os.path.dirname(folder)).startswith("vexo-tour-mine_csv-")
    assert "mine.csv: 80 rows, target 'label' (classification)" in done.stdout
    assert any(name.endswith("importance.png") for name in os.listdir(os.path.dirname(folder)))


def test_the_pair_shown_is_the_strongest_term_by_its_full_and_display_names():
    from types import SimpleNamespace

    names = ["age", "income x region", "region", "a_very_long_feature_name"]
    dataset = SimpleNamespace(feature_names=names, test_index=np.array([7, 9]),
                              truncated_columns_dict_15={n: n[:15] for n in names})
    terms = ["age x region", "income x region x a_very_long_feature_name"]
    display = {terms[0]: "age x region", terms[1]: "income x regi x a_very_long_fe"}
    # the model's terms by their display names, as the experiment lists them
    experiment = SimpleNamespace(
        dataset=dataset, act_inter_lis={"m": list(display.values())},
        inter_effect_trunc_dict={"m": display},
        interpret_fi=lambda model: {"feature_names": ["region", "age"]},
        interpret_ei=lambda model: {"type": "effect", "value": (
            ["age x region", "region", "income x regi x a_very_long_fe", "age"], None)})
    chosen = tour.choose(experiment, "m")
    assert chosen == tour.Choices("age", ("income x region", "a_very_long_feature_name"),
                                  ("income x region", "a_very_long_fea"), 7)

    experiment.act_inter_lis = {"m": []}
    assert tour.choose(experiment, "m").pair == ("age", "region")


# Tables as users bring them --------------------------------------------------------------

def in_process(argv, capsys):
    status = tour.main(argv)
    out, err = capsys.readouterr()
    return status, out, err


def test_bad_tables_and_options_end_with_one_line(tmp_path, monkeypatch, capsys):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "header.csv").write_text("a,b,price\n")
    (tmp_path / "blank.csv").write_text("")
    (tmp_path / "image.csv").write_bytes(b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR" * 20)
    (tmp_path / "quotes.csv").write_text('a,b\n1,"2\n3,4\n')
    (tmp_path / "t.csv").write_text("a,kind,same\n" + "".join(
        "%d,%s,1\n" % (k, "xyz"[k % 3]) for k in range(30)))
    cases = [
        (["--csv", "header.csv", "--target", "price"], "header.csv: the file has no rows"),
        (["--csv", "blank.csv", "--target", "price"], "cannot read blank.csv as CSV: "),
        (["--csv", "image.csv", "--target", "a"], "cannot read image.csv as CSV: it is not a text"),
        (["--csv", "quotes.csv", "--target", "a"], "cannot read quotes.csv as CSV: "),
        (["--csv", "t.csv", "--target", "same", "--task", "classification"],
         "column 'same' takes a single value; a classification target needs at least 2"),
        (["--csv", "t.csv", "--target", "kind", "--task", "classification", "--class", "w"],
         "--class w is not a class of column 'kind'; its classes are x, y, z"),
        (["--csv", "t.csv", "--target", "a", "--class", "3"],
         "--class is for a classification target; the task is regression"),
        (["--class", "malignant"], "--class is for a classification target"),
    ]
    for argv, message in cases:
        status, out, err = in_process(argv, capsys)
        assert (status, out) == (2, ""), argv
        assert err.startswith("vexo-tour: error: " + message) and err.count("\n") == 1, (argv, err)
    assert sorted(os.listdir(tmp_path)) == ["blank.csv", "header.csv", "image.csv", "quotes.csv",
                                            "t.csv"]


COLUMNS = [("größe", [1.5, 2.25, -3.0]), ("Farbe", ["grün", "blau", None]), ("n", [1, 2, 3])]


def write_table(path, separator, encoding, decimal=".", bom=False):
    lines = [separator.join(name for name, _ in COLUMNS)]
    for k in range(3):
        cells = [("" if v[k] is None else str(v[k]).replace(".", decimal)) for _, v in COLUMNS]
        lines.append(separator.join(cells))
    data = "\n".join(lines) + "\n"
    path.write_bytes((b"\xef\xbb\xbf" if bom else b"") + data.encode(encoding))


def test_csv_dialects_read_into_the_same_table_with_a_note_of_how(tmp_path):
    cases = [
        (",", "utf-8", ".", False, None),
        (",", "utf-8", ".", True, None),
        (";", "utf-8", ".", False, "read f.csv as semicolon-separated"),
        (";", "cp1252", ",", False,
         "read f.csv as semicolon-separated, with decimal commas, in cp1252 (it is not UTF-8)"),
        ("\t", "latin-1", ".", False, "read f.csv as tab-separated, in cp1252 (it is not UTF-8)"),
        ("\t", "utf-16", ".", False, "read f.csv as tab-separated, in utf-16"),
    ]
    for separator, encoding, decimal, bom, note in cases:
        path = tmp_path / "f.csv"
        write_table(path, separator, encoding, decimal, bom)
        frame, how = tour.read_csv(str(path))
        assert how == note, (separator, encoding)
        assert list(frame.columns) == [name for name, _ in COLUMNS], (separator, encoding)
        assert frame["größe"].tolist() == COLUMNS[0][1] and frame["n"].tolist() == COLUMNS[2][1]
        assert frame["Farbe"].tolist()[:2] == ["grün", "blau"] and frame["Farbe"].isna()[2]


def test_a_header_with_a_quoted_separator_does_not_mislead_the_sniffer(tmp_path):
    path = tmp_path / "q.csv"
    path.write_text('"price; in $",size\n' + "".join("%d,%d\n" % (k, 2 * k) for k in range(5)))
    frame, how = tour.read_csv(str(path))
    assert how is None and list(frame.columns) == ["price; in $", "size"]
    path.write_text("price\n1\n2\n")
    assert list(tour.read_csv(str(path))[0].columns) == ["price"]


def test_the_class_option_names_the_target_value_and_reaches_the_experiment(tmp_path,
                                                                           monkeypatch, capsys):
    import vexo.workflow.experiment as experiment_module

    passed = []

    class Recorded:
        def __init__(self, *args, **kwargs):
            passed.append(kwargs)
            self.notes = ["dropped 2 rows whose target is missing"]

    monkeypatch.setattr(experiment_module, "Experiment", Recorded)
    (tmp_path / "t.csv").write_text("a,grade,score,word,flag\n" + "".join(
        "%d,%d,%s,%s,%s\n" % (k, k % 3, k % 3 + 0.0, "abc"[k % 3], k % 2 == 0)
        for k in range(30)))
    for column, label, value in [("grade", "2", 2), ("score", "2", 2.0), ("score", "1.0", 1.0),
                                 ("word", "b", "b"), ("flag", "true", True), ("grade", None, None)]:
        argv = ["--csv", str(tmp_path / "t.csv"), "--target", column, "--task", "classification"]
        args = tour.parse_args(argv + (["--class", label] if label else []))
        _, frame, target = tour.load_table(args)
        assert args.positive_class == value and type(args.positive_class) is type(value)
        tour.make_experiment(frame, target, args.task, args.seed, args.positive_class)
        assert passed[-1]["positive_class"] == value
        assert type(passed[-1]["positive_class"]) is type(value), (column, label)

    # the command line hands the label on as well
    def stop(*args):
        raise tour.UsageError("given %r" % (args[4],))

    monkeypatch.setattr(tour, "make_experiment", stop)
    status, _, err = in_process(argv + ["--class", "2"], capsys)
    assert status == 2 and err.endswith("given 2\n"), err


class Unfittable:
    """A regressor that raises while fitting, with a message of two lines."""

    def __init__(self, **settings):
        self.settings = settings

    def get_params(self, deep=True):
        return dict(self.settings)

    def fit(self, X, y):
        raise RuntimeError("cannot fit today\n(the second line)")


@pytest.fixture
def broken_families(monkeypatch):
    """Two families registered for the test: "broken" raises while fitting, "unexplained" while
    explaining a fitted tree. The registry is restored afterwards."""
    from vexo.workflow.experiment import families

    class Broken(families.Family):
        name = "broken"

        def classes(self):
            return Unfittable, Unfittable

    class Unexplained(families.TreeFamily):
        name = "unexplained"

        def explainer(self, experiment, model):
            raise KeyError("no explanation of column 'size'")

    saved = dict(families.FAMILIES)
    families.add_family(Broken())
    families.add_family(Unexplained())
    monkeypatch.setattr(tour, "model_families", lambda: ["glm", "broken", "unexplained", "tree"])
    yield
    families.FAMILIES.clear()
    families.FAMILIES.update(saved)


def test_a_family_that_fails_leaves_the_others_and_the_gallery(tmp_path, capsys,
                                                               broken_families, monkeypatch):
    (tmp_path / "t.csv").write_text("size;colour;price\n" + "".join(
        "%d;%s;%d\n" % (k, ("röt", "blau")[k % 2], 3 * k + k % 2) for k in range(40)),
        encoding="cp1252")
    make_experiment = tour.make_experiment

    def noted(*args, **kwargs):
        experiment = make_experiment(*args, **kwargs)
        experiment.notes.append("dropped 3 rows whose target is missing")
        return experiment

    monkeypatch.setattr(tour, "make_experiment", noted)
    out = tmp_path / "gallery"
    status, printed, err = in_process(["--csv", str(tmp_path / "t.csv"), "--target", "price",
                                       "--out", str(out)], capsys)
    assert status == 0 and "Traceback" not in err + printed
    lines = printed.splitlines()
    assert lines[:2] == ["Note: read t.csv as semicolon-separated, in cp1252 (it is not UTF-8)",
                         "Note: dropped 3 rows whose target is missing"]
    assert "; 2 models fitted and " in lines[2]
    assert "2 of the 4 families failed to fit or explain" in lines[3]

    # one progress line per family, and no bar redraws off a terminal
    progress = err.splitlines()
    assert len(progress) == 4 and "\r" not in err
    assert progress[0].startswith("vexo-tour: [25%] glm fitted in ")
    assert progress[1].startswith("vexo-tour: [50%] broken failed while fitting after ")
    assert progress[1].endswith("RuntimeError: cannot fit today (the second line)")
    assert progress[2].startswith("vexo-tour: [75%] unexplained failed while explaining after ")
    assert progress[2].endswith(" s: KeyError: \"no explanation of column 'size'\"")
    assert progress[3].startswith("vexo-tour: [100%] tree fitted in ")
    assert "13 views" in progress[3]

    parsed = Gallery()
    page = (out / "index.html").read_text(encoding="utf-8")
    parsed.feed(page)
    assert "<li>dropped 3 rows whose target is missing</li>" in page
    assert '<section id="broken">' in page and '<section id="unexplained">' in page
    assert "Failed while fitting: RuntimeError: cannot fit today (the second line)" in page
    assert "Failed while explaining: KeyError" in page
    assert not any(name.startswith(("broken", "unexplained")) for name in parsed.figures)
    for family in ("glm", "tree"):
        assert parsed.figures["%s-importance" % family]["img"] == ["%s-importance.png" % family]
        assert (out / ("%s-importance.png" % family)).exists()


# The gallery's pieces ----------------------------------------------------------------------

def test_help_shows_the_whole_description_and_the_examples(capsys):
    with pytest.raises(SystemExit) as done:
        tour.parse_args(["--help"])
    assert done.value.code == 0
    text = capsys.readouterr().out
    assert "every model into a gallery of PNG files with an index.html.\n" in text
    # the examples keep their lines and columns, comments included
    assert "\n    vexo-tour --data breast_cancer               # its breast cancer data" in text
    assert "\n    vexo-tour --csv penguins.csv --target species --task classification " \
           "--class Gentoo\n" in text and "``" not in text


def family_steps(progress, family, fails_while=None):
    """Go through one family's steps as the tour does; a failure ends it early."""
    progress.start(family)
    for what in progress.STEPS + tuple(view.slug for view in tour.VIEWS):
        with progress.step(what):
            pass
        if what == fails_while:
            break
    progress.finish(tour.Section(family, "", [], fails_while,
                                 "ValueError: no" if fails_while else None))


def test_the_progress_bar_and_the_lines_end_at_100_percent():
    families = ["glm", "tree", "ebm"]
    stream = io.StringIO()
    bar = tour.Progress(families, "bar", stream)
    family_steps(bar, "glm")
    family_steps(bar, "tree", fails_while="explaining")
    family_steps(bar, "ebm")
    bar.close()
    # the last redraw of the bar stays on screen, full, and the failure is written above it
    last = stream.getvalue().rstrip("\n").split("\r")[-1]
    total = len(families) * bar.per_family
    assert "100%" in last and "%d/%d" % (total, total) in last and "done" in last, last
    assert "vexo-tour: tree failed while explaining" in stream.getvalue()

    stream = io.StringIO()
    lines = tour.Progress(families, "lines", stream)
    for family in families:
        family_steps(lines, family, fails_while="fitting" if family == "tree" else None)
    lines.close()
    printed = stream.getvalue().splitlines()
    assert [line.split("]")[0] for line in printed] == [
        "vexo-tour: [33%", "vexo-tour: [66%", "vexo-tour: [100%"]
    assert "\r" not in stream.getvalue()


class Drawing:
    """A model's views as the dispatcher draws them: a line for every view, or an error."""

    def __init__(self, raises=None):
        self.raises = raises

    def model_interpret(self, show, **arguments):
        import matplotlib.pyplot as plt

        if self.raises:
            raise self.raises
        plt.figure(figsize=(4, 3))
        plt.plot([0, 1], [1, 0])
        plt.show()


def test_views_are_drawn_and_saved_in_the_look_at_twice_the_resolution(tmp_path, monkeypatch):
    import matplotlib
    import matplotlib.pyplot as plt
    from PIL import Image

    from vexo.workflow import look

    matplotlib.use("Agg")
    monkeypatch.setattr(look, "context", lambda: plt.rc_context(
        {"lines.linewidth": 7.5, "savefig.facecolor": "#204080"}))
    view = next(v for v in tour.VIEWS if v.slug == "importance")
    choices = tour.Choices("f", ("f", "g"), ("f", "g"), 0)
    entry = tour.run_view(Drawing(), "m", view, choices, str(tmp_path))
    assert entry.files == ["m-importance.png"] and not entry.error
    with Image.open(tmp_path / "m-importance.png") as image:
        corner = image.convert("RGB").getpixel((0, 0))
        assert np.allclose(image.info["dpi"], (tour.DPI, tour.DPI), atol=0.1)
        # 4 inches wide: at most 4.2 with the tight margin, at least 3 without the empty border
        assert 3 * tour.DPI <= image.size[0] <= 4.2 * tour.DPI
    assert corner == (0x20, 0x40, 0x80)   # saved inside the look, not after it
    assert plt.rcParams["lines.linewidth"] != 7.5


def test_only_the_coefficients_of_a_model_without_them_are_its_refusal(tmp_path):
    from types import SimpleNamespace

    coefficients = next(v for v in tour.VIEWS if v.show == "glm_coef")
    importance = next(v for v in tour.VIEWS if v.show == "global_fi")
    choices = tour.Choices("f", ("f", "g"), ("f", "g"), 0)
    none = SimpleNamespace(interpret_ei=lambda model: None)
    some = SimpleNamespace(interpret_ei=lambda model: {"type": "effect"})

    def broken(model):
        raise KeyError("the model 'm' is not registered")

    subscripted = TypeError("'NoneType' object is not subscriptable")
    cases = [(coefficients, subscripted, none, None),
             (coefficients, subscripted, some, "TypeError"),
             (coefficients, subscripted, SimpleNamespace(interpret_ei=broken), "TypeError"),
             (coefficients, KeyError("feature_hier"), none, "KeyError"),
             (importance, subscripted, none, "TypeError")]
    for view, raised, experiment, error in cases:
        entry = tour.run_view(Drawing(raised), "m", view, choices, str(tmp_path))
        entry = tour.as_refusal(experiment, "m", entry)
        if error is None:
            assert (entry.error, entry.printed) == (None, tour.NO_COEFFICIENTS)
            assert tour.refused(entry)
        else:
            assert entry.error.startswith(error + ": ") and not tour.refused(entry), raised
    drawn = tour.run_view(Drawing(), "m", coefficients, choices, str(tmp_path))
    assert tour.as_refusal(none, "m", drawn) == drawn


def test_captions_and_alt_texts_name_the_features_in_full(tmp_path):
    import pandas as pd

    from vexo.workflow.experiment import Experiment

    rng = np.random.default_rng(0)
    a, b, c = rng.uniform(size=(3, 150))
    long_a, long_b = "mean texture of the nuclei", "worst compactness of the nuclei"
    frame = pd.DataFrame({long_a: a, long_b: b, "area": c,
                          "y": 10 * a * b + c + rng.normal(scale=0.1, size=150)})
    experiment = Experiment(frame, "y", task="regression")
    section = tour.tour_family(experiment, "ebm", str(tmp_path), tour.Progress(["ebm"], False))
    entries = {entry.view.slug: entry for entry in section.entries}
    interaction = entries["interaction"]
    # the view itself was given the display names it knows the pair by, and drew
    assert interaction.files and not interaction.error
    assert interaction.title == "Interaction of %s and %s" % (long_a, long_b)
    assert long_b in entries["main-effect"].title
    parsed = Gallery()
    parsed.feed(tour.entry_html("ebm", interaction))
    [alt] = parsed.figures["ebm-interaction"]["alt"]
    assert long_a in alt and long_b in alt
    assert parsed.figures["ebm-interaction"]["caption"] == interaction.title
