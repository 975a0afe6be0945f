"""Row samples that keep both classes of a classification.

A sample is drawn plainly with the seed first, so that the sample of a regression, and of a
classification where that draw holds enough of each class, stays the one it always was. A class
of which the draw holds fewer than ``CLASS_ROWS`` rows (fewer than all its rows, where it has
fewer than that) takes the rows it lacks, drawn with the same generator, in place of as many
drawn rows of the other class: a rare class is in the sample with every one of its rows, up to
``CLASS_ROWS`` and half the sample. A model fitted on such a sample weights its rows by
``class_weights``, so that it still sees each class in its share of all the rows.
"""

import numpy as np

# Rows of each class that a sample holds at least (all of them, for a class of fewer). A score
# of a classifier on a handful of positive rows is noisy; on none it is undefined (ROC AUC),
# and a model fitted on none predicts the class nowhere.
CLASS_ROWS = 50


def draw(count, limit, generator, labels=None, least=CLASS_ROWS):
    """(positions among ``count`` rows in ascending order, whether the classes' shares were
    changed): all of them up to ``limit``, else ``limit`` of them drawn with ``generator`` (a
    ``numpy.random.RandomState``), with the rows of a class of two that the draw left short of
    ``least`` added in place of drawn rows of the other (``labels``: each row's class)."""
    if count <= limit:
        return np.arange(count), False
    chosen = generator.choice(count, limit, replace=False)
    if labels is None:
        return np.sort(chosen), False
    labels = np.asarray(labels)
    classes, totals = np.unique(labels, return_counts=True)
    taken = np.zeros(count, dtype=bool)
    taken[chosen] = True
    for label, need in zip(classes, np.minimum(totals, min(least, limit // 2))):
        lacking = need - np.count_nonzero(labels[chosen] == label)
        if lacking > 0:
            added = generator.choice(np.flatnonzero((labels == label) & ~taken), lacking,
                                     replace=False)
            # both classes cannot fall short: each needs at most half the sample
            others = chosen[labels[chosen] != label]
            dropped = generator.choice(others, lacking, replace=False)
            chosen = np.concatenate([np.setdiff1d(chosen, dropped), added])
            return np.sort(chosen), True
    return np.sort(chosen), False


def class_weights(labels, rows):
    """A weight per row of the sample ``rows``: its class's share of all the rows over its share
    of the sample. A fit so weighted sees each class in its share of all the rows; the weights
    average 1."""
    labels = np.asarray(labels)
    classes, inverse, counts = np.unique(labels[rows], return_inverse=True, return_counts=True)
    shares = np.array([np.count_nonzero(labels == label) for label in classes]) / len(labels)
    return (shares / (counts / len(rows)))[inverse.ravel()]
