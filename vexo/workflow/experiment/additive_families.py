"""The additive model families: explainable boosting machines and our spline GAMs, explained
from their terms (``additive``)."""

import numpy as np

from . import additive, compare, explain
from .base_family import Family
from .models import sampling
from .models.gam import GAMClassifier, GAMINetClassifier, GAMINetRegressor, GAMRegressor

# Training rows that a boosting machine is fitted on at most: a larger training split is
# sampled with the experiment's seed (both classes of a classification kept, and weighted back
# to their shares where the sample had to add rows of a rare one). Its cost grows with the
# rows, its bins and terms gain little from more.
EBM_ROWS = 50000


class AdditiveFamily(Family):
    """Models that are an intercept plus main effects and pair terms (``additive``)."""

    logit = True

    def terms(self, experiment, model):
        """The model's ``AdditiveTerms`` on its training rows, computed once."""
        dataset = experiment.dataset
        return experiment.derived(model, "terms", lambda: additive.AdditiveTerms(
            experiment.registered_pipeline[model].estimator,
            experiment.train_inputs(model), dataset.feature_names,
            dataset.truncated_columns_dict_15))

    def categorical_positions(self, dataset):
        return [dataset.feature_names.index(name) for name in dataset.categorical_features]

    def two_level_columns(self, experiment, model):
        """Column -> its two training values, for the numeric features that take two values
        (a 0/1 flag, a sex coded 1 and 2): their main effects are drawn at those levels."""
        dataset = experiment.dataset
        return additive.two_level_columns(
            experiment.train_inputs(model),
            [j for j, name in enumerate(dataset.feature_names) if not dataset.is_categorical(name)])

    def level_labels(self, experiment):
        """labels(name, values): the values of a feature in its own units, as the labels of
        its levels."""
        features = experiment.dataset.features

        def labels(name, values):
            return list(features[name].original(np.asarray(values, dtype=float)))

        return labels

    def interactions(self, experiment, model):
        return self.terms(experiment, model).pairs()

    def effect_importance(self, experiment, model):
        return self.terms(experiment, model).effect_importance()

    def local_effect(self, experiment, model, row, x_row):
        terms = self.terms(experiment, model)
        names, values, effects = terms.local_effect(x_row)
        title = experiment.local_title(model, row, effects.sum(), "intercept", terms.intercept,
                                       len(names) - 1, "terms")
        return {"x": names, "value": values, "y": effects, "title": title}

    def local_contributions(self, experiment, model, x_row, centered):
        terms = self.terms(experiment, model)
        parts = terms.feature_contributions(x_row[None, :], centered)[0]
        response = terms.intercept + terms.contributions(x_row[None, :])[0].sum()
        baseline = terms.intercept + (float(terms.train_mean.sum()) if centered else 0.0)
        return parts, terms.train_feature_contributions(centered), response, baseline

    def baseline_name(self, centered):
        return "training mean" if centered else "intercept"

    def effect_curve(self, experiment, model, j, grid, categorical):
        # the feature's main effect; a feature without one (left out of the model) has none
        terms = self.terms(experiment, model)
        if (j,) not in terms.features:
            return np.zeros(len(grid)), "main effect"
        rows = compare.grid_rows(experiment, model, j, grid)
        return terms.contributions(rows, [terms.features.index((j,))])[:, 0], "main effect"

    def used_columns(self, estimator):
        return sorted({int(j) for term in estimator.term_features_ for j in term})

    def permutation_importance(self, experiment, model, X, y, metric):
        # from the terms: a shuffled feature changes only its own terms
        drops = explain.additive_permutation_importance(
            self.terms(experiment, model), X, y, explain.SCORES[metric], explain.FI_REPEATS,
            experiment.random_state)
        return drops.mean(axis=0)


