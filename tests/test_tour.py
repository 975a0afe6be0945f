"""The tour command: a gallery that agrees with the view table, and one-line errors."""

import argparse
import contextlib
import html
import io
import os
import pickle
import re
import shutil
import signal
import subprocess
import sys
import threading
from pathlib import Path

import numpy as np
import pandas as pd
import pytest
from sklearn.linear_model import LinearRegression

pytest.importorskip("vexo.workflow.interpret_api")
from test_experiment_views import DRAW, MODELS, REFUSALS, REFUSE, SHOW, VIEWS as TABLE  # noqa: E402

from vexo.workflow import interpret_api, tour  # noqa: E402
from vexo.workflow.experiment import Experiment, families  # noqa: E402

DISTINCT = ("uni_feature", "bi_features", "original_scale")


def table_outcome(view, family, experiment):
    """What the view table says for a family; a model that found no pair refuses the one shown."""
    if view.slug == "interaction" and family != "reludnn" and not experiment.act_inter_lis[family]:
        return REFUSE
    keys = {k for k in view.arguments(tour.Choices("f", ("f", "g"), ("f", "g"), 0)) if k in DISTINCT}
    model = next(m for m in MODELS if {"relu": "reludnn"}.get(m, m) == family)
    return next(o for show, arguments, _, o in TABLE
                if show == view.show and keys == {k for k in arguments if k in DISTINCT})[model]


NOT_OFFERED = "not offered"


def figures(page):
    """Per view id: caption, images, alt texts, refusal, error and tables (NOT_OFFERED if not offered)."""
    found = {}
    for name, body in re.findall(r'<figure id="([^"]+)"[^>]*>(.*?)</figure>', page, re.S):
        def all_of(pattern):
            return [html.unescape(text) for text in re.findall(pattern, body, re.S)]
        found[name] = dict(caption="".join(all_of("<figcaption>(.*?)</figcaption>")), img=all_of('<img src="([^"]*)"'),
                           alt=all_of('alt="([^"]*)"'), tables=body.count("<table"),
                           refused="".join(all_of('<p class="refused">(.*?)</p>')),
                           error="".join(all_of('<p class="error">(.*?)</p>')))
    refusals = [(name, title, NOT_OFFERED) for line in re.findall(
        r'<p class="not-offered">Not offered for this family: (.*?)\.</p>', page, re.S)
        for name, title in re.findall(r'<span id="([^"]+)">(.*?)</span>', line)]
    refusals += re.findall(r'<p class="refused"><span id="([^"]+)">(.*?)</span>: (.*?)</p>', page)
    for name, title, message in refusals:
        found[name] = dict(caption=html.unescape(title), img=[], alt=[], tables=0, error="",
                           refused=html.unescape(message))
    return found


def run(argv, capsys):
    status = tour.main(argv)
    out, err = capsys.readouterr()
    return status, out, err


def test_the_gallery_agrees_with_the_view_table_and_links_its_images(tour_gallery):
    status, printed, out, page, experiment = tour_gallery
    parsed = figures(page)
    assert status == 0 and printed.splitlines()[-1] == "Gallery: %s" % (out / "index.html")
    assert {(v.show, v.method) for v in tour.VIEWS} == {(s, m) for s, reaches in interpret_api.SHOWS for m, _ in reaches}
    families = tour.model_families()
    compared = [name for name in parsed if name.startswith("compare-")]
    assert len(parsed) - len(compared) == len(families) * len(tour.VIEWS)
    # the comparison: the importance ranks, then the effects of the features ranked highest
    ranked = experiment.compare_importance(families, plot=False)["features"][:5]
    assert compared == ["compare-importance"] + ["compare-effect-%d" % k for k in range(1, 6)]
    assert [parsed[name]["caption"] for name in compared[1:]] == [
        "Effect of %s in each model" % feature for feature in ranked]
    assert all(parsed[name]["img"] == [name + ".png"] and not parsed[name]["error"]
               for name in compared)
    for family in families:
        for view in tour.VIEWS:
            where, figure = (family, view.slug), parsed["%s-%s" % (family, view.slug)]
            expected = table_outcome(view, family, experiment)
            assert figure["caption"], where
            if expected is TypeError and view.show == "glm_coef":
                # a model without coefficients: the module's TypeError is that model's refusal
                assert figure["refused"] == NOT_OFFERED and not figure["error"], where
            elif expected not in (DRAW, SHOW, REFUSE):
                assert figure["error"].startswith(expected.__name__ + ": ") and not figure["img"]
            else:
                assert not figure["error"], (where, figure)
                assert figure["img"] == (["%s-%s.png" % where] if expected == DRAW else []), where
                assert (figure["tables"] == 1) == (expected == SHOW), where
                assert (figure["refused"] in REFUSALS | {NOT_OFFERED}) == (expected == REFUSE), where
            if view.slug == "interaction" and figure["img"]:
                # the view is given the display names it knows the pair by; the page the full ones
                choices = tour.choose(experiment, family)
                assert choices.pair_names == tuple(experiment.dataset.truncated_columns_dict_15[f] for f in choices.pair)
                assert figure["caption"] == "Interaction of %s and %s" % choices.pair
                assert all(name in figure["alt"][0] for name in choices.pair), figure
    images = {src for figure in parsed.values() for src in figure["img"]}
    assert images and set(re.findall('<a href="([^"#]+)"', page)) == images == set(os.listdir(out)) - {"index.html", ".vexo-tour"}


