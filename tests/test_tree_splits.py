"""A tree's splits in the data's units: each printed cut sends every training row as the model does."""
import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import pytest
from sklearn import datasets

from vexo.workflow.experiment import Experiment
from vexo.workflow.experiment.splits import date_between, level_set, number_between
from vexo.workflow.interpret_api import InterpretAPI


def grunfeld():
    import statsmodels.api as sm

    frame = sm.datasets.grunfeld.load_pandas().data
    return frame.assign(firm=frame["firm"].astype("category")), "invest", "regression"


def bundled(name):
    bunch = getattr(datasets, "load_" + name)(as_frame=True, **({"scaled": False} if name == "diabetes" else {}))
    return bunch.frame, "target", "regression" if name == "diabetes" else "classification"


def dated():
    """Dates with times of day and a column with gaps (so its indicator), both of which y follows."""
    rng = np.random.default_rng(3)
    when = pd.Timestamp("2021-01-01") + pd.to_timedelta(rng.integers(0, 400 * 24, 300), unit="h")
    dose = np.where(rng.random(300) < 0.3, np.nan, rng.normal(5, 1, 300))
    y = (when > pd.Timestamp("2021-06-15 09:30")) * 3.0 + np.isnan(dose) * 5.0 + rng.normal(0, 0.1, 300)
    return pd.DataFrame({"opened": when, "dose": dose, "y": y}), "y", "regression"


@pytest.mark.parametrize("table, special", [
    (lambda: bundled("diabetes"), set()), (lambda: bundled("breast_cancer"), set()), (grunfeld, {"levels"}),
    (dated, {"date", "indicator"})], ids=["diabetes", "breast_cancer", "grunfeld", "dated"])
def test_every_drawn_cut_sends_each_training_row_where_the_model_sends_it(table, special):
    frame, target, task = table()
    experiment = Experiment(frame, target, task=task)
    pipeline = experiment.register("tree", "tree", max_depth=None if task == "regression" else 8)
    dataset, tree = experiment.dataset, pipeline.estimator.tree_
    InterpretAPI(experiment, "tree").get_tree(0, tree.max_depth, original_scale=True)
    boxes = [t for t in plt.gca().texts if t.get_bbox_patch() is not None]
    # the tree compares a 32-bit input with its 64-bit threshold in 64 bits (older numpy would
    # round the threshold to 32 bits here)
    train = dataset.rows(dataset.train_index)
    seen = experiment.train_inputs("tree").astype(np.float32).astype(float)
    kinds = set()
    for k in np.flatnonzero(tree.children_left != -1):
        name = pipeline.feature_names[tree.feature[k]]
        feature, line = pipeline.features[name], boxes[k].get_text().split("\n")[1]
        goes_left = seen[:, tree.feature[k]] <= tree.threshold[k]
        shown = dataset.truncated_columns_dict_10[name]
        assert line.startswith(shown + " "), line
        condition = line[len(shown) + 1:]
        if feature.kind == "categorical":
            left = sorted({str(v) for v in feature.labels[feature.codes(train)[goes_left]]})
            assert condition.startswith("\u2208 {") and (condition == "\u2208 {%s}" % ", ".join(left) or "(+" in condition)
            kinds.add("levels")
        elif condition == "= 0":
            assert not np.isnan(feature.of.values(train)[goes_left]).any() and goes_left.any()
            kinds.add("indicator")
        else:
            values = feature.values(train)
            values[np.isnan(values)] = feature.median
            cut = condition[len("<= "):]
            if feature.origin is not None:
                cut, kinds = (pd.Timestamp(cut) - feature.origin) / pd.Timedelta(days=1), kinds | {"date"}
            assert np.array_equal(values <= float(cut), goes_left), (k, line)
            assert len(condition) <= len("<= ") + 10 or feature.origin is not None, line  # short numbers
    assert kinds == special


ORIGIN = pd.Timestamp("2020-01-01")


@pytest.mark.parametrize("printed, cut, text", [
    # a number: the cut in 4 digits unless a training value (low, high) would change sides
    (number_between, (92.9999997, 92.67, 93.0, False), "92.99"),     # the nearest below a training value
    (number_between, (92.4999997, 92.0, 93.0, True), "92.5"),        # whole numbers: the half between them
    (number_between, (1945.5000001, 1945.0, 1946.0, True), "1945"),  # ... or the whole number, at 4 digits
    (number_between, (1234567.5, 1234567.0, 1234568.0, True), "1234567"),  # more digits where 4 would move a value
    (number_between, (62.802000510692594, 62.8, 62.9, False), "62.8"),
    (number_between, (63.80000003399327, 63.7, 63.9, False), "63.8"),
    (number_between, (1e-17, -0.5, 0.5, False), "0"),                # float noise about 0
    (number_between, (0.000123456, 0.0001234, 0.0001236, False), "0.0001235"),
    (number_between, (5.14280811, 5.1428, 5.142809, False), "5.1428"),  # the value below the cut itself
    (number_between, (-3.25, None, -3.0, False), "-3.25"), (number_between, (7.0, 6.5, None, False), "7"),
    # a date: the coarsest moment between the training dates
    (date_between, (ORIGIN, 10.5, 10.0, 11.0), "2020-01-11"),                # whole days: the last day that goes left
    (date_between, (ORIGIN, 10.375, 10.25, 10.5), "2020-01-11 09:00"),       # 06:00 left, 12:00 right
    (date_between, (ORIGIN, 10.3, 10.29, 10.3001), "2020-01-11 07:00"),
    (date_between, (ORIGIN, 10.25, 10.2500001, 10.2500002), "2020-01-11 06:00:00.008640"),  # within a second
    (date_between, (ORIGIN, 3.0, None, 5.0), "2020-01-04"),
    # a category: the levels that go left, long names cut, many counted
    (level_set, (["GE", "GM", "IBM"], 1.5), "\u2208 {GE, GM}"),
    (level_set, (["American Steel", "Atlantic Refining", "Chrysler", "Diamond Match", "GE", "GM"], 4.5),
     "\u2208 {American Steel, \u2026 (+4)}"),
    (level_set, (["Atlantic Refining Company", "b", "c"], 2.5), "\u2208 {Atlantic Refi\u2026, b, c}"),
    (level_set, (list(range(1, 15)), 12.5), "\u2208 {1, 2, 3, 4, 5, 6, 7, 8, 9, \u2026 (+4)}"),
])
def test_a_cut_prints_as_the_shortest_text_that_keeps_each_training_value_on_its_side(printed, cut, text):
    assert printed(*cut) == text
    if printed is number_between:
        low, high = cut[1:3]
        assert (low is None or low <= float(text)) and (high is None or float(text) < high)
