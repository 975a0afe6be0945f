"""Generalised additive models on penalised splines (pygam), with and without pairwise terms.

``GAMRegressor`` / ``GAMClassifier`` model the response (the logit of the second class for a
classifier) as an intercept plus one smooth function per feature: a penalised cubic spline of a
numeric feature, one level per code of a categorical feature.

``GAMINetRegressor`` / ``GAMINetClassifier`` add structured pairwise interactions in the way of
GAMI-Net and GA2M: a seeded share of the training rows (``validation_fraction``) is held out; the
main effects are fitted on the rest; every feature pair is ranked by how much a 2 x 2
piecewise-constant surface on quantile bins of the two features gains on what those main effects
leave unexplained (FAST: the best cut of each feature, the gain counted beyond the cuts as main
effects; the working residuals of the logit for a classifier); the ``interactions`` pairs of the
largest gain are tried in rank order, each as a penalised tensor-product spline fitted beside the
main effects and the pairs kept so far, and kept only if it lowers the loss on the held-out rows.
The kept pairs join the main effects, and everything is refitted together on all the training
rows. Each pair's surface is then purified: its averages along either feature over the training
values of the other are moved into the main effects, so a main effect carries all of its
feature's effect on average and a pair only what neither feature explains alone.

Large tables are fitted in bounded time: on a sample of the training rows (``_FIT_ROWS``), with
the smoothing penalty chosen on a smaller one (``_LAM_ROWS``), pairs screened on a sample
(``_SCREEN_ROWS``) among the features with the strongest main effects (``_SCREEN_FEATURES``), and
fewer basis functions per feature on a wide table (``_MAIN_COEFS``). None of these bites up to
2,000 training rows and 30 features; terms are still centred on all the training rows. A
classifier's samples keep both classes (``sampling.draw``); where that added rows of a rare
class, the fits weight the classes back to their shares of the training rows.

All four take the input matrix of numbers; columns listed in ``categorical_features`` must hold
integer codes 0, 1, ... . Every term is centred on the training rows, so that
``intercept_ + eval_terms(X).sum(axis=1)`` is the prediction (the logit for a classifier).
"""

import contextlib
import io
import warnings

import numpy as np
from scipy.special import expit
from sklearn.base import BaseEstimator
from sklearn.exceptions import ConvergenceWarning
from sklearn.utils.multiclass import check_classification_targets, type_of_target
from sklearn.utils import check_random_state
from threadpoolctl import threadpool_limits

from ._sklearn import validate_data
from .pairs import _fast_gain, _fit_surface, _row_losses
from .sampling import class_weights, draw
from .spline_terms import SplineClassifierMixin, SplineRegressorMixin, SplineTerms
from .subset import UsedColumns

# Training values of the partner feature over which a pair surface is averaged in purification.
_PURIFY_ROWS = 100
# Smoothing penalties tried when lam is "auto".
_LAM_GRID = np.logspace(-1, 3, 5)
# Training rows that a model is fitted on at most: a larger training split is sampled (with
# random_state; the rows holding each column's extremes and each code always join). The cost of
# a fit grows with rows times the square of the coefficients; the smooth terms gain little
# from more rows than this.
_FIT_ROWS = 10000
# Rows on which the smoothing penalty is chosen over the grid when there are more: one fit per
# grid point on these, then one fit with the chosen penalty on all the fitted rows.
_LAM_ROWS = 2000
# Spline coefficients that the numeric main effects share at most: on a wide table each gets
# fewer basis functions than n_splines, but no fewer than _MIN_SPLINES. A fit costs the cube of
# the coefficients per iteration; up to 50 numeric features keep n_splines=10.
_MAIN_COEFS = 500
_MIN_SPLINES = 5
# Rows on which pairs are screened at most, and the features among which they are: those whose
# main effects vary most. The screening tests every pair of them at every step of the forward
# selection, so its cost grows with rows times the square of the features.
_SCREEN_ROWS = 5000
_SCREEN_FEATURES = 30
# Quantile bins per numeric feature in the screening, and the fewest rows (at least this many,
# and this share of them) in each quadrant of a cut: a cut that isolates a handful of rows
# ranks their noise.
_SCREEN_BINS = 16
_SCREEN_MIN_ROWS = 5
_SCREEN_MIN_SHARE = 0.02
# Rows that the held-out part and the fit part of the training rows hold at least; with
# fewer, no pair is screened.
_MIN_HOLDOUT = 20
# Standard errors of its mean over the held-out rows by which a pair must lower the held-out
# loss to be kept: with one, a pair without an effect slips through about one try in six.
_HOLDOUT_SE = 1.0
# Ridge penalty on the spline coefficients of every numeric main effect.
_RIDGE = 0.1


