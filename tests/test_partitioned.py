"""Experiments on Dask DataFrames, on a LocalCluster of two worker processes: the same table in
one frame and in partitions gives the same experiment; a sampled table keeps what it must; a
worker that dies costs time, not the answer."""
import os

import numpy as np
import pandas as pd
import pytest

dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")

from conftest import make_frame  # noqa: E402
from test_profiles import _same as same_features, _wide  # noqa: E402
from vexo.workflow.experiment import Experiment  # noqa: E402
from vexo.workflow.experiment.models.relu_dnn import relu_forward  # noqa: E402
from vexo.workflow.experiment.partitioned import aggregates, dataset as partitioned  # noqa: E402


def hostile(n=400, seed=3):
    """Gaps, rare and unseen levels, text dates, whole numbers and three classes."""
    frame = make_frame("classification", n, seed)
    rng = np.random.default_rng(seed)
    frame["city"] = rng.choice(["Oslo", "Lima", "Pune", "Kyiv", "Baku"], n).astype(object)
    frame.loc[rng.random(n) < 0.07, "city"] = None
    frame.loc[:2, "city"] = "Ulm"
    frame["when"] = pd.Timestamp("2020-01-01") + pd.to_timedelta(rng.integers(0, 900, n), "D")
    frame["when"] = frame["when"].dt.strftime("%Y-%m-%d")
    frame["rooms"] = rng.integers(1, 7, n).astype(float)
    frame.loc[rng.random(n) < 0.1, "rooms"] = np.nan
    frame["y"] = np.where(frame["noise"] > 1, "maybe", frame["y"])
    frame.loc[5, "y"] = None
    return frame


def records(exp, model):
    return {"fi": exp.interpret_fi(model), "scores": exp.scores(model).as_dict(),
            "local": exp.interpret_local_fi(model, 7)}


def assert_same(a, b, where=""):
    if isinstance(a, dict):
        assert sorted(a, key=str) == sorted(b, key=str), where
        for key in a:
            assert_same(a[key], b[key], "%s/%s" % (where, key))
    elif isinstance(a, pd.DataFrame):
        pd.testing.assert_frame_equal(a, b, check_exact=False, rtol=1e-9, obj=where)
    elif isinstance(a, (np.ndarray, list, tuple, float)) and np.asarray(a).dtype.kind == "f":
        np.testing.assert_allclose(a, b, rtol=1e-9, atol=1e-12, err_msg=where)
    elif isinstance(a, (np.ndarray, pd.Index)):
        np.testing.assert_array_equal(a, b, err_msg=where)
    else:
        assert a == b, where


@pytest.mark.parametrize("task, frame, parts", [
    ("regression", make_frame("regression", 300), 3),
    ("classification", hostile(), 4),
])
def test_a_table_in_partitions_gives_the_experiment_of_the_same_table_in_one_frame(dask_client, task, frame,
                                                                                   parts):
    whole = Experiment(frame, "y", task=task)
    spread = Experiment(dd.from_pandas(frame, npartitions=parts), "y", task=task)
    a, b = whole.dataset, spread.dataset
    # notes, names, levels, every feature's attributes and the rows; Dask reads text as
    # strings whose gaps are NA, pandas as strings whose gaps are NaN
    same_features(a, b, a.data, check_dtype=False)
    rows = ("train_index", "test_index", "source_rows")
    assert_same({k: getattr(b, k) for k in rows}, {k: getattr(a, k) for k in rows})
    assert (b.n_rows, b.n_train, b.n_test) == (len(a.data), len(a.train_index), len(a.test_index))
    for family in ("glm", "tree", "ebm"):
        whole.register(family, family)
        spread.register(family, family)
        assert_same(records(spread, family), records(whole, family), family)


