"""The features that the families whose cost grows faster than the columns work on, on a wide
table.

The boosting machine searches every pair of features for interactions, and the GAMs fit a
spline basis per feature and screen pairs among them: on a table of hundreds of features and a
few hundred rows they take many minutes and fit noise. Where a table has more than
``SCREEN_FEATURES`` features, those families use the ``SCREEN_FEATURES`` features that a fast
screen of the training split ranks strongest; the other families (linear models, trees, the
ReLU network) use every feature.

The screen ranks each feature by the share of the target's variance that its bins explain,
adjusted for the number of bins (an adjusted R² of a step function): a numeric feature in
``SCREEN_BINS`` quantile bins (its values, where it takes fewer), a categorical feature by its
levels. A step function sees a curve or a U as well as a line; a feature that acts only
together with another is not seen, and is left out if nothing else ranks it up.
"""

import numpy as np

from . import explain
from .base_family import Family
from .notes import joined, named

# Features that the screened families use at most; a table with more is screened.
SCREEN_FEATURES = 50
# Quantile bins of a numeric feature in the screen.
SCREEN_BINS = 10
# Training rows that the screen reads at most (sampled with the experiment's seed).
SCREEN_ROWS = 20000


def _bins(column, categorical):
    """The bin of each value of a column: its code, else its quantile bin."""
    if categorical:
        return np.unique(column, return_inverse=True)[1]
    values = np.unique(column)
    if len(values) <= SCREEN_BINS:
        return np.searchsorted(values, column)
    edges = np.unique(np.quantile(column, np.linspace(0, 1, SCREEN_BINS + 1)[1:-1]))
    return np.searchsorted(edges, column, side="right")


def strength(column, target, categorical=False):
    """The share of the target's variance that the column's bins explain, adjusted for their
    number: 0 or below for a column that explains no more than bins of noise would."""
    n = len(target)
    bins = _bins(column, categorical)
    counts = np.bincount(bins)
    sums = np.bincount(bins, weights=target)
    used = counts > 0
    k = int(used.sum())
    total = float(np.sum((target - target.mean()) ** 2))
    if k < 2 or n - k < 1 or total == 0:
        return 0.0
    between = float(np.sum(sums[used] ** 2 / counts[used]) - sums.sum() ** 2 / n)
    return 1.0 - (1.0 - between / total) * (n - 1) / (n - k)


def screen(inputs, target, categorical, limit=None):
    """(the positions of the ``limit`` (``SCREEN_FEATURES``) strongest columns of ``inputs``,
    in column order; every column's strength), or (None, strengths) when there are no more
    columns than ``limit``. ``categorical``: the positions of the columns of codes. Ties go to
    the earlier column."""
    limit = SCREEN_FEATURES if limit is None else limit
    target = np.asarray(target, dtype=float)
    strengths = np.array([strength(inputs[:, j], target, j in categorical)
                          for j in range(inputs.shape[1])])
    if inputs.shape[1] <= limit:
        return None, strengths
    order = np.lexsort((np.arange(len(strengths)), -strengths))
    return np.sort(order[:limit]), strengths


def screen_table(dataset, inputs, random_state, families):
    """(the positions of the features that the screened families use, the note that says so),
    or (None, None) on a table of at most ``SCREEN_FEATURES`` features. ``inputs()``: the
    models' input matrix of every row; ``families``: name -> family."""
    if dataset.n_features <= SCREEN_FEATURES:
        return None, None
    rows = explain.sample_rows(dataset.train_index, random_state, SCREEN_ROWS,
                               dataset.encoded_target(dataset.train_index)
                               if dataset.task == "classification" else None)
    categorical = {dataset.feature_names.index(name) for name in dataset.categorical_features}
    used, strengths = screen(inputs()[rows], dataset.encoded_target(rows), categorical)
    names = dataset.feature_names
    strongest = [names[j] for j in sorted(used, key=lambda j: (-strengths[j], j))]
    screened = [name for name, family in families.items() if family.screened]
    others = [name for name, family in families.items()
              if not family.screened and name != Family.name]
    note = ("%s use the %d of the %s features that a screen of the training split ranks "
            "strongest (the share of the target's variance that each one's bins explain): %s; "
            "the others have no effect and no importance in those models, and %s use every "
            "feature" % (joined(screened), len(used), format(len(names), ","),
                         named([repr(name) for name in strongest]), joined(others)))
    return used, note

