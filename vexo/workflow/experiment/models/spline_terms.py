"""What a fitted spline GAM of ``gam`` is at given rows: its main effects and purified pair
surfaces, evaluated from pygam's bases and the coefficients that the fit left, and the
predictions that they add up to."""

import numpy as np
from sklearn.base import ClassifierMixin, RegressorMixin
from sklearn.utils.validation import check_is_fitted

from ._sklearn import BinaryOnly, validate_data


class SplineTerms:
    """The terms of a fitted model: needs ``gam_`` (the pygam model), ``term_features_``,
    ``term_means_``, ``pair_levels_``, ``intercept_`` and the background rows and pair parts
    that the fit keeps."""

    def _at(self, columns, values):
        """Rows of a typical training row with the given columns set to the given values."""
        rows = np.repeat(self._background[:1], len(values[0]), axis=0)
        for c, v in zip(columns, values):
            rows[:, c] = v
        return rows

    # A pair's surface is a tensor product: sum over k, l of coef[k, l] A_k(a) B_l(b), with the
    # marginal bases A and B. Averages of the surface over one feature's background values are
    # then the other's basis times coef times the mean of the first's basis, with no need to
    # evaluate the surface at every combination of rows and background values.

    def _coef(self, t):
        return self.gam_.coef_[self.gam_.terms.get_coef_indices(t)]

    def _columns(self, term, X):
        columns = term.build_columns(X)
        return columns.toarray() if hasattr(columns, "toarray") else np.asarray(columns)

    def _margins(self, t, X):
        """The marginal bases of pair term t at the rows of X: (A, B)."""
        return tuple(self._columns(margin, X) for margin in self.gam_.terms[t]._terms)

    def _main(self, j, X):
        """The main term j, before purification, at the rows of X (only column j is read)."""
        return self._columns(self.gam_.terms[j], X) @ self._coef(j)

    def _pair_average(self, t, values, first):
        """The pair surface at each of `values` of one of its features (the first if `first`),
        averaged over the background values of the other."""
        a, b = self.term_features_[t]
        coef, mean_a, mean_b = self._pair_parts[t]
        values = np.asarray(values, dtype=float)
        basis_a, basis_b = self._margins(t, self._at([a if first else b], [values]))
        return basis_a @ (coef @ mean_b) if first else basis_b @ (mean_a @ coef)

    def _pairs_of(self, j):
        return [t for t in range(self.n_features_in_, len(self.term_features_))
                if j in self.term_features_[t]]

    def _checked(self, X):
        """X, refused as pygam refuses it (a code that a categorical feature never took)."""
        from pygam.utils import check_X

        return check_X(X, n_feats=self.gam_.statistics_["m_features"],
                       edge_knots=self.gam_.edge_knots_, dtypes=self.gam_.dtype,
                       features=self.gam_.feature, verbose=False)

    def main_curve(self, j, values):
        """The centred main effect of feature j at the given values, with the share of its
        pairs that depends on it alone."""
        check_is_fitted(self, "gam_")
        values = np.asarray(values, dtype=float)
        curve = self._main(j, self._checked(self._at([j], [values])))
        for t in self._pairs_of(j):
            curve = curve + self._pair_average(t, values, self.term_features_[t][0] == j) \
                - self.pair_levels_[t]
        return curve - self.term_means_[j]

    def pair_grid(self, t, va, vb):
        """The centred, purified pair term t on the grid va x vb: (len(vb), len(va)), row r at
        vb[r], column c at va[c]."""
        check_is_fitted(self, "gam_")
        va, vb = np.asarray(va, dtype=float), np.asarray(vb, dtype=float)
        self._checked(self._at(self.term_features_[t], [np.tile(va, len(vb)),
                                                         np.repeat(vb, len(va))]))
        coef = self._pair_parts[t][0]
        a, b = self.term_features_[t]
        basis_a = self._margins(t, self._at([a], [va]))[0]
        basis_b = self._margins(t, self._at([b], [vb]))[1]
        surface = basis_b @ (basis_a @ coef).T
        surface = surface - self._pair_average(t, va, True)[None, :] \
            - self._pair_average(t, vb, False)[:, None] + 2 * self.pair_levels_[t]
        return surface - self.term_means_[t]

    def _raw_terms(self, X, terms=None):
        """Term values before centring; pair surfaces purified into their main effects. Only
        the given terms' columns are filled when ``terms`` is given, the others are 0."""
        X = self._checked(X)
        n_features = X.shape[1]
        wanted = np.zeros(len(self.term_features_), dtype=bool)
        wanted[list(range(len(wanted))) if terms is None else list(terms)] = True
        parts = np.zeros((X.shape[0], len(self.term_features_)))
        for j in np.flatnonzero(wanted[:n_features]):
            parts[:, j] = self._main(j, X)
        for t in range(n_features, len(self.term_features_)):
            a, b = self.term_features_[t]
            if not (wanted[t] or wanted[a] or wanted[b]):
                continue
            coef, mean_a, mean_b = self._pair_parts[t]
            basis_a, basis_b = self._margins(t, X)
            along_a = basis_a @ (coef @ mean_b)
            along_b = basis_b @ (mean_a @ coef)
            level = self.pair_levels_[t]
            parts[:, a] += along_a - level
            parts[:, b] += along_b - level
            if wanted[t]:
                parts[:, t] = np.einsum("ik,kl,il->i", basis_a, coef, basis_b) \
                    - along_a - along_b + 2 * level
        return parts

    def eval_terms(self, X, terms=None):
        """Each term's centred contribution for the rows of X, (n, number of terms); or, with
        ``terms`` (term positions), only those terms' contributions, (n, len(terms))."""
        check_is_fitted(self, "gam_")
        X = validate_data(self, X, dtype=float, reset=False)
        if terms is None:
            return self._raw_terms(X) - self.term_means_
        terms = [int(t) for t in terms]
        return self._raw_terms(X, terms)[:, terms] - self.term_means_[terms]

    def _predictor(self, X):
        """The additive predictor: the prediction of a regressor, the logit of ``classes_[1]``
        for a classifier."""
        check_is_fitted(self, "gam_")
        return self.intercept_ + self.eval_terms(X).sum(axis=1)


class SplineRegressorMixin(RegressorMixin):
    _classifier = False

    def predict(self, X):
        return self._predictor(X)


class SplineClassifierMixin(BinaryOnly, ClassifierMixin):
    _classifier = True

    def decision_function(self, X):
        """The logit of ``classes_[1]`` for each row of X."""
        return self._predictor(X)

    def predict_proba(self, X):
        p = 1.0 / (1.0 + np.exp(-self.decision_function(X)))
        return np.column_stack([1 - p, p])

    def predict(self, X):
        positive = self.decision_function(X) > 0
        return self.classes_[positive.astype(int)]
