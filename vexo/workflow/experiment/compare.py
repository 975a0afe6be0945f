"""Do the models agree? One feature's effect in every model on one axis, and every model's
permutation importance side by side (``Comparisons``, which ``Experiment`` offers).

Each family says what a feature does in its own way (``Family.effect_curve``): an additive
model by its term, a linear one by its coefficient; any other model is probed from outside by
``partial_dependence`` or ``accumulated_local_effects`` (``probed_curve``).
"""

import numpy as np
from scipy.stats import rankdata

from .. import plots
from ..plots import Title
from ..plots.style import model_colors
from . import explain
from .scores import format_score

# Points of a numeric feature's curve: its training values where it takes no more than this
# many, else this many evenly spaced over its training range (a step is placed within a
# hundredth of the range).
CURVE_POINTS = 100
# Training rows on which a model is probed at most (its partial dependence or accumulated local
# effects), and on which each curve is centred at most.
PROBE_ROWS = 500
CENTRE_ROWS = 2000
# A feature whose rank correlation with another feature reaches this is probed by accumulated
# local effects rather than by partial dependence; one whose variance the others explain
# linearly to this share (R²) has a linear model's coefficient that is not its own.
CORRELATED = 0.5
COLLINEAR = 0.99
# Bins of the accumulated local effects (quantiles of the probed rows) at most, each of
# ALE_BIN_ROWS rows at least; bins of the distribution drawn under the curves.
ALE_BINS = 40
ALE_BIN_ROWS = 10
DENSITY_BINS = 20
# Values of the input matrix that one call of a probed model takes at most: as many as one of
# permutation importance's.
PROBE_CELLS = explain.FI_CELLS
# Features in the importance comparison at most, and the models' disagreement on a feature
# worth a mark: its ranks apart by at least this many places (and by a quarter of the rows
# shown), the MARKED most apart at most.
IMPORTANCE_ROWS = 20
APART = 3
MARKED = 3

PD, ALE = "partial dependence", "accumulated local effects"
LINEAR = "coefficient \u00d7 feature"


