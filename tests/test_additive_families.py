"""The additive families on y = f0(x0) + f1(x1) + g(x2, x3) + noise, with a feature y ignores."""

import copy

import numpy as np
import pandas as pd
import pytest

from vexo.workflow.experiment import Experiment

FAMILIES = ("ebm", "gam", "gami")


def f0(x):
    return np.sin(np.pi * x)


def known_frame(task, n=600, seed=1):
    rng = np.random.default_rng(seed)
    X = rng.uniform(-1, 1, size=(n, 5))
    # g has a main trend along x2 and x3 besides the product, so that noise is the one
    # feature without an effect of its own.
    eta = f0(X[:, 0]) + X[:, 1] ** 2 + (X[:, 2] + 1) * (X[:, 3] + 1) - 1
    frame = pd.DataFrame(X, columns=["x0", "x1", "x2", "x3", "noise"])
    if task == "regression":
        frame["y"] = eta + rng.normal(0, 0.1, n)
    else:
        frame["y"] = np.where(eta + rng.logistic(0, 0.3, n) > 0, "yes", "no")
    return frame


@pytest.fixture(scope="module", params=["regression", "classification"])
def known(request):
    exp = Experiment(known_frame(request.param), "y", task=request.param)
    for family in FAMILIES:
        exp.register(family, family)
    return exp


@pytest.mark.parametrize("family", FAMILIES)
def test_main_effect_follows_the_true_curve_and_noise_and_the_true_pair_rank_as_they_should(known, family):
    explainer = known.get_interpret(family)
    if family == "ebm":  # read as the view reads it: on a grid over the feature's range
        grid = np.linspace(explainer.min_value_[0], explainer.max_value_[0], 100)
        effect = explainer.main_effect_["x0"]["predict_func"](np.column_stack([grid, np.zeros((100, 4))]))
    else:
        item = explainer["effect"]["x0"] if family == "gam" else explainer["x0"]
        grid, effect = item["inputs"], item["outputs"]
    original = known.registered_pipeline[family].transform_to_orignial_scale("x0", grid)[0]
    # 0.93 to 0.98 over the seeds of the split for the boosting machine's classification
    assert len(grid) >= 50 and np.corrcoef(effect, f0(original))[0, 1] > 0.9
    names, importance = known.interpret_ei(family)["value"]
    assert list(importance) == sorted(importance) and importance.sum() == pytest.approx(1)
    mains, pairs = [n for n in names if " x " not in n], [n for n in names if " x " in n]
    assert sorted(mains) == ["noise", "x0", "x1", "x2", "x3"] and mains[0] == "noise"
    if family == "gam":
        assert pairs == [] and known.act_inter_lis[family] == []
    else:
        assert pairs[-1] == "x2 x x3" and "x2 x x3" in known.act_inter_lis[family]
    if family == "gami":  # the true pair leads the screening and is the one kept
        estimator = known.registered_pipeline["gami"].estimator
        assert estimator.screened_pairs_[0] == (2, 3) and estimator.kept_pairs_ == [(2, 3)] and "x0 x x1" not in explainer


def test_the_explainers_are_read_from_the_fitted_terms(known):
    exp, ebm = known.get_interpret("ebm"), known.registered_pipeline["ebm"].estimator
    X = known.registered_pipeline["ebm"].transform(known.dataset.data)
    terms = ebm.eval_terms(X)
    pair = exp.interaction_["x2 x x3"]
    t = [tuple(f) for f in ebm.term_features_].index((2, 3))
    assert pair["fidx"] == [2, 3] and np.allclose(pair["predict_func"](X), terms[:, t])
    # Deep copies of the entries, as the views make them, keep the one model.
    assert copy.deepcopy(exp.interaction_)["x2 x x3"]["predict_func"] is pair["predict_func"]

    # GAMI's pair surface is laid out for the heat map
    estimator = known.registered_pipeline["gami"].estimator
    item = known.get_interpret("gami")["x2 x x3"]
    x2, x3 = item["input1"], item["input2"]
    assert item["outputs"].shape == (len(x3), len(x2)) and item["axis_extent"] == [x2[0], x2[-1], x3[0], x3[-1]]
    t = estimator.term_features_.index((2, 3))
    # Row 0 is the top of the second feature's range, column 0 the left of the first's.
    assert item["outputs"][0, 0] == pytest.approx(estimator.pair_grid(t, x2[:1], x3[-1:])[0, 0])
    # The pure interaction of a purified pair averages out along either feature.
    train = X[known.dataset.train_index]
    on_rows = estimator.eval_terms(train)[:, t]
    assert abs(on_rows.mean()) < 1e-9 and np.corrcoef(on_rows, (train[:, 2] - 0.5) * (train[:, 3] - 0.5))[0, 1] > 0.95


@pytest.fixture(scope="module")
def two_valued():
    """A flag coded 1 and 2 and a category of two levels beside a curve, each with an effect of its own."""
    rng = np.random.default_rng(4)
    n = 400
    frame = pd.DataFrame({"x0": rng.uniform(-1, 1, n), "flag": rng.integers(1, 3, n).astype(float),
                          "sex": pd.Categorical(rng.choice(["f", "m"], n, p=[0.3, 0.7]))})
    frame["y"] = f0(frame["x0"]) + frame["flag"] - 0.5 * (frame["sex"] == "m") + rng.normal(0, 0.1, n)
    exp = Experiment(frame, "y")
    for family in FAMILIES:
        exp.register(family, family)
    return exp


@pytest.mark.parametrize("feature, original", [("flag", [1.0, 2.0]), ("sex", ["f", "m"])])
@pytest.mark.parametrize("family", FAMILIES)
def test_a_two_valued_features_bars_are_its_terms_at_its_two_values(two_valued, family, feature, original, plot_calls):
    from vexo.workflow.interpret_api import InterpretAPI
    InterpretAPI(two_valued, family).main_effect(feature, original_scale=True)
    (_, drawn), = plot_calls.of("plot")
    pipeline, j = two_valued.registered_pipeline[family], two_valued.dataset.feature_names.index(feature)
    X = pipeline.transform(two_valued.dataset.data)[two_valued.dataset.train_index]
    on_rows = pipeline.estimator.eval_terms(X)[:, [tuple(f) for f in pipeline.estimator.term_features_].index((j,))]
    levels = np.unique(X[:, j])
    assert list(drawn["categories"]) == pytest.approx(levels) and len(drawn["height"]) == 2
    assert list(drawn["scaler"](feature, drawn["categories"])[0]) == original  # the bars' labels
    for level, height, share in zip(levels, drawn["height"], drawn["scores"]):
        assert height == pytest.approx(on_rows[X[:, j] == level][0]) and share == pytest.approx(np.mean(X[:, j] == level))
    assert abs(drawn["height"][1] - drawn["height"][0]) > 0.3  # each effect is found
