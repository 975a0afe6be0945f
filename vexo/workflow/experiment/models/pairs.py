"""The numerics of trying a feature pair beside fitted main effects: the screening gain of a
2 x 2 surface, the penalised fit of a surface beside a fixed offset, and the losses that decide
whether a pair is kept."""

import numpy as np
from scipy.special import expit


def _fast_gain(bins_a, bins_b, residual, weights, smallest):
    """The largest interaction gain over all cuts of two binned features that leave at least
    ``smallest`` rows in each quadrant. ``residual`` holds the weighted residuals w z. With
    their sums S and the sums W of the weights in the four quadrants, the contrast
    m00 - m01 - m10 + m11 of the weighted means m = S / W of z gains its square over the sum
    of 1 / W: what a 2 x 2 table fits of z beyond its row and column effects."""
    (codes_a, n_a), (codes_b, n_b) = bins_a, bins_b
    if n_a < 2 or n_b < 2:
        return 0.0
    cells = codes_a * n_b + codes_b

    def quadrants(values):
        # cumulative sums: [i, j] sums the cells of bins up to i of a and up to j of b
        total = np.bincount(cells, weights=values, minlength=n_a * n_b).reshape(n_a, n_b) \
            .cumsum(axis=0).cumsum(axis=1)
        low_low = total[:-1, :-1]
        low_high = total[:-1, -1:] - low_low
        high_low = total[-1:, :-1] - low_low
        return low_low, low_high, high_low, total[-1, -1] - low_low - low_high - high_low

    sums, masses = quadrants(residual), quadrants(weights)
    counts = quadrants(np.ones(len(residual)))
    usable = np.logical_and.reduce([c >= smallest for c in counts] + [m > 0 for m in masses])
    if not usable.any():
        return 0.0
    with np.errstate(divide="ignore", invalid="ignore"):
        means = [s / m for s, m in zip(sums, masses)]
        contrast = means[0] - means[1] - means[2] + means[3]
        gain = contrast ** 2 / sum(1 / m for m in masses)
    return float(np.max(gain[usable]))


def _fit_surface(basis, penalty, offset, target, classifier, max_iter, tol):
    """Coefficients of one penalised surface added to a fixed offset: penalised least squares,
    or for a classifier penalised iteratively reweighted least squares of the logit."""
    penalty = penalty + 1e-8 * np.eye(len(penalty))
    if not classifier:
        return np.linalg.solve(basis.T @ basis + penalty, basis.T @ (target - offset))
    coef = np.zeros(basis.shape[1])
    for _ in range(max_iter):
        fitted = basis @ coef
        p = expit(offset + fitted)
        weights = np.maximum(p * (1 - p), 1e-6)
        new = np.linalg.solve(basis.T @ (weights[:, None] * basis) + penalty,
                              basis.T @ (weights * fitted + target - p))
        done = np.max(np.abs(new - coef)) <= tol * (1 + np.max(np.abs(coef)))
        coef = new
        if done:
            break
    return coef


def _row_losses(target, eta, classifier):
    """Squared error of a prediction, or log loss of a logit, on each row."""
    if classifier:
        return np.logaddexp(0, eta) - target * eta
    return (target - eta) ** 2
