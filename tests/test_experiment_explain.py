"""What the experiment hands the interpretation views: importances, coefficients, local
contributions and trees."""

import copy

import numpy as np
import pytest

from vexo.workflow.dataset import Dataset
from vexo.workflow.experiment import Experiment
from vexo.workflow.explain import linear_response, model_response
from vexo.workflow.pipeline import ModelPipeline

MODELS = ["glm", "tree", "relu"]


def inputs(exp, model):
    """The model's input matrix of every row of the frame."""
    return exp.registered_pipeline[model].transform(exp.dataset.data)


@pytest.mark.parametrize("model", MODELS)
def test_ignored_feature_ranks_last_in_permutation_importance(experiment, model):
    fi = experiment.interpret_fi(model)
    noise = fi["importance"][fi["feature_names"].index("noise")]
    if model == "tree":
        # A shallow tree may leave a weak feature unused: it then ties with noise at 0.
        assert noise == fi["importance"][0] == 0
    else:
        assert fi["feature_names"][0] == "noise"
    assert list(fi["importance"]) == sorted(fi["importance"])
    assert sorted(fi) == ["feature_names", "importance", "title"]
    fi.pop("title")
    fi["importance"][:] = 0
    again = experiment.interpret_fi(model)
    assert "title" in again and again["importance"][-1] > 0


def test_linear_coefficients_in_their_groups(experiment):
    ei = experiment.interpret_ei("glm")
    assert ei["type"] == "coefficient"
    terms = dict(zip(ei["feature_names"], ei["importance"]))
    groups = dict(zip(ei["feature_names"], ei["feature_hier"]))
    assert list(np.abs(ei["importance"])) == sorted(np.abs(ei["importance"]))
    assert {n for n, g in groups.items() if g == "Numeric"} == {
        "age", "income_per_household", "income_per_capita_usd", "noise"}
    assert {n for n, g in groups.items() if g == "colour"} == {
        "colour=blue", "colour=green", "colour=red"}
    assert terms["colour=blue"] == 0
    assert abs(terms["noise"]) < abs(terms["age"])
    if experiment.task == "regression":
        # The structure of the data: red - blue is 2, green - blue is 1.
        assert terms["colour=red"] == pytest.approx(2, abs=0.1)
        assert terms["colour=green"] == pytest.approx(1, abs=0.1)


@pytest.mark.parametrize("centered", [True, False])
def test_linear_contributions_add_up_to_the_prediction(experiment, centered):
    exp, estimator = experiment, experiment.registered_pipeline["glm"].estimator
    X = inputs(exp, "glm")
    response = linear_response(estimator, X)
    ei = exp.interpret_ei("glm")
    intercept = ei["importance"][list(ei["feature_names"]).index("Intercept")]
    baseline = response[exp.dataset.train_index].mean() if centered else intercept
    for row in (0, 17, 250):
        local = exp.interpret_local_fi("glm", row, centered=centered)
        assert sum(local["y"]) == pytest.approx(response[row] - baseline)
        assert list(np.abs(local["y"])) == sorted(np.abs(local["y"]))
        by_name = dict(zip(local["x"], local["y"]))
        values = dict(zip(local["x"], local["value"]))
        if not centered:
            level = exp.dataset.categories["colour"][int(values["colour"])]
            assert by_name["colour"] == pytest.approx(terms_of(ei)["colour=" + level])
            assert by_name["age"] == pytest.approx(terms_of(ei)["age"] * values["age"])


def terms_of(ei):
    return dict(zip(ei["feature_names"], ei["importance"]))


@pytest.mark.parametrize("model", ["glm", "relu"])
def test_stems_span_the_training_contributions(experiment, model):
    local = experiment.interpret_local_fi(model, 3)
    assert sorted(local) == ["stem0", "stem1", "title", "value", "x", "y"]
    assert np.all(local["stem0"] <= local["stem1"])
    assert len(local["stem0"]) == len(local["x"]) == experiment.dataset.n_features


