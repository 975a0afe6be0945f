"""What the experiment hands the interpretation views: importances, coefficients, local
contributions and trees."""

import copy

import numpy as np
import pytest

from vexo.workflow.experiment.dataset import Dataset
from vexo.workflow.experiment import Experiment
from vexo.workflow.experiment.explain import linear_response, model_response
from vexo.workflow.experiment.pipeline import ModelPipeline

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


@pytest.mark.parametrize("centered", [True, False])
def test_linear_coefficients_and_contributions_add_up_to_the_prediction(experiment, centered):
    exp, estimator = experiment, experiment.registered_pipeline["glm"].estimator
    response = linear_response(estimator, inputs(exp, "glm"))
    ei = exp.interpret_ei("glm")
    assert ei["type"] == "coefficient"
    terms = dict(zip(ei["feature_names"], ei["importance"]))
    assert terms["colour=blue"] == 0
    baseline = response[exp.dataset.train_index].mean() if centered else terms["Intercept"]
    for row in (0, 17, 250):
        local = exp.interpret_local_fi("glm", row, centered=centered)
        assert sum(local["y"]) == pytest.approx(response[row] - baseline)
        assert list(np.abs(local["y"])) == sorted(np.abs(local["y"]))
        by_name = dict(zip(local["x"], local["y"]))
        values = dict(zip(local["x"], local["value"]))
        if not centered:
            level = exp.dataset.categories["colour"][int(values["colour"])]
            assert by_name.pop("colour") == pytest.approx(terms["colour=" + level])
            assert by_name == pytest.approx({f: terms[f] * values[f] for f in by_name})


@pytest.mark.parametrize("centered", [True, False])
def test_network_contributions_follow_the_samples_own_llm(experiment, centered):
    exp, llms, X = experiment, experiment.interpret_single("relu"), inputs(experiment, "relu")
    response = linear_response(exp.registered_pipeline["relu"].estimator, X)
    row = exp.dataset.test_index[0]
    weights, bias = llms.local_model(X[row])
    baseline = bias + weights @ llms.x.mean(axis=0) if centered else bias
    local = exp.interpret_local_fi("relu", row, centered=centered)
    assert sum(local["y"]) == pytest.approx(response[row] - baseline)


def walked_tree_parts(tree, x_row):
    """Each split's change of the node mean along the row's path, summed per feature."""
    value = tree.tree_.value[:, 0, :]
    means = value[:, 0] if value.shape[1] == 1 else value[:, 1] / value.sum(axis=1)
    parts, node = np.zeros(len(x_row)), 0
    while tree.tree_.children_left[node] != -1:
        j = tree.tree_.feature[node]
        child = (tree.tree_.children_left[node] if x_row[j] <= tree.tree_.threshold[node]
                 else tree.tree_.children_right[node])
        parts[j] += means[child] - means[node]
        node = child
    return parts


def test_tree_contributions_add_up_from_the_training_mean_with_their_training_spread(experiment):
    estimator = experiment.registered_pipeline["tree"].estimator
    X = inputs(experiment, "tree")
    response = model_response(estimator, X)
    train = experiment.dataset.train_index
    root_mean = response[train].mean()
    walked = np.array([walked_tree_parts(estimator, X[i]) for i in train])
    for row in (0, 17, 123):
        local = experiment.interpret_local_fi("tree", row)
        assert sum(local["y"]) == pytest.approx(response[row] - root_mean)
        assert sorted(local) == ["stem0", "stem1", "title", "value", "x", "y"]
        columns = [experiment.dataset.feature_names.index(f) for f in local["x"]]
        assert local["y"] == pytest.approx(walked_tree_parts(estimator, X[row])[columns])
        # the 5th and 95th percentiles of each feature's part over the training rows
        below = (walked[:, columns] < local["stem0"] - 1e-12).mean(axis=0)
        above = (walked[:, columns] > local["stem1"] + 1e-12).mean(axis=0)
        assert (below <= 0.05).all() and (above <= 0.05).all()
        assert (local["stem0"] <= local["stem1"]).all()
        assert (local["stem0"] < local["stem1"]).any()


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


def test_nothing_handed_out_drags_the_model_into_a_deep_copy(experiment, monkeypatch):
    def refuse(self, memo):
        raise AssertionError("deep copy reached a %s" % type(self).__name__)

    for cls in (Experiment, ModelPipeline, Dataset):
        monkeypatch.setattr(cls, "__deepcopy__", refuse, raising=False)
    every = MODELS + ["ebm", "gam", "gami"]
    handed_out = [experiment.interpret_single(m) for m in every]
    handed_out += [experiment.interpret_ei(m) for m in every]
    handed_out += [experiment.interpret_local_tree("tree", 5),
                   experiment.interpret_local_fi("relu", 5),
                   experiment.interpret_local_effect("gami", 5)]
    copied = copy.deepcopy(handed_out)
    assert copied[1]["tree"] is not handed_out[1]["tree"]
    assert np.array_equal(copied[2].all_bias_weight, handed_out[2].all_bias_weight)
    assert copied[3].main_effect_.keys() == handed_out[3].main_effect_.keys()
