"""How the columns of a user's table become the features that the models see.

Everything is decided on the training split and applied alike to every row, so the test split
and any later frame go through the same steps:

- Names: the views join the names of a pair with " x " and split them again, and the tree
  view splits its split labels on "<=". A name that would break either is renamed readably
  ("a x b" becomes "a × b", "<=" becomes "≤", line breaks become blanks), kept unique. So is a
  name that the views take for a term of their own (``RESERVED_NAMES``): "Intercept" becomes
  "Intercept (column)". Control characters, and marks that reverse the direction of text, are
  written out as Python writes them ("\\x1b"), so that a name cannot act on a terminal. A
  name longer than ``LONGEST_NAME`` characters keeps the whole words that fit, and "…".
- Dates (a datetime column, or text whose every value parses in one of ``DATE_FORMATS``) become
  days since the first date of the training split; durations become days.
- Left out: text columns of identifiers (at least ``IDENTIFIER_ROWS`` training values, at least
  ``IDENTIFIER_SHARE`` of them distinct), columns that take a single value in the training split
  (gaps aside), columns of a type that no model takes.
- Numeric gaps (and infinite values) take the training median. Where a column misses more than
  ``MISSING_FLAG_SHARE`` of its training values, a 0/1 feature "<name> missing" is added, so
  that a model can use that a value was missing.
- Categorical levels are those of the training split, so that every code a model sees was in its
  training data. Levels with fewer than ``RARE_LEVEL_ROWS`` training rows, and those beyond the
  ``MAX_LEVELS`` most frequent, form the level "other"; gaps in the training split form the level
  "missing". A value that the training split never saw (a new label, or a gap where training had
  none) takes the level "other" if the column has one, else "missing" if it has one, else the
  column's most frequent training level.
"""

import unicodedata

import numpy as np
import pandas as pd
from pandas.api import types as ptypes

from ..plots.text import shorten
from .features import (EXACT_INTEGERS, ORIGINAL_DIGITS, CategoricalFeature, IndicatorFeature,
                       NumericFeature, days, holds_numbers, is_number_column, timestamps)

MISSING_FLAG_SHARE = 0.05
# Columns of one kind (filled, left out for one reason) named one line each; more share a line.
NOTES_PER_KIND = 4
RARE_LEVEL_ROWS = 3
MAX_LEVELS = 30
IDENTIFIER_ROWS = 20
IDENTIFIER_SHARE = 0.9
DATE_FORMATS = ("%Y-%m-%d", "%Y-%m-%d %H:%M:%S", "%Y-%m-%dT%H:%M:%S", "%Y-%m-%d %H:%M",
                "%Y/%m/%d", "%d.%m.%Y", "%d/%m/%Y", "%m/%d/%Y", "%Y-%m")
OTHER, MISSING = "other", "missing"
# The longest name that a feature keeps.
LONGEST_NAME = 200
# Names that the views read as their own terms: the intercept of the local effects and of the
# coefficients, the coefficients' group of the numeric features, and the interaction view's
# word for no pair.
RESERVED_NAMES = ("Intercept", "Numeric", "None")


def is_reserved(name):
    """Whether the views would take the name, as they show it (blanks at its ends dropped),
    for one of their own terms."""
    return name.strip() in RESERVED_NAMES


def safe_name(name):
    """The name with what the views split on replaced: " x " (and a leading "x " or trailing
    " x", which joining would turn into " x "), "<=" and line breaks."""
    new = " ".join(name.replace("\r\n", " ").replace("\n", " ").replace("\r", " ").split("\t"))
    new = new.replace("<=", "≤")
    while " x " in new:
        new = new.replace(" x ", " × ")
    if new.startswith("x "):
        new = "×" + new[1:]
    if new.endswith(" x"):
        new = new[:-1] + "×"
    return new


# Marks that turn the direction of the text that follows them: in a figure, a terminal or a page
# they would show the rest of a name, and of the line, reversed.
_DIRECTION_MARKS = frozenset("\u202a\u202b\u202c\u202d\u202e\u2066\u2067\u2068\u2069")