@pytest.mark.parametrize("centered", [True, False])
def test_network_contributions_follow_the_samples_own_llm(experiment, centered):
    exp = experiment
    llms = exp.interpret_single("relu")
    response = linear_response(exp.registered_pipeline["relu"].estimator, inputs(exp, "relu"))
    row = exp.dataset.test_index[0]
    weights, bias = llms.local_model(inputs(exp, "relu")[row])
    baseline = bias + weights @ llms.x.mean(axis=0) if centered else bias
    local = exp.interpret_local_fi("relu", row, centered=centered)
    assert sum(local["y"]) == pytest.approx(response[row] - baseline)


def test_tree_result_is_the_fitted_tree(experiment):
    result = experiment.interpret_single("tree")
    tree = experiment.registered_pipeline["tree"].estimator
    assert result["tree"] is tree
    assert result["feature_names"] == experiment.dataset.feature_names
    assert result["max_depth"] == tree.get_depth() == 4
    assert np.array_equal(result["children_left"], tree.tree_.children_left)
    assert np.array_equal(result["children_right"], tree.tree_.children_right)
    expected = "squared_error" if experiment.task == "regression" else "gini"
    assert result["criterion"] == expected
    assert experiment.get_interpret("tree") is result
    assert experiment.interpret_ei("tree") is None


@pytest.mark.parametrize("row", [0, 17, 123])
def test_local_tree_follows_the_decision_path(experiment, row):
    exp = experiment
    tree = exp.registered_pipeline["tree"].estimator
    x_row = inputs(exp, "tree")[row:row + 1]
    local = exp.interpret_local_tree("tree", row)
    path = list(tree.decision_path(x_row).indices)
    assert local["node_index"] == path
    left, right = tree.tree_.children_left, tree.tree_.children_right
    assert local["node_related"][0] == 0
    assert sorted(local["node_related"]) == sorted(
        [0] + [c for n in path[:-1] for c in (left[n], right[n])])
    off_path = set(local["node_related"]) - set(path)
    assert set(local["node_other"]) == {n for n in off_path if left[n] != -1}
    assert local is not exp.interpret_local_tree("tree", row)
    assert exp.interpret_local_tree("glm", row) is None


@pytest.mark.parametrize("row", [0, 17, 123])
def test_tree_contributions_add_up_from_the_training_mean(experiment, row):
    exp = experiment
    estimator = exp.registered_pipeline["tree"].estimator
    response = model_response(estimator, inputs(exp, "tree"))
    local = exp.interpret_local_fi("tree", row)
    root_mean = model_response(estimator, inputs(exp, "tree")[exp.dataset.train_index]).mean()
    assert sum(local["y"]) == pytest.approx(response[row] - root_mean)
    assert sorted(local) == ["title", "value", "x", "y"]


def test_no_model_has_local_effects_or_interactions(experiment):
    for model in MODELS:
        assert experiment.interpret_local_effect(model=model, sample_index=0) is None
        assert experiment.act_inter_lis[model] == []
        assert experiment.inter_effect_trunc_dict[model] == {}
    assert experiment.interpret_ei("relu")["type"] not in ("coefficient", "effect")


def test_nothing_handed_out_drags_the_model_into_a_deep_copy(experiment, monkeypatch):
    def refuse(self, memo):
        raise AssertionError("deep copy reached a %s" % type(self).__name__)

    for cls in (Experiment, ModelPipeline, Dataset):
        monkeypatch.setattr(cls, "__deepcopy__", refuse, raising=False)
    handed_out = [experiment.interpret_single(m) for m in MODELS]
    handed_out += [experiment.interpret_ei(m) for m in MODELS]
    handed_out += [experiment.interpret_local_tree("tree", 5),
                   experiment.interpret_local_fi("relu", 5)]
    copied = copy.deepcopy(handed_out)
    assert copied[1]["tree"] is not handed_out[1]["tree"]
    assert np.array_equal(copied[2].all_bias_weight, handed_out[2].all_bias_weight)

