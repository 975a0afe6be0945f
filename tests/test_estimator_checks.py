"""scikit-learn's own checks of every estimator class of the package, with small settings."""

import warnings

from sklearn.utils.estimator_checks import parametrize_with_checks

from vexo.workflow.experiment.models.gam import GAMClassifier, GAMINetClassifier, GAMINetRegressor, GAMRegressor
from vexo.workflow.experiment.models.relu_dnn import ReluDNNClassifier, ReluDNNRegressor

# small enough for seconds, yet fitting well enough for the checks that look at the fit
SMALL_NETWORK = {"hidden_layer_sizes": (16,), "max_iter": 300, "learning_rate_init": 0.01}

ESTIMATORS = [
    GAMRegressor(max_iter=20), GAMClassifier(max_iter=20),
    GAMINetRegressor(max_iter=20, interactions=2), GAMINetClassifier(max_iter=20, interactions=2),
    ReluDNNRegressor(**SMALL_NETWORK), ReluDNNClassifier(**SMALL_NETWORK),
]


@parametrize_with_checks(ESTIMATORS)
def test_scikit_learn_accepts_the_estimator(estimator, check):
    with warnings.catch_warnings():
        # Few iterations do not converge; the checks are about the interface, not the fit.
        warnings.simplefilter("ignore")
        check(estimator)
