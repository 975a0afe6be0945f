"""Explanations of additive models: an intercept plus one term per feature and per feature pair.

Every fitted additive model here offers ``term_features_`` (the feature positions of each term),
``intercept_`` and ``eval_terms(X)`` (each term's contribution for the rows of X, centred on the
training rows); the intercept plus a row's contributions is the model's prediction (the logit
for a classifier). The explainable boosting machines of interpret and the GAMs of ``gam`` both
do. ``AdditiveTerms`` turns that into importances and local explanations; the three explainer
builders give each family's view of its terms.
"""

import inspect

import numpy as np

from ..names import pair_name
from ..plots.measures import EffectValues

# Grid points of a main-effect curve and of each side of a pair surface.
GRID = 100
# Bars of the sample density strip under a numeric main effect.
DENSITY_BINS = 20


class Terms(dict):
    """Entries by name; a feature of the table that has no term here is named in the error as
    one that the model leaves out."""

    def __init__(self, entries=(), feature_names=()):
        super().__init__(entries)
        self.feature_names = tuple(feature_names)

    def __missing__(self, name):
        if name in self.feature_names:
            raise KeyError("%r has no main effect: the model leaves the feature out (on a wide "
                           "table, see the experiment's notes for the screen)" % (name,))
        raise KeyError(name)


# The ways in which additive models add up their terms, as doubles: interpret's boosting
# machines start from the intercept and add one term after the other; our GAMs add up each
# row of terms (numpy's sum, pairwise over eight lanes) and then the intercept. The orders give
# sums that differ in their last bits, and a prediction rebuilt from the terms is the model's
# own (rows tied by the model stay tied) only if it is added up in the model's order.

def _added_in_order(intercept, parts):
    total = np.full(len(parts), intercept, dtype=float)
    for t in range(parts.shape[1]):
        total += parts[:, t]
    return total


def _added_by_rows(intercept, parts):
    return intercept + np.ascontiguousarray(parts).sum(axis=1)


ADDERS = (_added_in_order, _added_by_rows)


class AdditiveTerms:
    """The terms of a fitted additive model, evaluated on the training rows.

    names: full term names (a feature's name, "a x b" for a pair); labels: display names (a
    pair by its features' display names for pairs, ``display_names``); importance: each term's share of the mean
    absolute contribution over the training rows (they add up to 1).
    """

    def __init__(self, estimator, train_inputs, feature_names, display_names):
        self.estimator = estimator
        # Our GAMs evaluate a subset of their terms; other models evaluate all of them.
        try:
            self._evaluates_some = "terms" in inspect.signature(estimator.eval_terms).parameters
        except (TypeError, ValueError):
            self._evaluates_some = False
        self.intercept = float(np.ravel(estimator.intercept_)[0])
        self.features = [tuple(int(j) for j in term) for term in estimator.term_features_]
        if any(len(term) not in (1, 2) for term in self.features):
            raise ValueError("only main effects and pairs can be explained; the model has a "
                             "term of %d features" % max(len(t) for t in self.features))
        self.names = [pair_name(*(feature_names[j] for j in term)) if len(term) == 2
                      else feature_names[term[0]] for term in self.features]
        self.labels = [pair_name(*(display_names[feature_names[j]] for j in term))
                       if len(term) == 2 else feature_names[term[0]] for term in self.features]
        self.train = self.contributions(train_inputs)
        self.train_mean = self.train.mean(axis=0)
        mean_abs = np.abs(self.train - self.train_mean).mean(axis=0)
        total = mean_abs.sum()
        self.importance = mean_abs / total if total > 0 else np.zeros(len(self.features))
        # Term -> feature: a main effect is its feature's, a pair is split evenly between its two.
        self.to_features = np.zeros((len(self.features), len(feature_names)))
        for t, term in enumerate(self.features):
            self.to_features[t, list(term)] = 1.0 / len(term)

    def contributions(self, X, terms=None):
        """Each term's contribution for the rows of X, (n, terms); only the given term
        positions' with ``terms``."""
        if terms is None:
            return np.asarray(self.estimator.eval_terms(X), dtype=float).reshape(len(X), -1)
        terms = list(terms)
        if self._evaluates_some:
            values = self.estimator.eval_terms(X, terms=terms)
        else:
            values = self.estimator.eval_terms(X)[:, terms]
        return np.asarray(values, dtype=float).reshape(len(X), len(terms))

    def adder(self, parts, response):
        """Of ``ADDERS``, the one that adds the intercept and ``parts`` (the contributions of
        some rows) up to ``response`` (the model's own prediction of those rows) to the last
        bit; None if none does."""
        for add in ADDERS:
            if np.array_equal(add(self.intercept, parts), response):
                return add
        return None

    def pairs(self):
        """Full name -> display name of every pair term, in the model's order."""
        return {name: label for name, label, term in zip(self.names, self.labels, self.features)
                if len(term) == 2}

    def effect_importance(self):
        order = np.argsort(self.importance, kind="stable")
        return {"type": "effect",
                "value": ([self.labels[t] for t in order], self.importance[order])}

    def local_effect(self, x_row):
        """Term names (display; "Intercept" first before sorting), each term's input values of
        the row, its contribution; smallest magnitude first."""
        parts = self.contributions(x_row[None, :])[0]
        names = ["Intercept"] + self.labels
        values = [()] + [tuple(float(x_row[j]) for j in term) for term in self.features]
        effects = np.concatenate([[self.intercept], parts])
        order = np.argsort(np.abs(effects), kind="stable")
        ordered = np.empty(len(order), dtype=object)
        for position, k in enumerate(order):
            ordered[position] = values[k]
        return [names[k] for k in order], ordered, effects[order]

    def feature_contributions(self, X, centered):
        """Each feature's part of the response for the rows of X: its main effect plus half of
        each of its pairs, measured from the terms' training means when centred."""
        parts = self.contributions(X)
        if centered:
            parts = parts - self.train_mean
        return parts @ self.to_features

    def train_feature_contributions(self, centered):
        parts = self.train - self.train_mean if centered else self.train
        return parts @ self.to_features


