"""The additive families "ebm", "gam" and "gami" on data of a known structure:
y = f0(x0) + f1(x1) + g(x2, x3) + noise, with a feature "noise" that y ignores."""

import copy

import numpy as np
import pandas as pd
import pytest

from vexo.workflow.experiment import Experiment

FAMILIES = ("ebm", "gam", "gami")
PAIR_FAMILIES = ("ebm", "gami")


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


def main_curve(exp, family, feature):
    """(grid in model scale, effect) of a main effect, read as the views read it."""
    explainer = exp.get_interpret(family)
    if family == "ebm":
        col = explainer.main_effect_[feature]["fidx"][0]
        grid = np.linspace(explainer.min_value_[col], explainer.max_value_[col], 100)
        rows = np.zeros((100, explainer.n_features_in_))
        rows[:, col] = grid
        return grid, explainer.main_effect_[feature]["predict_func"](rows)
    item = explainer["effect"][feature] if family == "gam" else explainer[feature]
    return item["inputs"], item["outputs"]


def response(exp, family):
    """The model's response on every row: the prediction, or the logit of the second class."""
    estimator = exp.registered_pipeline[family].estimator
    X = exp.registered_pipeline[family].transform(exp.dataset.data)
    if exp.task == "regression":
        return estimator.predict(X)
    return estimator.decision_function(X)


@pytest.mark.parametrize("family", FAMILIES)
def test_main_effect_follows_the_true_curve(known, family):
    grid, effect = main_curve(known, family, "x0")
    original = known.registered_pipeline[family].transform_to_orignial_scale("x0", grid)[0]
    assert len(grid) >= 50
    assert np.corrcoef(effect, f0(original))[0, 1] > 0.95


@pytest.mark.parametrize("family", FAMILIES)
def test_noise_has_the_smallest_main_effect_and_the_pair_leads_the_pairs(known, family):
    names, importance = known.interpret_ei(family)["value"]
    assert list(importance) == sorted(importance)
    assert importance.sum() == pytest.approx(1)
    mains = [name for name in names if " x " not in name]
    assert sorted(mains) == ["noise", "x0", "x1", "x2", "x3"]
    assert mains[0] == "noise"
    pairs = [name for name in names if " x " in name]
    if family in PAIR_FAMILIES:
        assert pairs[-1] == "x2 x x3"
        assert "x2 x x3" in known.act_inter_lis[family]
        assert known.inter_effect_trunc_dict[family]["x2 x x3"] == "x2 x x3"
    else:
        assert pairs == [] and known.act_inter_lis[family] == []


def test_gami_takes_only_the_true_pair(known):
    assert known.registered_pipeline["gami"].estimator.screened_pairs_ == [(2, 3)]


@pytest.mark.parametrize("family", FAMILIES)
def test_intercept_and_contributions_make_the_response(known, family):
    expected = response(known, family)
    if known.task == "classification":
        pipeline = known.registered_pipeline[family]
        probability = pipeline.predict_proba(known.dataset.data)[:, 1]
        assert np.allclose(1 / (1 + np.exp(-expected)), probability)
        assert "logit of yes" in known.interpret_local_effect(family, 3)["title"]
    ei = known.interpret_ei(family)
    for row in (0, 17, 450):
        local = known.interpret_local_effect(family, row)
        terms = dict(zip(local["x"], local["y"]))
        assert sum(local["y"]) == pytest.approx(expected[row])
        assert sorted(local["x"]) == sorted(list(ei["value"][0]) + ["Intercept"])
        assert list(np.abs(local["y"])) == sorted(np.abs(local["y"]))
        values = dict(zip(local["x"], local["value"]))
        x_row = known.registered_pipeline[family].transform(known.dataset.data.iloc[[row]])[0]
        assert values["Intercept"] == ()
        assert values["x0"] == pytest.approx((x_row[0],))
        if family in PAIR_FAMILIES:
            assert values["x2 x x3"] == pytest.approx((x_row[2], x_row[3]))

        uncentred = known.interpret_local_fi(family, row, centered=False)
        assert sum(uncentred["y"]) == pytest.approx(expected[row] - terms["Intercept"])
        centred = known.interpret_local_fi(family, row)
        train_mean = expected[known.dataset.train_index].mean()
        assert sum(centred["y"]) == pytest.approx(expected[row] - train_mean)
        assert np.all(centred["stem0"] <= centred["stem1"])


def test_ebm_explainer_is_read_from_the_fitted_terms(known):
    exp, ebm = known.get_interpret("ebm"), known.registered_pipeline["ebm"].estimator
    X = known.registered_pipeline["ebm"].transform(known.dataset.data)
    terms = ebm.eval_terms(X)
    for t, name in enumerate(["x0", "x1", "x2", "x3", "noise"]):
        item = exp.main_effect_[name]
        assert item["fidx"] == [t]
        assert np.allclose(item["predict_func"](X), terms[:, t])
        assert len(item["density"]["names"]) == len(item["density"]["scores"]) + 1
        assert exp.estimator.feature_types[t] == "continuous"
        assert exp.min_value_[t] == pytest.approx(X[known.dataset.train_index, t].min(), abs=1e-6)
    pair = exp.interaction_["x2 x x3"]
    t = [tuple(f) for f in ebm.term_features_].index((2, 3))
    assert pair["fidx"] == [2, 3]
    assert np.allclose(pair["predict_func"](X), terms[:, t])
    # Deep copies of the entries, as the views make them, keep the one model.
    copied = copy.deepcopy(exp.interaction_)
    assert copied["x2 x x3"]["predict_func"] is pair["predict_func"]


def test_gami_pair_surface_is_laid_out_for_the_heat_map(known):
    estimator = known.registered_pipeline["gami"].estimator
    item = known.get_interpret("gami")["x2 x x3"]
    x2, x3 = item["input1"], item["input2"]
    assert item["outputs"].shape == (len(x3), len(x2))
    assert item["axis_extent"] == [x2[0], x2[-1], x3[0], x3[-1]]
    t = estimator.term_features_.index((2, 3))
    # Row 0 is the top of the second feature's range, column 0 the left of the first's.
    corner = estimator.pair_grid(t, x2[:1], x3[-1:])[0, 0]
    assert item["outputs"][0, 0] == pytest.approx(corner)
    # The pure interaction of a purified pair averages out along either feature.
    train = known.registered_pipeline["gami"].transform(known.dataset.data)[
        known.dataset.train_index]
    on_rows = estimator.eval_terms(train)[:, t]
    assert abs(on_rows.mean()) < 1e-9
    assert np.corrcoef(on_rows, (train[:, 2] - 0.5) * (train[:, 3] - 0.5))[0, 1] > 0.95


@pytest.mark.parametrize("family", FAMILIES)
def test_explainers_are_looked_up_by_name_and_are_no_tree_dictionary(known, family):
    from collections.abc import Mapping

    explainer = known.get_interpret(family)
    assert explainer is known.interpret_result_dict[family]
    # A tree's stored result is a dictionary of its entries; an explainer must not pass for one.
    assert not isinstance(explainer, Mapping)
    if family == "gam":
        assert sorted(explainer["effect"]) == ["noise", "x0", "x1", "x2", "x3"]
    elif family == "gami":
        assert sorted(explainer) == ["noise", "x0", "x1", "x2", "x2 x x3", "x3"]
        with pytest.raises(KeyError):
            explainer["x0 x x1"]