def _check_settings(est):
    if isinstance(est.n_splines, bool) or not isinstance(est.n_splines, (int, np.integer)) \
            or est.n_splines < 4:
        raise ValueError("n_splines must be an integer of at least 4, got %r" % (est.n_splines,))
    if isinstance(est.lam, str) and est.lam == "auto":
        lam = None
    else:
        try:
            lam = float(est.lam)
        except (TypeError, ValueError):
            raise ValueError('lam must be a positive number or "auto", got %r' % (est.lam,)) from None
        if not np.isfinite(lam) or lam <= 0:
            raise ValueError('lam must be a positive number or "auto", got %r' % (est.lam,))
    if isinstance(est.max_iter, bool) or not isinstance(est.max_iter, (int, np.integer)) \
            or est.max_iter < 1:
        raise ValueError("max_iter must be a positive integer, got %r" % (est.max_iter,))
    return lam


def _check_categorical(est, X):
    columns = []
    for j in est.categorical_features:
        if isinstance(j, bool) or not isinstance(j, (int, np.integer)) or not 0 <= j < X.shape[1]:
            raise ValueError("categorical_features must be column positions below %d, got %r"
                             % (X.shape[1], j))
        codes = X[:, j]
        if np.any(codes < 0) or np.any(codes != np.round(codes)):
            raise ValueError("categorical column %d must hold integer codes 0, 1, ..., got %r"
                             % (j, codes[(codes < 0) | (codes != np.round(codes))][0]))
        columns.append(int(j))
    return sorted(set(columns))