def score_cells(row):
    return [html.unescape(re.sub("<[^>]+>", "", cell)) for cell in re.findall(r"<td[^>]*>(.*?)</td>", row)]


def test_the_page_gives_every_familys_scores_and_views_not_offered_in_one_line_and_every_section_leads_back(tour_gallery):
    status, printed, out, page, experiment = tour_gallery
    families, sections = tour.model_families(), dict(re.findall(r'<section id="([^"]+)">(.*?)</section>', page, re.S))
    # the scores beside the baseline, in a table, in each family's section and on standard output
    rows = re.findall(r"<tr>(.*?)</tr>", sections["compare"], re.S)
    head = [re.sub("<[^>]+>", "", cell) for cell in re.findall(r"<th>(.*?)</th>", rows[0])]
    assert head == ["Family", "Model", "ROC AUC", "accuracy"]
    baseline = re.search(r'<tr class="baseline">(.*?)</tr>', sections["compare"]).group(1)
    assert len(rows) == 1 + len(families)
    for family, row in zip(families, rows[1:]):
        scores = experiment.scores(family)
        assert score_cells(row) == [family, tour.estimator_name(experiment, family)] + [
            "%.3f" % s.model for s in scores.metrics]
        assert score_cells(baseline) == ["baseline", "the training majority benign"] + [
            "%.3f" % s.baseline for s in scores.metrics]
        # one line in the family's section, one on standard output
        [line] = re.findall(r'<p class="score">(.*?)</p>', sections[family], re.S)
        assert re.sub("<[^>]+>", "", html.unescape(line)).startswith(
            "Test split (%d rows, malignant against benign): %s. Baseline (the training majority "
            "benign): ROC AUC 0.500, accuracy %.3f." % (scores.rows, scores.model_text(), scores["accuracy"].baseline))
    said = [line for line in printed.splitlines() if line.startswith("Test score of ")]
    assert [line.split(",")[0] for line in said] == ["Test score of " + family for family in families]
    assert "(baseline, the training majority benign: ROC AUC 0.500, accuracy " in said[0]
    assert list(sections) == ["compare"] + families and "Not supported" not in page
    nav = re.search("<nav>(.*?)</nav>", page, re.S).group(1)
    assert re.findall('href="#([^"]+)"', nav) == ["top", "compare"] + families
    ids = set(re.findall(r' id="([^"]+)"', page))
    assert set(re.findall(r'href="#([^"]+)"', page)) <= ids and "position: sticky" in page
    for name, section in sections.items():
        assert section.count('<a class="up" href="#top">') == 1, name
        if name == "compare":
            continue
        [line] = re.findall(r'<p class="not-offered">(.*?)</p>', section, re.S)  # its views: the first test
        assert "<figure" not in line and len(re.findall("<figure", section)) + section.count('<span id="') == len(tour.VIEWS)
    # nothing from elsewhere: no script, no address off the gallery
    assert "<script" not in page.lower() and not re.search(r'(src|href)="(?!#)[^"]*[:/]', page)


