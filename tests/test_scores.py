"""The models' test scores beside a baseline that ignores the features, as scikit-learn computes them."""

import functools

import numpy as np
import pandas as pd
import pytest
from sklearn.datasets import load_wine
from sklearn.metrics import accuracy_score, mean_squared_error, r2_score, roc_auc_score

from vexo.workflow.experiment import Experiment
from vexo.workflow.experiment.scores import Score, Scores, format_score


@functools.lru_cache(maxsize=None)
def wine(positive_class=None):
    """Three classes, one explained against the two others."""
    exp = Experiment(load_wine(as_frame=True).frame, "target", task="classification", positive_class=positive_class)
    for family in ("glm", "tree", "gam"):
        exp.register(family, family)
    return exp


def expected(experiment, model):
    """{key: (model, baseline)} from the pipeline's predictions of the test rows, in the data's units."""
    data, pipeline = experiment.dataset, experiment.registered_pipeline[model]
    test, train = data.rows(data.test_index), data.rows(data.train_index)
    y, y_train = test[data.target].to_numpy(), train[data.target].to_numpy()
    if experiment.task == "regression":
        predicted, mean = pipeline.predict(test), np.full(len(y), y_train.mean())
        return {"r2": (r2_score(y, predicted), r2_score(y, mean)),
                "rmse": (np.sqrt(mean_squared_error(y, predicted)), np.sqrt(mean_squared_error(y, mean)))}
    positive, rest = data.classes[1], data.classes[0]
    # as the experiment frames it: the explained class against the others taken together
    # (as text: the rest of 3 classes of numbers is named "not 2")
    truth = np.array([str(positive if label == positive else rest) for label in y])
    majority = positive if np.mean(y_train == positive) > 0.5 else rest
    return {"roc_auc": (roc_auc_score(y == positive, pipeline.predict_proba(test)[:, 1]),
                        roc_auc_score(y == positive, np.zeros(len(y)))),
            "accuracy": (accuracy_score(truth, pipeline.predict(test).astype(str)),
                         accuracy_score(truth, np.full(len(y), str(majority))))}


def check_scores(experiment, model):
    scores = experiment.scores(model)
    assert scores.rows == len(experiment.dataset.test_index)
    assert {key: (s["model"], s["baseline"]) for key, s in scores.as_dict().items()} == {
        key: (pytest.approx(a, rel=1e-12, abs=1e-15), pytest.approx(b, rel=1e-12, abs=1e-15))
        for key, (a, b) in expected(experiment, model).items()}
    if experiment.task == "classification":
        classes = experiment.dataset.classes
        assert scores.explained == "%s against %s" % (classes[1], classes[0])
        assert scores["roc_auc"].baseline == 0.5 and scores["roc_auc"].model > 0.8
    else:
        assert scores.explained is None and scores["r2"].model > scores["r2"].baseline


@pytest.mark.parametrize("model", ["glm", "tree", "relu", "ebm", "gam", "gami", "knn"])
def test_scores_are_scikit_learns_on_the_test_split_beside_the_baseline(experiment, model):
    check_scores(experiment, model)


@pytest.mark.parametrize("positive, model", [(None, "glm"), (None, "tree"), (None, "gam"), (2, "tree")])
def test_three_classes_are_scored_as_the_chosen_or_most_frequent_one_against_the_rest(positive, model):
    check_scores(wine(positive), model)
    chosen, scores = 1 if positive is None else positive, wine(positive).scores(model)  # 1 is the most frequent
    assert (scores.explained, scores.baseline) == ("%d against not %d" % (chosen, chosen),
                                                   "the training majority not %d" % chosen)


def test_refitting_a_model_scores_the_new_fit():
    experiment = Experiment(load_wine(as_frame=True).frame, "target", task="classification")
    experiment.register("tree", "tree", max_depth=1)
    stump = experiment.scores("tree")["roc_auc"].model
    experiment.register("tree", "tree", replace=True, max_depth=None)
    refitted = experiment.scores("tree")["roc_auc"].model
    assert refitted == pytest.approx(expected(experiment, "tree")["roc_auc"][0]) != stump
    with pytest.raises(KeyError, match="no model is registered as 'absent'"):
        experiment.scores("absent")


@pytest.mark.parametrize("metrics, beats, model_text", [
    ([Score("r2", "R²", 0.4521, -0.0013), Score("rmse", "RMSE", 53.93217, 71.6)], True, "R² 0.452, RMSE 53.93"),
    ([Score("r2", "R²", -0.02, -0.0013), Score("rmse", "RMSE", 123456.7, 0.5)], False, "R² -0.020, RMSE 123500"),
    ([Score("roc_auc", "ROC AUC", 0.5, 0.5), Score("accuracy", "accuracy", 0.9, 0.632)], False,
     "ROC AUC 0.500, accuracy 0.900"),
    ([Score("roc_auc", "ROC AUC", float("nan"), float("nan"))], False, "ROC AUC n/a")])
def test_scores_read_as_printed_and_a_model_no_better_than_its_baseline_is_told(metrics, beats, model_text):
    scores = Scores("m", 10, None, "the training mean 1", metrics)
    assert (scores.beats_baseline, scores.model_text()) == (beats, model_text)
    assert format_score("rmse", 0.000012345) == "0.00001234"
    with pytest.raises(KeyError, match="no score 'mae'"):
        scores["mae"]


def test_a_test_split_of_one_class_has_no_auc():
    frame = pd.DataFrame({"x": np.arange(40.0) / 4, "y": ["a"] * 20 + ["b"] * 20})
    experiment = Experiment(frame, "y", task="classification")
    experiment.register("glm", "glm")
    experiment.dataset.test_index = experiment.dataset.test_index[:1]
    scores = experiment.scores("glm")
    assert np.isnan(scores["roc_auc"].model) and np.isnan(scores["roc_auc"].baseline)
    assert "ROC AUC n/a" in repr(scores)