class _AdditiveModel(UsedColumns, SplineTerms, BaseEstimator):
    """What the additive models share: terms, centring, and the fitted pygam model; what the
    fitted terms are at given rows is ``SplineTerms``."""

    def _terms(self, X, pairs, lam):
        from pygam.terms import TermList

        terms = [self._main_term(j, lam) for j in range(X.shape[1])]
        terms.extend(self._pair_term(a, b, lam) for a, b in pairs)
        return TermList(*terms)

    def _main_term(self, j, lam):
        from pygam import f, s

        if j in self.categorical_columns_:
            return f(j, lam=lam)
        # The smoothing penalty leaves straight lines free; the small ridge keeps a logit
        # finite where a feature separates the classes.
        return s(j, n_splines=self.n_splines_, lam=[lam, _RIDGE], penalties=["derivative", "l2"])

    def _pair_term(self, a, b, lam):
        from pygam import te

        dtype = ["categorical" if c in self.categorical_columns_ else "numerical" for c in (a, b)]
        return te(a, b, n_splines=self.pair_splines, lam=lam, dtype=dtype)

    def _gam(self, X, target, pairs, lam=None, weights=None):
        """(the fitted pygam model, its smoothing penalty). With lam "auto" the one smoothing
        penalty of all terms that minimises generalised cross-validation (UBRE for a
        classifier) on a grid, chosen on at most ``_LAM_ROWS`` of the rows, the model then
        fitted with it on all of them; ``lam`` (the penalty that the main effects took) spares
        a model with pairs that search. ``weights``: of the rows, or None."""
        grid = _LAM_GRID if self.lam == "auto" else [float(self.lam)]
        if len(grid) > 1 and lam is not None:
            grid = [lam]
        if len(grid) > 1 and len(X) > _LAM_ROWS:
            rows, shifted = self._rows(X, _LAM_ROWS, target)
            sub = weights[rows] if weights is not None else None
            if shifted:
                # the weights of the rows times the sample's own: the shares of all the rows
                sub = class_weights(target, rows) * (1.0 if sub is None else sub)
            grid = [self._search(X[rows], target[rows], pairs, grid, sub)[0]]
        chosen, best = self._search(X, target, pairs, grid, weights)
        if len(best.logs_["deviance"]) >= self.max_iter:
            warnings.warn("%s did not converge in max_iter=%d iterations"
                          % (type(self).__name__, self.max_iter), ConvergenceWarning)
        return best, chosen

    def _search(self, X, target, pairs, grid, weights=None):
        """(lam, fitted pygam model) of the grid's best penalty."""
        from pygam import LinearGAM, LogisticGAM

        cls = LogisticGAM if self._classifier else LinearGAM
        score = "UBRE" if self._classifier else "GCV"
        best, best_lam = None, None
        for lam in grid:
            gam = cls(self._terms(X, pairs, lam), max_iter=self.max_iter, tol=self.tol)
            # pygam prints "did not converge" itself; that is reported as a warning.
            with contextlib.redirect_stdout(io.StringIO()), \
                    np.errstate(divide="ignore", invalid="ignore", over="ignore"):
                try:
                    gam.fit(X, target, weights=weights)
                except ValueError:
                    # An extreme penalty of the grid may diverge; another one wins then.
                    if len(grid) == 1:
                        raise
                    continue
            if best is None or gam.statistics_[score] < best.statistics_[score]:
                best, best_lam = gam, lam
        if best is None:
            raise ValueError("the fit diverged for every smoothing penalty of %s" % list(grid))
        return best_lam, best

    def _rows(self, X, limit, target):
        """(positions of at most about ``limit`` rows of X, whether a rare class was added):
        drawn with ``random_state``, both classes of a classifier kept (``sampling.draw``),
        plus the rows that hold each column's smallest and largest value and each code of a
        categorical column, so that the sample spans the domain of every column."""
        if len(X) <= limit:
            return np.arange(len(X)), False
        chosen, shifted = draw(len(X), limit, check_random_state(self.random_state),
                               target if self._classifier else None)
        return np.unique(np.concatenate([chosen, self._anchors(X)])), shifted

    def _anchors(self, X):
        """Positions of the rows that hold each column's smallest and largest value and the
        first row of each code of a categorical column (with repeats)."""
        extremes = [np.argmin(X, axis=0), np.argmax(X, axis=0)]
        for j in self.categorical_columns_:
            extremes.append(np.unique(X[:, j], return_index=True)[1])
        return np.concatenate(extremes)

    def _fit_target(self, y):
        if not self._classifier:
            y = np.asarray(y, dtype=float)
            if not np.all(np.isfinite(y)):
                raise ValueError("the target holds NaN or infinite values")
            return y
        check_classification_targets(y)
        kind = type_of_target(y, input_name="y")
        if kind != "binary":
            raise ValueError("Only binary classification is supported. The type of the target "
                             "is %s." % kind)
        self.classes_ = np.unique(y)
        if len(self.classes_) < 2:
            raise ValueError("%s needs samples of two classes; the target has one class, %s"
                             % (type(self).__name__, self.classes_[0]))
        return (y == self.classes_[1]).astype(float)

    def fit(self, X, y):
        # The matrices are small: a threaded linear algebra library only fights over the cores.
        with threadpool_limits(limits=1, user_api="blas"):
            self.__dict__.pop("inner_", None)
            if self.features is not None:
                return self._fit_used(X, y)
            return self._fit(X, y)

    def _fit(self, X, y):
        _check_settings(self)
        X, y = validate_data(self, X, y, dtype=float, y_numeric=not self._classifier)
        if X.shape[0] < 2:
            raise ValueError("%s needs at least 2 samples; got 1 sample" % type(self).__name__)
        self.categorical_columns_ = _check_categorical(self, X)
        target = self._fit_target(y)
        constant = [j for j in range(X.shape[1]) if np.ptp(X[:, j]) == 0]
        if constant:
            raise ValueError("column(s) %s take a single value; drop them before fitting" % constant)

        numeric = X.shape[1] - len(self.categorical_columns_)
        self.n_splines_ = max(min(self.n_splines, _MAIN_COEFS // max(numeric, 1)),
                              min(self.n_splines, _MIN_SPLINES))
        rows, shifted = self._rows(X, _FIT_ROWS, target)
        self.n_fit_rows_ = len(rows)
        weights = class_weights(target, rows) if shifted else None
        pairs, main_lam = self._screen(X[rows], target[rows], weights)
        self.gam_ = self._gam(X[rows], target[rows], pairs, main_lam, weights)[0]
        self.n_iter_ = len(self.gam_.logs_["deviance"])
        self.term_features_ = [(j,) for j in range(X.shape[1])] + [tuple(p) for p in pairs]
        self._background = X[np.linspace(0, len(X) - 1, min(len(X), _PURIFY_ROWS)).astype(int)]
        self._pair_parts = {}
        self.pair_levels_ = np.zeros(len(self.term_features_))
        for t in range(X.shape[1], len(self.term_features_)):
            basis_a, basis_b = self._margins(t, self._background)
            coef = self._coef(t).reshape(basis_a.shape[1], -1)
            mean_a, mean_b = basis_a.mean(axis=0), basis_b.mean(axis=0)
            self._pair_parts[t] = coef, mean_a, mean_b
            self.pair_levels_[t] = float(mean_a @ coef @ mean_b)
        self.term_means_ = np.zeros(len(self.term_features_))
        self.term_means_ = self._raw_terms(X).mean(axis=0)
        self.intercept_ = float(self.gam_.coef_[-1] + self.term_means_.sum())
        return self

    def _screen(self, X, target, weights=None):
        """(the feature pairs to fit beside the main effects, the smoothing penalty that the
        screening chose for the main effects or None): no pairs. ``weights``: of the rows, or
        None."""
        return [], None

    def __sklearn_tags__(self):
        tags = super().__sklearn_tags__()
        tags.input_tags.allow_nan = False
        tags.target_tags.required = True
        return tags


class _GAM(_AdditiveModel):

    def __init__(self, n_splines=10, lam="auto", categorical_features=(), max_iter=100, tol=1e-4,
                 random_state=None, features=None):
        self.n_splines = n_splines
        self.lam = lam
        self.categorical_features = categorical_features
        self.max_iter = max_iter
        self.tol = tol
        self.random_state = random_state
        self.features = features


class GAMRegressor(SplineRegressorMixin, _GAM):
    """Penalised spline GAM for a numeric target: intercept + one smooth term per feature.

    n_splines: basis functions per numeric feature; lam: smoothing penalty of every term;
    categorical_features: positions of the columns of integer codes; random_state: seed of the
    row samples of a large training set (see ``_FIT_ROWS``, ``_LAM_ROWS``); features: positions
    of the columns that the model uses (``subset``), None for all.
    """


class GAMClassifier(SplineClassifierMixin, _GAM):
    """Penalised spline GAM of the logit of a binary target: intercept + one smooth term per
    feature. Settings as ``GAMRegressor``."""


class _GAMINet(_GAM):

    def __init__(self, interactions=10, n_splines=10, pair_splines=5, lam="auto",
                 validation_fraction=0.2, categorical_features=(), max_iter=100, tol=1e-4,
                 random_state=None, features=None):
        super().__init__(n_splines=n_splines, lam=lam, categorical_features=categorical_features,
                         max_iter=max_iter, tol=tol, random_state=random_state,
                         features=features)
        self.interactions = interactions
        self.pair_splines = pair_splines
        self.validation_fraction = validation_fraction

    def _screen(self, X, target, weights=None):
        """The screened pairs that improve the held-out loss, strongest first; or the pairs
        given in ``interactions``. Returns them as ``_AdditiveModel._screen`` does; the main
        effects are fitted with the rows' ``weights``."""
        fraction = self.validation_fraction
        if isinstance(fraction, bool) or not isinstance(fraction, (int, float, np.number)) \
                or not 0 < fraction < 1:
            raise ValueError("validation_fraction must lie between 0 and 1, got %r" % (fraction,))
        self.screen_gains_, self.holdout_losses_ = [], []
        if not isinstance(self.interactions, (int, np.integer)):
            self.screened_pairs_ = self._given_pairs(X.shape[1])
            self.kept_pairs_ = list(self.screened_pairs_)
            return list(self.kept_pairs_), None
        for name, low in (("interactions", 0), ("pair_splines", 4)):
            value = getattr(self, name)
            if isinstance(value, bool) or not isinstance(value, (int, np.integer)) or value < low:
                raise ValueError("%s must be an integer of at least %d, got %r" % (name, low, value))
        self.screened_pairs_, self.kept_pairs_ = [], []
        split = self._split(X, target) if self.interactions and X.shape[1] > 1 else None
        if split is None:
            return [], None
        fit, held = split
        main, lam = self._gam(X[fit], target[fit], [],
                              weights=None if weights is None else weights[fit])
        eta = main._linear_predictor(X[fit])
        self.screened_pairs_, self.screen_gains_ = self._rank(main, eta, X[fit], target[fit])
        self.kept_pairs_, self.holdout_losses_ = self._prune(
            [eta, main._linear_predictor(X[held])], lam, X[fit], target[fit], X[held],
            target[held])
        # The final model is fitted on all the rows with the penalty of the main effects.
        return list(self.kept_pairs_), lam

    def _split(self, X, target):
        """(fit rows, held-out rows): a seeded share ``validation_fraction`` of the rows held
        out, of each class for a classifier. The rows that hold a column's extremes or a code
        of a categorical column stay in the fit part, so that every held-out row lies in its
        domain. None when either part would have fewer than ``_MIN_HOLDOUT`` rows: too few to
        tell a pair from noise."""
        n = len(X)
        anchored = np.zeros(n, dtype=bool)
        anchored[self._anchors(X)] = True
        order = check_random_state(self.random_state).permutation(n)
        free = order[~anchored[order]]
        groups = [free[target[free] == c] for c in (0.0, 1.0)] if self._classifier else [free]
        held = np.concatenate([g[:int(round(self.validation_fraction * len(g)))] for g in groups])
        if len(held) < _MIN_HOLDOUT or n - len(held) < _MIN_HOLDOUT:
            return None
        return np.setdiff1d(np.arange(n), held), np.sort(held)

    def _rank(self, main, eta, X, target):
        """(the ``interactions`` pairs of the largest screening gain, strongest first; their
        gains), with ``eta`` the main effects' predictor at the rows of X. A pair's gain is
        the largest drop of the weighted residual sum of squares that one cut of each feature
        achieves, beyond the two cuts as main effects: the interaction contrast of the four
        quadrants (FAST). A classifier's residuals are the working
        residuals of the logit, so that the gain is the drop of the deviance that one Newton
        step of the quadrant model would make."""
        rows, _ = self._rows(X, _SCREEN_ROWS, target)
        X, target, eta = X[rows], target[rows], eta[rows]
        if self._classifier:
            p = expit(eta)
            residual, weights = target - p, p * (1 - p)
        else:
            residual, weights = target - eta, np.ones(len(target))
        features = self._screened_features(main, X)
        bins = {j: self._bins(X[:, j], j) for j in features}
        smallest = max(_SCREEN_MIN_ROWS, int(_SCREEN_MIN_SHARE * len(X)))
        scored = [(_fast_gain(bins[a], bins[b], residual, weights, smallest), (a, b))
                  for i, a in enumerate(features) for b in features[i + 1:]]
        scored.sort(key=lambda item: -item[0])
        top = [(gain, pair) for gain, pair in scored[:self.interactions] if gain > 0]
        return [pair for _, pair in top], [float(gain) for gain, _ in top]

    def _prune(self, offsets, lam, X_fit, y_fit, X_held, y_held):
        """(the screened pairs kept, the held-out losses), with ``offsets`` the main effects'
        predictor at the fit rows and at the held-out rows: in rank order, each pair's surface
        is fitted on the fit rows beside what is already there (the main effects and the pairs
        kept so far, held fixed), and so are the pair's two main effects once more; the pair is
        kept if its surface lowers the held-out loss (squared error, log loss for a
        classifier) below both by more than ``_HOLDOUT_SE`` standard errors of the mean
        difference over the held-out rows. What the main effects of a pair's features left
        behind is no interaction; a difference within its noise is none either. The losses
        are the mean held-out losses of the main effects alone, then of each pair tried."""
        current = _row_losses(y_held, offsets[1], self._classifier)
        losses, kept = [float(current.mean())], []
        for a, b in self.screened_pairs_:
            mains = self._surface([self._main_term(a, lam), self._main_term(b, lam)],
                                  X_fit, y_fit, X_held, offsets[0])[1]
            mains = _row_losses(y_held, offsets[1] + mains, self._classifier)
            pair = self._surface([self._pair_term(a, b, lam)], X_fit, y_fit, X_held, offsets[0])
            tried = _row_losses(y_held, offsets[1] + pair[1], self._classifier)
            losses.append(float(tried.mean()))
            gain = min(current, mains, key=np.mean) - tried
            spread = np.std(gain, ddof=1) / np.sqrt(len(gain))
            if gain.mean() > _HOLDOUT_SE * spread:
                kept.append((a, b))
                current = tried
                offsets = [offsets[0] + pair[0], offsets[1] + pair[1]]
        return kept, losses

    def _surface(self, terms, X_fit, y_fit, X_held, offset):
        """(values on the fit rows, values on the held-out rows) of the pygam terms fitted
        together on the fit rows beside a fixed offset."""
        from scipy.linalg import block_diag

        for term in terms:
            term.compile(X_fit)
        basis = np.hstack([self._columns(term, X_fit) for term in terms])
        penalty = block_diag(*[term.build_penalties().toarray() for term in terms])
        coef = _fit_surface(basis, penalty, offset, y_fit, self._classifier, self.max_iter,
                            self.tol)
        return basis @ coef, np.hstack([self._columns(term, X_held) for term in terms]) @ coef

    def _screened_features(self, main, X):
        """The features among which pairs are screened, in column order: all of them, or
        the ``_SCREEN_FEATURES`` whose main effects vary most over the rows."""
        if X.shape[1] <= _SCREEN_FEATURES:
            return list(range(X.shape[1]))
        spread = [np.std(main.partial_dependence(term=j, X=X)) for j in range(X.shape[1])]
        strongest = np.argsort(-np.asarray(spread), kind="stable")[:_SCREEN_FEATURES]
        return sorted(int(j) for j in strongest)

    def _given_pairs(self, n_features):
        try:
            pairs = [tuple(sorted(int(j) for j in pair)) for pair in self.interactions]
        except (TypeError, ValueError):
            pairs = None
        if pairs is None or isinstance(self.interactions, (str, bool)) or any(
                len(p) != 2 or p[0] == p[1] or p[0] < 0 or p[1] >= n_features for p in pairs):
            raise ValueError("interactions must be a number of pairs or a list of pairs of "
                             "distinct column positions below %d, got %r"
                             % (n_features, self.interactions))
        return list(dict.fromkeys(pairs))

    def _bins(self, column, j):
        """(bin of each row, number of bins) of one feature for the screening: its codes in
        order for a categorical feature, at most ``_SCREEN_BINS`` quantile bins for a numeric
        one."""
        if j in self.categorical_columns_:
            levels, codes = np.unique(column, return_inverse=True)
            return codes, len(levels)
        edges = np.unique(np.quantile(column, np.linspace(0, 1, _SCREEN_BINS + 1)[1:-1]))
        return np.searchsorted(edges, column, side="right"), len(edges) + 1


class GAMINetRegressor(SplineRegressorMixin, _GAMINet):
    """GAM with structured pairwise interactions for a numeric target (see the module text).

    Settings:
        interactions: at most this many pairs (default 10) are screened and tried; 0 fits the
            main effects alone; or a list of pairs of column positions, fitted without
            screening.
        validation_fraction: share of the training rows (default 0.2) held out to decide
            which screened pairs are kept; the final model is fitted on all of them.
        n_splines / pair_splines: basis functions per feature of a main / pair term.
        lam: smoothing penalty of every term, or "auto" (chosen for the main effects).
        categorical_features: positions of the columns of integer codes.
        max_iter, tol: of the iterative fits.
        random_state: seed of the held-out split and of the row samples of a large training
            set (see ``_FIT_ROWS``, ``_LAM_ROWS``, ``_SCREEN_ROWS``); features: as the GAM's.

    Fitted attributes of the screening:
        screened_pairs_: the pairs ranked highest, strongest first (at most ``interactions``);
        screen_gains_: their screening gains;
        holdout_losses_: the held-out loss of the main effects, then with each screened pair
            tried in turn (empty when nothing was screened);
        kept_pairs_: the pairs of the model, in the order of ``term_features_``.
    """


class GAMINetClassifier(SplineClassifierMixin, _GAMINet):
    """GAM with structured pairwise interactions of the logit of a binary target; settings and
    attributes as ``GAMINetRegressor``. Pairs are screened on the working residuals of the
    logit and kept on the held-out mean log loss."""
