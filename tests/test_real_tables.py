"""Tables as users bring them: every oddity prepared on the training split; every view draws or refuses."""

import contextlib
import io

import numpy as np
import pandas as pd
import pytest

from conftest import REFUSALS
from vexo.workflow.experiment.columns import prepare_features
from vexo.workflow.experiment.dataset import Dataset
from vexo.workflow.experiment import Experiment
from vexo.workflow.figures import capture
from vexo.workflow.tour import read_csv

api = pytest.importorskip("vexo.workflow.interpret_api")
# how well a network converges on a small table is not what is tested here
pytestmark = pytest.mark.filterwarnings("ignore::sklearn.exceptions.ConvergenceWarning")

N = 160


def messy_frame(task, n=N, seed=3):
    """A table with every oddity; y follows the renamed column, the islands, the bill and the date."""
    rng = np.random.default_rng(seed)
    island = rng.choice(["Biscoe", "Dream", "Torgersen"], n).astype(object)
    bill = rng.normal(44, 5, n)
    frame = pd.DataFrame({"id": ["P%04d" % i for i in range(n)], "a x b": rng.uniform(0, 1, n), "island": island,
                          "bill": bill, "depth": rng.normal(17, 2, n), "year": 2007, "date": [
                              str(d.date()) for d in pd.Timestamp("2021-03-04") + pd.to_timedelta(rng.integers(0, 400, n), unit="D")]})
    days = (pd.to_datetime(frame["date"]) - pd.Timestamp("2021-03-04")).dt.days.to_numpy()
    signal = 2 * frame["a x b"] + (island == "Dream") - (island == "Biscoe") + 0.2 * (bill - 44) + days / 400.0 - 1
    frame["bill"] = frame["bill"].where(rng.uniform(size=n) > 0.2)   # 20% gaps: flagged
    frame.loc[7, "depth"] = np.nan                                  # one gap: not flagged
    frame.loc[[3, 11, 40], "island"] = None
    if task == "regression":
        frame["y"] = signal + rng.normal(0, 0.2, n)
    else:
        frame["y"] = np.where(signal + rng.logistic(0, 0.3, n) > 0, "yes", "no")
    # a level that only the test split has
    test_row = int(Dataset(frame, "y", task=task).test_index[0])
    frame.loc[test_row, "island"] = "Atlantis"
    return frame, test_row


@pytest.fixture(scope="module", params=["regression", "classification"])
def messy(request):
    frame, test_row = messy_frame(request.param)
    exp = Experiment(frame, "y", task=request.param)
    pair = [(exp.dataset.feature_names.index("a × b"), exp.dataset.feature_names.index("bill"))]
    exp.register("glm", "glm")
    exp.register("tree", "tree", max_depth=3)
    exp.register("relu", "reludnn", hidden_layer_sizes=(8,))
    exp.register("ebm", "ebm", outer_bags=1, interactions=pair, max_rounds=200)
    exp.register("gam", "gam", lam=1.0)
    exp.register("gami", "gami", interactions=pair, lam=1.0)
    return exp, frame, test_row


