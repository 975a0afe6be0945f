"""Model pipelines: the data's own units in, a fitted model's answer out.

Every model sees the same input matrix, made by the dataset's features (``columns``): numeric
features (dates as days, missing indicators as 0/1) with their gaps filled by the training
median and scaled to [0, 1] by the range of the training split; categorical features as integer
codes of their training levels (a label's code is its position in ``Dataset.categories``; gaps
and labels that the training split never saw take the level that ``columns`` names). The
families of ``families`` build their models on that matrix.
"""

import numpy as np
import pandas as pd
from sklearn.base import is_classifier, is_regressor

from . import splits
from .features import NumericFeature


def check_estimator_task(estimator, task):
    if not hasattr(estimator, "fit") or not hasattr(estimator, "predict"):
        raise ValueError("a model must be a family name or an estimator with fit and predict, "
                         "got %r" % (estimator,))
    if task == "classification" and is_regressor(estimator):
        raise ValueError("%s is a regressor; this experiment is a classification"
                         % type(estimator).__name__)
    if task == "regression" and is_classifier(estimator):
        raise ValueError("%s is a classifier; this experiment is a regression"
                         % type(estimator).__name__)


def encode(features, frame):
    """The input matrix that the ``features`` (in the models' order) make of the frame's rows."""
    X = np.empty((frame.shape[0], len(features)))
    for j, feature in enumerate(features):
        X[:, j] = feature.encode(frame)
    return X


class ModelPipeline:
    """One registered model with the preprocessing that feeds it.

    Attributes
    ----------
    name : the name under which the model is registered
    family : the name of the model's family in ``families.FAMILIES`` ("others" for an
        estimator of no family)
    estimator : the fitted model, which takes the matrix of ``transform``
    task, feature_names, classes (the labels that a classifier's 0 and 1 stand for, the second
        the positive class; ``Dataset.classes``), else None
    """

    def __init__(self, name, family, estimator, dataset):
        self.name = name
        self.family = family
        self.estimator = estimator
        self.task = dataset.task
        self.classes = dataset.classes
        self.feature_names = list(dataset.feature_names)
        self.categories = {k: v.copy() for k, v in dataset.categories.items()}
        self.features = dict(dataset.features)
        # the training rows, read by split_condition; feature name -> its training_values
        self._dataset = dataset
        self._split_values = {}

    def __repr__(self):
        return "ModelPipeline(%r, family=%r, estimator=%s)" % (
            self.name, self.family, type(self.estimator).__name__)

    def transform(self, frame):
        """The model's input matrix for the rows of ``frame`` (in the data's own units)."""
        if isinstance(frame, pd.Series):
            frame = frame.to_frame().T
        if not isinstance(frame, pd.DataFrame):
            raise ValueError("transform needs a DataFrame with the feature columns, got %s"
                             % type(frame).__name__)
        features = [self.features[f] for f in self.feature_names]
        absent = [f.name for f in features if not f.present(frame)]
        if absent:
            raise ValueError("frame lacks the feature column(s) %r" % absent)
        return encode(features, frame)

    def predict(self, frame):
        """The model's prediction for each row: a number, or one of ``classes`` (with more
        than two classes in the table, the positive class or the text for all the others)."""
        prediction = self.estimator.predict(self.transform(frame))
        if self.task == "classification":
            return self.classes[np.asarray(prediction, dtype=int)]
        return np.asarray(prediction, dtype=float)

    def predict_proba(self, frame):
        """Probabilities of ``classes[0]`` and ``classes[1]`` for each row (classification):
        column 1 is the probability of the positive class."""
        if self.task != "classification":
            raise ValueError("predict_proba needs a classification experiment; this one is a "
                             "regression")
        return self.estimator.predict_proba(self.transform(frame))

    def transform_to_orignial_scale(self, feature_name, values):
        """Values of one feature in model scale, back in the data's own units.

        Returns the pair (converted values, "numeric" or "categorical"); the converted array
        has the shape of ``values``. A categorical value becomes the label of its code; a value
        between two codes (a tree's split threshold) the label of the code below it. Dates come
        back as days since the first training date, missing indicators as 0/1. Numbers come
        back as the decimals that the scaling means (27.6074, not 27.607400000000002), whole
        numbers of a feature of whole numbers as integers.
        """
        if feature_name not in self.feature_names:
            raise ValueError("unknown feature %r" % (feature_name,))
        values = np.asarray(values, dtype=float)
        feature = self.features[feature_name]
        return feature.original(values), feature.kind

    def split_condition(self, feature_name, threshold):
        """A decision tree's split of one feature at ``threshold`` (model scale) as it reads in
        the data's own units, the text after the feature's name: "<= 92.5", "<= 2021-03-14"
        (a date), "= 0" (a missing indicator: the value is present), "∈ {GE, GM}" (the levels
        that go left). A number or date is the shortest that sends every training value of the
        feature the way the model sends it (``splits``)."""
        if feature_name not in self.feature_names:
            raise ValueError("unknown feature %r" % (feature_name,))
        feature = self.features[feature_name]
        if not isinstance(feature, NumericFeature):
            return splits.condition(feature, threshold)
        if feature_name not in self._split_values:
            train = self._dataset.rows(self._dataset.train_index)
            self._split_values[feature_name] = splits.training_values(feature, train)
        return splits.condition(feature, threshold, *self._split_values[feature_name])
