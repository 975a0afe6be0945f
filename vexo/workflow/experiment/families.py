"""The model families of an experiment, one object each, in one registry.

A family knows its estimator classes (by which a fitted model is recognised), builds an
unfitted model for a dataset with its fitting defaults (every one of which ``params`` may
override), and explains a fitted model in the experiment's terms: its stored explanation (the
explainer), effect importance, local effects and local contributions, and its interactions.
Adding a family means adding one object to ``FAMILIES``; a family whose models the views
draw in a way of their own (its own effect or tree views) also needs its row in the module's
family table (its estimator class names and its code), which the compiled views read.
"""

import numpy as np
from sklearn.compose import ColumnTransformer
from sklearn.inspection import permutation_importance
from sklearn.linear_model import LinearRegression, LogisticRegression
from sklearn.metrics import r2_score, roc_auc_score
from sklearn.pipeline import Pipeline
from sklearn.preprocessing import OneHotEncoder
from sklearn.tree import DecisionTreeClassifier, DecisionTreeRegressor

from ..plots import Title
from . import additive, explain
from .local_linear import LocalLinearModels
from .models.gam import GAMClassifier, GAMINetClassifier, GAMINetRegressor, GAMRegressor
from .models.relu_dnn import ReluDNNClassifier, ReluDNNRegressor

# Background rows and feature orders of the sampled Shapley values of models that have no
# decomposition of their own; wide tables take fewer rows, so that one order's batch of rows
# stays within _SHAPLEY_CELLS values.
_BACKGROUND_ROWS = 100
_SHAPLEY_ORDERS = 8
_SHAPLEY_CELLS = 4000000
# Training rows that the ReLU network's training visits at most (epochs times rows): a large
# training split gets fewer epochs than the network's max_iter, but at least _RELU_MIN_EPOCHS.
# Below 1,500 training rows the network keeps its own max_iter (2000).
_RELU_VISITS = 3000000
_RELU_MIN_EPOCHS = 3
# Training rows whose local linear models the ReLU network's explainer holds at most: a larger
# training split is sampled with the experiment's seed. Grouping by activation pattern is cheap,
# but the views draw and smooth every row of the largest models.
_LLM_ROWS = 20000


class Family:
    """A model that the experiment only predicts with: contributions by occlusion, nothing
    else explained. Subclasses override what their models explain better.

    name: the family's name in ``register``; class_names: the estimator classes (regressor,
    classifier) that belong to it; logit: whether a classifier's response is its logit (else
    its probability of the positive class).
    """

    name = "generic"
    class_names = ()
    logit = False

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
        result = permutation_importance(
            experiment.registered_pipeline[model].estimator, X, y, scoring=metric,
            n_repeats=explain.FI_REPEATS, random_state=experiment.random_state)
        return result.importances_mean


