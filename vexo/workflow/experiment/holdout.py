"""The train/test split: which rows are held out for testing.

A row's side is decided by its position in the table and the seed alone, not by the other rows'
order in memory, so that a table read whole into one frame and the same table read as many
partitions on a cluster split alike:

- every row gets a 64-bit key, a bijective mix of its position and the seed (``row_keys``), so
  that no two rows of a table share one;
- a regression holds out the ``ceil(test_size * n)`` rows of the smallest keys; a classification
  does so within each class, its share of the test rows given by ``class_test_rows`` (the
  largest remainders of the proportional shares), so that both sides keep the classes' shares.

A partitioned table finds each class's cut in two passes over its keys (``key_buckets`` counts
them by their leading bits, ``cut_from_buckets`` and ``cut_in_bucket`` find the last key held
out): the client holds counts and a bucket's keys, never a key per row.
"""

import numpy as np

_GOLDEN = np.uint64(0x9E3779B97F4A7C15)
_MIX1 = np.uint64(0xBF58476D1CE4E5B9)
_MIX2 = np.uint64(0x94D049BB133111EB)
# The leading bits that bucket the keys of a partitioned table: 65,536 buckets, so that the
# bucket holding a cut holds about one key in 65,536.
BUCKET_BITS = 16


def row_keys(positions, seed):
    """The key of each row position (splitmix64 of the position and the seed): uniform,
    distinct for distinct positions."""
    with np.errstate(over="ignore"):
        z = np.asarray(positions, dtype=np.uint64) + np.uint64(seed) * _GOLDEN + _GOLDEN
        z = (z ^ (z >> np.uint64(30))) * _MIX1
        z = (z ^ (z >> np.uint64(27))) * _MIX2
        return z ^ (z >> np.uint64(31))


def test_rows(n, test_size):
    """How many of ``n`` rows a split of ``test_size`` holds out."""
    return int(np.ceil(test_size * n))


def class_test_rows(counts, n_test):
    """The test rows of each class (``counts``: rows of each), in proportion to its rows, the
    rows left by rounding down going to the largest remainders (the first class on a tie); no
    class gives all its rows."""
    counts = np.asarray(counts, dtype=np.int64)
    share = counts * n_test / float(counts.sum())
    taken = np.floor(share).astype(np.int64)
    order = np.argsort(-(share - taken), kind="stable")
    for k in order[:n_test - int(taken.sum())]:
        taken[k] += 1
    return np.minimum(taken, counts - 1)


def held_out(keys, held):
    """Whether each key is among the ``held`` smallest."""
    mask = np.zeros(len(keys), dtype=bool)
    if held:
        mask[np.argpartition(keys, held - 1)[:held]] = True
    return mask


def split_positions(n, test_size, seed, labels=None):
    """(train, test): the sorted row positions of each side of a table of ``n`` rows; with
    ``labels`` (each row's class, 0/1) the test rows of each class are its share."""
    keys = row_keys(np.arange(n), seed)
    n_test = test_rows(n, test_size)
    test = np.zeros(n, dtype=bool)
    if labels is None:
        test = held_out(keys, n_test)
    else:
        labels = np.asarray(labels)
        classes = np.unique(labels)
        held = class_test_rows([np.sum(labels == c) for c in classes], n_test)
        for c, k in zip(classes, held):
            rows = np.flatnonzero(labels == c)
            test[rows[held_out(keys[rows], k)]] = True
    return np.flatnonzero(~test), np.flatnonzero(test)


def _buckets(keys):
    """Each key's bucket: its leading ``BUCKET_BITS`` bits."""
    return (keys >> np.uint64(64 - BUCKET_BITS)).astype(np.int64)


def key_buckets(keys):
    """How many keys fall in each of the 2**BUCKET_BITS buckets."""
    return np.bincount(_buckets(keys), minlength=2 ** BUCKET_BITS)


def cut_from_buckets(counts, held):
    """(bucket, rank): the bucket that holds the ``held``-th smallest key and that key's rank
    within it (1 for its smallest); None where nothing is held out."""
    if held == 0:
        return None
    totals = np.cumsum(counts)
    bucket = int(np.searchsorted(totals, held))
    return bucket, held - (int(totals[bucket - 1]) if bucket else 0)


def in_bucket(keys, bucket):
    return keys[_buckets(keys) == bucket]


def cut_in_bucket(bucket_keys, rank):
    """The largest key held out: the ``rank``-th smallest of its bucket's keys."""
    return np.partition(np.asarray(bucket_keys, dtype=np.uint64), rank - 1)[rank - 1]