def _density(values):
    scores, edges = np.histogram(values, bins=DENSITY_BINS)
    return {"names": edges, "scores": scores / max(len(values), 1)}


def two_level_columns(train_inputs, columns):
    """{column: (its two training values, the share of training rows at each)} for those of
    the given columns that take exactly two values."""
    found = {}
    for j in columns:
        levels, counts = np.unique(train_inputs[:, j], return_counts=True)
        if len(levels) == 2:
            found[j] = (levels.astype(float), counts / float(counts.sum()))
    return found


def _codes(column):
    return np.arange(int(np.max(column)) + 1, dtype=float)


def _code_density(column, codes):
    counts = np.array([np.sum(column == c) for c in codes], dtype=float)
    return {"names": codes.copy(), "scores": counts / max(len(column), 1)}


# Explainable boosting machines ----------------------------------------------------------

class EBMInputs:
    """How an explainable boosting machine reads its input columns: ``feature_types`` (each
    column "categorical" or "continuous") and ``preprocessor_.col_mapping_`` (a categorical
    column's category code, as the model's text or, for a column of two numbers, as the number,
    to the position of its score in the term; None for a continuous column). The main-effect
    view reads each code with ``float()``."""

    class Preprocessor:
        def __init__(self, col_mapping):
            self.col_mapping_ = col_mapping

    def __init__(self, feature_types, col_mapping):
        self.feature_types = feature_types
        self.preprocessor_ = EBMInputs.Preprocessor(col_mapping)


