"""The table of an experiment: its features, its target and its train/test split."""

import numpy as np
import pandas as pd

from ..names import reads_as_pair
from ..plots.text import ELLIPSIS, WORD, shorten, word_ends
from .columns import is_reserved, prepare_features
from .holdout import split_positions, test_rows
from .target import prepare_target

TASKS = ("regression", "classification")


# The widths of a feature's display names. Where a figure has little room for a name (the node
# of a tree, a tick label, the title of a panel) it shows the name of ``DISPLAY_WIDTH``: the
# names of most tables fit whole (27 of breast cancer's 30, all of diabetes'). A pair of
# features is named by names of ``PAIR_WIDTH``, which the bars of effects wrap beside their
# features' main effects under their whole names: up to it, a feature reads the same in both.
DISPLAY_WIDTH = 20
PAIR_WIDTH = 40


def _blank_free(text):
    return " ".join(text.split())


# Words of a name past which a word that tells it apart from names of the same shortened form
# is not looked for.
_WORDS_SEARCHED = 12


def _words(text):
    """(start, end) of each word of the text."""
    return [(m.start(), m.end()) for m in WORD.finditer(text)]


def _keys(text, spans, width):
    """What could tell the name ``text`` apart, in the order of preference, each with the part
    of the name it shows: its last words (as many as leave room for a head), then one or two
    words from its middle."""
    keys = []
    for k in range(1, len(spans)):
        start = spans[-k][0]
        if len(text) - start > width - 2:
            break
        keys.append((("tail", text[start:]), start, len(text)))
    for count in (1, 2):
        for first in range(1, min(len(spans) - count, _WORDS_SEARCHED)):
            start, end = spans[first][0], spans[first + count - 1][1]
            keys.append((("run", first, text[start:end]), start, end))
    return keys


def _shown_part(text, start, end, width):
    """The name's leading words that fit, "…", its words from ``start`` to ``end`` and, if
    more follow them, "…" again ("sensor reading… 12", "Annual… before…"); None where not even
    three letters of its head fit."""
    part = (" " if text[start - 1] == " " else "") + text[start:end]
    if end < len(text):
        part += ELLIPSIS
    room = min(width - len(ELLIPSIS) - len(part), start - 1)
    if room < min(3, start - 1):
        return None
    ends = word_ends(text, room)
    return text[:ends[-1] if ends else room] + ELLIPSIS + part


def _told_apart(names, width, free):
    """Display names for names whose shortened forms read the same: each shows, after the
    "…", its last words, else a word of its middle, that no other of them has there ("sensor
    reading… 12", "Annual… before…"); the names that no such form tells apart are left out."""
    texts = {name: name.strip() for name in names}
    keys = {name: _keys(text, _words(text), width) for name, text in texts.items()}
    counts = {}
    for found in keys.values():
        for key in set(key for key, _, _ in found):
            counts[key] = counts.get(key, 0) + 1
    shown, given = {}, set()
    for name in names:
        for key, start, end in keys[name]:
            candidate = counts[key] == 1 and _shown_part(texts[name], start, end, width)
            if candidate and free(candidate) and candidate not in given:
                shown[name] = candidate
                given.add(candidate)
                break
    return shown


