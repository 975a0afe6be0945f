"""The target of an experiment: which rows have one, and what a model of it predicts.

The target is decided from a ``TargetSummary``: the counts and extremes that a table's rows
give, one partition at a time where the table is partitioned (``summarize`` each, ``merge``
them), so that a table read whole and the same table on a cluster are decided alike.
"""

import numpy as np
import pandas as pd
from pandas.api import types as ptypes

from .notes import Note, joined

# Rows that the positive class, and the rest, need at least: fewer leave a split with one or
# two of them on the test side, and nothing that an explanation of them could rest on.
MIN_CLASS_ROWS = 5
# Labels named in a message before it says how many more there are.
_LABELS_SHOWN = 10
# Classes that tie as the most frequent named in the class note before "and N more".
_TIES_SHOWN = 4


def _native(value):
    return value.item() if isinstance(value, np.generic) else value


def _label_order(value):
    # Numbers in numeric order (9 before 10), anything else by its type and text.
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        return (0, "", float(value), "")
    return (1, str(type(value)), 0.0, str(value))


def _label_list(labels):
    shown = ", ".join(repr(v) for v in labels[:_LABELS_SHOWN])
    if len(labels) > _LABELS_SHOWN:
        shown += ", ... (%d labels)" % len(labels)
    return shown


def _find_label(labels, wanted):
    """The label of ``labels`` equal to ``wanted`` as Python compares them (2 is not "2")."""
    for label in labels:
        if isinstance(label, str) != isinstance(wanted, str):
            continue
        try:
            if bool(label == wanted):
                return label
        except (TypeError, ValueError):
            continue
    return None


def _rest_label(positive, labels):
    """A text for every class but the positive one that no label of the target already is."""
    rest, taken = "not %s" % (positive,), {str(v) for v in labels}
    while rest in taken:
        rest = "(%s)" % rest
    return rest


def target_classes(column):
    """The labels of a target column of classes (its gaps left out) in sorted order, and the
    count of each."""
    counts = summarize(column, "classification").labels
    return sorted(counts, key=_label_order), counts


def most_frequent(labels, counts):
    """The labels (in their order) that share the largest count."""
    top = max(counts[label] for label in labels)
    return [label for label in labels if counts[label] == top]


def _class_note(positive, labels, counts, chosen):
    """The note on the class that a classification of more than two classes explains."""
    template = "classification of %(positive)r against the rest (%(classes)d classes; "
    tied = most_frequent(labels, counts)
    if chosen:
        template += "chosen with %(positive_class)s)"
    elif len(tied) == 1:
        template += "the most frequent; choose with %(positive_class)s)"
    else:
        template += ("%(tied)s tie as the most frequent with %(rows)s rows each: the first in "
                     "sorted order; choose with %(positive_class)s)")
    shown = [repr(label) for label in tied[:_TIES_SHOWN]]
    if len(tied) > _TIES_SHOWN:
        shown.append("%d more" % (len(tied) - _TIES_SHOWN))
    return Note(template, positive=positive, classes=len(labels), rows="{:,}".format(
        counts[positive]), tied=joined(shown))


class TargetSummary:
    """What decides a target, of some rows: ``rows`` (all of them), ``missing`` (those without
    a target); for a regression whether its dtype is numeric (``numeric``, with the dtype's
    name), the count of infinite values, the extremes and the mean and sum of squared
    deviations of the rest (Chan's merge); for a classification the count of each label."""

    def __init__(self, rows, missing, dtype, numeric=True, infinite=0, low=np.inf,
                 high=-np.inf, count=0, mean=0.0, squares=0.0, labels=None):
        self.rows, self.missing, self.dtype, self.numeric = rows, missing, dtype, numeric
        self.infinite, self.low, self.high = infinite, low, high
        self.count, self.mean, self.squares = count, mean, squares
        self.labels = labels


def summarize(column, task):
    """The ``TargetSummary`` of a column of target values."""
    missing = column.isna().to_numpy()
    kept = column[~missing]
    if task == "classification":
        counts = pd.Series(kept.to_numpy(dtype=object)).map(_native).value_counts(sort=False)
        return TargetSummary(len(column), int(missing.sum()), str(column.dtype),
                             labels=dict(counts))
    if not ptypes.is_numeric_dtype(column.dtype) or ptypes.is_bool_dtype(column.dtype) \
            or ptypes.is_complex_dtype(column.dtype):
        return TargetSummary(len(column), int(missing.sum()), str(column.dtype), numeric=False)
    values = kept.to_numpy(dtype=float)
    infinite = int(np.isinf(values).sum())
    if not len(values):
        return TargetSummary(len(column), int(missing.sum()), str(column.dtype),
                             infinite=infinite)
    with np.errstate(over="ignore", invalid="ignore"):
        mean = np.mean(values)
        # what a score and a fit of least squares sum up
        squares = np.sum((values - mean) ** 2)
    return TargetSummary(len(column), int(missing.sum()), str(column.dtype), True, infinite,
                         values.min(), values.max(), len(values), mean, squares)