def test_user_texts_in_the_scores_and_the_refusals_are_escaped_and_written_out(tmp_path):
    from vexo.workflow.experiment.scores import Score, Scores

    hostile = "<i>a</i> & \x1b[2J\"b\""
    written = "&lt;i&gt;a&lt;/i&gt; &amp; \\x1b[2J&quot;b&quot;"
    scores = Scores("glm", 7, hostile + " against not " + hostile, "the training majority " + hostile,
                    [Score("roc_auc", "ROC AUC", 0.4, 0.5), Score("accuracy", "accuracy", 0.7, 0.6)])
    views = {view.slug: view for view in tour.VIEWS}
    entries = [tour.Entry(views["tree"], "Decision tree of " + hostile, [], None, "Not supported", None),
               tour.Entry(views["interaction"], "Interaction of " + hostile, [], None, "No interaction " + hostile, None)]
    sections = [tour.Section("glm", hostile, entries, None, None, scores),
                tour.Section("tree", "", [], "fitting", "ValueError: " + hostile)]
    page = Path(tour.write_gallery(str(tmp_path), "t", "s", sections)).read_text(encoding="utf-8")
    assert "<i>" not in page and not re.search("[\x00-\x09\x0b-\x1f\x7f-\x9f]", page)
    for shown in ["Test split (7 rows, %s against not %s)" % (written, written),
                  "Baseline (the training majority %s)" % written, "<td>the training majority %s</td>" % written,
                  "Each classifies %s against not %s." % (written, written), "<td>%s</td>" % written,
                  '<span id="glm-tree">Decision tree of %s</span>.' % written,
                  '<span id="glm-interaction">Interaction of %s</span>: No interaction %s' % (written, written),
                  '<td colspan="2" class="weak">failed while fitting</td>', "ValueError: " + written,
                  # a model no better than the baseline is told so, in the table and in its section
                  '<td class="weak">0.400</td>', "No better than the baseline"]:
        assert shown in page, shown


def test_mistakes_in_the_command_and_bad_tables_end_with_one_line(table, monkeypatch, capsys):
    (table / "header.csv").write_text("a,b,price\n")
    (table / "image.csv").write_bytes(b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR" * 20)
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
            (t + ["a", "--class", "3"], "--class is for a classification target; the task is regression"),
            # seeds that the sample and the split refuse
            (["--rows", "50", "--seed", "-1"], "--seed must be a whole number from 0 to 4294967295, got -1"),
            (["--seed", str(2 ** 32)], "--seed must be a whole number from 0 to 4294967295, got 4294967296"),
            (["--rows", "0"], "--rows must be a positive number, got 0"), (t + ["a", "--out", ""], "--out needs a folder name")]:
        status, out, err = run(argv, capsys)
        assert (status, out) == (2, ""), argv
        assert err.startswith("vexo-tour: error: " + message) and err.count("\n") == 1, (argv, err)
    assert sorted(os.listdir(table)) == ["header.csv", "image.csv", "t.csv"]
    # a quoted separator in the header does not mislead the sniffer
    for text, columns in [('"price; in $",size\n1,2\n3,4\n5,6\n', ["price; in $", "size"]), ("price\n1\n2\n", ["price"])]:
        (table / "q.csv").write_text(text)
        frame, how = tour.read_csv("q.csv")
        assert how is None and list(frame.columns) == columns
    # a family that fails is reported on the page; the others are drawn
    class Unfittable(LinearRegression):
        def fit(self, X, y):
            raise RuntimeError("cannot fit today")

    monkeypatch.setattr(families.FAMILIES["glm"], "classes", lambda: (Unfittable, Unfittable))
    status, printed, err = run(t + ["a", "--out", "g"], capsys)
    page = (table / "g" / "index.html").read_text(encoding="utf-8")
    assert status == 0 and "1 of the 2 families failed to fit or explain" in printed
    assert "[50%] glm failed while fitting" in err and "[100%] tree fitted" in err
    assert "Failed while fitting: RuntimeError: cannot fit today" in page and (table / "g" / "tree-importance.png").exists()


# The tour facing a user's files, Ctrl-C and hostile names ---------------------------------

TABLE_CSV = "a,kind,rare\n" + "".join("%d,%s,%s\n" % (k, "xyz"[k % 3], "rs"[k > 2]) for k in range(30))
SMALL = ["--csv", "t.csv", "--target", "a", "--out", "g"]


def files_in(root):
    """Every file below root with its bytes; the unfinished folders of a tour show as names."""
    return {path.relative_to(root): path.read_bytes() for path in root.rglob("*") if path.is_file()}


