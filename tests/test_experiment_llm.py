"""The local linear models of a ReLU network."""

import numpy as np
import pytest

from vexo.workflow.experiment.explain import linear_response
from vexo.workflow.experiment.local_linear import LocalLinearModels
from vexo.workflow.experiment.models.relu_dnn import ReluDNNRegressor


def test_each_training_sample_is_in_one_llm_that_is_the_network_on_it(experiment):
    llms, exp = experiment.interpret_single("relu"), experiment
    estimator = exp.registered_pipeline["relu"].estimator
    output = linear_response(estimator, llms.x)
    for k, rows in enumerate(llms.sample_idx_by_llms):
        assert np.allclose(llms.all_biases[k] + llms.x[rows] @ llms.all_weights[k], output[rows], rtol=1e-9, atol=1e-9)
    if exp.task == "classification":
        # The linear models are those of the logit: the sigmoid gives the probability.
        logit = llms.all_biases[llms.llm_of_sample] + np.sum(llms.weights_of(np.arange(len(llms.x))) * llms.x, 1)
        assert np.allclose(1 / (1 + np.exp(-logit)), estimator.predict_proba(llms.x)[:, 1])
    n = len(exp.dataset.train_index)
    assert sorted(np.concatenate(llms.sample_idx_by_llms)) == list(range(n)) and llms.count_llms.sum() == n
    assert list(llms.count_llms) == [len(r) for r in llms.sample_idx_by_llms] == sorted(llms.count_llms, reverse=True)
    assert list(llms.sample_index) == list(exp.dataset.train_index)


def test_a_point_outside_the_samples_gets_its_own_exact_model():
    X = np.random.default_rng(1).uniform(size=(200, 3))
    net = ReluDNNRegressor(hidden_layer_sizes=(6,), random_state=0).fit(X, np.abs(X[:, 0] - 0.5) + X[:, 1])
    llms = LocalLinearModels(net.relu_layers(), X[:50], ["a", "b", "c"])
    for point in X[50:60]:
        weights, bias = llms.local_model(point)
        assert bias + weights @ point == pytest.approx(net.predict(point[None, :])[0])