def truncate_names(names, width):
    """Map each name to a display name of at most ``width`` characters, all distinct.

    A name that fits keeps itself (without blanks at its ends); a longer name becomes its
    leading whole words and "…" (``plots.text.shorten``). Names whose shortened forms would
    read the same show, after the "…", their last words or a word of their middle that tells
    them apart (``_told_apart``); only names that differ nowhere within reach get "~1", "~2",
    ... after a shorter form. A shortened form that reads as another name with "…" added
    ("color_intensity…" beside "color_intensity") is told apart likewise.
    Display names are told apart as they read, blanks aside. None holds " x " or ends in " x",
    which would read as the separator of a pair, or reads as a term of the views' own
    (``columns.RESERVED_NAMES``).
    """
    result, taken = {}, set()
    # (shortened form, its room) -> the last suffix number it was tried with: every one up to
    # it is taken, as the taken names only grow, so that a thousand names of one form do not
    # try a million suffixes
    tried = {}

    def free(candidate):
        return bool(candidate) and _blank_free(candidate) not in taken \
            and not reads_as_pair(candidate) and not is_reserved(candidate)

    def give(name, candidate):
        result[name] = candidate
        taken.add(_blank_free(candidate))

    def reads_as_another(candidate):
        # "color_intensity…" beside a feature named "color_intensity" reads as that one
        return candidate.endswith(ELLIPSIS) and _blank_free(candidate[:-len(ELLIPSIS)]) in taken

    # names as they are first, so that "religious" keeps itself before "religious " comes
    fits, rest = [], []
    for name in names:
        (fits if name and len(name) <= width and name == name.strip() else rest).append(name)
    for name in fits:
        if name not in result and free(name):
            give(name, name)
    rest = [name for name in fits + rest if name not in result]
    forms = {}
    for name in dict.fromkeys(rest):
        forms.setdefault(_blank_free(shorten(name, width)), []).append(name)
    clashing = []
    for same in forms.values():
        form = shorten(same[0], width)
        if len(same) == 1 and free(form) and not reads_as_another(form):
            give(same[0], form)
        else:
            clashing.extend(same)
            for name, candidate in _told_apart(same, width, free).items():
                if free(candidate):
                    give(name, candidate)
    for name in clashing:
        if name in result:
            continue
        k, shortened = 0, {}
        candidate = ""
        while not free(candidate):
            k += 1
            room = max(width - len("~%d" % k), 0)
            # the same shortened form serves every suffix of one length
            if room not in shortened:
                shortened[room] = shorten(name, room).rstrip()
            key = (shortened[room], room)
            if tried.get(key, 0) >= k:
                k, candidate = tried[key], ""
                continue
            tried[key] = k
            candidate = shortened[room] + "~%d" % k
        give(name, candidate)
    return {name: result[name] for name in names}


def check_table(shape, columns, target, task, test_size):
    """Refuse, with a ValueError, a table (its shape and column names) that no experiment
    can be made of."""
    if task not in TASKS:
        raise ValueError("task must be 'regression' or 'classification', got %r" % (task,))
    if shape[0] == 0 or shape[1] == 0:
        raise ValueError("data is empty: it has %d rows and %d columns" % shape)
    bad = [c for c in columns if not isinstance(c, str)]
    if bad:
        raise ValueError("column names must be strings; these are not: %r" % bad)
    duplicated = sorted({c for c in columns if columns.count(c) > 1})
    if duplicated:
        raise ValueError("column names must be unique; repeated: %r" % duplicated)
    if target not in columns:
        raise ValueError("target column %r is not in the data" % (target,))
    if len(columns) < 2:
        raise ValueError("data has no feature columns besides the target %r" % (target,))
    if not 0 < test_size < 1:
        raise ValueError("test_size must lie between 0 and 1, got %r" % (test_size,))


def check_split(n, test_size):
    """Refuse a table of ``n`` rows (with a target) too small for the split."""
    n_test = test_rows(n, test_size)
    if n_test < 2 or n - n_test < 2:
        raise ValueError("data has %d rows: too few for a split with test_size %r "
                         "(each side needs at least 2 rows)" % (n, test_size))


def make_dataset(data, target, run=None, **options):
    """The ``Dataset`` of a pandas frame, or the ``partitioned.dataset.PartitionedDataset`` of
    a Dask DataFrame (``run`` computes its Dask steps: ``PartitionedDataset``)."""
    if is_partitioned(data):
        from .partitioned.dataset import PartitionedDataset

        return PartitionedDataset(data, target, run=run, **options)
    return Dataset(data, target, **options)


def is_partitioned(data):
    """Whether ``data`` is a Dask DataFrame (told without importing Dask)."""
    return type(data).__module__.split(".")[0] == "dask" and hasattr(data, "to_delayed")