class EBMExplainer:
    """The terms of a fitted explainable boosting machine, by name.

    main_effect_[feature] / interaction_["a x b"]: "fidx" (the term's column positions),
    "predict_func" (the term's contribution for rows of the model's input), "importance",
    "values" (the term's score of each bin), "density" ("names", "scores") for a main effect.
    min_value_ / max_value_: each column's training range (codes for a categorical column).
    """

    def __init__(self, ebm, terms, feature_names, two_levels=None):
        """two_levels: {column: (values, shares)} of the numeric columns of two values, whose
        main effects are given at their two values, as a categorical column's are at its
        levels."""
        two_levels = two_levels or {}
        self.n_features_in_ = int(ebm.n_features_in_)
        kinds = list(ebm.feature_types_in_)
        self.min_value_ = np.zeros(self.n_features_in_)
        self.max_value_ = np.zeros(self.n_features_in_)
        types, mapping = [], []
        for j, kind in enumerate(kinds):
            if kind == "continuous" and j in two_levels:
                types.append("categorical")
                levels = two_levels[j][0]
                mapping.append({float(v): k for k, v in enumerate(levels)})
                self.min_value_[j], self.max_value_[j] = levels[0], levels[-1]
            elif kind == "continuous":
                types.append("continuous")
                mapping.append(None)
                self.min_value_[j], self.max_value_[j] = ebm.feature_bounds_[j]
            else:
                types.append("categorical")
                # a feature that the model leaves out has no bins
                levels = dict(ebm.bins_[j][0]) if len(ebm.bins_[j]) else {}
                mapping.append(levels)
                codes = [float(key) for key in levels] or [0.0]
                self.min_value_[j], self.max_value_[j] = min(codes), max(codes)
        self.estimator = EBMInputs(types, mapping)
        self.main_effect_, self.interaction_ = Terms(feature_names=feature_names), {}
        for t, term in enumerate(terms.features):
            item = {"fidx": list(term), "predict_func": self._term_function(ebm, t, two_levels),
                    "importance": float(terms.importance[t])}
            scores = np.asarray(ebm.term_scores_[t], dtype=float)
            if len(term) == 2:
                item["values"] = scores[1:-1, 1:-1].copy()
                self.interaction_[terms.names[t]] = item
                continue
            j = term[0]
            weights = np.asarray(ebm.bin_weights_[t], dtype=float)
            if j in two_levels and kinds[j] == "continuous":
                levels, shares = two_levels[j]
                at_levels = np.zeros((len(levels), self.n_features_in_))
                at_levels[:, j] = levels
                item["values"] = np.asarray(ebm.eval_terms(at_levels), dtype=float).reshape(
                    len(levels), -1)[:, t]
                item["density"] = {"names": levels.copy(), "scores": shares.copy()}
            elif types[j] == "categorical":
                positions = list(mapping[j].values())
                item["values"] = scores[positions]
                item["density"] = {"names": np.array([float(k) for k in mapping[j]]),
                                   "scores": weights[positions] / weights.sum()}
            else:
                item["values"] = scores[1:-1].copy()
                counts = np.asarray(ebm.histogram_weights_[j], dtype=float)[1:-1]
                item["density"] = {"names": np.asarray(ebm.histogram_edges_[j], dtype=float),
                                   "scores": counts / max(counts.sum(), 1.0)}
            self.main_effect_[feature_names[j]] = item

    def densities(self):
        """(feature, its main effect's "density") of each main effect."""
        return [(name, item["density"]) for name, item in self.main_effect_.items()]

    def describe_effects(self, axis_label, rows, levels):
        """Have the terms' values say what they are effects on, and each pair's surface (what
        its "predict_func" gives) where the rows (model scale) lie and which of its features
        take few values ({column: values}, ``EffectValues``)."""
        for item in self.main_effect_.values():
            item["values"] = EffectValues(item["values"], axis_label)
            item["predict_func"].description = (axis_label, None, None)
        for item in self.interaction_.values():
            item["values"] = EffectValues(item["values"], axis_label)
            item["predict_func"].description = _pair_description(axis_label, rows, levels,
                                                                 item["fidx"])

    def _term_function(self, ebm, t, two_levels):
        categorical = [j for j in ebm.term_features_[t]
                       if self.estimator.feature_types[j] == "categorical"]
        return TermFunction(ebm, t, categorical, [j for j in categorical if j in two_levels],
                            self.min_value_.copy(), self.max_value_.copy())


class TermFunction:
    """One term's contribution for rows of the model's input (an ``EBMExplainer`` entry's
    "predict_func"). A class of the module, so that an explained experiment pickles; a deep
    copy of the entry keeps the one model, as a function's would."""

    def __init__(self, ebm, t, categorical, two, low, high):
        self.ebm, self.t, self.categorical, self.two = ebm, t, categorical, two
        self.low, self.high = low, high
        # what its values say of themselves (``EffectValues``): label, rows, levels
        self.description = None

    def __deepcopy__(self, memo):
        return self

    def __call__(self, X):
        X = np.array(X, dtype=float)
        low, high = self.low, self.high
        for j in self.categorical:
            # Grids run between levels; a point between two takes the nearer one.
            if j in self.two:
                X[:, j] = np.where(X[:, j] < (low[j] + high[j]) / 2, low[j], high[j])
            else:
                X[:, j] = np.clip(np.round(X[:, j]), low[j], high[j])
        values = np.asarray(self.ebm.eval_terms(X), dtype=float).reshape(len(X), -1)[:, self.t]
        return values if self.description is None else EffectValues(values, *self.description)


def _pair_description(axis_label, rows, levels, columns):
    """(label, the rows' values of the pair's two features, their levels) of a pair's surface."""
    a, b = columns
    return axis_label, rows[:, [a, b]], (levels.get(a), levels.get(b))


# GAMs ----------------------------------------------------------------------------------

def _main_effect(estimator, terms, t, column, categorical, two_levels=None):
    """inputs, outputs and density of main effect t on the training column; at its two
    values for a column of ``two_levels``."""
    j = terms.features[t][0]
    if two_levels and j in two_levels:
        inputs, shares = two_levels[j]
        inputs = inputs.copy()
        density = {"names": inputs.copy(), "scores": shares.copy()}
    elif categorical:
        inputs = _codes(column)
        density = _code_density(column, inputs)
    else:
        inputs = np.linspace(column.min(), column.max(), GRID)
        density = _density(column)
    return inputs, estimator.main_curve(j, inputs), density


class Explainer:
    """Entries looked up by name (``explainer[name]``), read only. Not a mapping on purpose: an
    explainer is told apart from the plain dictionary that describes a tree."""

    def __init__(self, entries):
        self._entries = dict(entries)

    def __getitem__(self, name):
        return self._entries[name]

    def __contains__(self, name):
        return name in self._entries

    def __iter__(self):
        return iter(self._entries)

    def __len__(self):
        return len(self._entries)

    def keys(self):
        return self._entries.keys()

    def items(self):
        return self._entries.items()

    def __repr__(self):
        return "%s(%s)" % (type(self).__name__, ", ".join(map(repr, self._entries)))