def predicted(respond, X):
    """The model's response to the rows of X, in calls of at most ``PROBE_CELLS`` values."""
    step = max(1, PROBE_CELLS // max(X.shape[1], 1))
    return np.concatenate([np.asarray(respond(X[k:k + step]), dtype=float).ravel()
                           for k in range(0, len(X), step)])


def partial_dependence(respond, X, j, grid):
    """The mean response over the rows of X with column j set to each value of the grid."""
    n = len(X)
    values = np.empty(len(grid))
    # as many grid values at once as keep one call within PROBE_CELLS values
    chunk = max(1, PROBE_CELLS // max(n * X.shape[1], 1))
    for start in range(0, len(grid), chunk):
        part = grid[start:start + chunk]
        rows = np.repeat(X[None, :, :], len(part), axis=0)
        rows[:, :, j] = np.asarray(part, dtype=float)[:, None]
        values[start:start + len(part)] = predicted(
            respond, rows.reshape(-1, X.shape[1])).reshape(len(part), n).mean(axis=1)
    return values


def accumulated_local_effects(respond, X, j, grid):
    """The accumulated local effects of column j at the grid: between neighbouring quantiles
    of the column, the mean change of the response of the rows that lie between them when the
    column moves from one quantile to the next, added up from the smallest value; linear
    between the quantiles."""
    column = X[:, j]
    # a bin of a row or two says what those rows do, not what the model does there
    count = max(1, min(ALE_BINS, len(X) // ALE_BIN_ROWS))
    edges = np.unique(np.quantile(column, np.linspace(0, 1, count + 1)))
    if len(edges) < 2:
        return np.zeros(len(grid))
    bins = np.clip(np.searchsorted(edges, column, side="left") - 1, 0, len(edges) - 2)
    low, high = X.copy(), X.copy()
    low[:, j], high[:, j] = edges[bins], edges[bins + 1]
    change = predicted(respond, np.vstack([high, low]))
    change = change[:len(X)] - change[len(X):]
    sums = np.bincount(bins, weights=change, minlength=len(edges) - 1)
    counts = np.bincount(bins, minlength=len(edges) - 1)
    steps = np.divide(sums, counts, out=np.zeros_like(sums), where=counts > 0)
    return np.interp(grid, edges, np.concatenate([[0.0], np.cumsum(steps)]))


def explained_by_others(X, j):
    """The share of column j's variance that a linear combination of the other columns
    explains (R²): near 1, a linear model can trade the column's coefficient against theirs,
    and its coefficient no longer says what the column alone does."""
    y = X[:, j] - X[:, j].mean()
    total = float(y @ y)
    if total == 0 or X.shape[1] < 2:
        return 0.0
    others = np.delete(X, j, axis=1)
    others = others - others.mean(axis=0)
    fit, *_ = np.linalg.lstsq(others, y, rcond=None)
    rest = y - others @ fit
    return max(0.0, 1.0 - float(rest @ rest) / total)


def correlated(X, j):
    """Whether column j's rank correlation with another column reaches ``CORRELATED``."""
    ranks = rankdata(X, axis=0)
    ranks -= ranks.mean(axis=0)
    norms = np.sqrt((ranks ** 2).sum(axis=0))
    others = np.arange(X.shape[1]) != j
    if norms[j] == 0:
        return False
    with np.errstate(invalid="ignore", divide="ignore"):
        rho = (ranks[:, j] @ ranks[:, others]) / (norms[j] * norms[others])
    # a constant column goes with none
    rho = np.abs(rho[norms[others] > 0])
    return bool(rho.size and rho.max() >= CORRELATED)


def probed_curve(experiment, model, j, grid, categorical):
    """A model seen from outside: its partial dependence on column j over at most
    ``PROBE_ROWS`` training rows, or, where the column is correlated with others, its
    accumulated local effects. The training rows are those on which the curves are centred;
    the test split is often too small for the accumulated effects' bins.

    Partial dependence sets the feature to each value in every row, also where the table has
    no such rows (a correlated feature at 40 beside one at 2): the model is asked about inputs
    it never saw, and the curve mixes in the effects of the features that go with it.
    Accumulated local effects only compare a row with its neighbours' values, so they stay on
    the data; where the feature goes with no other, the two agree and partial dependence is
    the exacter one. A category has no order to accumulate along: its levels are probed by
    partial dependence.

    A classifier's response is its logit (``decision_function``); a model that gives only
    probabilities is shown by the logit of its mean probability (a tree's pure leaves would
    have an infinite logit of their own)."""
    estimator = experiment.registered_pipeline[model].estimator
    rows = experiment.sample_of(experiment.dataset.train_index, PROBE_ROWS)
    X = np.array(experiment.model_inputs(model, rows), dtype=float)
    # what the scorers read: the decision function (a classifier's logit), else the probability
    # of the positive class, else the prediction
    def respond(Z):
        return explain.scored_response(estimator, Z)

    logit_of_mean = experiment.task == "classification" and not hasattr(
        estimator, "decision_function")
    method = ALE if not categorical and correlated(X, j) else PD
    if method == PD:
        curve = partial_dependence(respond, X, j, grid)
    else:
        curve = accumulated_local_effects(respond, X, j, grid)
        if logit_of_mean:
            # the probabilities' changes start from the probed rows' mean probability
            curve = curve - np.interp(X[:, j], grid, curve).mean() + predicted(respond, X).mean()
    if logit_of_mean:
        # a probability of 0 or 1 is kept within half a row of either end
        edge = 0.5 / len(X)
        curve = np.clip(curve, edge, 1 - edge)
        curve = np.log(curve) - np.log1p(-curve)
    return curve, method


def grid_rows(experiment, model, j, grid):
    """One input row per grid value: the first training row with column j set to it (for
    models whose term of the feature reads that column alone)."""
    row = experiment.model_inputs(model, experiment.dataset.train_index[:1])
    rows = np.repeat(np.array(row, dtype=float), len(grid), axis=0)
    rows[:, j] = grid
    return rows


class Comparison(dict):
    """A comparison's record: a dictionary that a notebook shows in one line, not as its arrays
    (the figure is what a reader looks at)."""

    def __repr__(self):
        models = self["models"] if "models" in self else list(self["curves"])
        if "curves" in self:
            what = "effect of %r in %d models: %s" % (self["feature"], len(models), ", ".join(
                "%s (%s)" % (m, self["methods"][m]) for m in models))
        else:
            what = "importance of %d of %d features in %d models: %s" % (
                len(self["features"]), self["n_features"], len(models), ", ".join(models))
        return "<Comparison, %s; keys %s>" % (what, ", ".join(self))

    def _repr_pretty_(self, printer, cycle):
        printer.text(repr(self))


class Comparisons:
    """What ``Experiment`` offers to compare its models."""

    def _compared(self, models):
        models = list(self.registered_pipeline) if models is None else (
            [models] if isinstance(models, str) else list(models))
        if not models:
            raise ValueError("no models to compare: register one first")
        for model in models:
            self.registered_pipeline[model]  # an unknown name says which are registered
        return list(dict.fromkeys(models))

    def _colors(self, models):
        return model_colors({m: self.registered_pipeline[m].family for m in models})

    def compare_effects(self, feature, models=None, original_scale=True, figsize=None,
                        plot=True):
        """One feature's effect in every model (``models``: names, all registered by
        default), on one axis, drawn unless ``plot`` is false, and returned.

        Each model says what the feature does in its own way: an additive model ("ebm",
        "gam", "gami") by the feature's main effect (its pairs left aside), a linear model by
        its coefficient times the feature (its levels' coefficients for a category), a tree,
        a ReLU network and any other model by its partial dependence on the feature over at
        most ``PROBE_ROWS`` training rows, or by its accumulated local effects where
        the feature is correlated with another (``probed_curve`` says why). The response is
        the prediction of a regression, the logit of the positive class for a classifier.
        Every curve is centred: its mean over the training rows is 0, so that curves of
        different models share one axis. A model that does not read the feature has a curve of
        0 and ``reads`` False.

        Returns a ``Comparison`` (a dict): "feature", "categorical", "x" (numeric: the grid,
        in the feature's own units where ``original_scale``, else in model scale; categorical:
        the level labels, one point each), "curves", "methods", "reads", "colors", "steps"
        (model -> its curve, what the curve is, whether the model reads the feature, its
        colour, whether its family's curves are staircases, None where unknown), "density"
        (the training rows' distribution: numeric "edges" and "shares", categorical "shares"
        per level), "axis_label", "title" and "note".
        """
        models = self._compared(models)
        dataset = self.dataset
        if feature not in dataset.feature_names:
            names = dataset.feature_names
            raise KeyError("%r is not a feature of the models; the features are %r%s (the "
                           "experiment's notes say which columns were left out)"
                           % (feature, list(names[:20]), " and %d more" % (len(names) - 20)
                              if len(names) > 20 else ""))
        j = dataset.feature_names.index(feature)
        categorical = dataset.is_categorical(feature)
        train = self.model_inputs(models[0], self.sample_of(dataset.train_index, CENTRE_ROWS))
        column = np.asarray(train[:, j], dtype=float)
        if categorical:
            grid = np.arange(len(dataset.categories[feature]), dtype=float)
            weights = np.bincount(column.astype(int), minlength=len(grid)) / len(column)
        else:
            seen = np.unique(column)
            grid = seen if len(seen) <= CURVE_POINTS else np.linspace(
                seen[0], seen[-1], CURVE_POINTS)
        curves, methods, reads = {}, {}, {}
        for model in models:
            family = self._family(model)
            curve, methods[model] = family.effect_curve(self, model, j, grid, categorical)
            used = family.used_columns(self.registered_pipeline[model].estimator)
            reads[model] = used is None or j in used
            curve = np.asarray(curve, dtype=float)
            # centred on the training rows: weighted by the levels' shares, or read off
            # the curve at each row; a flat curve is 0, not the rounding of its mean
            centre = weights @ curve if categorical else np.interp(column, grid, curve).mean()
            curves[model] = curve - centre if np.ptp(curve) > 0 else np.zeros(len(grid))
        record = Comparison({"feature": feature, "categorical": categorical, "curves": curves,
                  "methods": methods, "reads": reads, "colors": self._colors(models),
                  "steps": {m: self._family(m).stepwise for m in models},
                  "axis_label": "effect on " + self._compared_response(),
                  "title": Title("Effect of %s in each model" % (feature,)),
                  "note": self._effects_note(methods, feature, None if categorical else train,
                                             j, categorical or original_scale)})
        if categorical:
            record["x"] = [str(label) for label in dataset.categories[feature]]
            record["density"] = {"shares": weights}
        else:
            shares, edges = np.histogram(column, bins=min(DENSITY_BINS, max(len(seen), 1)))
            shown = (lambda v: np.asarray(dataset.features[feature].original(v), dtype=float)) \
                if original_scale else (lambda v: np.asarray(v, dtype=float))
            record["x"] = shown(grid)
            record["density"] = {"edges": shown(edges), "shares": shares / len(column)}
        if plot:
            plots.plot_compare_effects(record, figsize=figsize)
        return record

    def _compared_response(self):
        if self.task == "regression":
            return "the prediction of %s" % (self.dataset.target,)
        return "the logit of P(%s)" % (self.dataset.positive_class,)

    def _effects_note(self, methods, feature, train, j, own_units):
        probed = [m for m, method in methods.items() if method in (PD, ALE)]
        note = "Each curve's mean over the training rows is 0."
        if not own_units:
            note += " %s as the models see it: its training range from 0 to 1." % (feature,)
        linear = [m for m, method in methods.items() if method == LINEAR]
        # a category's levels have coefficients of their own, not one for its codes
        if linear and train is not None:
            share = explained_by_others(np.asarray(train[:PROBE_ROWS], dtype=float), j)
            if share >= COLLINEAR:
                note += " %s: the other features make up %s linearly (R\u00b2 %.3f), so the " \
                        "coefficient is not its effect alone." % (
                            ", ".join(linear), feature, share)
        if probed:
            rows = len(self.sample_of(self.dataset.train_index, PROBE_ROWS))
            note += " %s: probed on %d training rows." % (", ".join(probed), rows)
        return note

    def compare_importance(self, models=None, figsize=None, plot=True):
        """Every model's permutation importance (``interpret_fi``) side by side, drawn unless
        ``plot`` is false, and returned.

        Returns a ``Comparison`` (a dict): "features" (the rows: of the features that some
        model ranks highest, at most ``IMPORTANCE_ROWS``, by their mean rank), "n_features",
        "models", "rank" and "importance" (features x models: 1 for a model's most important
        feature among all of them, and the mean drop of its score), "scores" (each model's
        first test score, as "R² 0.512"), "colors", "disagree" (the rows whose ranks lie
        furthest apart, at most ``MARKED``, each at least ``APART`` places), "value_label",
        "title" and "note".
        """
        models = self._compared(models)
        names = list(self.dataset.feature_names)
        n, row_of = len(names), {name: k for k, name in enumerate(names)}
        rank = np.zeros((n, len(models)), dtype=int)
        value = np.zeros((n, len(models)))
        labels = []
        for m, model in enumerate(models):
            fi = self.interpret_fi(model)
            # least important first: the last is rank 1
            for position, name in enumerate(fi["feature_names"]):
                k = row_of[name]
                rank[k, m], value[k, m] = n - position, fi["importance"][position]
            labels.append(fi["title"].axis_label)
        best, mean = rank.min(axis=1), rank.mean(axis=1)
        shown = sorted(np.lexsort((mean, best))[:IMPORTANCE_ROWS], key=lambda k: (mean[k], k))
        # ranks beyond the rows shown count as one: they all say "not among the first"
        capped = np.minimum(rank[shown], len(shown) + 1)
        spread = capped.max(axis=1) - capped.min(axis=1)
        apart = max(APART, int(np.ceil(len(shown) / 4)))
        marked = [k for k in np.argsort(-spread, kind="stable")[:MARKED] if spread[k] >= apart]
        scores = [self.scores(model).metrics[0] for model in models]
        value_label = labels[0] if len(set(labels)) == 1 else "drop in each model's score"
        record = Comparison({
            "features": [names[k] for k in shown], "n_features": n, "models": models,
            "rank": rank[shown], "importance": value[shown],
            "scores": ["%s %s" % (s.name, format_score(s.key, s.model)) for s in scores],
            "colors": list(self._colors(models).values()),
            "disagree": [names[shown[k]] for k in sorted(marked)],
            "value_label": value_label,
            "title": Title("Permutation importance in each model", axis_label=value_label),
            "note": self._importance_note(value_label)})
        if plot:
            plots.plot_compare_importance(record, figsize=figsize)
        return record

    def _importance_note(self, value_label):
        return "The %s: its mean over %d shuffles of the feature's values in the test split." % (
            value_label, explain.FI_REPEATS)