class EBMFamily(AdditiveFamily):
    """Explainable boosting machines of interpret, with pairwise interactions. The defaults
    trade a little accuracy for speed (the library's take minutes on two cores): 4 outer bags,
    one job, a higher learning rate, fewer bins and rounds than the library's, at most 10
    pairs."""

    name = "ebm"
    class_names = ("ExplainableBoostingRegressor", "ExplainableBoostingClassifier")
    own_views = True
    # its terms are constant on each bin
    stepwise = True
    screened = True

    def classes(self):
        try:
            from interpret.glassbox import (ExplainableBoostingClassifier,
                                            ExplainableBoostingRegressor)
        except ImportError:
            raise ValueError("family 'ebm' needs the package interpret-core, which is not "
                             "installed") from None
        return ExplainableBoostingRegressor, ExplainableBoostingClassifier

    def defaults(self, dataset, random_state):
        return {
            "feature_names": list(dataset.feature_names),
            "feature_types": ["nominal" if dataset.is_categorical(f) else "continuous"
                              for f in dataset.feature_names],
            "interactions": 10, "outer_bags": 4, "n_jobs": 1, "learning_rate": 0.1,
            "max_bins": 256, "max_interaction_bins": 32, "max_rounds": 1000,
            "early_stopping_rounds": 50, "smoothing_rounds": 50,
            "interaction_smoothing_rounds": 50,
            "random_state": random_state,
        }

    def fit(self, estimator, X, y, dataset, random_state):
        rows, shifted = sampling.draw(len(X), EBM_ROWS, np.random.RandomState(random_state),
                                      y if dataset.task == "classification" else None)
        if len(rows) == len(X):
            estimator.fit(X, y)
        else:
            estimator.fit(X[rows], y[rows],
                          sample_weight=sampling.class_weights(y, rows) if shifted else None)

    def screen_settings(self, used, n_features):
        # The other features lose their main effects; the machine leaves a feature with a
        # monotone constraint out of its search for pairs, so that it searches the pairs of
        # the used features alone and fits what it would fit on their columns (to the bit).
        # An excluded feature has no term that the constraint could bind.
        used = set(int(j) for j in used)
        return {"exclude": [(j,) for j in range(n_features) if j not in used],
                "monotone_constraints": [0 if j in used else 1 for j in range(n_features)]}

    def explainer(self, experiment, model):
        return additive.EBMExplainer(experiment.registered_pipeline[model].estimator,
                                     self.terms(experiment, model),
                                     experiment.dataset.feature_names,
                                     self.two_level_columns(experiment, model))


class SplineFamily(AdditiveFamily):
    """Our GAMs on pygam: categorical features become factor terms. A subclass names its
    estimator classes and builds its explainer in ``effects`` from what every spline model's
    explainer is made of."""

    estimators = ()
    screened = True
    stepwise = False

    def classes(self):
        return self.estimators

    def screen_settings(self, used, n_features):
        return {"features": [int(j) for j in used]}

    def defaults(self, dataset, random_state):
        return {"categorical_features": self.categorical_positions(dataset),
                "random_state": random_state}

    def explainer(self, experiment, model):
        return self.effects(experiment, experiment.registered_pipeline[model].estimator,
                            self.terms(experiment, model), experiment.train_inputs(model),
                            self.two_level_columns(experiment, model))

    def effects(self, experiment, estimator, terms, train_inputs, two_levels):
        raise NotImplementedError


class GAMFamily(SplineFamily):
    """Penalised spline GAMs (``gam.GAMRegressor`` / ``GAMClassifier``)."""

    name = "gam"
    class_names = ("GAMRegressor", "GAMClassifier")
    own_views = True
    estimators = (GAMRegressor, GAMClassifier)

    def effects(self, experiment, estimator, terms, train_inputs, two_levels):
        return additive.gam_effects(estimator, terms, train_inputs,
                                    experiment.dataset.feature_names, two_levels)


class GAMINetFamily(SplineFamily):
    """GAMs with screened pairwise interactions (``gam.GAMINetRegressor`` /
    ``GAMINetClassifier``)."""

    name = "gami"
    class_names = ("GAMINetRegressor", "GAMINetClassifier")
    own_views = True
    estimators = (GAMINetRegressor, GAMINetClassifier)

    def effects(self, experiment, estimator, terms, train_inputs, two_levels):
        dataset = experiment.dataset
        return additive.GAMINetEffects(estimator, terms, train_inputs, dataset.feature_names,
                                       dataset.categories, two_levels,
                                       self.level_labels(experiment))
