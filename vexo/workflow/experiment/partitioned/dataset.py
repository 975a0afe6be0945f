"""The dataset of a table that lives in partitions on a Dask cluster.

The client never holds the table: the workers count its rows, summarise its target and its
columns, split it (``holdout``: by each row's position, so alike however the table is
partitioned) and draw the samples that the client keeps:

- the training sample, on which the models are fitted: every training row up to
  ``TRAIN_SAMPLE`` of them, else about that many drawn by a key of each row's position, each
  class in its share but with at least ``CLASS_SAMPLE`` rows (or all of its rows);
- the test sample, which the views that test a model (permutation importance) read: likewise
  up to ``TEST_SAMPLE`` rows.

What must see every row does so on the workers: the statistics that decide the features
(``profiles``), the split, and the test scores (``aggregates``). A table that fits in both
samples is held whole, and its experiment is the one that the same table in one frame gives.
"""

from functools import reduce

import numpy as np
import pandas as pd

from .. import holdout, profiles, target as targets
from ..columns import prepare_features
from ..dataset import Dataset, check_split, check_table
from . import passes

TRAIN_SAMPLE = 200_000
TEST_SAMPLE = 20_000
CLASS_SAMPLE = 1_000


def compute(step, tasks, watch=()):
    """Compute Dask tasks (a list) on the current scheduler. ``step`` names them, and ``watch``
    holds the tasks whose results ``tasks`` merge, for a caller that shows progress instead
    (``PartitionedDataset(run=...)``)."""
    import dask

    return list(dask.compute(*tasks))


def tree(items, merge):
    """The delayed merge of delayed ``items``, pairwise, so that no task holds more than two
    partitions' results and the client receives one."""
    from dask import delayed

    items = list(items)
    while len(items) > 1:
        items = [delayed(merge)(items[k], items[k + 1]) if k + 1 < len(items) else items[k]
                 for k in range(0, len(items), 2)]
    return items[0]


