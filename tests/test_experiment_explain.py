"""What the experiment hands the views: importances, coefficients, local parts, LLMs and trees."""

import copy

import numpy as np
import pandas as pd
import pytest
from sklearn.inspection import permutation_importance
from sklearn.linear_model import LinearRegression

from conftest import make_frame
from vexo.workflow.experiment import explain, families
from vexo.workflow.experiment.models import sampling
from vexo.workflow.experiment.dataset import Dataset
from vexo.workflow.experiment import Experiment
from vexo.workflow.experiment.explain import linear_response, model_response
from vexo.workflow.experiment.pipeline import ModelPipeline

MODELS = ["glm", "tree", "relu"]


def inputs(exp, model):
    return exp.registered_pipeline[model].transform(exp.dataset.data)


@pytest.mark.parametrize("model", MODELS + ["knn"])
def test_ignored_feature_ranks_last_in_permutation_importance(experiment, model):
    fi = experiment.interpret_fi(model)
    noise = fi["importance"][fi["feature_names"].index("noise")]
    if model == "tree":
        # A shallow tree may leave a weak feature unused: it then ties with noise at 0.
        assert noise == fi["importance"][0] == 0
    else:
        assert fi["feature_names"][0] == "noise"
    assert list(fi["importance"]) == sorted(fi["importance"])
    fi.pop("title")
    fi["importance"][:] = 0
    again = experiment.interpret_fi(model)
    assert "title" in again and again["importance"][-1] > 0


@pytest.mark.parametrize("model", MODELS + ["ebm", "gam", "gami", "knn"])
def test_the_response_grows_with_age_so_the_oldest_test_samples_age_adds_and_the_youngests_takes(experiment, model):
    test = experiment.dataset.test_index
    ages = experiment.dataset.data["age"].to_numpy()[test]
    for row, sign in ((test[np.argmax(ages)], 1), (test[np.argmin(ages)], -1)):
        local = experiment.interpret_local_fi(model, int(row))
        assert sign * local["y"][local["x"].index("age")] > 0, (row, local["x"], local["y"])


@pytest.mark.parametrize("centered", [True, False])
def test_local_contributions_add_up_to_the_response_from_the_baseline(experiment, centered):
    exp, estimator = experiment, experiment.registered_pipeline["glm"].estimator
    response = linear_response(estimator, inputs(exp, "glm"))
    ei = exp.interpret_ei("glm")
    terms = dict(zip(ei["feature_names"], ei["importance"]))
    assert ei["type"] == "coefficient" and terms["colour=blue"] == 0
    baseline = response[exp.dataset.train_index].mean() if centered else terms["Intercept"]
    for row in (0, 17, 250):
        local = exp.interpret_local_fi("glm", row, centered=centered)
        assert sum(local["y"]) == pytest.approx(response[row] - baseline)
        assert list(np.abs(local["y"])) == sorted(np.abs(local["y"]))
        by_name, values = dict(zip(local["x"], local["y"])), dict(zip(local["x"], local["value"]))
        if not centered:
            level = exp.dataset.categories["colour"][int(values["colour"])]
            assert by_name.pop("colour") == pytest.approx(terms["colour=" + level])
            assert by_name == pytest.approx({f: terms[f] * values[f] for f in by_name})
    # a network's follow the sample's own local linear model
    llms, X = exp.interpret_single("relu"), inputs(exp, "relu")
    row = exp.dataset.test_index[0]
    weights, bias = llms.local_model(X[row])
    local = exp.interpret_local_fi("relu", row, centered=centered)
    assert sum(local["y"]) == pytest.approx(linear_response(exp.registered_pipeline["relu"].estimator, X)[row] - (
        bias + weights @ llms.x.mean(axis=0) if centered else bias))
    # an additive model's from its intercept or the training mean, through a part per term
    for model in ("ebm", "gam", "gami"):
        response, row = linear_response(exp.registered_pipeline[model].estimator, inputs(exp, model)), 17
        local = exp.interpret_local_effect(model, row)
        assert sum(local["y"]) == pytest.approx(response[row]) and (model == "gam") != any(" x " in n for n in local["x"])
        baseline = response[exp.dataset.train_index].mean() if centered else dict(zip(local["x"], local["y"]))["Intercept"]
        assert sum(exp.interpret_local_fi(model, row, centered=centered)["y"]) == pytest.approx(response[row] - baseline)
    # a tree's from the training mean, with the 5th and 95th percentiles of their training spread as stems
    X = inputs(exp, "tree")
    response = model_response(exp.registered_pipeline["tree"].estimator, X)
    for row in (0, 17, 123):
        local = exp.interpret_local_fi("tree", row)
        assert sum(local["y"]) == pytest.approx(response[row] - response[exp.dataset.train_index].mean())
        assert (local["stem0"] <= local["stem1"]).all() and (local["stem0"] < local["stem1"]).any()


