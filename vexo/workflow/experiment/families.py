"""The model families of an experiment, one object each, in one registry.

A family knows its estimator classes (by which a fitted model is recognised), builds an
unfitted model for a dataset with its fitting defaults (every one of which ``params`` may
override), and explains a fitted model in the experiment's terms: its stored explanation (the
explainer), effect importance, local effects and local contributions, and its interactions.
Adding a family means adding one object to ``FAMILIES``; a family whose effects the compiled
views build and draw in a way of their own says so with ``own_views`` and has a row of the same
name and class names in the module's family table: the module refuses to load where the two
disagree.
"""

import textwrap

import numpy as np
from sklearn.compose import ColumnTransformer
from sklearn.linear_model import LinearRegression, LogisticRegression
from sklearn.pipeline import Pipeline
from sklearn.preprocessing import OneHotEncoder
from sklearn.tree import DecisionTreeClassifier, DecisionTreeRegressor

from ..plots import Title
from . import compare, explain
from .additive_families import EBMFamily, GAMFamily, GAMINetFamily
from .base_family import Family
from .local_linear import LocalLinearModels
from .models.relu_dnn import ReluDNNClassifier, ReluDNNRegressor

# Training rows that the ReLU network's training visits at most (epochs times rows): a large
# training split gets fewer epochs than the network's max_iter, but at least _RELU_MIN_EPOCHS.
# Below 1,500 training rows the network keeps its own max_iter (2000).
_RELU_VISITS = 3000000
_RELU_MIN_EPOCHS = 3
# Training rows whose local linear models the ReLU network's explainer holds at most: a larger
# training split is sampled with the experiment's seed. Grouping by activation pattern is cheap,
# but the views draw and smooth every row of the largest models.
_LLM_ROWS = 20000


class LinearFamily(Family):
    """Linear (regression) or logistic (classification) regression on the scaled numeric
    features and one indicator per level of each categorical feature except its first (the
    reference level)."""

    name = "glm"
    class_names = ("LinearRegression", "LogisticRegression")
    logit = True
    stepwise = False

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

    def effect_curve(self, experiment, model, j, grid, categorical):
        # the feature's part of the linear predictor: its coefficient times its value, or its
        # level's coefficient
        rows = compare.grid_rows(experiment, model, j, grid)
        estimator = experiment.registered_pipeline[model].estimator
        return explain.linear_contributions(estimator, experiment.dataset, rows)[:, j], \
            compare.LINEAR


class TreeFamily(Family):
    """A decision tree, depth 5 and 5 samples per leaf unless the settings say otherwise."""

    name = "tree"
    class_names = ("DecisionTreeRegressor", "DecisionTreeClassifier")
    stepwise = True

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

    def used_columns(self, estimator):
        # the features of its splits
        return [int(j) for j in np.unique(estimator.tree_.feature[estimator.tree_.feature >= 0])]

    def local_tree(self, experiment, model, x_row):
        return self.named(experiment, explain.tree_local(
            experiment.registered_pipeline[model].estimator, experiment.dataset.feature_names,
            x_row))


class ReluFamily(Family):
    """A ReLU network, two hidden layers of 20 by default."""

    name = "reludnn"
    class_names = ("ReluDNNRegressor", "ReluDNNClassifier")
    own_views = True
    logit = True
    stepwise = False

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
            sample_index=dataset.positions(rows))
        if dataset.partitioned and len(rows) < dataset.n_train:
            # the regions' sizes over every training row of the table, not the sample
            llms.count_over(dataset.count_patterns(llms.layers, llms.patterns()))
        # the views draw it on axes of their own, which do not wrap it: lines of at most 40
        # characters, which a long target's or class's name would pass. The network sees a
        # category as the codes of its levels, not scaled.
        words = experiment.coefficient_words(model, between="\n") + (
            "\n(a category's: per level code)" if dataset.categorical_features else "")
        llms.coefficient_label = "\n".join(line for part in words.split("\n")
                                           for line in textwrap.wrap(part, 40))
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


FAMILIES = {}


def add_family(family):
    FAMILIES[family.name] = family
    return family


for _family in (LinearFamily(), TreeFamily(), ReluFamily(), EBMFamily(), GAMFamily(),
                GAMINetFamily(), Family()):
    add_family(_family)


def family_named(name):
    if name not in FAMILIES or name == Family.name:
        raise ValueError("unknown model family %r; the families are %s, or pass an unfitted "
                         "scikit-learn estimator" % (name, ", ".join(
                             repr(f) for f in FAMILIES if f != Family.name)))
    return FAMILIES[name]


def make_estimator(family, dataset, random_state=0, **params):
    """An unfitted estimator of a family for the dataset's task; ``params`` go to the model."""
    return family_named(family).build(dataset, random_state, params)


def family_of(estimator):
    """The family whose views suit an estimator: decided by its class, as the views do;
    "others" for an estimator of no family."""
    name = type(estimator).__name__
    for family in FAMILIES.values():
        if name in family.class_names:
            return family.name
    return Family.name