def test_a_sample_keeps_every_class_and_a_row_outside_it_is_fetched(dask_client, monkeypatch):
    frame = hostile(3000, seed=4)
    for bound, rows in (("TRAIN_SAMPLE", 300), ("TEST_SAMPLE", 100), ("CLASS_SAMPLE", 40)):
        monkeypatch.setattr(partitioned, bound, rows)
    whole = Experiment(frame, "y", task="classification")
    exp = Experiment(dd.from_pandas(frame, npartitions=5), "y", task="classification")
    data = exp.dataset
    assert 250 < len(data.train_index) < 400 and data.n_train == len(whole.dataset.train_index)
    assert any("sample of" in note and "of the 2,399 training rows" in note for note in exp.notes)
    labels = data.encoded_target(data.train_index)
    assert min(np.sum(labels == 0), np.sum(labels == 1)) >= 40
    # the split is the table's, whichever rows are sampled
    assert set(data.row_positions[data.test_index]) <= set(whole.dataset.test_index)
    outside = next(i for i in range(100, 3000) if i not in set(data.row_positions))
    exp.register("glm", "glm")
    exp.interpret_local_fi("glm", outside)
    pd.testing.assert_series_equal(data.data.iloc[-1], whole.dataset.data.iloc[outside], check_names=False)
    assert data.source_rows[-1] == whole.dataset.source_rows[outside]
    assert exp.scores("glm").rows == data.n_test
    # the local linear models' sizes over every training row, not the sample
    exp.register("relu", "reludnn", hidden_layer_sizes=(4,))
    llms = exp.interpret_single("relu")
    _, patterns = relu_forward(llms.layers, whole._all_inputs()[whole.dataset.train_index])
    expected = [np.sum(np.all(patterns == own, axis=1)) for own in llms.patterns()]
    np.testing.assert_array_equal(llms.count_llms_table, expected)
    assert llms.count_llms.sum() == len(data.train_index) < sum(expected)
    assert list(llms.summary()["Training rows"]) == expected
    # and the data drawn under a main effect: every training row, in the sample's bins
    exp.register("gam", "gam")
    density = exp.interpret_single("gam")["effect"]["age"]["density"]
    ages, edges = whole._all_inputs()[whole.dataset.train_index, data.feature_names.index("age")], density["names"]
    counts = np.histogram(np.clip(ages, edges[0], edges[-1]), edges)[0]
    np.testing.assert_allclose(density["scores"], counts / len(ages))


def test_past_their_bounds_the_column_statistics_ask_the_workers(monkeypatch):
    import dask

    from vexo.workflow.experiment import profiles

    for bound, count in (("EXACT_VALUES", 50), ("KEPT_LEVELS", 40)):
        monkeypatch.setattr(profiles, bound, count)
    frame, steps = _wide(), []

    def run(step, tasks, watch=()):  # in this process, where the bounds are lowered
        steps.append(step)
        return list(dask.compute(*tasks, scheduler="sync"))

    whole = Experiment(frame, "y")
    with dask.config.set({"dataframe.shuffle.method": "tasks"}):  # no cluster's shuffle
        spread = Experiment(dd.from_pandas(frame, npartitions=5), "y", run=run)
    assert steps.count("statistics") >= 3  # distinct counts, then the levels they ask for
    assert spread.notes == whole.notes and spread.dataset.feature_names == whole.dataset.feature_names
    assert_same(spread.dataset.categories, whole.dataset.categories)


def die_once(frame, marker):
    """Kill the worker process that first computes a partition."""
    try:
        os.close(os.open(marker, os.O_CREAT | os.O_EXCL))
    except FileExistsError:
        return frame
    os._exit(1)


def test_a_worker_killed_mid_tour_costs_time_not_the_answer(dask_client, tmp_path):
    import cloudpickle

    from vexo.workflow import tour

    cloudpickle.register_pickle_by_value(__import__(__name__))
    frame, died = make_frame("regression", 300), tmp_path / "died"
    spread = dd.from_pandas(frame, npartitions=4)
    dying = spread.map_partitions(die_once, str(died), meta=spread._meta)
    exp = Experiment(dying, "y")  # a worker dies in its first pass
    assert died.exists()
    whole = Experiment(frame, "y")
    pd.testing.assert_frame_equal(exp.dataset.data, whole.dataset.data)
    died.unlink()  # and another as the tour scores the first model
    drawn = tour.tour(exp, str(tmp_path / "gallery"), progress=False)
    assert died.exists() and [s.error for s in drawn.sections] == [None] * 6
    whole.register("glm", "glm")
    assert_same(drawn.sections[0].scores.as_dict(), whole.scores("glm").as_dict())


@pytest.mark.parametrize("response", [
    np.repeat([0.1, 0.4, 0.4, 0.9], 50),            # ties, exact
    np.random.default_rng(0).normal(size=3000),    # a decision function, binned
    np.repeat(np.r_[-1.0, np.arange(37.0, 47.0)], 20),  # logits whose probabilities read 1.0
])
def test_the_auc_of_response_counts_merged_from_parts(monkeypatch, response):
    from sklearn.metrics import roc_auc_score

    monkeypatch.setattr(aggregates, "EXACT_RESPONSES", 1000)
    y = (np.random.default_rng(1).random(len(response)) < 0.3 + 0.2 * (response > 0.3)).astype(int)
    parts = [aggregates.ResponseCounts.of(response[k::3], y[k::3], response.min() >= 0) for k in range(3)]
    merged = parts[0].merge(parts[1]).merge(parts[2])
    assert merged.binned == (len(np.unique(response)) > 1000)
    assert merged.auc() == pytest.approx(roc_auc_score(y, response), abs=1e-5)
