"""The experiment's table, its pipelines and the refusal of bad input and bad settings."""

import numpy as np
import pandas as pd
import pytest

from conftest import make_frame
from vexo.workflow.experiment import Experiment
from vexo.workflow.experiment.models.gam import GAMINetClassifier, GAMRegressor


def unchanged(frame):
    return frame


@pytest.mark.parametrize("change, family, settings, message", [
    (lambda f: f.iloc[0:0], "glm", {}, "data is empty"),
    (lambda f: f.rename(columns={"y": "z"}), "glm", {}, "target column 'y' is not in the data"),
    (lambda f: f[["y"]].assign(when=pd.Timestamp("2024-01-01"), id=["r%d" % i for i in range(len(f))]), "glm", {},
     "^no column is left to explain 'y': 'when' takes one value in the training split; 'id' holds identifiers "
     "\\(48 of its 48 training values are distinct\\)$"),
    (unchanged, "svm", {}, "unknown model family 'svm'"),
    (unchanged, "ebm", {"bags": 3}, "ExplainableBoostingRegressor has no setting.*'bags'.*outer_bags"),
    (unchanged, "gam", {"n_splines": 2}, "n_splines must be an integer of at least 4, got 2"),
    (unchanged, "gam", {"lam": -1}, 'lam must be a positive number or "auto", got -1'),
    (unchanged, "gam", {"categorical_features": [9]}, "categorical_features must be column positions below 5"),
    (unchanged, "gami", {"interactions": [(0, 0)]}, "pairs of distinct column positions"),
    (unchanged, "gami", {"validation_fraction": 1.0}, "validation_fraction must lie between 0 and 1, got 1.0"),
])
def test_bad_input_and_settings_are_refused_with_a_named_problem(change, family, settings, message):
    experiment = None
    with pytest.raises(ValueError, match=message):
        experiment = Experiment(change(make_frame(n=60)), "y")
        experiment.register("bad", family, **settings)
    assert experiment is None or "bad" not in experiment.registered_pipeline


X = np.column_stack([np.linspace(0, 1, 30), np.tile([0.0, 1.0, 2.5], 10)])


# the families share their checks: one regressor and one classifier stand for all four
@pytest.mark.parametrize("cls", [GAMRegressor, GAMINetClassifier])
def test_bad_data_is_a_value_error_naming_it(cls):
    cases = [({"categorical_features": [1]}, X, "categorical column 1 must hold integer codes.*2.5"),
             ({}, np.column_stack([X[:, 0], np.ones(30)]), r"column\(s\) \[1\] take a single value"),
             ({}, np.where(X == 1.0, np.nan, X), "NaN")]
    y = X[:, 0] > 0.5
    if cls.__name__.endswith("Classifier"):
        cases += [({}, X, "needs samples of two classes.*one class, a$")]
    for (settings, data, message), target in zip(cases, [y, y, y, np.array(["a"] * 30)]):
        with pytest.raises(ValueError, match=message):
            cls(**settings).fit(data, target)


def test_a_term_of_three_features_is_refused():
    experiment = Experiment(make_frame(n=60), "y")
    # The boosting machine can fit a term of three features, which no view draws.
    with pytest.raises(ValueError, match="only main effects and pairs.*3 features"), \
            pytest.warns(UserWarning, match="3 or more terms"):
        experiment.register("triple", "ebm", interactions=[(0, 1, 2)], outer_bags=1, max_rounds=10,
                            smoothing_rounds=0, interaction_smoothing_rounds=0, max_interaction_bins=4)
    assert "triple" not in experiment.registered_pipeline and "triple" not in experiment.act_inter_lis


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
