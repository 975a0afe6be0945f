"""A model's test scores over every test row of a partitioned table.

The fitted model travels to the workers; each partition gives sums (rows, the target's mean
and squared deviations, the squared errors of the model and of the baseline, the correct
predictions) and, for the ROC AUC, the count of each class at each response value. Those
counts are exact while the table's test rows give at most ``EXACT_RESPONSES`` distinct
values; beyond, the responses are counted in ``RESPONSE_BINS`` bins of equal width on the
probability scale (a decision function through the logistic function), and two responses in
one bin count as a tie: the AUC is then within half a bin's share of pairs of the exact one.
"""

import numpy as np

from .. import explain
from ..pipeline import encode
from ..scores import classification_scores, regression_scores
from . import passes

EXACT_RESPONSES = 100_000
RESPONSE_BINS = 2 ** 20


class Encoder:
    """The models' input matrix of a partition's rows: the dataset's features, without its
    rows, so that it travels to a worker light."""

    def __init__(self, dataset):
        self.features = [dataset.features[name] for name in dataset.feature_names]

    def __call__(self, frame):
        return encode(self.features, frame)


class ResponseCounts:
    """How many rows of each class (0, 1) take each response value (sorted ``values``);
    ``probabilities``: the responses are probabilities (else a decision function, binned
    through the logistic function); ``binned`` once the values are bin numbers."""

    def __init__(self, values, negatives, positives, probabilities, binned=False):
        self.values, self.negatives, self.positives = values, negatives, positives
        self.probabilities, self.binned = probabilities, binned

    @classmethod
    def of(cls, response, y, probabilities):
        values, inverse = np.unique(response, return_inverse=True)
        counts = cls(values, np.bincount(inverse[y == 0], minlength=len(values)),
                     np.bincount(inverse[y == 1], minlength=len(values)), probabilities)
        return counts if len(values) <= EXACT_RESPONSES else counts.coarse()

    def coarse(self):
        if self.binned:
            return self
        shares = self.values if self.probabilities else \
            1 / (1 + np.exp(-np.clip(self.values, -700, 700)))
        bins = np.minimum((shares * RESPONSE_BINS).astype(np.int64), RESPONSE_BINS - 1)
        return _summed(bins, self.negatives, self.positives, self.probabilities, True)

    def merge(self, other):
        a, b = (self.coarse(), other.coarse()) if self.binned or other.binned else (self, other)
        merged = _summed(np.concatenate([a.values, b.values]),
                         np.concatenate([a.negatives, b.negatives]),
                         np.concatenate([a.positives, b.positives]), a.probabilities, a.binned)
        return merged.coarse() if len(merged.values) > EXACT_RESPONSES else merged

    def auc(self):
        """The ROC AUC (ties count half); NaN with one class."""
        negatives, positives = self.negatives.sum(), self.positives.sum()
        if negatives == 0 or positives == 0:
            return float("nan")
        below = np.cumsum(self.negatives) - self.negatives
        pairs = np.sum(self.positives * (below + self.negatives / 2.0))
        return float(pairs / (float(negatives) * float(positives)))


def _summed(values, negatives, positives, probabilities, binned):
    unique, inverse = np.unique(values, return_inverse=True)
    return ResponseCounts(unique, np.bincount(inverse, negatives, len(unique)),
                          np.bincount(inverse, positives, len(unique)), probabilities, binned)


def partition_scores(frame, split, estimator, encode, baseline):
    """One partition's sums of its test rows (``passes.Split``)."""
    frame = passes.side(frame, split, test=True)
    n = len(frame)
    if split.task == "regression":
        y = frame[split.target].to_numpy(dtype=float)
        if n == 0:
            return (0, 0.0, 0.0, 0.0, 0.0)
        predicted = np.asarray(estimator.predict(encode(frame)), dtype=float)
        mean = float(np.mean(y))
        return (n, mean, float(np.sum((y - mean) ** 2)), float(np.sum((y - predicted) ** 2)),
                float(np.sum((y - baseline) ** 2)))
    y = passes.classes_of(frame, split)
    if n == 0:
        return (0, 0, 0, ResponseCounts.of(np.zeros(0), y, True))
    X = encode(frame)
    response = explain.model_response(estimator, X)
    probabilities = hasattr(estimator, "predict_proba") and hasattr(estimator, "classes_")
    predicted = np.asarray(estimator.predict(X), dtype=int)
    return (n, int(np.sum(predicted == y)), int(np.sum(y == baseline)),
            ResponseCounts.of(response, y, probabilities))


def merge_scores(a, b):
    if len(a) == 5:
        n = a[0] + b[0]
        if n == 0:
            return a
        delta = b[1] - a[1]
        return (n, a[1] + delta * b[0] / n, a[2] + b[2] + delta ** 2 * a[0] * b[0] / n,
                a[3] + b[3], a[4] + b[4])
    return (a[0] + b[0], a[1] + b[1], a[2] + b[2], a[3].merge(b[3]))


def model_scores(experiment, model):
    """The ``Scores`` of a registered model over every test row of the experiment's table."""
    from dask import delayed

    dataset = experiment.dataset
    estimator = experiment.registered_pipeline[model].estimator
    train = dataset.train_target
    if dataset.task == "regression":
        baseline = float(train.mean)
    else:
        positives = train.labels.get(dataset.positive_class, 0)
        # ties go to the rest, the first class
        baseline = int(positives > sum(train.labels.values()) - positives)
    sums = dataset.over_partitions("scores of %s" % model, partition_scores, merge_scores,
                                   delayed(estimator), delayed(Encoder(dataset)), baseline)
    if dataset.task == "regression":
        n, _, squares, errors, baseline_errors = sums
        return regression_scores(model, n, baseline,
                                 (_r2(errors, squares), _r2(baseline_errors, squares)),
                                 (float(np.sqrt(errors / n)), float(np.sqrt(baseline_errors / n))))
    n, correct, baseline_correct, counts = sums
    constant = ResponseCounts(np.zeros(1), np.array([counts.negatives.sum()]),
                              np.array([counts.positives.sum()]), True)
    return classification_scores(model, n, dataset.classes, baseline,
                                 (counts.auc(), constant.auc()),
                                 (correct / n, baseline_correct / n))


def _r2(errors, squares):
    # as scikit-learn's r2_score gives it for a constant test target
    if squares == 0:
        return 1.0 if errors == 0 else 0.0
    return float(1 - errors / squares)