def test_the_notes_say_what_was_done_and_every_family_predicts_in_the_users_units(messy):
    exp, frame, _ = messy
    ds, notes = exp.dataset, "\n".join(exp.notes)
    assert "depth missing" not in notes
    for expected in [
            "column 'a x b' renamed 'a × b'", "column 'year' takes one value in the training split: left out",
            "column 'date' holds dates: days since 2021-03-", "the 0/1 feature 'bill missing' marks them",
            "column 'island': 1 value(s) of level(s) that the training split lacks count as 'missing'"]:
        assert expected in notes
    assert ds.feature_names == ["a × b", "island", "bill", "bill missing", "depth", "date"]
    assert list(ds.categories["island"]) == ["Biscoe", "Dream", "Torgersen", "missing"]
    # the data keeps the user's values, gaps included
    assert ds.data["bill"].isna().sum() == frame["bill"].isna().sum()
    for model in ("ebm", "gami"):
        assert [pair.split(" x ") for pair in exp.act_inter_lis[model]] == [[ds.truncated_columns_dict_15["a × b"], "bill"]]
        assert [full.split(" x ") for full in exp.inter_effect_trunc_dict[model]] == [["a × b", "bill"]]
    # the network's local linear models name the features by their narrow display names
    assert exp.get_interpret("relu").feature_names == [ds.truncated_columns_dict_10[name] for name in ds.feature_names]
    for model, pipeline in exp.registered_pipeline.items():
        X = pipeline.transform(ds.data)
        assert np.isfinite(X).all() and len(pipeline.predict(ds.data)) == len(frame)
        # the user's own frame (old names, dates as text) gives the same input
        assert np.array_equal(pipeline.transform(frame), X)
    # back in original units: the data with its gaps filled, the unseen level as it was taken
    back = {name: pipeline.transform_to_orignial_scale(name, X[:, j]) for j, name in enumerate(ds.feature_names)}
    assert back["island"][1] == "categorical" and back["bill"][1] == "numeric"
    assert list(back["island"][0]) == list(frame["island"].fillna("missing").replace("Atlantis", "missing"))
    assert back["bill"][0] == pytest.approx(frame["bill"].fillna(ds.features["bill"].median).to_numpy())


@pytest.mark.parametrize("model", ["glm", "tree", "relu", "ebm", "gam", "gami"])
def test_the_views_draw_or_refuse(messy, model):
    exp, _, test_row = messy
    pair = (exp.dataset.truncated_columns_dict_15["a × b"], "bill")
    view = api.InterpretAPI(exp, model)
    # views of the odd features and rows (row 7 misses its depth)
    for show, arguments in [("glm_coef", {"uni_feature": "island"}), ("global_effect_plot", {"uni_feature": "island"}),
                            ("global_effect_plot", {"uni_feature": "date", "original_scale": True}),
                            ("global_effect_plot", {"bi_features": pair, "original_scale": True}),
                            ("local_fi", {"sample_id": test_row, "original_scale": True}), ("tree_local", {"sample_id": 7})]:
        with capture() as figures, contextlib.redirect_stdout(io.StringIO()) as printed:
            try:
                view.model_interpret(show=show, **arguments)
            except TypeError:
                # the coefficient view of a model without coefficients, as documented
                assert show == "glm_coef" and model == "tree"
                continue
        lines = printed.getvalue().splitlines()
        assert figures or lines[-1:] and lines[-1] in REFUSALS, (show, arguments, lines)


# The preparation on its own ------------------------------------------------------------------

def originals(result, name, frame):
    return list(result.features[name].original(result.features[name].encode(frame)))


def test_the_preparation_learns_from_the_training_split_and_reads_any_kind_of_column():
    n = 30
    frame = pd.DataFrame({
        "v": np.r_[np.arange(28.0), 100, np.nan], "c": list("abababab" * 3) + ["a", None, "rare", "b", "new", None],
        "cplx": np.ones(n) * 1j, "held": pd.Series([1, 2.5, None] * 10, dtype=object),
        "flag": pd.array([True, False, None] * 10, dtype="boolean"), "span": pd.to_timedelta(np.arange(n), unit="h"),
        "zoned": pd.date_range("2020-01-01 12:00", periods=n, freq="12h", tz="Europe/Oslo"),
        "order": pd.Categorical(list("hlhlhlmm" * 4)[:n], categories=list("mlhx"))})
    frame.loc[[2, 5], "v"] = np.nan  # rows 28 and 29: the test split
    result = prepare_features(frame.assign(y=np.arange(float(n))), "y", np.arange(n - 2))
    assert result.feature_names == ["v", "v missing", "c", "held", "held missing",
                                    "flag", "flag missing", "span", "zoned", "order"]
    # the median of the training rows: the test value 100 counts for nothing
    assert result.features["v"].median == 14.5 and originals(result, "v", frame)[-4:] == [26, 27, 100, 14.5]
    # "rare" has one training row, "new" none, the test split's own gap takes the level 'missing' of training
    assert list(result.features["c"].labels) == ["a", "b", "other", "missing"]
    assert originals(result, "c", frame)[-6:] == ["a", "missing", "other", "b", "other", "missing"]
    assert {"column 'c': 1 of its 3 levels (1 with fewer than 3 training rows) form the level 'other'",
            "column 'cplx' has dtype complex128, which no model takes: left out"} <= set(result.notes)
    assert originals(result, "flag", frame)[:3] == [1, 0, 1] and list(result.data["zoned"])[:3] == [0, 0.5, 1]
    # a category dtype keeps its order, without the levels that training lacks
    assert list(result.features["order"].labels) == ["m", "l", "h"]


