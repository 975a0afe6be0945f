"""A spline GAM that uses some of its input columns (``features``): fitted on those columns
alone, it takes and explains rows of every column, its terms named by the columns' positions
in the whole input, so that the columns it leaves out have no term and contribute nothing."""

import numpy as np
from sklearn.base import clone
from sklearn.utils.validation import check_is_fitted

from ._sklearn import validate_data

# What a model fitted on some columns copies of its inner model as it is.
_COPIED = ("intercept_", "classes_", "n_iter_", "n_fit_rows_", "screen_gains_",
           "holdout_losses_")
# ... and what it copies with the inner model's column positions turned into its own.
_PAIRS = ("screened_pairs_", "kept_pairs_")


class UsedColumns:
    """Put before ``SplineTerms``: ``features`` None uses every column."""

    def _used(self, n_features):
        features = self.features
        try:
            used = sorted(set(int(j) for j in features))
            valid = not isinstance(features, (str, bytes)) and all(
                not isinstance(j, bool) and int(j) == j for j in features)
        except (TypeError, ValueError):
            used, valid = [], False
        if not valid or not used or used[0] < 0 or used[-1] >= n_features:
            raise ValueError("features must be None or a list of column positions below %d, "
                             "got %r" % (n_features, features))
        return used

    def _fit_used(self, X, y):
        """Fit the inner model on the columns of ``features``; returns self."""
        X, y = validate_data(self, X, y, dtype=float, y_numeric=not self._classifier)
        used = self._used(X.shape[1])
        local = {j: k for k, j in enumerate(used)}
        settings = {"features": None,
                    "categorical_features": [local[j] for j in self.categorical_features
                                             if j in local]}
        interactions = getattr(self, "interactions", None)
        if interactions is not None and not isinstance(interactions, (int, np.integer)):
            try:
                settings["interactions"] = [tuple(local[int(j)] for j in pair)
                                            for pair in interactions]
            except (KeyError, TypeError, ValueError):
                raise ValueError("interactions must be pairs of the columns in features %r, "
                                 "got %r" % (used, interactions)) from None
        inner = clone(self).set_params(**settings)
        inner._fit(X[:, used], y)
        self.inner_, self.used_ = inner, np.array(used)
        self.term_features_ = [self._whole(term) for term in inner.term_features_]
        self.categorical_columns_ = [used[j] for j in inner.categorical_columns_]
        for name in _COPIED:
            if hasattr(inner, name):
                setattr(self, name, getattr(inner, name))
        for name in _PAIRS:
            if hasattr(inner, name):
                setattr(self, name, [self._whole(pair) for pair in getattr(inner, name)])
        return self

    def _whole(self, columns):
        return tuple(int(self.used_[j]) for j in columns)

    def _inner(self):
        return getattr(self, "inner_", None)

    def eval_terms(self, X, terms=None):
        inner = self._inner()
        if inner is None:
            return super().eval_terms(X, terms)
        X = validate_data(self, X, dtype=float, reset=False)
        return inner.eval_terms(X[:, self.used_], terms)

    def _predictor(self, X):
        inner = self._inner()
        if inner is None:
            return super()._predictor(X)
        return inner._predictor(validate_data(self, X, dtype=float, reset=False)[:, self.used_])

    def main_curve(self, j, values):
        inner = self._inner()
        if inner is None:
            return super().main_curve(j, values)
        check_is_fitted(self, "inner_")
        return inner.main_curve(int(np.flatnonzero(self.used_ == j)[0]), values)

    def pair_grid(self, t, va, vb):
        inner = self._inner()
        return super().pair_grid(t, va, vb) if inner is None else inner.pair_grid(t, va, vb)
