"""The model family of a model that the experiment only predicts with, and what every family
offers: building a model of the dataset's task, and explaining a fitted one in the experiment's
terms. ``families`` holds the registry of the families."""

import numpy as np
from sklearn.inspection import permutation_importance as scikit_learn_importance

from . import compare, explain

# Background rows and feature orders of the sampled Shapley values of models that have no
# decomposition of their own; wide tables take fewer rows, so that one order's batch of rows
# stays within _SHAPLEY_CELLS values.
_BACKGROUND_ROWS = 100
_SHAPLEY_ORDERS = 8
_SHAPLEY_CELLS = 4000000


class Family:
    """A model that the experiment only predicts with: contributions by occlusion, nothing
    else explained. Subclasses override what their models explain better.

    name: the family's name in ``register`` (and the records' model_type); class_names: the
    estimator classes (regressor, classifier) that belong to it; logit: whether a classifier's
    response is its logit (else its probability of the positive class).
    """

    name = "others"
    class_names = ()
    # whether the compiled views build and draw its effects in a way of their own: such a family
    # has a row of the same name and class names in the module's family table, which refuses to
    # load where the two disagree
    own_views = False
    logit = False
    # whether its response moves in steps along a feature (None: its curves tell)
    stepwise = None
    # whether its cost grows so fast with the features that it uses the screened ones of a
    # wide table (``screen``)
    screened = False

    def __repr__(self):
        return "<model family %r>" % self.name

    # Building ----------------------------------------------------------------------------

    def classes(self):
        """(regressor class, classifier class)."""
        raise ValueError("family %r builds no models; register an estimator instead" % self.name)

    def defaults(self, dataset, random_state):
        return {}

    def build(self, dataset, random_state, params):
        """An unfitted model for the dataset's task: the defaults, overridden by params."""
        regressor, classifier = self.classes()
        cls = classifier if dataset.task == "classification" else regressor
        settings = self.defaults(dataset, random_state)
        unknown = sorted(set(params) - set(cls().get_params()))
        if unknown:
            raise ValueError("%s has no setting(s) %s; its settings are %s" % (
                cls.__name__, ", ".join(map(repr, unknown)),
                ", ".join(sorted(cls().get_params()))))
        settings.update(params)
        return self.wrap(cls(**settings), dataset)

    def wrap(self, model, dataset):
        return model

    def adopt(self, estimator, dataset):
        """A user's own unfitted estimator of the family, made the model that the family's
        explanations read: wrapped as the family's own models are."""
        return self.wrap(estimator, dataset)

    def fit(self, estimator, X, y, dataset, random_state):
        """Fit the estimator on the training rows X (the models' input) and their target y."""
        estimator.fit(X, y)

    def screen_settings(self, used, n_features):
        """The settings that make a model of ``n_features`` features use only those at the
        positions ``used``."""
        return {}

    # Explaining --------------------------------------------------------------------------

    def explainer(self, experiment, model):
        """The stored explanation of a fitted model (``interpret_result_dict[model]``)."""
        return None

    def interactions(self, experiment, model):
        """Full name "a x b" -> display name of each pair term of the model."""
        return {}

    def effect_importance(self, experiment, model):
        return None

    def local_effect(self, experiment, model, row, x_row):
        return None

    def local_contributions(self, experiment, model, x_row, centered):
        """(contributions, their training spread or None, response, baseline) of one row in
        model scale; the contributions add up to the response minus the baseline (what
        ``baseline_name`` names). Here sampled Shapley values against training rows, from the
        mean response over those rows."""
        estimator = experiment.registered_pipeline[model].estimator
        train_inputs = experiment.train_inputs(model)
        p = max(train_inputs.shape[1], 1)
        rows = min(len(train_inputs), _BACKGROUND_ROWS, max(1, _SHAPLEY_CELLS // (p * (p + 1))))
        spaced = np.linspace(0, len(train_inputs) - 1, rows).astype(int)
        parts, baseline = explain.shapley_contributions(
            lambda X: explain.model_response(estimator, X), x_row, train_inputs[spaced],
            _SHAPLEY_ORDERS, experiment.random_state)
        return parts, None, explain.model_response(estimator, x_row[None, :])[0], baseline

    def baseline_name(self, centered):
        """What the contributions of ``local_contributions`` start from."""
        return "mean over training rows"

    def local_tree(self, experiment, model, x_row):
        return None

    def permutation_importance(self, experiment, model, X, y, metric):
        """Each feature's mean drop of the score ``metric`` over the shuffles of its column
        of the test rows X."""
        estimator = experiment.registered_pipeline[model].estimator
        if X.shape[1] <= explain.FI_BATCH_FEATURES:
            # scikit-learn's own, shuffle by shuffle
            return scikit_learn_importance(
                estimator, X, y, scoring=metric, n_repeats=explain.FI_REPEATS,
                random_state=experiment.random_state).importances_mean
        if metric == "roc_auc":
            def respond(X):
                return explain.scored_response(estimator, X)
        else:
            respond = estimator.predict
        drops = explain.permutation_importance(
            respond, X, y, explain.ROW_SCORES[metric], explain.FI_REPEATS,
            experiment.random_state, self.used_columns(estimator))
        return drops.mean(axis=0)

    def effect_curve(self, experiment, model, j, grid, categorical):
        """Column j's effect on the model's response at the grid values (model scale), and
        what the curve is: probed from outside (``compare.probed_curve``)."""
        return compare.probed_curve(experiment, model, j, grid, categorical)

    def used_columns(self, estimator):
        """The input columns that a fitted model reads, None for all: shuffling another
        changes no prediction."""
        return None
