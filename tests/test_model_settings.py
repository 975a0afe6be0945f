"""Settings and data that the model families refuse, and what the estimators declare."""

import numpy as np
import pytest
from sklearn.exceptions import NotFittedError

from conftest import make_frame
from vexo.workflow.experiment import Experiment
from vexo.workflow.families import FAMILIES, family_of
from vexo.workflow.gam import GAMClassifier, GAMINetClassifier, GAMINetRegressor, GAMRegressor
from vexo.workflow.relu_dnn import ReluDNNClassifier, ReluDNNRegressor

OURS = (GAMRegressor, GAMClassifier, GAMINetRegressor, GAMINetClassifier, ReluDNNRegressor,
        ReluDNNClassifier)


@pytest.fixture(scope="module")
def small():
    return Experiment(make_frame(n=60), "y")


@pytest.mark.parametrize("family, settings, message", [
    ("ebm", {"outer_bags": 0}, "outer_bags"),
    ("ebm", {"bags": 3}, "ExplainableBoostingRegressor has no setting.*'bags'.*outer_bags"),
    ("gam", {"n_splines": 2}, "n_splines must be an integer of at least 4, got 2"),
    ("gam", {"lam": -1}, 'lam must be a positive number or "auto", got -1'),
    ("gam", {"categorical_features": [9]}, "categorical_features must be column positions below 5"),
    ("gami", {"interactions": -1}, "interactions must be an integer of at least 0"),
    ("gami", {"interactions": [(0, 0)]}, "pairs of distinct column positions"),
    ("gami", {"screen_alpha": 2}, "screen_alpha must lie between 0 and 1"),
    ("glm", {"depth": 2}, "LinearRegression has no setting.*'depth'"),
], ids=["ebm bags", "ebm unknown", "gam splines", "gam lam", "gam categorical",
        "gami interactions", "gami pair", "gami alpha", "glm unknown"])
def test_a_bad_setting_is_a_value_error_naming_it(small, family, settings, message):
    with pytest.raises(ValueError, match=message):
        small.register("bad", family, **settings)
    assert "bad" not in small.registered_pipeline


@pytest.mark.parametrize("cls", [GAMRegressor, GAMINetRegressor])
def test_bad_data_is_a_value_error_naming_the_column(cls):
    X = np.column_stack([np.linspace(0, 1, 30), np.tile([0.0, 1.0, 2.5], 10)])
    with pytest.raises(ValueError, match="categorical column 1 must hold integer codes.*2.5"):
        cls(categorical_features=[1]).fit(X, X[:, 0])
    with pytest.raises(ValueError, match=r"column\(s\) \[1\] take a single value"):
        cls().fit(np.column_stack([X[:, 0], np.ones(30)]), X[:, 0])
    with pytest.raises(ValueError, match="NaN"):
        cls().fit(np.where(X == 1.0, np.nan, X), X[:, 0])


@pytest.mark.parametrize("cls", [GAMClassifier, GAMINetClassifier])
def test_a_classifier_refuses_other_than_two_classes(cls):
    X = np.linspace(0, 1, 30)[:, None]
    with pytest.raises(ValueError, match="Only binary classification is supported.*multiclass"):
        cls().fit(X, np.arange(30) % 3)
    with pytest.raises(ValueError, match="needs samples of two classes.*one class, a$"):
        cls().fit(X, np.array(["a"] * 30))


@pytest.mark.parametrize("cls", OURS)
def test_estimators_refuse_to_answer_before_fitting(cls):
    X = np.zeros((3, 2))
    for method in ("predict", "predict_proba", "decision_function", "eval_terms"):
        if hasattr(cls, method):
            with pytest.raises(NotFittedError):
                getattr(cls(), method)(X)
    if hasattr(cls, "relu_layers"):
        with pytest.raises(NotFittedError):
            cls().relu_layers()


@pytest.mark.parametrize("cls", OURS)
def test_tags_say_binary_classifiers_and_no_missing_values(cls):
    tags = cls().__sklearn_tags__()
    if cls.__name__.endswith("Classifier"):
        assert tags.estimator_type == "classifier"
        assert not tags.classifier_tags.multi_class
    else:
        assert tags.estimator_type == "regressor"
        assert not hasattr(cls, "decision_function")
    if cls.__name__.startswith("GAM"):
        assert not tags.input_tags.allow_nan


def test_every_family_is_found_by_its_estimator_classes():
    for name, family in FAMILIES.items():
        for class_name in family.class_names:
            assert family_of(type(class_name, (), {})()) == name
    assert family_of(object()) == "generic"
    assert {"ebm", "gam", "gami"} <= set(FAMILIES)


def test_a_model_whose_terms_cannot_be_read_is_not_registered(small):
    # The boosting machine can fit a term of three features, which no view draws.
    with pytest.raises(ValueError, match="only main effects and pairs.*3 features"), \
            pytest.warns(UserWarning, match="3 or more terms"):
        small.register("triple", "ebm", interactions=[(0, 1, 2)], outer_bags=1, max_rounds=10,
                       smoothing_rounds=0, interaction_smoothing_rounds=0,
                       max_interaction_bins=4)
    assert "triple" not in small.registered_pipeline and "triple" not in small.act_inter_lis
