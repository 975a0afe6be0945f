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

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "figure":
            self.current = self.figures.setdefault(attrs["id"], {
                "caption": "", "img": [], "refused": "", "error": "", "tables": 0})
        elif tag == "img":
            self.current["img"].append(attrs["src"])
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
    tour.make_experiment = lambda *args: made.append(make_experiment(*args)) or made[0]
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


def test_the_summary_table_is_html(gallery):
    _, _, out, parsed, _ = gallery
    page = (out / "index.html").read_text(encoding="utf-8")
    assert parsed.figures["reludnn-llm-summary"]["tables"] == 1
    assert "<th>Count</th>" in page


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
        (("--csv", "table.csv", "--target", "grade", "--task", "classification"),
         "column 'grade' has 3 distinct values"),
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
    experiment = SimpleNamespace(
        dataset=dataset, act_inter_lis={"m": terms}, inter_effect_trunc_dict={"m": display},
        interpret_fi=lambda model: {"feature_names": ["region", "age"]},
        interpret_ei=lambda model: {"type": "effect", "value": (
            ["age x region", "region", "income x regi x a_very_long_fe", "age"], None)})
    chosen = tour.choose(experiment, "m")
    assert chosen == tour.Choices("age", ("income x region", "a_very_long_feature_name"),
                                  ("income x region", "a_very_long_fea"), 7)

    experiment.act_inter_lis = {"m": []}
    assert tour.choose(experiment, "m").pair == ("age", "region")