def test_a_text_column_of_many_levels_fits_the_gams_on_every_split():
    # three frequent cities and a long tail of rare ones: a level of the test split alone
    # used to be a code out of the GAM's domain (with seeds 1 and 3 here)
    rng = np.random.default_rng(3)
    city = np.where(rng.uniform(size=80) < 0.5, rng.choice(["Berlin", "Lima", "Oslo"], 80),
                    rng.choice(["t%03d" % i for i in range(300)], 80))
    frame = pd.DataFrame({"a": rng.normal(size=80), "city": city, "y": rng.normal(size=80)})
    for seed, family in [(1, "gam"), (3, "gami")]:
        exp = Experiment(frame, "y", random_state=seed)
        exp.register(family, family, lam=1.0)
        assert np.isfinite(exp.interpret_fi(family)["importance"]).all()
        api.InterpretAPI(exp, family).model_interpret(show="global_effect_plot", uni_feature="city")


def test_columns_named_as_the_views_own_terms_or_with_control_characters_or_a_paragraph_are_renamed_and_explained(monkeypatch):
    rng = np.random.default_rng(5)
    frame = pd.DataFrame({"Intercept": rng.normal(size=N), "Numeric": rng.choice(list("abc"), N),
                          "None": rng.normal(size=N), "Count": rng.normal(size=N),
                          "\x1b]0;cost\x07 \u202eeulav": rng.normal(size=N), "long " * 20_000: rng.normal(size=N)})
    frame["y"] = frame["Intercept"] + (frame["Numeric"] == "b") + frame["None"] * frame["Count"] + rng.normal(0, 0.1, N)
    exp = Experiment(frame, "y")
    for name in ("Intercept", "Numeric", "None"):
        assert "column %r renamed '%s (column)' (the views name a term of their own %r)" % (name, name, name) in exp.notes
    # what a terminal or a figure would act on is written out, as the notes print it
    assert exp.dataset.feature_names[-2:] == ["\\x1b]0;cost\\x07 \\u202eeulav", ("long " * 40)[:199] + "…"]
    assert "column 'long long long long long long long long… (100000 characters)' renamed" in "\n".join(exp.notes)
    assert any(note.endswith("(control characters written out)") for note in exp.notes)
    exp.register("glm", "glm")
    exp.register("gam", "gam", lam=1.0)
    exp.register("relu", "reludnn", hidden_layer_sizes=(8,), max_iter=300)
    # the coefficients keep the levels in their own group, apart from the numeric features
    coef = exp.interpret_ei("glm")
    groups = dict(zip(coef["feature_names"], coef["feature_hier"]))
    assert [groups["Numeric (column)=" + level] for level in "abc"] == ["Numeric (column)"] * 3
    assert groups["Intercept (column)"] == "Numeric" and list(coef["feature_hier"]).count("Intercept") == 1
    # the local effects show the column's value in its units, apart from the intercept
    handed = []
    monkeypatch.setattr(api.InterpretGraph, "plot_ei_local", lambda result, figsize: handed.append(result["value"]))
    api.InterpretAPI(exp, "gam").model_interpret(show="local_ei", sample_id=3, original_scale=True)
    value = dict(zip(handed[0]["x"], handed[0]["value"]))
    assert value["Intercept (column)"] == pytest.approx(frame["Intercept"][3], abs=1e-4) and value["Intercept"] == ()
    # the interaction view draws the pair, and the table of local linear models tells its columns apart
    shown = exp.dataset.truncated_columns_dict_15
    with capture() as figures, contextlib.redirect_stdout(io.StringIO()) as printed:
        api.InterpretAPI(exp, "relu").interaction_effect(shown["None (column)"], shown["Count"])
    assert figures and not printed.getvalue()
    assert exp.get_interpret("relu").summary().columns.is_unique