class LinearFamily(Family):
    """Linear (regression) or logistic (classification) regression on the scaled numeric
    features and one indicator per level of each categorical feature except its first (the
    reference level)."""

    name = "glm"
    logit = True

    def classes(self):
        return LinearRegression, LogisticRegression

    def defaults(self, dataset, random_state):
        return {"max_iter": 1000} if dataset.task == "classification" else {}

    def wrap(self, model, dataset):
        columns = [dataset.feature_names.index(name) for name in dataset.categorical_features]
        levels = OneHotEncoder(
            categories=[np.arange(len(dataset.categories[name]), dtype=float)
                        for name in dataset.categorical_features],
            drop="first", sparse_output=False)
        design = ColumnTransformer([("levels", levels, columns)] if columns else [],
                                   remainder="passthrough")
        return Pipeline([("design", design), ("linear", model)])

    def effect_importance(self, experiment, model):
        estimator = experiment.registered_pipeline[model].estimator
        dataset = experiment.dataset
        intercept, _ = explain.linear_parts(estimator)
        terms = explain.linear_terms(estimator, dataset)
        terms.append(("Intercept", "Intercept", intercept))
        terms.sort(key=lambda term: abs(term[2]))
        names, groups, values = zip(*terms)
        values = np.array(values, dtype=float)
        per_unit = explain.per_unit_coefficients(names, groups, values, dataset.features)

        def result(importance, unit):
            return {"type": "coefficient", "feature_hier": np.array(groups, dtype=object),
                    "feature_names": np.array(names, dtype=object), "importance": importance,
                    "titles": self.coefficient_titles(experiment, model, set(groups), unit)}

        coefficients = result(values, False)
        coefficients["original_scale"] = result(per_unit, True)
        return coefficients

    @staticmethod
    def coefficient_titles(experiment, model, groups, per_unit):
        """Group -> the title of its coefficients' chart, which names the group and says on
        the value axis what its coefficients are."""
        response = experiment.response_words(model)
        titles = {}
        for group in groups:
            if group == "Numeric":
                subtitle = "numeric features, per unit" if per_unit else "numeric features"
                words = experiment.coefficient_words(model, per_unit)
            elif group == "Intercept":
                where = ("every numeric feature at 0" if per_unit
                         else "every numeric feature at its training minimum")
                subtitle = "intercept"
                words = "%s with %s and every category at its first level" % (response, where)
            else:
                first = experiment.dataset.categories[group][0]
                subtitle = "levels of %s" % (group,)
                words = "change of %s from the level %s" % (response, first)
            titles[group] = Title("Model Coefficients", axis_label=words, subtitle=subtitle,
                                  labelled=True)
        return titles

    def local_contributions(self, experiment, model, x_row, centered):
        estimator = experiment.registered_pipeline[model].estimator
        train_inputs = experiment.train_inputs(model)
        train_parts = explain.linear_contributions(estimator, experiment.dataset, train_inputs)
        parts = explain.linear_contributions(estimator, experiment.dataset, x_row[None, :])[0]
        intercept, _ = explain.linear_parts(estimator)
        baseline = intercept
        if centered:
            # the intercept and the mean parts add up to the mean training response
            means = train_parts.mean(axis=0)
            parts, train_parts = parts - means, train_parts - means
            baseline = intercept + float(means.sum())
        return parts, train_parts, explain.linear_response(estimator, x_row[None, :])[0], baseline

    def baseline_name(self, centered):
        return "training mean" if centered else "intercept"


class TreeFamily(Family):
    """A decision tree, depth 5 and 5 samples per leaf unless the settings say otherwise."""

    name = "tree"
    class_names = ("DecisionTreeRegressor", "DecisionTreeClassifier")

    def classes(self):
        return DecisionTreeRegressor, DecisionTreeClassifier

    def defaults(self, dataset, random_state):
        return {"max_depth": 5, "min_samples_leaf": 5, "random_state": random_state}

    def explainer(self, experiment, model):
        return self.named(experiment, explain.tree_result(
            experiment.registered_pipeline[model].estimator, experiment.dataset.feature_names))

    @staticmethod
    def named(experiment, result):
        """The tree result with the names that its drawing shows: "class_names", the labels
        of the tree's classes as text in the order of its counts (None for a regression), and
        "target", the target's name."""
        classes = experiment.dataset.classes
        result["class_names"] = None if classes is None else [str(c) for c in classes]
        result["target"] = str(experiment.dataset.target)
        return result

    def local_contributions(self, experiment, model, x_row, centered):
        estimator = experiment.registered_pipeline[model].estimator
        train_parts = experiment.derived(model, "train_parts", lambda: (
            explain.tree_contributions(estimator, experiment.train_inputs(model))))
        return (explain.tree_contributions(estimator, x_row[None, :])[0], train_parts,
                explain.model_response(estimator, x_row[None, :])[0],
                float(explain.tree_node_means(estimator)[0]))

    def baseline_name(self, centered):
        return "training mean"

    def local_tree(self, experiment, model, x_row):
        return self.named(experiment, explain.tree_local(
            experiment.registered_pipeline[model].estimator, experiment.dataset.feature_names,
            x_row))