@pytest.fixture
def table(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "t.csv").write_text(TABLE_CSV)
    monkeypatch.setattr(tour, "model_families", lambda: ["glm", "tree"])
    return tmp_path


def user_site(out, earlier):
    out.mkdir()
    (out / "index.html").write_text("<h1>My home page</h1>")
    (out / "glm-importance.png").write_bytes(b"my own picture")


def gallery_and_notes(out, earlier):
    shutil.copytree(earlier, out)
    (out / "notes.txt").write_text("mine")


@pytest.mark.parametrize("make, status, message", [
    (user_site, 2, "the folder g holds files that the tour did not write (glm-importance.png, index.html)"),
    (lambda out, earlier: out.write_text("a file"), 2, "g is not a folder"),
    (gallery_and_notes, 2, "the folder g holds files that the tour did not write (notes.txt)"),
    (lambda out, earlier: out.mkdir(), 0, "vexo-tour: [50%] glm fitted"),
    # an earlier gallery of every family, replaced by one of glm alone
    (lambda out, earlier: shutil.copytree(earlier, out), 0, "vexo-tour: [100%] glm fitted")])
def test_the_tour_replaces_only_an_empty_folder_or_an_earlier_gallery(
        table, tour_gallery, make, status, message, monkeypatch, capsys):
    make(table / "g", tour_gallery[2])  # the earlier gallery: one of every family
    if "100%" in message:
        monkeypatch.setattr(tour, "model_families", lambda: ["glm"])
    before = files_in(table)
    got, out, err = run(SMALL, capsys)
    assert got == status and message in err, err
    if status:
        # refused before the fitting, and nothing written anywhere
        assert err.count("\n") == 1 and files_in(table) == before
        return
    images = set(os.listdir(table / "g")) - {"index.html", ".vexo-tour"}
    assert set(os.listdir(table)) == {"t.csv", "g"}
    assert {name.split("-")[0] for name in images} == set(tour.model_families()) | {"compare"}
    assert set(re.findall('<img src="([^"]+)"', (table / "g" / "index.html").read_text())) == images


def raising(original, done_first=False):
    def step(*args, **kwargs):
        if done_first:
            original(*args, **kwargs)
        raise KeyboardInterrupt
    return step


def swallowing(then):
    """A library that catches the Ctrl-C pressed in it and goes on, or raises its own error."""
    def wrap(original):
        def step(*args, **kwargs):
            with contextlib.suppress(KeyboardInterrupt):
                signal.raise_signal(signal.SIGINT)
            return then(original, *args, **kwargs)
        return step
    return wrap


def ctrl_c_in_the_renames(original):
    def files(out, unfinished=None):
        if unfinished:
            signal.raise_signal(signal.SIGINT)
        return original(out, unfinished)
    return files


def fit_error(original, *args, **kwargs):
    raise RuntimeError("fit stopped")


KEPT = "; the unfinished gallery is removed; g is left as it was"


@pytest.mark.parametrize("owner, name, patch, left", [
    (tour, "load_table", raising, ""), (Experiment, "register", raising, KEPT),
    (Experiment, "register", swallowing(lambda fit, *args, **kwargs: fit(*args, **kwargs)), KEPT),
    (Experiment, "register", swallowing(fit_error), KEPT), (tour, "run_view", raising, KEPT),
    (tour, "write_gallery", lambda write: raising(write, done_first=True), KEPT),  # the page, then Ctrl-C
    (tour.folder, "tour_files", ctrl_c_in_the_renames, "; the gallery in g is complete")])
def test_ctrl_c_at_any_step_leaves_the_earlier_gallery_or_the_complete_new_one(
        table, tour_gallery, owner, name, patch, left, monkeypatch, capsys):
    shutil.copytree(tour_gallery[2], table / "g")  # an earlier gallery of every family
    monkeypatch.setattr(tour, "model_families", lambda: ["glm"])
    before = files_in(table)
    monkeypatch.setattr(owner, name, patch(getattr(owner, name)))
    status, out, err = run(SMALL, capsys)
    assert status == 130 and err.splitlines()[-1] == "vexo-tour: interrupted" + left, err
    after, replaced = files_in(table), left.endswith("complete")
    assert (after == before) != replaced and not any(".vexo-tour-unfinished" in str(path) for path in after)
    # the scores, then the one family's section
    assert not replaced or after[Path("g/index.html")].count(b"<section") == 2