def test_coefficients_per_unit_are_those_of_a_fit_on_the_data_in_its_own_units(experiment):
    ds, ei = experiment.dataset, experiment.interpret_ei("glm")
    per_unit = ei["original_scale"]
    assert list(per_unit["feature_names"]) == list(ei["feature_names"]) and per_unit["type"] == "coefficient"
    # the titles name the group and say what its coefficients are
    assert (ei["titles"]["Numeric"].subtitle, per_unit["titles"]["Numeric"].subtitle, ei["titles"]["colour"].subtitle) == (
        "numeric features", "numeric features, per unit", "levels of colour")
    assert per_unit["titles"]["Numeric"].axis_label.endswith("per unit of the feature")
    if experiment.task == "classification":  # the penalty of a logistic fit depends on the units
        return
    train, numeric = ds.data.iloc[ds.train_index], [f for f in ds.feature_names if not ds.is_categorical(f)]
    levels = ds.categories["colour"][1:]
    X = np.column_stack([ds.features[f].values(train) for f in numeric]
                        + [(train["colour"] == level).to_numpy(float) for level in levels])
    plain = LinearRegression().fit(X, train["y"])
    expected = dict(zip(numeric + ["colour=%s" % level for level in levels], plain.coef_), Intercept=plain.intercept_)
    unit = dict(zip(per_unit["feature_names"], per_unit["importance"]))
    assert {name: unit[name] for name in expected} == pytest.approx(expected, rel=1e-7, abs=1e-9)


@pytest.mark.parametrize("response, exact", [
    (lambda X: X @ np.array([2.0, -1.0, 0.5]), lambda x, bg: np.array([2.0, -1.0, 0.5]) * (x - bg.mean(axis=0))),
    (lambda X: X[:, 0] * X[:, 1] + X[:, 2], None),  # a pair: only the sum is known in advance
])
def test_sampled_shapley_values_add_up_and_are_exact_for_a_linear_response(response, exact):
    rng = np.random.default_rng(3)
    x, background = rng.normal(size=3), rng.normal(size=(40, 3))
    parts, baseline = explain.shapley_contributions(response, x, background, 4, random_state=0)
    assert baseline == pytest.approx(response(background).mean())
    assert parts.sum() + baseline == pytest.approx(response(x[None, :])[0], rel=1e-12)
    if exact is not None:
        assert parts == pytest.approx(exact(x, background), rel=1e-12)


@pytest.mark.parametrize("row", [0, 17, 123])
def test_local_tree_follows_the_decision_path(experiment, row):
    tree = experiment.registered_pipeline["tree"].estimator
    local = experiment.interpret_local_tree("tree", row)
    path = list(tree.decision_path(inputs(experiment, "tree")[row:row + 1]).indices)
    left, right = tree.tree_.children_left, tree.tree_.children_right
    assert local["node_index"] == path and local["node_related"][0] == 0
    assert sorted(local["node_related"]) == sorted([0] + [c for n in path[:-1] for c in (left[n], right[n])])
    assert set(local["node_other"]) == {n for n in set(local["node_related"]) - set(path) if left[n] != -1}
    assert local is not experiment.interpret_local_tree("tree", row)
    assert experiment.interpret_local_tree("glm", row) is None