class ReluFamily(Family):
    """A ReLU network, two hidden layers of 20 by default."""

    name = "reludnn"
    class_names = ("ReluDNNRegressor", "ReluDNNClassifier")
    logit = True

    def classes(self):
        return ReluDNNRegressor, ReluDNNClassifier

    def defaults(self, dataset, random_state):
        settings = {"random_state": random_state}
        epochs = int(np.ceil(_RELU_VISITS / max(len(dataset.train_index), 1)))
        if epochs < ReluDNNRegressor().max_iter:
            settings["max_iter"] = max(epochs, _RELU_MIN_EPOCHS)
        return settings

    def explainer(self, experiment, model):
        dataset = experiment.dataset
        rows = experiment.sample_of(dataset.train_index, _LLM_ROWS)
        llms = LocalLinearModels(
            experiment.registered_pipeline[model].estimator.relu_layers(),
            experiment.model_inputs(model, rows),
            [dataset.truncated_columns_dict_10[f] for f in dataset.feature_names],
            sample_index=rows)
        # the views draw it on axes of their own, which do not wrap it; the network sees a
        # category as the codes of its levels, not scaled
        llms.coefficient_label = experiment.coefficient_words(model, between="\n") + (
            " (a category's: per level code)" if dataset.categorical_features else "")
        return llms

    def effect_importance(self, experiment, model):
        llms = experiment.interpret_single(model)
        return {"type": "llm", "ystd_llms": llms.ystd_llms,
                "all_bias_weight": llms.all_bias_weight,
                "feature_importance": llms.feature_importance,
                "n_features": llms.n_features, "feature_names": llms.feature_names,
                "coefficient_label": llms.coefficient_label}

    def local_contributions(self, experiment, model, x_row, centered):
        llms = experiment.interpret_single(model)
        weights, bias = llms.local_model(x_row)
        mean = llms.x.mean(axis=0)
        parts = weights * (x_row - mean if centered else x_row)
        spread = llms.contributions(np.arange(llms.x.shape[0]), centered=centered)
        estimator = experiment.registered_pipeline[model].estimator
        baseline = bias + float(weights @ mean) if centered else bias
        return parts, spread, explain.linear_response(estimator, x_row[None, :])[0], baseline

    def baseline_name(self, centered):
        # the sample's own local linear model: at the training mean, or its intercept
        return "its linear model at the mean" if centered else "its intercept"


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

    def permutation_importance(self, experiment, model, X, y, metric):
        # from the terms: a shuffled feature changes only its own terms
        score = r2_score if metric == "r2" else roc_auc_score
        drops = explain.additive_permutation_importance(
            self.terms(experiment, model), X, y, score, explain.FI_REPEATS,
            experiment.random_state)
        return drops.mean(axis=0)


class EBMFamily(AdditiveFamily):
    """Explainable boosting machines of interpret, with pairwise interactions. The defaults
    trade a little accuracy for speed (the library's take minutes on two cores): 4 outer bags,
    one job, a higher learning rate, fewer bins and rounds than the library's, at most 10
    pairs."""

    name = "ebm"
    class_names = ("ExplainableBoostingRegressor", "ExplainableBoostingClassifier")

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

    def classes(self):
        return self.estimators

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
    estimators = (GAMRegressor, GAMClassifier)

    def effects(self, experiment, estimator, terms, train_inputs, two_levels):
        return additive.gam_effects(estimator, terms, train_inputs,
                                    experiment.dataset.feature_names, two_levels)


class GAMINetFamily(SplineFamily):
    """GAMs with screened pairwise interactions (``gam.GAMINetRegressor`` /
    ``GAMINetClassifier``)."""

    name = "gami"
    class_names = ("GAMINetRegressor", "GAMINetClassifier")
    estimators = (GAMINetRegressor, GAMINetClassifier)

    def effects(self, experiment, estimator, terms, train_inputs, two_levels):
        dataset = experiment.dataset
        return additive.GAMINetEffects(estimator, terms, train_inputs, dataset.feature_names,
                                       dataset.categories, two_levels,
                                       self.level_labels(experiment))


FAMILIES = {}


def add_family(family):
    FAMILIES[family.name] = family
    return family


for _family in (LinearFamily(), TreeFamily(), ReluFamily(), EBMFamily(), GAMFamily(),
                GAMINetFamily(), Family()):
    add_family(_family)


def family_named(name):
    if name not in FAMILIES or name == "generic":
        raise ValueError("unknown model family %r; the families are %s, or pass an unfitted "
                         "scikit-learn estimator" % (name, ", ".join(
                             repr(f) for f in FAMILIES if f != "generic")))
    return FAMILIES[name]


def make_estimator(family, dataset, random_state=0, **params):
    """An unfitted estimator of a family for the dataset's task; ``params`` go to the model."""
    return family_named(family).build(dataset, random_state, params)


def family_of(estimator):
    """The family whose views suit an estimator: decided by its class, as the views do."""
    name = type(estimator).__name__
    for family in FAMILIES.values():
        if name in family.class_names:
            return family.name
    return "generic"