# Row numbers, identifiers and timestamps, as the tools write them ----------------------------

def iso(hours, zone="Z", fraction=""):
    """ISO 8601 text of the time ``hours`` after 2013-01-01 06:00 UTC, in the time zone ``zone``."""
    offset = 0 if zone == "Z" else int(zone[:3])
    when = pd.Timestamp("2013-01-01 06:00") + pd.Timedelta(hours=hours + offset)
    return when.strftime("%Y-%m-%dT%H:%M:%S") + fraction + zone


def penguins_sorted(n=120, seed=4):
    """A table sorted by its target, as many are: a row number would explain it best of all."""
    rng = np.random.default_rng(seed)
    species = np.repeat(["Adelie", "Chinstrap", "Gentoo"], [50, 30, 40])
    frame = pd.DataFrame({"species": species, "bill": rng.normal(44, 5, n) + (species == "Gentoo") * 3,
                          "island": rng.choice(["Biscoe", "Dream"], n), "year": rng.choice([2007, 2008, 2009], n),
                          "founded": np.arange(1871, 1871 + n), "eggs": rng.integers(0, 6, n),
                          "code": rng.choice([101, 205, 307, 412], n), "PID": 5000 + rng.permutation(n),
                          # every twelve hours from 06:00 UTC, written three ways
                          "sampled": [iso(12 * k, ["Z", "+01:00", "-0500"][k % 3]) for k in range(n)]})
    frame.loc[5, "bill"] = np.nan
    return frame


def write_csv_as_r_does(frame, path):
    """R's write.csv: a quoted empty header above the quoted row names 1, 2, ..., texts quoted, gaps NA."""
    def cell(value):
        return "NA" if value is None or value != value else '"%s"' % value if isinstance(value, str) else str(value)
    rows = [",".join('"%s"' % name for name in [""] + list(frame.columns))]
    rows += [",".join(['"%d"' % k] + [cell(v) for v in row]) for k, row in enumerate(frame.itertuples(index=False), 1)]
    path.write_text("\n".join(rows) + "\n")


@pytest.mark.parametrize("tool, first", [("pandas", 0), ("R", 1)])
def test_a_table_written_with_its_row_numbers_is_explained_without_them(tool, first, tmp_path):
    frame, path = penguins_sorted(), tmp_path / "penguins.csv"
    frame.to_csv(path) if tool == "pandas" else write_csv_as_r_does(frame, path)
    exp = Experiment(read_csv(str(path))[0], "species", task="classification")
    ds = exp.dataset
    assert ds.feature_names == ["bill", "island", "year", "founded", "eggs", "code", "sampled"]
    assert "column 'Unnamed: 0' holds row numbers (%d to %d): left out" % (first, first + 119) in exp.notes
    assert "column 'PID' holds identifiers (its 96 training values are all distinct): left out" in exp.notes
    # the timestamps are days since the first of training, whatever their offset
    start = ds.train_index[0]
    assert "column 'sampled' holds dates: days since %s, its first date in the training split (times in UTC)" % (
        pd.Timestamp("2013-01-01 06:00") + pd.Timedelta(hours=12 * start)) in exp.notes
    assert ds.data["sampled"].to_numpy() == pytest.approx((np.arange(120) - start) / 2)
    assert list(ds.categories["island"]) == ["Biscoe", "Dream"] and ds.data["bill"].isna().sum() == 1


def frame_of(name, values, n=40):
    rng = np.random.default_rng(0)
    return pd.DataFrame({name: values, "z": rng.normal(size=n), "y": rng.normal(size=n)})


PERMUTED = np.random.default_rng(1).permutation(40)
REPEATS = np.tile([1, 2, 3, 5, 8], 8)