def test_nothing_handed_out_drags_the_model_into_a_deep_copy(experiment, monkeypatch):
    def refuse(self, memo):
        raise AssertionError("deep copy reached a %s" % type(self).__name__)

    for cls in (Experiment, ModelPipeline, Dataset):
        monkeypatch.setattr(cls, "__deepcopy__", refuse, raising=False)
    every = MODELS + ["ebm", "gam", "gami"]
    handed_out = [experiment.interpret_single(m) for m in every] + [experiment.interpret_ei(m) for m in every]
    local = [experiment.interpret_local_tree("tree", 5), experiment.interpret_local_fi("relu", 5),
             experiment.interpret_local_effect("gami", 5)]
    copied = copy.deepcopy(handed_out + local)
    assert copied[1]["tree"] is not handed_out[1]["tree"]

# What keeps large tables in bounded time: permutation importance shuffles a sample of the test
# rows, re-evaluating an additive model's terms only where a feature enters them. The bound is
# lowered here so that a small table crosses it.

def discrete_frame(task, n=600, seed=0):
    """Columns of a few whole numbers and a category: many test rows tie in their inputs and predictions."""
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame({c: rng.integers(0, k, n) for c, k in zip("abcd", [2, 3, 3, 2])})
    frame["f"] = pd.Categorical(rng.choice(["x", "y", "z"], n))
    eta = frame.a - frame.b + 0.5 * frame.c * frame.d + (frame.f == "y")
    if task == "regression":
        return frame.assign(t=eta + rng.normal(0, 0.5, n))
    return frame.assign(t=np.where(eta + rng.logistic(0, 1, n) > 1, "p", "n"))


def in_reverse(model):
    """The model, summing its terms from the last: no usual order of the sum gives it to the last bit."""
    def summed(self, X):
        return self.eval_terms(X)[:, ::-1].sum(axis=1) + self.intercept_

    reverse = copy.copy(model)
    method = summed.__name__ = "decision_function" if hasattr(model, "decision_function") else "predict"
    reverse.__class__ = type("InReverse", (type(model),), {method: summed})
    return reverse


@pytest.mark.parametrize("task", ["regression", "classification"])
@pytest.mark.parametrize("family", ["ebm", "gam", "gami", "reversed", "glm", "tree", "reludnn", "knn"])
def test_permutation_importance_of_every_family_is_scikit_learns(task, family, monkeypatch):
    from sklearn.neighbors import KNeighborsClassifier, KNeighborsRegressor

    # shuffles asked for together, a few a call, so that the batches split a column's shuffles
    monkeypatch.setattr(explain, "FI_BATCH_FEATURES", 0)
    monkeypatch.setattr(explain, "FI_CELLS", 7 * 120 * 6)
    exp = Experiment(discrete_frame(task), "t", task=task)
    knn = KNeighborsClassifier() if task == "classification" else KNeighborsRegressor()
    exp.register("m", {"knn": knn, "reversed": "gam"}.get(family, family),
                 **{"ebm": {"interactions": [(2, 3)]}, "gami": {"interactions": [(2, 3)]}, "tree": {"max_depth": 2}}.get(family, {}))
    estimator = exp.registered_pipeline["m"].estimator
    test = exp.dataset.test_index
    X, y = exp.model_inputs("m", test), exp.dataset.encoded_target(test)
    metric = exp._score_name(estimator)
    if family in ("ebm", "gam", "gami", "reversed"):
        # an additive model's from its terms, to the last bit of every shuffle
        terms = families.FAMILIES[exp.registered_pipeline["m"].family].terms(exp, "m")
        if family == "reversed":
            terms.estimator = in_reverse(terms.estimator)
        assert len(np.unique(explain.scored_response(terms.estimator, X))) < 0.7 * len(X)  # the model ties many rows
        drops = explain.additive_permutation_importance(terms, X, y, explain.SCORES[metric], 4, random_state=5)
        reference = permutation_importance(terms.estimator, X, y, scoring=metric, n_repeats=4, random_state=5)
        assert np.array_equal(drops.T, reference.importances)
        return
    drops = exp._family("m").permutation_importance(exp, "m", X, y, metric)
    reference = permutation_importance(estimator, X, y, scoring=metric, n_repeats=explain.FI_REPEATS,
                                       random_state=exp.random_state).importances_mean
    # R² to the last bit; the ROC AUC from ranks to rounding
    np.testing.assert_allclose(drops, reference, rtol=0, atol=0 if task == "regression" else 1e-15)
    if family == "tree":
        # a shallow tree reads few features: the others are not shuffled, and their drops are 0
        assert np.count_nonzero(drops) < drops.size and np.all(drops[reference == 0] == 0)


