"""The experiment's table, its pipelines and the refusal of bad input."""

import numpy as np
import pandas as pd
import pytest

from conftest import make_frame
from vexo.workflow.experiment import Experiment


@pytest.mark.parametrize("change, task, family, message", [
    (lambda f: f.iloc[0:0], "regression", "glm", "data is empty"),
    (lambda f: f.rename(columns={"y": "z"}), "regression", "glm", "target column 'y' is not in the data"),
    (lambda f: f[["y"]].assign(when=pd.Timestamp("2024-01-01"),
                               id=["r%d" % i for i in range(len(f))]),
     "regression", "glm", "^no column is left to explain 'y': 'when' takes one value in the "
     "training split; 'id' holds identifiers \\(48 of its 48 training values are distinct\\)$"),
    (lambda f: f, "regression", "svm", "unknown model family 'svm'"),
])
def test_bad_input_is_refused_with_a_named_problem(change, task, family, message):
    with pytest.raises(ValueError, match=message):
        Experiment(change(make_frame(n=60)), "y", task=task).register("m", family)


def test_the_split_is_stratified_and_the_pipeline_scales_to_unit_range(experiment):
    pipe, ds = experiment.registered_pipeline["glm"], experiment.dataset
    assert sorted(np.concatenate([ds.train_index, ds.test_index])) == list(range(ds.data.shape[0]))
    assert len(ds.test_index) == round(0.2 * ds.data.shape[0])
    if ds.task == "classification":
        assert ds.encoded_target(ds.test_index).mean() == pytest.approx(ds.encoded_target().mean(), abs=0.05)
    X = pipe.transform(ds.data)
    numeric = [ds.feature_names.index(f) for f in ds.numeric_features]
    assert np.allclose(X[ds.train_index][:, numeric].min(axis=0), 0)
    assert np.allclose(X[ds.train_index][:, numeric].max(axis=0), 1)
    # A split threshold between two codes names the level below it.
    assert pipe.transform_to_orignial_scale("colour", np.array([[0.5, 1.5]]))[0][0][1] == "green"


def test_predictions_are_in_the_data_units(experiment):
    pipe, ds = experiment.registered_pipeline["relu"], experiment.dataset
    rows = ds.data.iloc[ds.test_index]
    prediction = pipe.predict(rows)
    if ds.task == "regression":
        assert np.corrcoef(prediction, rows["y"])[0, 1] > 0.9
    else:
        proba = pipe.predict_proba(rows)
        assert set(prediction) <= {"yes", "no"} and np.mean(prediction == rows["y"]) > 0.8
        assert np.allclose(proba.sum(axis=1), 1) and list(np.where(proba[:, 1] > 0.5, "yes", "no")) == list(prediction)


def test_an_unregistered_model_is_a_key_error_naming_the_registered_ones(experiment):
    from vexo.workflow.interpret_api import InterpretAPI

    with pytest.raises(KeyError, match=r"no model is registered as 'nope'; registered are \['glm', 'tree', 'relu', "
                                       r"'ebm', 'gam', 'gami'\]"):
        InterpretAPI(experiment, "nope")
    assert "nope" not in experiment.registered_pipeline  # asking registered nothing