@pytest.mark.parametrize("name, values, left_out", [
    ("Order", PERMUTED + 1, "holds row numbers (1 to 40)"),
    ("x", np.arange(40.0), "holds row numbers (0 to 39)"),
    ("x", np.delete(np.arange(1, 45), [3, 10, 20, 30]), "holds row numbers (1 to 44)"),  # a tenth dropped
    ("x", np.r_[np.arange(1.0, 40), np.nan], None),  # a gap
    ("year", np.arange(1871, 1911), None),  # a yearly series
    ("x", np.r_[np.arange(1, 40), 1], None),
    ("customerId", 1000 + PERMUTED, "holds identifiers (its 32 training values are all distinct)"),
    ("SEQN", 73557 + PERMUTED, "holds identifiers (its 32 training values are all distinct)"),
    ("Sample Number", 7 * PERMUTED, "holds identifiers (its 32 training values are all distinct)"),
    ("", 2 + PERMUTED, "holds identifiers (its 32 training values are all distinct)"),
    ("customer_id", 1000.5 + PERMUTED, None),  # not whole
    ("valid", 1000 + PERMUTED, None), ("number of rooms", 1000 + PERMUTED, None), ("id", REPEATS, None),
    ("when", [iso(12 * k) for k in range(40)], np.arange(40) / 2),
    ("when", [iso(24 * k, fraction=".25" if k % 2 else "") for k in range(40)], np.arange(40) + np.arange(40) % 2 * 0.25 / 86400),
    ("when", ["2013-01-01T06:00:00Z", "2013-01-01T07:00:00+01:00", "2013-01-01 06:00", "2013-01-01"] * 10,
     np.tile([0.25, 0.25, 0.25, 0], 10))])
def test_whole_numbers_that_number_or_name_the_rows_are_left_out_and_timestamps_are_days(name, values, left_out):
    prepared = prepare_features(frame_of(name, values), "y", np.arange(32))
    if isinstance(left_out, str):
        assert prepared.feature_names == ["z"] and prepared.notes == ["column %r %s: left out" % (name, left_out)]
    else:
        assert prepared.feature_names == [name, "z"] and prepared.features[name].kind == "numeric"
        expected = pd.Series(values, dtype=float) if left_out is None else left_out
        assert prepared.data[name].to_numpy() == pytest.approx(np.asarray(expected), nan_ok=True)


def test_a_wide_table_gets_a_line_per_kind_of_treatment(per_kind=20):
    """Columns renamed, of rare levels and gaps (two kinds), filled, of dates, left out: many of each share a line by kind."""
    n, rng = 60, np.random.default_rng(6)
    columns = {}
    for k in range(per_kind):
        columns["a x %d" % k] = rng.normal(size=n)
        columns["c%d" % k] = np.where(np.arange(n) == 0, "rare", np.where(np.arange(n) == 1, None, rng.choice(list("abc"), n)))
        columns["n%d" % k] = np.where(np.arange(n) % 8 == 0, np.nan, rng.normal(size=n))
        columns["d%d" % k] = [str(pd.Timestamp("2021-03-04") + pd.Timedelta(days=int(d))) for d in rng.integers(0, 400, n)]
        columns["t%d" % k] = ["s%d-%d" % (k, i) for i in range(n)]
    prepared = prepare_features(pd.DataFrame(columns).assign(y=rng.normal(size=n)), "y", np.arange(50))
    more = " and %d more" % (per_kind - 4)
    kinds = ["renamed (' x ' joins the names of a pair, '<=' the parts of a split): 'a x 0' as 'a × 0', 'a x 1' as",
             "hold rare levels", "miss values: they form the level 'missing': 'c0', 'c1'", "hold dates",
             "miss values, filled with their training medians", "left out as each holds identifiers: 't0', 't1'"]
    assert len(prepared.notes) == len(kinds)
    for note, kind in zip(prepared.notes, kinds):
        assert note.startswith("%d columns %s" % (per_kind, kind)) and note.endswith(more), note


def gaps_then(values, n=100):
    """``values`` after as many gaps as fill ``n`` rows."""
    return np.r_[np.full(n - len(values), np.nan), values] if not isinstance(values[0], str) else \
        [None] * (n - len(values)) + list(values)


def levels(*counts):
    return [label for k, count in enumerate(counts) for label in ["L%02d" % k] * count]


