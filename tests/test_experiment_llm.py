"""The local linear models of a ReLU network."""

import numpy as np
import pandas as pd
import pytest

from vexo.workflow.explain import linear_response
from vexo.workflow.local_linear import LocalLinearModels, region_linear_model
from vexo.workflow.relu_dnn import ReluDNNRegressor, relu_forward


@pytest.fixture(scope="module")
def llms_of(experiment):
    return experiment.interpret_single("relu"), experiment


def test_each_llm_is_the_network_on_its_samples(llms_of):
    llms, exp = llms_of
    estimator = exp.registered_pipeline["relu"].estimator
    output = linear_response(estimator, llms.x)
    for k, rows in enumerate(llms.sample_idx_by_llms):
        local = llms.all_biases[k] + llms.x[rows] @ llms.all_weights[k]
        assert np.allclose(local, output[rows], rtol=1e-9, atol=1e-9)
    if exp.task == "classification":
        # The linear models are those of the logit: the sigmoid gives the probability.
        rows = np.arange(llms.x.shape[0])
        logit = llms.all_biases[llms.llm_of_sample] + np.sum(llms.weights_of(rows) * llms.x, 1)
        assert np.allclose(1 / (1 + np.exp(-logit)), estimator.predict_proba(llms.x)[:, 1])


def test_every_training_sample_is_in_exactly_one_llm(llms_of):
    llms, exp = llms_of
    n = len(exp.dataset.train_index)
    members = np.concatenate(llms.sample_idx_by_llms)
    assert sorted(members) == list(range(n))
    assert llms.count_llms.sum() == n
    assert list(llms.count_llms) == [len(r) for r in llms.sample_idx_by_llms]
    assert list(llms.count_llms) == sorted(llms.count_llms, reverse=True)
    assert list(llms.sample_index) == list(exp.dataset.train_index)


def test_llm_arrays_agree_with_each_other(llms_of):
    llms, exp = llms_of
    L, p = llms.nllms, exp.dataset.n_features
    assert llms.all_bias_weight.shape == (L, p + 1) and llms.n_features == p
    assert np.array_equal(llms.all_bias_weight[:, 0], llms.all_biases)
    assert np.array_equal(llms.all_bias_weight[:, 1:], llms.all_weights)
    for k, rows in enumerate(llms.sample_idx_by_llms):
        assert np.allclose(llms.center_llms[k], llms.x[rows].mean(axis=0))
    assert np.all(llms.ystd_llms[llms.count_llms == 1] == 0)
    assert (llms.ystd_llms > 0).any()
    assert 1 <= llms.nllms_top <= L
    assert llms.feature_importance.sum() == pytest.approx(100)
    assert llms.feature_names == [exp.dataset.truncated_columns_dict_10[f]
                                  for f in exp.dataset.feature_names]
    noise = exp.dataset.feature_names.index("noise")
    assert np.argmin(llms.feature_importance) == noise


def test_summary_is_a_table_of_the_llms(llms_of):
    llms, _ = llms_of
    table = llms.summary()
    assert isinstance(table, pd.DataFrame) and len(table) == llms.nllms
    assert list(table["Count"]) == list(llms.count_llms)
    assert np.allclose(table["Intercept"], llms.all_biases)
    assert np.allclose(table[llms.feature_names].to_numpy(), llms.all_weights)


def test_a_point_outside_the_samples_gets_its_own_exact_model():
    rng = np.random.default_rng(1)
    X = rng.uniform(size=(200, 3))
    y = np.abs(X[:, 0] - 0.5) + X[:, 1]
    net = ReluDNNRegressor(hidden_layer_sizes=(6,), random_state=0).fit(X, y)
    llms = LocalLinearModels(net.relu_layers(), X[:50], ["a", "b", "c"])
    for point in X[50:60]:
        weights, bias = llms.local_model(point)
        assert bias + weights @ point == pytest.approx(net.predict(point[None, :])[0])


def test_region_model_of_a_hand_made_network():
    # out = relu(x0 - x1) + 2 relu(x1) - 1
    layers = [(np.array([[1.0, 0.0], [-1.0, 1.0]]), np.zeros(2)),
              (np.array([[1.0], [2.0]]), np.array([-1.0]))]
    X = np.array([[2.0, 1.0], [0.0, 1.0], [1.0, -1.0]])
    out, pattern = relu_forward(layers, X)
    assert list(out) == [2.0, 1.0, 1.0]
    weights, bias = region_linear_model(layers, pattern[0])
    assert list(weights) == [1.0, 1.0] and bias == -1.0
    weights, bias = region_linear_model(layers, pattern[1])
    assert list(weights) == [0.0, 2.0] and bias == -1.0
    weights, bias = region_linear_model(layers, pattern[2])
    assert list(weights) == [1.0, -1.0] and bias == -1.0