class Dataset:
    """A validated table split into training and test rows.

    Rows whose target is missing are dropped first. Rows are then addressed by their position
    in what is left (``sample_index``), which is the position in the user's frame when no row
    was dropped; ``source_rows`` maps a position back to the user's frame, and ``data`` keeps
    the frame's index labels. ``train_index`` and ``test_index`` hold the positions of each
    split.

    The feature columns are prepared as ``columns`` describes (renamed where their names would
    break the views, dates as days, row numbers, identifiers and constant columns left out, gaps
    filled and flagged, levels taken from the training split); ``notes`` says what was done, in
    Python's words (``notes.Note``).

    Attributes
    ----------
    data : DataFrame, the user's rows that have a target, with the features that the models
        see (in the table's own units, dates as days, with their gaps, missing indicators as
        0/1) and the target
    source_rows : array, the position in the user's frame of each row of ``data``
    dropped_rows : int, the number of the user's rows left out for a missing target
    notes : list of str, one line for each thing done to the user's table (the notes on its
        columns grouped by what was done, where they are many)
    target : str, the target column
    task : "regression" or "classification"
    feature_names : list of str, the features that the models see, in the frame's order (a
        column's missing indicator after it)
    numeric_features, categorical_features : list of str
    categories : dict, categorical feature -> array of its training levels (with "other" and
        "missing" where the column has them); a label's code is its position
    features : dict, feature name -> its ``columns.Feature`` (how its values become model input)
    classes : array of the labels of the models' 0 and 1 (classification, else None); with two
        classes these are the target's labels, with more the second is the positive class and
        the first the text "not <positive class>", standing for all the others
    positive_class : the label that the models' 1 stands for (``classes[1]``), else None
    truncated_columns_dict_10, truncated_columns_dict_15 : dict, full name -> display name: the
        name where it has at most ``DISPLAY_WIDTH`` (``PAIR_WIDTH``) characters, else its leading
        words and "…" (``truncate_names``); the second names the features of a pair
    """

    # whether the table lives in partitions on a cluster (``partitioned.dataset``)
    partitioned = False

    def __init__(self, data, target, task="regression", test_size=0.2, random_state=0,
                 positive_class=None):
        self.notes = []
        if not isinstance(data, pd.DataFrame):
            raise ValueError("data must be a pandas DataFrame, got %s" % type(data).__name__)
        check_table(data.shape, list(data.columns), target, task, test_size)
        given = data.shape[0]
        data, self.classes, self.source_rows = prepare_target(data, target, task, positive_class,
                                                              self.notes)
        self.positive_class = None if self.classes is None else self.classes[1]
        self.dropped_rows = given - data.shape[0]
        # not copied: the prepared features below are a frame of their own
        self.data = data
        self.target = target
        self.task = task
        n = data.shape[0]
        check_split(n, test_size)
        self.train_index, self.test_index = split_positions(
            n, test_size, random_state,
            self.encoded_target() if task == "classification" else None)
        self.take_features(prepare_features(self.data, target, self.train_index))

    def take_features(self, prepared):
        """Hold the prepared rows and the features of ``columns.prepare_features``."""
        self.notes.extend(prepared.notes)
        self.data, self.features = prepared.data, prepared.features
        self.feature_names = prepared.feature_names
        self.numeric_features = prepared.numeric_features
        self.categorical_features = prepared.categorical_features
        self.categories = prepared.categories

        self.truncated_columns_dict_10 = truncate_names(self.feature_names, DISPLAY_WIDTH)
        self.truncated_columns_dict_15 = truncate_names(self.feature_names, PAIR_WIDTH)

    @property
    def n_rows(self):
        """The table's rows that have a target."""
        return self.data.shape[0]

    def positions(self, rows):
        """The table positions (what a ``sample_index`` names) of rows of ``data``."""
        return np.asarray(rows)

    @property
    def n_features(self):
        return len(self.feature_names)

    def is_categorical(self, name):
        return name in self.categories

    def encoded_target(self, rows=None):
        """The target of the given row positions (all rows by default) as the models see it:
        floats for regression, 0/1 for classification (1 is the positive class)."""
        y = self.data[self.target].to_numpy()
        if rows is not None:
            y = y[rows]
        if self.task == "classification":
            return (y == self.classes[1]).astype(int)
        return y.astype(float)

    def rows(self, positions):
        return self.data.iloc[positions]

    def check_sample_index(self, sample_index):
        """The position in ``data`` of the row that ``sample_index`` names, as a Python int;
        rejects what is not a row of the table (``n_rows``)."""
        if isinstance(sample_index, (bool, np.bool_)) or not isinstance(
                sample_index, (int, np.integer)):
            raise TypeError("sample_index must be an integer row position, got %r"
                            % (sample_index,))
        n = self.n_rows
        if not -n <= sample_index < n:
            raise IndexError("sample_index %d is out of range: the data has %d rows%s"
                             % (sample_index, n, " once those without a target are dropped"
                                if self.dropped_rows else ""))
        return self.row_of(int(sample_index) % n)

    def row_of(self, position):
        """The position in ``data`` of the table's row ``position``: the same here."""
        return position