def test_permutation_importance_of_a_large_test_split_uses_a_sorted_reproducible_sample(monkeypatch):
    monkeypatch.setattr(explain, "FI_ROWS", 50)
    results = []
    for _ in range(2):
        exp = Experiment(make_frame(n=400), "y", random_state=3)
        exp.register("tree", "tree")
        exp.register("gam", "gam")
        terms, rows = families.FAMILIES["gam"].terms(exp, "gam"), []
        monkeypatch.setattr(terms, "contributions", lambda X, terms=None, whole=terms.contributions:
                            rows.append(len(X)) or whole(X, terms))
        results.append([exp.interpret_fi(model) for model in ("tree", "gam")])
        assert rows and set(rows) == {50}
    for first, again in zip(*results):
        assert first["feature_names"] == again["feature_names"] and np.array_equal(first["importance"], again["importance"])
    assert results[0][1]["feature_names"][0] == "noise"  # y ignores it

@pytest.mark.parametrize("positives, shifted", [(0, False), (4000, False), (30, True), (70, True)])
def test_a_sample_keeps_both_classes_and_otherwise_the_plain_draw(positives, shifted):
    labels = np.zeros(10000, dtype=int)
    labels[np.random.RandomState(1).choice(10000, positives, replace=False)] = 1
    plain = np.sort(np.random.RandomState(3).choice(10000, 1000, replace=False))
    rows, changed = sampling.draw(10000, 1000, np.random.RandomState(3), labels if positives else None)
    assert changed == shifted and len(rows) == 1000 and list(rows) == sorted(set(rows))
    if not shifted:  # a regression, or a class that the draw holds enough of
        assert np.array_equal(rows, plain)
    else:  # every row of a class of at most 50, else 50 of them; most of the drawn rows stay
        assert labels[rows].sum() == min(positives, sampling.CLASS_ROWS) and len(np.intersect1d(rows, plain)) > 900
        weights = sampling.class_weights(labels, rows)
        assert weights.mean() == pytest.approx(1) and weights @ labels[rows] / 1000 == pytest.approx(positives / 10000)


def test_a_class_of_7_in_50000_rows_is_explained_and_predicted():
    rng, n = np.random.default_rng(0), 50000
    frame = pd.DataFrame({"a": rng.uniform(size=n), "b": rng.uniform(size=n)})
    frame["y"] = np.isin(np.arange(n), rng.choice(n, 7, replace=False)).astype(int)
    # with these seeds a plain draw of 2,000 test rows holds no positive row, and with the last
    # one a plain draw of 10,000 training rows neither
    for seed in (5, 6, 7):
        exp = Experiment(frame, "y", task="classification", random_state=seed)
        exp.register("glm", "glm")
        assert np.isfinite(exp.interpret_fi("glm")["importance"]).all()
    exp.register("gam", "gam")
    p = exp.registered_pipeline["gam"].predict_proba(exp.dataset.data)[:, 1]
    assert p.mean() == pytest.approx(exp.dataset.encoded_target(exp.dataset.train_index).mean(), rel=0.1)


# The local linear models of a ReLU network ------------------------------------------------

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