def described(prepared):
    """The features (a category's kept levels counted, "+other" where the rest share one) and
    why a column was left out."""
    kept = [name if f.kind != "categorical" else "%s/%d%s" % (
        name, len(set(f.labels) - {"other", "missing"}), "+other" if "other" in f.labels else "")
        for name, f in prepared.features.items()]
    return [name if len(name) <= 20 else "%d characters" % len(name) for name in kept] + [
        note.split(" (")[0] for note in prepared.notes if note.endswith(": left out")]


# Each threshold that README tells a user, at it and one step past it; 100 rows, all of them training.
@pytest.mark.parametrize("name, values, expected", [
    ("v", gaps_then(np.arange(95.0)), ["v", "z"]),  # 5% missing: filled, no indicator
    ("v", gaps_then(np.arange(94.0)), ["v", "v missing", "z"]),  # more than 5%
    ("c", levels(97, 3), ["c/2", "z"]),  # a level of 3 rows is kept
    ("c", levels(98, 2), ["c/1+other", "z"]),  # fewer than 3: "other"
    ("c", levels(13, *[3] * 29), ["c/30", "z"]),  # 30 levels kept
    ("c", levels(10, *[3] * 30), ["c/30+other", "z"]),  # beyond the 30 most frequent: "other"
    ("c", gaps_then(levels(3, *[1] * 17)), ["z", "column 'c' holds identifiers"]),  # 20 values, 90% distinct
    ("c", gaps_then(levels(4, *[1] * 16)), ["c/1+other", "z"]),  # under 90% distinct
    ("c", gaps_then(levels(*[1] * 19)), ["c/0+other", "z"]),  # fewer than 20 values: no identifiers
    ("x", np.delete(np.arange(1, 112), 50 + np.arange(11)), ["z", "column 'x' holds row numbers"]),  # 90% filled
    ("x", np.delete(np.arange(1, 113), 50 + np.arange(12)), ["x", "z"]),  # less
    ("customer_id", gaps_then(np.arange(20.0) * 7), ["z", "column 'customer_id' holds identifiers"]),  # 20 values
    ("customer_id", gaps_then(np.arange(19.0) * 7), ["customer_id", "customer_id missing", "z"]),  # fewer
    ("w" * 200, np.arange(100.0) % 7, ["200 characters", "z"]),  # kept whole
    ("w" * 201, np.arange(100.0) % 7, ["200 characters", "z"]),  # cut with "…"
])
def test_each_documented_threshold_holds_at_its_boundary(name, values, expected):
    frame = frame_of(name, values, n=100)
    prepared = prepare_features(frame, "y", np.arange(100))
    assert described(prepared) == expected
    assert list(prepared.features)[0].endswith("…") == (len(name) > 200)


@pytest.mark.parametrize("kinds, lines", [([4], 4), ([5], 1), ([4, 4, 4], 12), ([4, 4, 4, 1], 4), ([2, 1], 3)])
def test_a_kind_of_more_than_four_columns_shares_a_line_and_so_do_all_past_a_dozen_lines(kinds, lines):
    from vexo.workflow.experiment.notes import ColumnNotes, Kind
    notes = ColumnNotes()
    for k, columns in enumerate(kinds):
        kind = Kind("%(count)d columns of kind " + str(k) + ": %(names)s")
        for c in range(columns):
            notes.add(kind, "column %d of kind %d" % (c, k), "c%d" % c)
    assert len(notes.lines()) == lines


@pytest.mark.parametrize("at, past", [
    ({"y": ["yes"] * 5 + ["no"] * 95}, {"y": ["yes"] * 4 + ["no"] * 96}),  # the fewest rows of a class
    ({"f%02d" % j: np.arange(100.0) % (j + 2) for j in range(49)},  # with z, the most features unscreened
     {"f%02d" % j: np.arange(100.0) % (j + 2) for j in range(50)})])
def test_the_experiments_thresholds_hold_at_their_boundary(at, past):
    def made(columns):
        frame = pd.DataFrame(dict({"y": np.arange(100.0) % 3, "z": np.arange(100.0) % 5}, **columns))
        task = "classification" if isinstance(frame["y"][0], str) else "regression"
        try:
            return Experiment(frame, "y", task=task).screened is not None
        except ValueError as refused:
            return str(refused)
    assert made(at) is False and made(past) is not False