def shown_name(name):
    """The name with the characters that a terminal, a figure or a page acts on rather than
    shows (an escape sequence in a header cell, a mark that reverses the text) written out as
    Python writes them: "\\x1b[2J"."""
    return "".join(repr(c)[1:-1] if unicodedata.category(c) == "Cc" or c in _DIRECTION_MARKS
                   else c for c in name)


def _quoted(name):
    """A name as a note quotes it: a long one by its start and its length."""
    if len(name) <= LONGEST_NAME:
        return name
    return "%s (%d characters)" % (shorten(name, 41), len(name))


def unique_name(name, taken):
    """``name``, or ``name (2)``, ``name (3)``, ... whichever is not in ``taken``."""
    candidate, k = name, 1
    while candidate in taken:
        k += 1
        candidate = "%s (%d)" % (name, k)
    return candidate


def _text_dates(column):
    """The first of ``DATE_FORMATS`` in which every value of a text column parses and the
    column's timestamps in it, or (None, None)."""
    values = column.dropna()
    if len(values) == 0 or not all(isinstance(v, str) for v in values):
        return None, None
    head = values.iloc[:50]
    known = column.notna().to_numpy()
    for fmt in DATE_FORMATS:
        if pd.to_datetime(head, format=fmt, errors="coerce").notna().all():
            dates = timestamps(column, fmt)
            if dates.notna().to_numpy()[known].all():
                return fmt, dates
    return None, None


def _text(value):
    return value.strftime("%Y-%m-%d") if value == value.normalize() else str(value)


class PreparedFeatures:
    """What ``prepare_features`` made of a table: ``data`` (the features in the table's own
    units, with their gaps, plus the target), ``features`` (name -> ``Feature``, in order)
    and ``notes`` (one line per thing done to the table)."""

    def __init__(self, data, features, notes):
        self.data, self.features, self.notes = data, features, notes

    @property
    def feature_names(self):
        return list(self.features)

    @property
    def numeric_features(self):
        return [n for n, f in self.features.items() if f.kind == "numeric"]

    @property
    def categorical_features(self):
        return [n for n, f in self.features.items() if f.kind == "categorical"]

    @property
    def categories(self):
        return {n: f.labels.copy() for n, f in self.features.items() if f.kind == "categorical"}


def _categorical(name, source, column, train, order, notes):
    """The ``CategoricalFeature`` of a text or category column, or the reason to leave it out."""
    seen = train.dropna()
    counts = seen.astype(object).value_counts(sort=False)
    if len(seen) >= IDENTIFIER_ROWS and len(counts) >= IDENTIFIER_SHARE * len(seen):
        return "holds identifiers (%d of its %d training values are distinct)" % (
            len(counts), len(seen))
    ranked = list(counts.sort_values(ascending=False, kind="stable").index)
    frequent = set(label for label in ranked[:MAX_LEVELS] if counts[label] >= RARE_LEVEL_ROWS)
    kept = [label for label in order if label in frequent]
    rare = [label for label in counts.index if label not in frequent]
    labels = list(kept)
    other = missing = None
    if rare:
        other = len(labels)
        labels.append(unique_name(OTHER, set(map(str, labels))))
    gaps_in_train = len(seen) < len(train)
    if gaps_in_train:
        missing = len(labels)
        labels.append(unique_name(MISSING, set(map(str, labels))))
    if len(labels) < 2:
        if kept or not rare:
            return "takes one value in the training split"
        return "has no level with %d or more training rows" % RARE_LEVEL_ROWS
    code_of = {label: i for i, label in enumerate(kept)}
    code_of.update((label, other) for label in rare)
    if other is not None:
        unseen = other
    elif missing is not None:
        unseen = missing
    else:
        unseen = code_of[ranked[0]]
    feature = CategoricalFeature(name, source, labels, code_of, missing, unseen)

    if rare:
        few = sum(1 for label in rare if counts[label] < RARE_LEVEL_ROWS)
        reasons = ["%d with fewer than %d training rows" % (few, RARE_LEVEL_ROWS)] if few else []
        if len(rare) > few:
            reasons.append("%d beyond the %d most frequent" % (len(rare) - few, MAX_LEVELS))
        notes.append("column %r: %d of its %d levels (%s) form the level %r" % (
            name, len(rare), len(counts), " and ".join(reasons), labels[other]))
    gaps = int(column.isna().sum())
    if gaps and gaps_in_train:
        notes.append("column %r misses %d value(s): they form the level %r"
                     % (name, gaps, labels[missing]))
    elif gaps:
        notes.append("column %r misses %d value(s), none in the training split: they count as %r"
                     % (name, gaps, labels[unseen]))
    new = column.dropna().astype(object)
    new = new[~new.isin(counts.index)]
    if len(new):
        notes.append("column %r: %d value(s) of level(s) that the training split lacks count "
                     "as %r" % (name, len(new), labels[unseen]))
    return feature