class GAMEffects(Explainer):
    """The explainer of a fitted GAM: ["effect"][feature] is {"feature_type",
    "feature_importance", "inputs", "outputs", "density"}."""

    def densities(self):
        return [(name, item["density"]) for name, item in self["effect"].items()]

    def describe_effects(self, axis_label, rows, levels):
        """Have each main effect's outputs say what they are effects on (``EffectValues``)."""
        for item in self["effect"].values():
            item["outputs"] = EffectValues(item["outputs"], axis_label)


def gam_effects(estimator, terms, train_inputs, feature_names, two_levels=None):
    """The ``GAMEffects`` of a fitted GAM; the columns of ``two_levels`` ({column: (values,
    shares)}) are given as categorical at their two values."""
    two_levels = two_levels or {}
    effects = Terms(feature_names=feature_names)
    for t, term in enumerate(terms.features):
        j = term[0]
        categorical = j in estimator.categorical_columns_ or j in two_levels
        inputs, outputs, density = _main_effect(estimator, terms, t, train_inputs[:, j],
                                                categorical, two_levels)
        effects[feature_names[j]] = {
            "feature_type": "categorical" if categorical else "continuous",
            "feature_importance": float(terms.importance[t]),
            "inputs": inputs, "outputs": outputs, "density": density}
    return GAMEffects({"effect": effects})


class GAMINetEffects(Explainer):
    """The terms of a fitted GAMINet by name.

    [feature]: "type" ("continuous" or "categorical"), "importance", "inputs", "outputs",
    "density" ("names", "scores"); a categorical feature also "input_ticks" (its codes) and
    "input_labels" (its labels).
    ["a x b"]: "type" "pairwise", "importance", "input1" and "input2" (the grid of each
    feature), "outputs" (the surface: row r at the r-th largest value of b, column c at the c-th
    smallest value of a) and "axis_extent" ([a min, a max, b min, b max]).
    """

    def __init__(self, estimator, terms, train_inputs, feature_names, categories,
                 two_levels=None, labels_of=None):
        """two_levels: {column: (values, shares)} of the numeric columns of two values, given
        as categorical at those values; labels_of(name, values): their labels."""
        super().__init__({})
        self._entries = Terms(feature_names=feature_names)
        two_levels = two_levels or {}
        self._columns = {}
        for t, term in enumerate(terms.features):
            if len(term) == 1:
                j = term[0]
                categorical = j in estimator.categorical_columns_
                inputs, outputs, density = _main_effect(estimator, terms, t,
                                                        train_inputs[:, j], categorical,
                                                        two_levels)
                item = {"type": "categorical" if categorical or j in two_levels
                        else "continuous",
                        "importance": float(terms.importance[t]),
                        "inputs": inputs, "outputs": outputs, "density": density}
                if j in two_levels:
                    item["input_ticks"] = inputs.copy()
                    item["input_labels"] = [str(v) for v in (
                        labels_of(feature_names[j], inputs) if labels_of is not None
                        else inputs)]
                elif categorical:
                    labels = categories.get(feature_names[j])
                    item["input_ticks"] = inputs.copy()
                    item["input_labels"] = [labels[int(c)] if labels is not None
                                            and int(c) < len(labels) else "%g" % c
                                            for c in inputs]
                self._entries[feature_names[j]] = item
                continue
            a, b = term
            self._columns[terms.names[t]] = term
            grids = []
            for j in term:
                column = train_inputs[:, j]
                grids.append(_codes(column) if j in estimator.categorical_columns_
                             else np.linspace(column.min(), column.max(), GRID))
            self._entries[terms.names[t]] = {
                "type": "pairwise", "importance": float(terms.importance[t]),
                "input1": grids[0], "input2": grids[1],
                "outputs": estimator.pair_grid(t, grids[0], grids[1][::-1]),
                "axis_extent": [float(grids[0][0]), float(grids[0][-1]),
                                float(grids[1][0]), float(grids[1][-1])]}

    def densities(self):
        return [(name, item["density"]) for name, item in self._entries.items()
                if "density" in item]

    def describe_effects(self, axis_label, rows, levels):
        """Have the terms' outputs say what they are effects on, and each pair's surface where
        the rows (model scale) lie and which of its features take few values ({column:
        values}, ``EffectValues``)."""
        for name, item in self._entries.items():
            columns = self._columns.get(name)
            item["outputs"] = EffectValues(item["outputs"], *(
                (axis_label,) if columns is None
                else _pair_description(axis_label, rows, levels, columns)))
