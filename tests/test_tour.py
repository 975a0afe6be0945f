"""The tour command: a gallery of every view of every family that agrees with the view table,
and one-line errors for mistakes in the command."""

import contextlib
import io
import os
import subprocess
import sys
import html
import re

import pytest
from sklearn.linear_model import LinearRegression

pytest.importorskip("vexo.workflow.interpret_api")
from test_experiment_views import DRAW, MODELS, REFUSALS, REFUSE, SHOW, VIEWS as TABLE  # noqa: E402

from vexo.workflow import tour  # noqa: E402

DISTINCT = ("uni_feature", "bi_features", "original_scale")


def table_outcome(view, family, experiment):
    """What the view table says the tour's view does for a family; a model that found no pair
    refuses the pair it is shown."""
    if view.slug == "interaction" and family != "reludnn" and not experiment.act_inter_lis[family]:
        return REFUSE
    keys = {k for k in view.arguments(tour.Choices("f", ("f", "g"), ("f", "g"), 0)) if k in DISTINCT}
    model = next(m for m in MODELS if {"relu": "reludnn"}.get(m, m) == family)
    return next(o for show, arguments, _, o in TABLE
                if show == view.show and keys == {k for k in arguments if k in DISTINCT})[model]


def figures(page):
    """Per figure id: its caption, images, alt texts, refusal and error texts and tables."""
    found = {}
    for name, body in re.findall(r'<figure id="([^"]+)"[^>]*>(.*?)</figure>', page, re.S):
        def all_of(pattern):
            return [html.unescape(text) for text in re.findall(pattern, body, re.S)]
        found[name] = dict(caption="".join(all_of("<figcaption>(.*?)</figcaption>")), img=all_of('<img src="([^"]*)"'),
                           alt=all_of('alt="([^"]*)"'), tables=body.count("<table"),
                           refused="".join(all_of('<p class="refused">(.*?)</p>')),
                           error="".join(all_of('<p class="error">(.*?)</p>')))
    return found


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
            status = tour.main(["--data", "breast_cancer", "--rows", "150", "--out", str(out)])
    finally:
        tour.make_experiment = make_experiment
    return status, printed.getvalue(), out, (out / "index.html").read_text(encoding="utf-8"), made[0]


def test_the_gallery_agrees_with_the_view_table_and_links_its_images(gallery):
    status, printed, out, page, experiment = gallery
    parsed = figures(page)
    assert status == 0 and printed.splitlines()[-1] == "Gallery: %s" % (out / "index.html")
    assert {view.show for view in tour.VIEWS} == {row[0] for row in TABLE}
    families, abbreviated = tour.model_families(), 0
    assert len(parsed) == len(families) * len(tour.VIEWS)
    for family in families:
        for view in tour.VIEWS:
            where, figure = (family, view.slug), parsed["%s-%s" % (family, view.slug)]
            expected = table_outcome(view, family, experiment)
            assert figure["caption"], where
            if expected is TypeError and view.show == "glm_coef":
                # a model without coefficients: the module's TypeError is that model's refusal
                assert figure["refused"] == tour.NO_COEFFICIENTS and not figure["error"], where
            elif expected not in (DRAW, SHOW, REFUSE):
                assert figure["error"].startswith(expected.__name__ + ": ") and not figure["img"]
            else:
                assert not figure["error"], (where, figure)
                assert figure["img"] == (["%s-%s.png" % where] if expected == DRAW else []), where
                assert (figure["tables"] == 1) == (expected == SHOW), where
                assert (figure["refused"] in REFUSALS) == (expected == REFUSE), where
            if view.slug == "interaction" and figure["img"]:
                # the view is given the display names it knows the pair by; the page the full ones
                choices = tour.choose(experiment, family)
                abbreviated += choices.pair != choices.pair_names
                assert figure["caption"] == "Interaction of %s and %s" % choices.pair
                assert all(name in figure["alt"][0] for name in choices.pair), figure
    assert abbreviated
    images = {src for figure in parsed.values() for src in figure["img"]}
    assert images and set(re.findall('<a href="([^"#]+)"', page)) == images == set(os.listdir(out)) - {"index.html"}


def test_mistakes_in_the_command_and_bad_tables_end_with_one_line(tmp_path, monkeypatch, capsys):
    monkeypatch.chdir(tmp_path)
    files = {"header.csv": "a,b,price\n", "t.csv": "a,kind,rare\n" + "".join(
        "%d,%s,%s\n" % (k, "xyz"[k % 3], "rs"[k > 2]) for k in range(30))}
    for name, text in files.items():
        (tmp_path / name).write_text(text)
    (tmp_path / "image.csv").write_bytes(b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR" * 20)
    t = ["--csv", "t.csv", "--target"]
    for argv, message in [
            (["--csv", "absent.csv", "--target", "a"], "no such file: absent.csv"),
            (t + ["cost"], "no column 'cost' in t.csv"), (t + ["kind"], "column 'kind' is not numeric"),
            (["--csv", "t.csv"], "--csv needs --target COLUMN"),
            (["--csv", "header.csv", "--target", "price"], "header.csv: the file has no rows"),
            (["--csv", "image.csv", "--target", "a"], "cannot read image.csv as CSV: it is not a text"),
            # the label reaches the experiment, which refuses a class of 3 rows
            (t + ["rare", "--class", "r", "--task", "classification"],
             "class 'r' of the target 'rare': 3 rows; a classification needs"),
            (t + ["a", "--class", "3"], "--class is for a classification target; the task is regression")]:
        status, out, err = run(argv, capsys)
        assert (status, out) == (2, ""), argv
        assert err.startswith("vexo-tour: error: " + message) and err.count("\n") == 1, (argv, err)
    assert sorted(os.listdir(tmp_path)) == sorted(list(files) + ["image.csv"])
    # the module runs as a command and exits with the same line
    done = subprocess.run([sys.executable, "-m", "vexo.workflow.tour", "--rows", "0"], capture_output=True, text=True)
    assert (done.returncode, done.stderr) == (2, "vexo-tour: error: --rows must be a positive number, got 0\n")
    # a quoted separator in the header does not mislead the sniffer
    for text, columns in [('"price; in $",size\n1,2\n3,4\n5,6\n', ["price; in $", "size"]), ("price\n1\n2\n", ["price"])]:
        (tmp_path / "q.csv").write_text(text)
        frame, how = tour.read_csv(str(tmp_path / "q.csv"))
        assert how is None and list(frame.columns) == columns
    # a family that fails is reported on the page; the others are drawn
    from vexo.workflow.experiment import families

    class Unfittable(LinearRegression):
        def fit(self, X, y):
            raise RuntimeError("cannot fit today")

    monkeypatch.setattr(families.FAMILIES["glm"], "classes", lambda: (Unfittable, Unfittable))
    monkeypatch.setattr(tour, "model_families", lambda: ["glm", "tree"])
    status, printed, err = run(t + ["a", "--out", "g"], capsys)
    page = (tmp_path / "g" / "index.html").read_text(encoding="utf-8")
    assert status == 0 and "1 of the 2 families failed to fit or explain" in printed
    assert "[50%] glm failed while fitting" in err and "[100%] tree fitted" in err
    assert "Failed while fitting: RuntimeError: cannot fit today" in page and (tmp_path / "g" / "tree-importance.png").exists()