def test_ctrl_c_ends_the_command_at_once_and_leaves_no_gallery(table):
    # the module run as a command, of every family
    process = subprocess.Popen([sys.executable, "-m", "vexo.workflow.tour", *SMALL], cwd=table,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    first = process.stderr.readline()  # the tour is fitting the second family
    process.send_signal(signal.SIGINT)
    err = process.communicate(timeout=300)[1]  # must not hang
    assert first.startswith("vexo-tour: [16%] glm fitted"), first + err
    assert (process.returncode, err) == (130, "vexo-tour: interrupted; the unfinished gallery is removed\n")
    assert os.listdir(table) == ["t.csv"]


HOSTILE = b"c\xe9\x1b]0;title\x07.csv"  # a file name that is not UTF-8, with a terminal's escapes
ONE_FAMILY = ("import sys; from vexo.workflow import tour; tour.model_families = lambda: ['glm']; "
              "sys.exit(tour.main())")


@pytest.mark.parametrize("argv, status, said", [
    (["--target", "kind", "--task", "classification"], 0, r"Note: read c\xe9\x1b]0;title\x07.csv as in latin-1"),
    (["--target", "zz"], 2, r"no column 'zz' in c\xe9\x1b]0;title\x07.csv; its columns are a, \x1b]0;pwned\x07b, kind"),
    (["--target", "kind", "--task", "classification", "--class", "q"], 2, r"its classes are \x1b[2Jx, y\x81\xe9")])
def test_names_with_escapes_reach_the_terminal_and_the_page_written_out(tmp_path, argv, status, said):
    rows = "".join("%d,%d,%s\n" % (k, k % 7, "\x1b[2Jx" if k % 2 else "y\x81\xe9") for k in range(30))
    (tmp_path / os.fsdecode(HOSTILE)).write_bytes(("a,\x1b]0;pwned\x07b,kind\n" + rows).encode("latin-1"))
    # a console that takes ASCII only, where a name in another script is written out too
    done = subprocess.run([sys.executable, "-c", ONE_FAMILY, "--csv", HOSTILE, *argv], cwd=tmp_path,
                          capture_output=True, env=dict(os.environ, PYTHONIOENCODING="ascii"))
    printed = (done.stdout + done.stderr).decode("ascii")
    assert done.returncode == status and said in printed, printed
    assert not re.search("[\x00-\x09\x0b-\x1f\x7f]", printed) and (status == 0 or printed.count("\n") == 1)
    if status == 0:
        [gallery] = [path for path in tmp_path.iterdir() if path.is_dir()]
        page = (gallery / "index.html").read_text(encoding="utf-8")
        assert r"<h1>vexo tour of the c\xe9\x1b]0;title\x07.csv data</h1>" in page and "glm-importance.png" in page
        assert r"\x1b]0;pwned\x07b</span>" in page and not re.search("[\x00-\x09\x0b-\x1f\x7f-\x9f]", page)
        # the classes name the scores, on the page and in the command's line
        assert page.count("y\\x81\xe9 against \\x1b[2Jx") == 2 and r"Test score of glm, y\x81\xe9 against \x1b[2Jx: ROC AUC" in printed
        assert done.stdout.decode().endswith("Gallery: %s\n" % (gallery / "index.html"))


@pytest.mark.parametrize("name", ["x" * 246 + ".csv", "\xe9" * 200 + ".csv", os.fsdecode(b"caf\xe9\x1b.csv")])
def test_the_default_folder_is_a_name_that_the_file_system_takes(name, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    clock = type("Clock", (), {"strftime": staticmethod(lambda f: "20240102-030405")})
    monkeypatch.setattr(tour.folder, "time", clock)
    first = tour.default_out(name)
    os.mkdir(first)
    second = tour.default_out(name)
    os.mkdir(second)
    named = [re.fullmatch(r"vexo-tour-(\w+)-20240102-030405(-2)?", out) for out in (first, second)]
    assert named[1][2] and not named[0][2] and named[0][1].startswith(named[1][1]), (first, second)
    assert max(len(os.fsencode(first)), len(os.fsencode(second))) <= 255


def test_a_sample_of_rows_keeps_a_rare_class_and_is_the_plain_draw_otherwise():
    sample_table, rng = tour.table.sample_table, np.random.default_rng(0)
    rare = pd.DataFrame({"a": rng.normal(size=20_000), "y": "no"})
    rare.loc[rng.choice(len(rare), 7, replace=False), "y"] = "yes"
    even = pd.DataFrame({"a": range(100), "y": ["p", "q"] * 50})
    for seed in range(4):
        args, notes = argparse.Namespace(task="classification", positive_class=None, rows=300, seed=seed), []
        assert (sample_table(rare, "y", args, notes)["y"] == "yes").sum() == 7 and len(notes) == 1
        args.rows = 30
        assert sample_table(even, "y", args, notes).equals(even.sample(n=30, random_state=seed).reset_index(drop=True))


def test_a_long_step_says_in_a_log_which_family_and_step_it_is(monkeypatch):
    progress, said, beat, log = tour.progress, [], threading.Event(), io.StringIO()
    monkeypatch.setattr(progress, "say", lambda text, stream: said.append((text, stream)) or beat.set())
    monkeypatch.setattr(progress.Progress, "HEARTBEAT", 0.01)
    steps = progress.Progress(["ebm"], "lines", log)
    steps.start("ebm")
    with steps.step("fitting"):
        assert beat.wait(10)
    steps.close()
    assert re.fullmatch(r"vexo-tour: ebm: fitting, \d+ s so far", said[0][0]) and said[0][1] is log, said


def test_the_progress_bar_counts_each_step_of_a_whole_tour_once_and_ends_at_its_total(tmp_path, monkeypatch, capsys):
    # the lines' percentages: the tours of the command's tests
    from conftest import make_frame
    monkeypatch.setattr(tour, "model_families", lambda: ["glm", "nonesuch", "tree"])  # the second fails to fit
    tour.tour(Experiment(make_frame(n=120), "y"), str(tmp_path / "g"), progress="bar")
    said = capsys.readouterr().err
    total = 3 * (len(tour.progress.Progress.STEPS) + len(tour.VIEWS)) + tour.compare.STEPS
    # "12/42 [" on the bar; beyond its total the bar says "55step [" instead
    counts = [(int(n), of) for n, of in re.findall(r" (\d+)(/\d+ |step )\[", said)]
    assert counts[-1] == (total, "/%d " % total) and all(n <= total and of == "/%d " % total for n, of in counts)


def test_the_notes_speak_the_words_of_the_interface_in_use():
    rng = np.random.default_rng(0)
    frame = pd.DataFrame({"big": 2 ** 60 + rng.integers(0, 10 ** 6, 60) * 2 ** 20, "y": np.repeat(["0%", "50%", "100%"], 20)})
    exp = Experiment(frame, "y", task="classification")
    python = ["classification of '0%' against the rest (3 classes; '0%', '100%' and '50%' tie as the most frequent with 20 "
              "rows each: the first in sorted order; choose with positive_class)",
              "column 'big' holds whole numbers beyond 2**53: the models see them as the nearest doubles, and the views show "
              "them to 13 significant digits"]
    command = [note.replace("positive_class", "--class").replace("2**53", "2^53") for note in python]
    assert exp.notes == python and tour.command_notes(exp) == command
    # the command's word is its option for the same setting
    args = ["--csv", "t.csv", "--target", "y", "--task", "classification", tour.NOTE_WORDS["positive_class"], "0%"]
    assert tour.parse_args(args).positive_class == "0%"
    # a saved experiment's notes are worded alike, a label's "%" and all
    assert [note.worded(tour.NOTE_WORDS) for note in pickle.loads(pickle.dumps(exp.notes))] == command


def test_row_numbers_are_told_on_the_whole_file_before_a_sample_is_drawn(tmp_path, capsys):
    rng = np.random.default_rng(0)
    frame = pd.DataFrame({"Order": np.arange(1, 401), "year": rng.integers(1990, 2000, 400),
                          "a": rng.normal(size=400)})
    frame["y"] = frame["a"] + frame["year"] / 10
    frame.sort_values("y").to_csv(tmp_path / "t.csv", index=False)
    args = tour.parse_args(["--csv", str(tmp_path / "t.csv"), "--target", "y", "--rows", "100"])
    notes = []
    _, sample, _ = tour.load_table(args, notes)
    assert list(sample.columns) == ["year", "a", "y"] and len(sample) == 100
    assert notes == ["column 'Order' holds row numbers (1 to 400): left out"]
