"""The table of an experiment: its features, its target and its train/test split."""

import numpy as np
import pandas as pd
from pandas.api import types as ptypes
from sklearn.model_selection import train_test_split

TASKS = ("regression", "classification")


def truncate_names(names, width):
    """Map each name to a display name of at most ``width`` characters, all distinct.

    Names that fit keep themselves; a longer name is cut, and when the cut collides with
    another display name its tail is replaced by "~1", "~2", ... until it is free.
    """
    result = {name: name for name in names if len(name) <= width}
    taken = set(result.values())
    for name in names:
        if name in result:
            continue
        candidate, k = name[:width], 0
        while candidate in taken:
            k += 1
            suffix = "~%d" % k
            candidate = name[:max(width - len(suffix), 0)] + suffix
        result[name] = candidate
        taken.add(candidate)
    return {name: result[name] for name in names}


class Dataset:
    """A validated table split into training and test rows.

    Rows are addressed by their position in the frame that the user gave (``sample_index``);
    ``train_index`` and ``test_index`` hold the positions of each split.

    Attributes
    ----------
    data : DataFrame, a copy of the user's frame
    target : str, the target column
    task : "regression" or "classification"
    feature_names : list of str, every column but the target, in the frame's order
    numeric_features, categorical_features : list of str
    categories : dict, categorical feature -> array of its labels; a label's code is its position
    classes : array of the two target labels (classification; the second is the positive class)
    truncated_columns_dict_10, truncated_columns_dict_15 : dict, full name -> display name
    """

    def __init__(self, data, target, task="regression", test_size=0.2, random_state=0):
        self.notes = []
        if not isinstance(data, pd.DataFrame):
            raise ValueError("data must be a pandas DataFrame, got %s" % type(data).__name__)
        if task not in TASKS:
            raise ValueError("task must be 'regression' or 'classification', got %r" % (task,))
        if data.shape[0] == 0 or data.shape[1] == 0:
            raise ValueError("data is empty: it has %d rows and %d columns" % data.shape)
        columns = list(data.columns)
        bad = [c for c in columns if not isinstance(c, str)]
        if bad:
            raise ValueError("column names must be strings; these are not: %r" % bad)
        duplicated = sorted({c for c in columns if columns.count(c) > 1})
        if duplicated:
            raise ValueError("column names must be unique; repeated: %r" % duplicated)
        if target not in columns:
            raise ValueError("target column %r is not in the data" % (target,))
        missing = [c for c in columns if data[c].isna().any()]
        if missing:
            raise ValueError("data has missing values in column(s) %r; fill or drop them first"
                             % missing)
        self.data = data.copy()
        self.target = target
        self.task = task
        self.feature_names = [c for c in columns if c != target]
        if not self.feature_names:
            raise ValueError("data has no feature columns besides the target %r" % (target,))

        self.numeric_features, self.categorical_features, self.categories = [], [], {}
        for name in self.feature_names:
            dtype = data[name].dtype
            if isinstance(dtype, pd.CategoricalDtype):
                self.categorical_features.append(name)
                self.categories[name] = np.array(list(dtype.categories), dtype=object)
            elif ptypes.is_bool_dtype(dtype) or (ptypes.is_numeric_dtype(dtype)
                                                 and not ptypes.is_complex_dtype(dtype)):
                self.numeric_features.append(name)
            elif ptypes.is_object_dtype(dtype) or ptypes.is_string_dtype(dtype):
                self.categorical_features.append(name)
                labels = sorted(pd.unique(data[name]), key=lambda v: (str(type(v)), str(v)))
                self.categories[name] = np.array(labels, dtype=object)
            else:
                raise ValueError("feature %r has dtype %s; features must be numeric, "
                                 "category or object" % (name, dtype))

        y = data[target]
        if task == "classification":
            self.classes = np.array(sorted(pd.unique(y), key=lambda v: (str(type(v)), str(v))),
                                    dtype=object)
            if len(self.classes) != 2:
                raise ValueError("classification needs a binary target; column %r has %d "
                                 "distinct values" % (target, len(self.classes)))
            counts = y.value_counts()
            if counts.min() < 2:
                raise ValueError("each class of the target %r needs at least 2 rows; %r has %d"
                                 % (target, counts.idxmin(), counts.min()))
        else:
            self.classes = None
            if not ptypes.is_numeric_dtype(y.dtype) or ptypes.is_bool_dtype(y.dtype):
                raise ValueError("regression needs a numeric target; column %r has dtype %s"
                                 % (target, y.dtype))

        if not 0 < test_size < 1:
            raise ValueError("test_size must lie between 0 and 1, got %r" % (test_size,))
        n = data.shape[0]
        n_test = int(np.ceil(test_size * n))
        if n_test < 2 or n - n_test < 2:
            raise ValueError("data has %d rows: too few for a split with test_size %r "
                             "(each side needs at least 2 rows)" % (n, test_size))
        positions = np.arange(n)
        train, test = train_test_split(
            positions, test_size=test_size, random_state=random_state,
            stratify=self.encoded_target() if task == "classification" else None)
        self.train_index = np.sort(train)
        self.test_index = np.sort(test)

        self.truncated_columns_dict_10 = truncate_names(self.feature_names, 10)
        self.truncated_columns_dict_15 = truncate_names(self.feature_names, 15)

    @property
    def n_features(self):
        return len(self.feature_names)

    def is_categorical(self, name):
        return name in self.categories

    def encoded_target(self, rows=None):
        """The target of the given row positions (all rows by default) as the models see it:
        floats for regression, 0/1 for classification (1 is ``classes[1]``)."""
        y = self.data[self.target].to_numpy()
        if rows is not None:
            y = y[rows]
        if self.task == "classification":
            return (y == self.classes[1]).astype(int)
        return y.astype(float)

    def rows(self, positions):
        return self.data.iloc[positions]

    def check_sample_index(self, sample_index):
        """The row position as a Python int; rejects what is not a row of the frame."""
        if isinstance(sample_index, (bool, np.bool_)) or not isinstance(
                sample_index, (int, np.integer)):
            raise TypeError("sample_index must be an integer row position, got %r"
                            % (sample_index,))
        n = self.data.shape[0]
        if not -n <= sample_index < n:
            raise IndexError("sample_index %d is out of range: the data has %d rows"
                             % (sample_index, n))
        return int(sample_index) % n
