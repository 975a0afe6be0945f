"""What each partition of a partitioned table computes, on the worker that holds it.

Every function here takes one partition (a pandas frame of the user's rows, in the table's
order) with the positions that the table's earlier partitions give it, and returns what the
client needs of it: counts, summaries, the few rows of a sample. Nothing returns a value per
row of the partition but the sampled rows themselves.
"""

from collections import namedtuple

import numpy as np
import pandas as pd

from .. import holdout, profiles, target as targets
from ..features import floats, objects

# The key of the samples is drawn with this added to the seed, so that which rows are sampled
# does not follow which rows are held out.
SAMPLE_SALT = 0x5A3C9E1
POSITION, SOURCE, TEST = "__vexo_position", "__vexo_source", "__vexo_test"


# Where a partition lies and how the table is split: the target column, the task, the positive
# class (None for a regression), the positions of the partition's first row among the table's
# rows with a target (``offset``) and among all its rows (``source``), the seed, and the largest
# held-out key of each class (``cuts``: None before they are found, None for a class that holds
# none out).
Split = namedtuple("Split", "target task positive offset source seed cuts")


def kept(frame, target):
    """The partition's rows that have a target."""
    return frame[frame[target].notna().to_numpy()]


def classes_of(frame, split):
    """Each row's class, 0/1 (the positive class 1); None for a regression."""
    if split.positive is None:
        return None
    return (frame[split.target].to_numpy(dtype=object) == split.positive).astype(np.int64)


def keys_of(frame, split, salt=0):
    """The keys of the partition's rows with a target (``frame`` holds only them): the split's,
    or with a ``salt`` added to the seed the samples'."""
    return holdout.row_keys(np.arange(split.offset, split.offset + len(frame)),
                            split.seed + salt)


def test_mask(frame, split):
    """Whether each row with a target (``frame`` holds only them) is held out for testing."""
    keys, labels = keys_of(frame, split), classes_of(frame, split)
    mask = np.zeros(len(frame), dtype=bool)
    for c, cut in enumerate(split.cuts):
        if cut is not None:
            own = np.ones(len(frame), dtype=bool) if labels is None else labels == c
            mask |= own & (keys <= cut)
    return mask


def side(frame, split, test):
    """The partition's rows with a target on one side of the split."""
    frame = kept(frame, split.target)
    mask = test_mask(frame, split)
    return frame[mask if test else ~mask]


def count_rows(frame, target, task):
    """(rows, rows with a target, their ``target.TargetSummary``)."""
    summary = targets.summarize(frame[target], task)
    return len(frame), summary.rows - summary.missing, summary


def _class_keys(frame, split):
    """The split keys of the partition's rows with a target, those of each class apart."""
    frame = kept(frame, split.target)
    keys, labels = keys_of(frame, split), classes_of(frame, split)
    return [keys] if labels is None else [keys[labels == c] for c in (0, 1)]


def bucket_counts(frame, split):
    """The split keys' bucket counts of each class (one class for a regression)."""
    return np.stack([holdout.key_buckets(keys) for keys in _class_keys(frame, split)])


def keys_in_buckets(frame, split, buckets):
    """The split keys of each class that fall in its cut's bucket (``buckets``: one per class,
    None where the class holds nothing out)."""
    return [keys[:0] if bucket is None else holdout.in_bucket(keys, bucket)
            for keys, bucket in zip(_class_keys(frame, split), buckets)]


def joined_keys(a, b):
    return [np.concatenate(pair) for pair in zip(a, b)]


def split_and_sample(frame, split, rates):
    """The partition's column statistics (``profiles.profile_frame``), the
    ``TargetSummary`` of its training rows, and its sampled rows: training rows where their
    sample key falls under their class's rate (``rates["train"][class]``), test rows likewise,
    with their positions among the rows with a target and in the user's table (``POSITION``,
    ``SOURCE``) and their side (``TEST``)."""
    present = frame[split.target].notna().to_numpy()
    sources = split.source + np.flatnonzero(present)
    frame = frame[present]
    test = test_mask(frame, split)
    profile = profiles.profile_frame(frame, split.target, ~test)
    train_target = targets.summarize(frame[split.target][~test], split.task)
    sample_keys = keys_of(frame, split, SAMPLE_SALT)
    labels = classes_of(frame, split)
    labels = np.zeros(len(frame), dtype=np.int64) if labels is None else labels
    chosen = np.zeros(len(frame), dtype=bool)
    for name, rows in (("train", ~test), ("test", test)):
        limit = np.asarray(rates[name], dtype=float)[labels]
        chosen |= rows & ((limit >= 1) | (sample_keys.astype(float) < limit * 2.0 ** 64))
    sample = frame[chosen].copy()
    sample[POSITION] = split.offset + np.flatnonzero(chosen)
    sample[SOURCE] = sources[chosen]
    sample[TEST] = test[chosen]
    return profile, train_target, sample


def merge_samples(a, b):
    """Two partitions' ``split_and_sample`` results as one."""
    return (profiles.merge(a[0], b[0]), targets.merge(a[1], b[1]),
            pd.concat([a[2], b[2]]))


def training_counts(frame, split, encode, wanted):
    """How many of the partition's training rows fall in each bin of each density: ``wanted``
    holds (column of the model input, the density's "names", its count of bins); names one
    more than the bins are bin edges (values beyond them count in the end bins), else the
    places of the bins (a value counts at the nearest)."""
    X = encode(side(frame, split, test=False))
    counts = []
    for j, names, bins in wanted:
        values = X[:, j]
        if len(names) == bins + 1:
            where = np.searchsorted(names, values, side="right") - 1
        else:
            middles = (names[1:] + names[:-1]) / 2
            where = np.searchsorted(middles, values)
        counts.append(np.bincount(np.clip(where, 0, bins - 1), minlength=bins))
    return counts


def add_counts(a, b):
    return [x + y for x, y in zip(a, b)]


def pattern_counts(frame, split, encode, layers, patterns):
    """How many of the partition's training rows take each of the activation ``patterns``."""
    from ..models.relu_dnn import relu_forward

    _, found = relu_forward(layers, encode(side(frame, split, test=False)))
    known = {np.packbits(row).tobytes(): k for k, row in enumerate(patterns)}
    counts = np.zeros(len(patterns), dtype=np.int64)
    keys, seen = np.unique(np.packbits(found, axis=1), axis=0, return_counts=True)
    for key, count in zip(keys, seen):
        k = known.get(key.tobytes())
        if k is not None:
            counts[k] += count
    return counts


def level_counts(frame, split, source):
    """(training value counts, all rows' value counts) of a column's levels, gaps left out, in
    the order in which the levels first come."""
    frame = kept(frame, split.target)
    held = frame[source].astype(object)
    known = held.notna().to_numpy()
    train = ~test_mask(frame, split)
    return (held[known & train].value_counts(sort=False),
            held[known].value_counts(sort=False))


def question_values(frame, splits, source, train_only, numbers, partition_info=None):
    """The values of a column whose distinct count is asked: its numbers as doubles (gaps and
    infinities left out) or its levels, of the rows with a target or only training rows."""
    split = splits[partition_info["number"]]
    rows = side(frame, split, test=False) if train_only else kept(frame, split.target)
    if numbers:
        values = floats(rows[source])
        return pd.Series(values[~np.isnan(values)])
    return pd.Series(objects(rows[source].dropna()), dtype=object)


def row_at(frame, target, local):
    """The partition's ``local``-th row with a target, as a frame of one row, and its position
    among all the partition's rows."""
    present = np.flatnonzero(frame[target].notna().to_numpy())
    return frame.iloc[[present[local]]], int(present[local])