def _numeric(feature, values, train_rows, notes, taken):
    """The numeric feature and its missing indicator, if any, or the reason to leave it out."""
    train = values[train_rows]
    seen = train[~np.isnan(train)]
    if len(seen) == 0:
        return "has no values in the training split"
    if seen.min() == seen.max():
        return "takes one value in the training split"
    feature.learn(train)
    result = [feature]
    gaps = int(np.isnan(values).sum())
    if gaps:
        share = 1 - len(seen) / float(len(train))
        if share == 0:
            where = "none in the training split"
        else:
            where = "%s%% of the training split" % (
                "%.0f" % (100 * share) if share >= 0.005 else "under 1")
        text = "column %r misses %d value(s) (%s): filled with the training median %.4g" % (
            feature.name, gaps, where, feature.median)
        flag = None
        if share > MISSING_FLAG_SHARE:
            flag = IndicatorFeature(unique_name(feature.name + " missing", taken), feature)
            taken.add(flag.name)
            result.append(flag)
            text += "; the 0/1 feature %r marks them" % flag.name
        notes.append((text, feature.name, flag and flag.name))
    return result


def _extreme_notes(feature, train):
    """What the scaling of a numeric feature of extreme numbers does to them, a line each."""
    notes = []
    if feature.halves:
        notes.append("column %r spans more than the largest double: it is scaled in halves"
                     % feature.name)
    if feature.integral and np.nanmax(np.abs(train)) > EXACT_INTEGERS:
        notes.append("column %r holds whole numbers beyond 2**53: the models see them as the "
                     "nearest doubles, and the views show them to %d significant digits"
                     % (feature.name, ORIGINAL_DIGITS))
    return notes


def _names(names):
    shown = ", ".join(repr(name) for name in names[:NOTES_PER_KIND])
    more = len(names) - NOTES_PER_KIND
    return shown + (" and %d more" % more if more > 0 else "")


def _filled_notes(filled):
    """A line per filled column, or one line for them all when they are many."""
    if len(filled) <= NOTES_PER_KIND:
        return [text for text, _, _ in filled]
    flags = [flag for _, _, flag in filled if flag]
    text = "%d columns miss values, filled with their training medians: %s" % (
        len(filled), _names([name for _, name, _ in filled]))
    if flags:
        text += "; 0/1 features mark the gaps of %d of them: %s" % (len(flags), _names(flags))
    return [text]


def _left_out_notes(left_out):
    """A line per column left out, or one line for each reason shared by many."""
    reasons = {}
    for name, reason in left_out:
        # identifiers give their counts: they share a line by the kind of reason
        kind = reason.split(" (")[0]
        reasons.setdefault(kind, []).append((name, reason))
    notes = []
    for kind, columns in reasons.items():
        if len(columns) <= NOTES_PER_KIND:
            notes.extend("column %r %s: left out" % item for item in columns)
        else:
            notes.append("%d columns left out as each %s: %s" % (
                len(columns), kind, _names([name for name, _ in columns])))
    return notes