def merge(a, b):
    """The ``TargetSummary`` of the rows of ``a`` and those of ``b``."""
    merged = TargetSummary(a.rows + b.rows, a.missing + b.missing, a.dtype,
                           a.numeric and b.numeric, a.infinite + b.infinite,
                           min(a.low, b.low), max(a.high, b.high), a.count + b.count)
    if a.labels is not None:
        merged.labels = dict(a.labels)
        for label, count in b.labels.items():
            merged.labels[label] = merged.labels.get(label, 0) + count
    if merged.count:
        with np.errstate(over="ignore", invalid="ignore"):
            delta = b.mean - a.mean
            merged.mean = a.mean + delta * b.count / merged.count
            merged.squares = a.squares + b.squares + delta ** 2 * a.count * b.count / \
                merged.count
    return merged


def decide_target(summary, target, task, positive_class, notes):
    """The two classes of a classification (label of 0, label of 1), None for a regression,
    as the ``TargetSummary`` of a table's rows decides them. Appends what it did to ``notes``;
    refuses with a ValueError a target that leaves nothing to explain."""
    if summary.missing == summary.rows:
        raise ValueError("target column %r has no values: it is missing in all %d rows"
                         % (target, summary.rows))
    if summary.missing:
        notes.append("dropped %d row%s whose target is missing"
                     % (summary.missing, "" if summary.missing == 1 else "s"))
    if task == "regression":
        _check_regression(summary, target, positive_class)
        return None
    counts = summary.labels
    labels = sorted(counts, key=_label_order)
    if len(labels) < 2:
        raise ValueError("classification needs a target of at least two classes; column %r "
                         "takes the single value %r" % (target, labels[0]))
    if positive_class is not None:
        positive = _find_label(labels, positive_class)
        if positive is None:
            hint = ""
            if any(str(v) == str(positive_class) for v in labels):
                hint = " (%r and %r differ: give the label as the table holds it)" % (
                    positive_class, next(v for v in labels if str(v) == str(positive_class)))
            raise ValueError("positive_class %r is not a label of the target %r; its labels "
                             "are %s%s" % (positive_class, target, _label_list(labels), hint))
    elif len(labels) == 2:
        positive = labels[1]
    else:
        positive = most_frequent(labels, counts)[0]
    if len(labels) == 2:
        classes = [v for v in labels if v is not positive] + [positive]
    else:
        classes = [_rest_label(positive, labels), positive]
        notes.append(_class_note(positive, labels, counts, positive_class is not None))

    n_positive = int(counts[positive])
    rest = "class %r" % (classes[0],) if len(labels) == 2 else \
        "the classes other than %r together" % (positive,)
    kept = summary.rows - summary.missing
    for name, rows in (("class %r" % (positive,), n_positive), (rest, kept - n_positive)):
        if rows < MIN_CLASS_ROWS:
            raise ValueError("%s of the target %r: %d row%s; a classification needs at least %d "
                             "of the positive class and %d of the rest"
                             % (name, target, rows, "" if rows == 1 else "s",
                                MIN_CLASS_ROWS, MIN_CLASS_ROWS))
    return np.array(classes, dtype=object)


def _check_regression(summary, target, positive_class):
    if positive_class is not None:
        raise ValueError("positive_class is for a classification; the target %r is a "
                         "regression's" % (target,))
    if not summary.numeric:
        raise ValueError("regression needs a numeric target; column %r has dtype %s"
                         % (target, summary.dtype))
    if summary.infinite:
        raise ValueError("target column %r holds infinite values in %d row%s"
                         % (target, summary.infinite, "" if summary.infinite == 1 else "s"))
    if summary.low == summary.high:
        raise ValueError("the regression target %r takes the single value %.6g in every "
                         "row: there is nothing to explain" % (target, summary.low))
    if not np.isfinite(summary.squares):
        raise ValueError("the regression target %r spans %.4g to %.4g: the sum of its "
                         "squares passes the largest double; rescale it (divide it by a "
                         "power of ten)" % (target, summary.low, summary.high))


def prepare_target(data, target, task, positive_class, notes):
    """The rows of ``data`` that have a target, and the two classes of a classification.

    Returns (rows, classes, source_rows): ``rows`` is ``data`` without the rows whose target is
    missing, ``source_rows`` the positions of the kept rows in ``data``, ``classes`` None for
    a regression, else the pair (label of 0, label of 1). A classification of more than two
    classes is one class (``positive_class``, by default the most frequent, the first in
    sorted order of those that tie) against the rest, whose label is the text "not <positive
    class>". Appends what it did to ``notes``; refuses with a ValueError a target that leaves
    nothing to explain.
    """
    classes = decide_target(summarize(data[target], task), target, task, positive_class, notes)
    missing = data[target].isna().to_numpy()
    source_rows = np.flatnonzero(~missing)
    if missing.any():
        data = data.iloc[source_rows]
    return data, classes, source_rows
