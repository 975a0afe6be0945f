"""Settings and data that the model families refuse, and what the estimators declare."""

import numpy as np
import pytest

from conftest import make_frame
from vexo.workflow.experiment import Experiment
from vexo.workflow.experiment.models.gam import GAMINetClassifier, GAMRegressor


@pytest.fixture(scope="module")
def small():
    return Experiment(make_frame(n=60), "y")


@pytest.mark.parametrize("family, settings, message", [
    ("ebm", {"bags": 3}, "ExplainableBoostingRegressor has no setting.*'bags'.*outer_bags"),
    ("gam", {"n_splines": 2}, "n_splines must be an integer of at least 4, got 2"),
    ("gam", {"lam": -1}, 'lam must be a positive number or "auto", got -1'),
    ("gam", {"categorical_features": [9]}, "categorical_features must be column positions below 5"),
    ("gami", {"interactions": [(0, 0)]}, "pairs of distinct column positions"),
    ("gami", {"validation_fraction": 1.0}, "validation_fraction must lie between 0 and 1, got 1.0"),
])
def test_a_bad_setting_is_a_value_error_naming_it(small, family, settings, message):
    with pytest.raises(ValueError, match=message):
        small.register("bad", family, **settings)
    assert "bad" not in small.registered_pipeline


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


def test_a_term_of_three_features_is_refused(small):
    # The boosting machine can fit a term of three features, which no view draws.
    with pytest.raises(ValueError, match="only main effects and pairs.*3 features"), \
            pytest.warns(UserWarning, match="3 or more terms"):
        small.register("triple", "ebm", interactions=[(0, 1, 2)], outer_bags=1, max_rounds=10,
                       smoothing_rounds=0, interaction_smoothing_rounds=0, max_interaction_bins=4)
    assert "triple" not in small.registered_pipeline and "triple" not in small.act_inter_lis
