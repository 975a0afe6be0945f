"""How well a fitted model predicts the test split, beside a baseline that ignores the features.

A regression is scored by R² and the root mean squared error, beside predicting the mean of
the training target for every row. A classification is scored as the experiment frames it, the
positive class against the rest: the ROC AUC of the model's probability of the positive class
(else its decision function) and the accuracy of its predicted class, beside always predicting
the class that is the more frequent in the training split (AUC 0.5: a constant ranks nothing).
"""
from collections import namedtuple

import numpy as np
from sklearn.metrics import accuracy_score, mean_squared_error, r2_score, roc_auc_score

from . import explain

# One score: its key ("r2", "rmse", "roc_auc", "accuracy"), its name as printed, and its value
# for the model and for the baseline.
Score = namedtuple("Score", "key name model baseline")

# How each score reads, on the page and on an importance axis.
NAMES = {"r2": "R²", "rmse": "RMSE", "roc_auc": "ROC AUC", "accuracy": "accuracy"}


class Scores:
    """A model's scores on the test split beside the baseline's.

    Attributes
    ----------
    model : the registered name
    rows : the number of test rows scored
    explained : for a classification, what is explained ("benign against malignant",
        "Gentoo against not Gentoo"), else None
    baseline : what the baseline predicts ("the training mean 152.1", "the training
        majority malignant")
    metrics : tuple of ``Score``, the first the one that ranks models (R² or ROC AUC)

    ``scores["r2"]`` is the ``Score`` of that key; ``scores.as_dict()`` a plain dictionary
    ``{key: {"model": ..., "baseline": ...}}``. ROC AUC is NaN when the test split holds one
    class only.
    """

    def __init__(self, model, rows, explained, baseline, metrics):
        self.model, self.rows, self.explained = model, rows, explained
        self.baseline, self.metrics = baseline, tuple(metrics)

    def __getitem__(self, key):
        for score in self.metrics:
            if score.key == key:
                return score
        raise KeyError("no score %r; the scores are %r" % (key, [s.key for s in self.metrics]))

    def as_dict(self):
        return {s.key: {"model": s.model, "baseline": s.baseline} for s in self.metrics}

    @property
    def beats_baseline(self):
        """Whether the model scores better than the baseline by the first score."""
        return better(self.metrics[0])

    def model_text(self):
        """The model's scores, as printed: "R² 0.452, RMSE 53.93"."""
        return ", ".join("%s %s" % (s.name, format_score(s.key, s.model)) for s in self.metrics)

    def baseline_text(self):
        return ", ".join("%s %s" % (s.name, format_score(s.key, s.baseline))
                         for s in self.metrics)

    def __repr__(self):
        return "<Scores of %r on %d test rows%s: %s; baseline (%s): %s>" % (
            self.model, self.rows, ", " + self.explained if self.explained else "",
            self.model_text(), self.baseline, self.baseline_text())


def better(score):
    """Whether the model's score is better than the baseline's (an error lower, a share
    higher)."""
    if score.key == "rmse":
        return bool(score.model < score.baseline)
    return bool(score.model > score.baseline)


def format_score(key, value):
    """A score as the gallery prints it: a share to 3 decimals, an error to 4 significant
    digits without an exponent, "n/a" for NaN."""
    if not np.isfinite(value):
        return "n/a"
    if key == "rmse":
        return np.format_float_positional(value, precision=4, unique=False, fractional=False,
                                          trim="-")
    return "%.3f" % value


def model_scores(experiment, model):
    """The ``Scores`` of a registered model on the experiment's test split."""
    dataset = experiment.dataset
    if dataset.partitioned:
        # every test row of a table on a cluster, scored where it lies
        from .partitioned.aggregates import model_scores as scored_on_workers

        return scored_on_workers(experiment, model)
    estimator = experiment.registered_pipeline[model].estimator
    test = dataset.test_index
    X, y = experiment.model_inputs(model, test), dataset.encoded_target(test)
    y_train = dataset.encoded_target(dataset.train_index)
    if experiment.task == "regression":
        predicted = np.asarray(estimator.predict(X), dtype=float)
        mean = float(np.mean(y_train))
        constant = np.full(len(y), mean)
        return regression_scores(model, len(y), mean, (float(r2_score(y, predicted)),
                                                       float(r2_score(y, constant))),
                                 (_rmse(y, predicted), _rmse(y, constant)))
    # ties go to the rest, the first class
    majority = int(np.sum(y_train == 1) > np.sum(y_train == 0))
    constant = np.full(len(y), majority)
    predicted = np.asarray(estimator.predict(X), dtype=int)
    return classification_scores(
        model, len(y), dataset.classes, majority,
        (_auc(y, explain.model_response(estimator, X)), _auc(y, constant)),
        (float(accuracy_score(y, predicted)), float(accuracy_score(y, constant))))


def regression_scores(model, rows, mean, r2, rmse):
    """The ``Scores`` of a regression: ``r2`` and ``rmse`` (model, baseline) each, the
    baseline predicting the training ``mean``."""
    return Scores(model, rows, None, "the training mean %s" % format_score("rmse", mean),
                  [Score("r2", NAMES["r2"], *r2), Score("rmse", NAMES["rmse"], *rmse)])


def classification_scores(model, rows, classes, majority, roc_auc, accuracy):
    """The ``Scores`` of a classification: ``roc_auc`` and ``accuracy`` (model, baseline)
    each, the baseline predicting the training majority (0 or 1 of ``classes``)."""
    return Scores(model, rows, "%s against %s" % (classes[1], classes[0]),
                  "the training majority %s" % (classes[majority],),
                  [Score("roc_auc", NAMES["roc_auc"], *roc_auc),
                   Score("accuracy", NAMES["accuracy"], *accuracy)])


def _rmse(y, predicted):
    return float(np.sqrt(mean_squared_error(y, predicted)))


def _auc(y, response):
    if len(np.unique(y)) < 2:
        return float("nan")
    return float(roc_auc_score(y, response))