def prepare_features(data, target, train_rows):
    """The models' features of ``data`` (every column but ``target``), decided on the rows at
    the positions ``train_rows``. Raises a one-line ``ValueError`` when none is left."""
    notes, features, left_out, filled = [], {}, [], []
    taken = set(data.columns)
    names = {}
    for source in data.columns:
        if source == target:
            continue
        name, why = safe_name(source), "' x ' joins the names of a pair, '<=' the parts of a split"
        shown = shown_name(name)
        if shown != name:
            name, why = shown, "control characters written out"
        if len(name) > LONGEST_NAME:
            # no figure shows more, and a header cell of a whole paragraph would fill the page
            name, why = shorten(name, LONGEST_NAME), "a name is cut to %d characters" % (
                LONGEST_NAME,)
        if is_reserved(name):
            name, why = name.strip() + " (column)", "the views name a term of their own %r" % (
                name.strip(),)
        if name != source:
            name = unique_name(name, taken)
            taken.add(name)
            notes.append("column %r renamed %r (%s)" % (_quoted(source), name, why))
        names[source] = name

    columns = {}
    for source, name in names.items():
        column = data[source]
        dtype = column.dtype
        made = dates = None
        if isinstance(dtype, pd.CategoricalDtype):
            order = [label for label in dtype.categories]
            made = _categorical(name, source, column, column.iloc[train_rows], order, notes)
        elif is_number_column(column) or (ptypes.is_object_dtype(dtype)
                                           and holds_numbers(column)):
            made = NumericFeature(name, source)
        elif ptypes.is_datetime64_any_dtype(dtype):
            made = NumericFeature(name, source, origin=pd.Timestamp(0), date_format=None)
        elif ptypes.is_timedelta64_dtype(dtype):
            made = NumericFeature(name, source, duration=True)
            notes.append("column %r holds durations: in days" % name)
        elif ptypes.is_object_dtype(dtype) or ptypes.is_string_dtype(dtype):
            fmt, dates = _text_dates(column)
            if fmt is not None:
                made = NumericFeature(name, source, origin=pd.Timestamp(0), date_format=fmt)
            else:
                order = sorted(pd.unique(column.dropna().astype(object)),
                               key=lambda v: (str(type(v)), str(v)))
                made = _categorical(name, source, column, column.iloc[train_rows], order, notes)
        else:
            made = "has dtype %s, which no model takes" % dtype

        if isinstance(made, NumericFeature):
            if made.origin is not None:
                # days since the first date of the training split; text is parsed once
                if dates is None:
                    dates = timestamps(column, made.date_format)
                first = dates.iloc[train_rows].min()
                if pd.isna(first):
                    made = "has no values in the training split"
                else:
                    made.origin = first
                    notes.append("column %r holds dates: days since %s, its first date in the "
                                 "training split" % (name, _text(first)))
            if isinstance(made, NumericFeature):
                values = made.values(data) if made.origin is None else days(dates, made.origin)
                made = _numeric(made, values, train_rows, filled, taken)
                if not isinstance(made, str):
                    columns[name] = values
                    notes.extend(_extreme_notes(made[0], values[train_rows]))
        if isinstance(made, str):
            left_out.append((name, made))
            continue
        for feature in (made if isinstance(made, list) else [made]):
            features[feature.name] = feature

    notes.extend(_filled_notes(filled))
    notes.extend(_left_out_notes(left_out))
    if not features:
        raise ValueError("no column is left to explain %r: %s" % (
            target, "; ".join("%r %s" % item for item in left_out)))

    parts = {}
    for name, feature in features.items():
        if isinstance(feature, IndicatorFeature):
            parts[name] = np.isnan(columns[feature.of.name]).astype(float)
        elif isinstance(feature, NumericFeature) and (feature.origin is not None
                                                      or feature.duration):
            parts[name] = columns[name]
        else:
            parts[name] = data[feature.source].array
    parts[target] = data[target].array
    # copied, so that later edits of the user's table do not reach the models' data
    return PreparedFeatures(pd.DataFrame(parts, index=data.index, copy=True), features, notes)