class PartitionedDataset(Dataset):
    """A ``Dataset`` of a Dask DataFrame: ``data`` holds the client's samples (the training
    sample and the test sample, in the table's order), ``train_index``/``test_index`` their
    positions in it; ``row_positions`` gives each client row's position among the table's rows
    that have a target (what a ``sample_index`` names) and ``source_rows`` its position in the
    user's table. ``n_rows``, ``n_train`` and ``n_test`` count the whole table's rows."""

    partitioned = True
    n_rows = None  # counted over the table, not the rows of ``data``

    def __init__(self, frame, target, task="regression", test_size=0.2, random_state=0,
                 positive_class=None, run=None):
        from dask import delayed

        self.notes = []
        columns = list(frame.columns)
        check_table((1, len(columns)), columns, target, task, test_size)
        self.run = run or compute
        self.frame, self.parts = frame, frame.to_delayed()
        # Partitions read from files number their rows from 0 each: the client's rows are
        # labelled by their position in the table, unless the frame's index tells them apart.
        self.by_source = not frame.known_divisions
        self.target, self.task, self.seed = target, task, random_state
        counted = self.run("counting rows", [delayed(passes.count_rows)(part, target, task)
                                             for part in self.parts])
        rows, kept, summaries = zip(*counted)
        if sum(rows) == 0:
            check_table((0, len(columns)), columns, target, task, test_size)
        summary = reduce(targets.merge, summaries)
        self.classes = targets.decide_target(summary, target, task, positive_class, self.notes)
        self.positive_class = None if self.classes is None else self.classes[1]
        self.n_rows = int(sum(kept))
        self.dropped_rows = int(sum(rows)) - self.n_rows
        check_split(self.n_rows, test_size)
        # where each partition's rows start, among the rows with a target and among all rows
        self.offsets = np.concatenate([[0], np.cumsum(kept)]).astype(np.int64)
        self.source_offsets = np.concatenate([[0], np.cumsum(rows)]).astype(np.int64)
        class_rows = [self.n_rows] if self.classes is None else [
            self.n_rows - summary.labels[self.positive_class],
            summary.labels[self.positive_class]]
        held = holdout.class_test_rows(class_rows, holdout.test_rows(self.n_rows, test_size))
        self.cuts = None  # what the passes that find the cuts see: none yet
        self.cuts = self._cuts(held)
        self.n_test = int(np.sum(held))
        self.n_train = self.n_rows - self.n_test
        self._sample(np.asarray(class_rows) - held, held)

    def __getstate__(self):
        # a progress reporter stays with the process that made it
        state = dict(self.__dict__)
        state["run"] = compute
        return state

    def _positive(self):
        return self.positive_class if self.task == "classification" else None

    def split_of(self, p):
        """Where partition ``p`` lies and how the table is split (``passes.Split``)."""
        return passes.Split(self.target, self.task, self._positive(), self.offsets[p],
                            self.source_offsets[p], self.seed, self.cuts)

    def over_partitions(self, step, function, merge, *arguments):
        """``function(partition, its split, *arguments)`` of every partition, merged."""
        from dask import delayed

        parts = [delayed(function)(part, self.split_of(p), *arguments)
                 for p, part in enumerate(self.parts)]
        return self.run(step, [tree(parts, merge)], watch=parts)[0]

    def profile_numbers(self, source):
        """Whether the column's distinct values are asked as numbers."""
        numbers = self.profile.profiles[source].numbers
        return numbers is not None and not isinstance(numbers, Exception)

    def positions(self, rows):
        return self.row_positions[rows]

    def count_patterns(self, layers, patterns):
        """How many training rows of the table take each of the activation ``patterns`` of
        the network of ``layers``."""
        from dask import delayed

        from .aggregates import Encoder

        return self.over_partitions("local linear models", passes.pattern_counts, np.add,
                                    delayed(Encoder(self)), layers, patterns)

    def count_densities(self, densities):
        """Count the data drawn under main effects ((feature, {"names", "scores"}) each) over
        every training row: their shares of the rows in each bin become the "scores"."""
        if len(self.train_index) == self.n_train or not densities:
            return  # the client holds every training row, which the models counted
        from dask import delayed

        from .aggregates import Encoder

        wanted = [(self.feature_names.index(name), np.asarray(density["names"], dtype=float),
                   len(density["scores"])) for name, density in densities]
        counts = self.over_partitions("data under the effects", passes.training_counts,
                                      passes.add_counts, delayed(Encoder(self)), wanted)
        for (_, density), found in zip(densities, counts):
            density["scores"] = found / float(max(found.sum(), 1))

    def _cuts(self, held):
        """The largest held-out key of each class (None where a class holds none out)."""
        counts = self.over_partitions("splitting", passes.bucket_counts, np.add)
        where = [holdout.cut_from_buckets(counts[c], int(k)) for c, k in enumerate(held)]
        found = self.over_partitions("splitting: the cut", passes.keys_in_buckets,
                                     passes.joined_keys,
                                     [None if w is None else w[0] for w in where])
        return [None if w is None else holdout.cut_in_bucket(keys, w[1])
                for keys, w in zip(found, where)]

    def _sample(self, train_rows, test_rows):
        """Profile the columns and draw the samples; prepare the client's rows."""
        rates = {"train": _rates(train_rows, TRAIN_SAMPLE),
                 "test": _rates(test_rows, TEST_SAMPLE)}
        profile, train_target, sample = self.over_partitions(
            "statistics and samples", passes.split_and_sample, passes.merge_samples, rates)
        self.train_target = train_target
        self.profile = profile
        asked = profile.questions()
        while asked:
            # an answer may raise another question
            for kind, source in asked:
                profile.answer(kind, source, self._answer(kind, source))
            asked = profile.questions()
        sample = sample.sort_values(passes.POSITION, kind="stable")
        self.row_positions = sample.pop(passes.POSITION).to_numpy()
        self.source_rows = sample.pop(passes.SOURCE).to_numpy()
        test = sample.pop(passes.TEST).to_numpy()
        if self.by_source:
            sample.index = self.source_rows
        self.train_index, self.test_index = np.flatnonzero(~test), np.flatnonzero(test)
        if len(self.train_index) < self.n_train:
            self.notes.append(
                "the models are fitted on a sample of {:,} of the {:,} training rows{}; the "
                "test scores count all {:,} test rows".format(
                    len(self.train_index), self.n_train,
                    " (every class kept)" if self.task == "classification" else "",
                    self.n_test))
        self.take_features(prepare_features(sample, self.target, self.train_index,
                                            profile=profile))

    def _answer(self, kind, source):
        """What the workers say to a question of the merged column statistics
        (``profiles.TableProfile.questions``)."""
        if kind == "counts":
            return self.over_partitions("statistics", passes.level_counts,
                                        profiles.merged_levels, source)
        numbers = self.profile_numbers(source)
        values = self.frame.map_partitions(
            passes.question_values, [self.split_of(p) for p in range(len(self.parts))],
            source, kind == "distinct_train", numbers,
            meta=pd.Series(dtype=float if numbers else object))
        return int(self.run("statistics", [values.nunique()])[0])

    def row_of(self, position):
        """The client's row of the table's row ``position`` (among those with a target):
        fetched from its partition and kept where the samples lack it."""
        found = np.flatnonzero(self.row_positions == position)
        if len(found):
            return int(found[0])
        return self._fetch(position)

    def _fetch(self, position):
        from dask import delayed

        p = int(np.searchsorted(self.offsets, position, side="right")) - 1
        row, local = self.run("fetching a row", [delayed(passes.row_at)(
            self.parts[p], self.target, position - self.offsets[p])])[0]
        source = int(self.source_offsets[p]) + local
        if self.by_source:
            row.index = [source]
        prepared = prepare_features(row, self.target, np.array([], dtype=int),
                                    profile=self.profile)
        self.data = pd.concat([self.data, prepared.data])
        self.row_positions = np.append(self.row_positions, position)
        self.source_rows = np.append(self.source_rows, source)
        return len(self.data) - 1


def _rates(rows, limit):
    """The share of each class's rows that a sample of about ``limit`` rows draws."""
    rows = np.asarray(rows, dtype=float)
    total = rows.sum()
    if total <= limit:
        return np.ones(len(rows))
    share = np.full(len(rows), limit / total)
    return np.minimum(1.0, np.maximum(share, CLASS_SAMPLE / np.maximum(rows, 1)))
