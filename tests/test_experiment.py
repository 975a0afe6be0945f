"""The experiment's table, its pipelines and the registration of models."""

import numpy as np
import pandas as pd
import pytest
from sklearn.linear_model import LogisticRegression, Ridge
from sklearn.neighbors import KNeighborsRegressor

from conftest import make_frame
from vexo.workflow.dataset import truncate_names
from vexo.workflow.experiment import Experiment


def inputs(exp, model):
    """The model's input matrix of every row of the frame."""
    return exp.registered_pipeline[model].transform(exp.dataset.data)


@pytest.mark.parametrize("change, task, message", [
    (lambda f: f.iloc[0:0], "regression", "empty"),
    (lambda f: f, "ranking", "task"),
    (lambda f: f.rename(columns={"y": "z"}), "regression", "'y'"),
    (lambda f: f.assign(age=f["age"].where(f.index != 3)), "regression", "missing.*'age'"),
    (lambda f: f.assign(y=np.arange(len(f)) % 3), "classification", "binary.*3"),
    (lambda f: f.assign(y=f["colour"].astype(str)), "regression", "numeric target"),
    (lambda f: f[["y"]], "regression", "no feature"),
    (lambda f: f.assign(when=pd.Timestamp("2024-01-01")), "regression", "'when'.*dtype"),
    (lambda f: f.head(4), "regression", "too few"),
])
def test_bad_input_is_refused_with_a_named_problem(change, task, message):
    with pytest.raises(ValueError, match=message):
        Experiment(change(make_frame()), "y", task=task)


def test_unknown_family_and_task_mismatch_are_refused():
    exp = Experiment(make_frame(n=60), "y")
    with pytest.raises(ValueError, match="unknown model family 'svm'"):
        exp.register("m", "svm")
    with pytest.raises(ValueError, match="classifier"):
        exp.register("m", LogisticRegression())
    assert exp.registered_pipeline == {}


def test_a_taken_name_is_kept_unless_replaced():
    exp = Experiment(make_frame(n=60), "y")
    first = exp.register("m", "tree", max_depth=1)
    exp.interpret_single("m")
    with pytest.raises(ValueError, match="registered already"):
        exp.register("m", "tree", max_depth=2)
    assert exp.registered_pipeline["m"] is first
    exp.register("m", "tree", max_depth=2, replace=True)
    assert exp.interpret_single("m")["max_depth"] == 2


def test_display_names_are_cut_and_distinct():
    names = ["income_per_household", "income_per_capita_usd", "income_p~1", "age"]
    cut = truncate_names(names, 10)
    assert cut["age"] == "age" and cut["income_p~1"] == "income_p~1"
    assert all(len(v) <= 10 for v in cut.values())
    assert len(set(cut.values())) == len(names)
    assert cut["income_per_household"] == "income_per"


def test_dataset_keeps_a_stratified_split_of_row_positions(experiment):
    ds = experiment.dataset
    n = ds.data.shape[0]
    assert sorted(np.concatenate([ds.train_index, ds.test_index])) == list(range(n))
    assert ds.feature_names == ["age", "income_per_household", "income_per_capita_usd",
                                "colour", "noise"]
    assert set(ds.truncated_columns_dict_15.values()) >= {"income_per_hous", "income_per_capi"}
    if ds.task == "classification":
        share = ds.encoded_target().mean()
        assert ds.encoded_target(ds.test_index).mean() == pytest.approx(share, abs=0.05)


def test_pipeline_scales_to_unit_range_and_back(experiment):
    pipe, ds = experiment.registered_pipeline["glm"], experiment.dataset
    X = pipe.transform(ds.data)
    train = X[ds.train_index]
    numeric = [ds.feature_names.index(f) for f in ds.numeric_features]
    assert np.allclose(train[:, numeric].min(axis=0), 0)
    assert np.allclose(train[:, numeric].max(axis=0), 1)
    for j, name in enumerate(ds.feature_names):
        back, kind = pipe.transform_to_orignial_scale(name, X[:, j])
        if name == "colour":
            assert kind == "categorical"
            assert list(back) == list(ds.data["colour"].astype(object))
        else:
            assert kind == "numeric"
            assert np.allclose(back, ds.data[name])
    # A split threshold between two codes names the level below it.
    assert pipe.transform_to_orignial_scale("colour", np.array([[0.5, 1.5]]))[0][0][1] == "green"


def test_pipeline_refuses_rows_it_cannot_encode(experiment):
    pipe = experiment.registered_pipeline["tree"]
    rows = experiment.dataset.data.head(3)
    with pytest.raises(ValueError, match="unknown label.*purple"):
        pipe.transform(rows.assign(colour=["red", "purple", "blue"]))
    with pytest.raises(ValueError, match="'noise'"):
        pipe.predict(rows.drop(columns="noise"))
    with pytest.raises(ValueError, match="unknown feature"):
        pipe.transform_to_orignial_scale("colr", np.zeros(1))


def test_predictions_are_in_the_data_units(experiment):
    pipe, ds = experiment.registered_pipeline["relu"], experiment.dataset
    rows = ds.data.iloc[ds.test_index]
    prediction = pipe.predict(rows)
    if ds.task == "regression":
        assert np.corrcoef(prediction, rows["y"])[0, 1] > 0.9
        with pytest.raises(ValueError, match="classification"):
            pipe.predict_proba(rows)
    else:
        assert set(prediction) <= {"yes", "no"}
        assert np.mean(prediction == rows["y"]) > 0.8
        proba = pipe.predict_proba(rows)
        assert np.allclose(proba.sum(axis=1), 1)
        assert list(np.where(proba[:, 1] > 0.5, "yes", "no")) == list(prediction)


def test_string_columns_and_plain_estimators_are_accepted():
    frame = make_frame(n=80).assign(colour=lambda f: f["colour"].astype(str))
    exp = Experiment(frame, "y")
    assert list(exp.dataset.categories["colour"]) == ["blue", "green", "red"]
    pipe = exp.register("knn", KNeighborsRegressor(n_neighbors=3))
    assert pipe.family == "generic"
    assert exp.interpret_single("knn") is None and exp.interpret_ei("knn") is None
    local = exp.interpret_local_fi("knn", 5)
    assert sorted(local) == ["title", "value", "x", "y"]
    assert exp.interpret_local_tree("knn", 5) is None
    # The generic contribution of a linear model is its coefficient times the distance of
    # the value from the mean of the background values.
    exp.register("ridge", Ridge(alpha=1e-6))
    X = inputs(exp, "ridge")
    coef = exp.registered_pipeline["ridge"].estimator.coef_
    local = exp.interpret_local_fi("ridge", 5)
    expected = coef * (X[5] - X[exp.dataset.train_index].mean(axis=0))
    got = dict(zip(local["x"], local["y"]))
    assert np.allclose([got[f] for f in exp.dataset.feature_names], expected)


def test_sample_index_is_a_row_of_the_users_frame(experiment):
    assert experiment.interpret_local_fi("glm", -1)["title"].startswith(
        "Sample %d:" % (experiment.dataset.data.shape[0] - 1))
    with pytest.raises(IndexError, match="out of range"):
        experiment.interpret_local_fi("glm", 10_000)
    with pytest.raises(TypeError):
        experiment.interpret_local_tree("tree", 1.5)
    with pytest.raises(KeyError, match="no model is registered as 'gbm'"):
        experiment.interpret_fi("gbm")
