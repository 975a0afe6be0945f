"""How the columns of a user's table become the features that the models see.

Everything is decided on the training split (but row numbers, which are a matter of the whole
table) and applied alike to every row, so the test split and any later frame go through the
same steps:

- Names: the views join the names of a pair with " x " and split them again, and the tree
  view splits its split labels on "<=". A name that would break either is renamed readably
  ("a x b" becomes "a × b", "<=" becomes "≤", line breaks become blanks), kept unique. So is a
  name that the views take for a term of their own (``RESERVED_NAMES``): "Intercept" becomes
  "Intercept (column)". Control characters, and marks that reverse the direction of text, are
  written out as Python writes them ("\\x1b"), so that a name cannot act on a terminal. A
  name longer than ``LONGEST_NAME`` characters keeps the whole words that fit, and "…".
- Dates (a datetime column, or text whose every value parses in one of ``DATE_FORMATS``, ISO
  8601 timestamps with a "T", fractional seconds and a "Z" or an offset among them) become days
  since the first date of the training split, in UTC where they carry a time zone; durations
  become days.
- Left out: text columns of identifiers (at least ``IDENTIFIER_ROWS`` training values, at least
  ``IDENTIFIER_SHARE`` of them distinct); columns of row numbers (``row_numbers``) and columns
  of whole numbers that are named as identifiers and distinct in every training row
  (``named_identifiers``); columns that take a single value in the training split (gaps aside);
  columns of a type that no model takes.
- Numeric gaps (and infinite values) take the training median. Where a column misses more than
  ``MISSING_FLAG_SHARE`` of its training values, a 0/1 feature "<name> missing" is added, so
  that a model can use that a value was missing.
- Categorical levels are those of the training split, so that every code a model sees was in its
  training data. Levels with fewer than ``RARE_LEVEL_ROWS`` training rows, and those beyond the
  ``MAX_LEVELS`` most frequent, form the level "other"; gaps in the training split form the level
  "missing". A value that the training split never saw (a new label, or a gap where training had
  none) takes the level "other" if the column has one, else "missing" if it has one, else the
  column's most frequent training level.

The notes say what was done, a line per column and kind of treatment, or a line per kind where
its columns are many (``notes.ColumnNotes``).
"""

import re
import unicodedata

import numpy as np
import pandas as pd
from pandas.api import types as ptypes

from ..plots.text import shorten
from .features import (EXACT_INTEGERS, ISO_8601, ORIGINAL_DIGITS, CategoricalFeature,
                       IndicatorFeature, NumericFeature, days, holds_numbers, is_number_column,
                       timestamps)
from .identifiers import (IDENTIFIER_ROWS, IDENTIFIER_SHARE, named_identifiers, row_numbers,
                          row_numbers_text)
from .notes import ColumnNotes, Kind, Note, named

MISSING_FLAG_SHARE = 0.05
RARE_LEVEL_ROWS = 3
MAX_LEVELS = 30
# ISO 8601 comes last: it would read "2013" and "20130101" as dates too, so it is taken only
# for text that ``ISO_TIMESTAMP`` matches.
DATE_FORMATS = ("%Y-%m-%d", "%Y-%m-%d %H:%M:%S", "%Y-%m-%dT%H:%M:%S", "%Y-%m-%d %H:%M",
                "%Y/%m/%d", "%d.%m.%Y", "%d/%m/%Y", "%m/%d/%Y", "%Y-%m", ISO_8601)
# a date, and maybe a time (to the minute, second or a fraction of it) and its offset from UTC
ISO_TIMESTAMP = re.compile(r"\d{4}-\d\d-\d\d(?:[T ]\d\d:\d\d(?::\d\d(?:[.,]\d+)?)?)?"
                           r"(Z|[+-]\d\d(?::?\d\d)?)?")
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
    """The first of ``DATE_FORMATS`` in which every value of a text column parses, the column's
    timestamps in it, and whether any value gives its time zone (the timestamps are then in
    UTC); or (None, None, False)."""
    values = column.dropna()
    if len(values) == 0 or not all(isinstance(v, str) for v in values):
        return None, None, False
    head = values.iloc[:50]
    known = column.notna().to_numpy()
    for fmt in DATE_FORMATS:
        zoned = False
        if fmt == ISO_8601:
            if not all(ISO_TIMESTAMP.fullmatch(v) for v in head):
                continue
            found = [ISO_TIMESTAMP.fullmatch(v) for v in values]
            if not all(found):
                continue
            zoned = any(match.group(1) for match in found)
        elif not pd.to_datetime(head, format=fmt, errors="coerce").notna().all():
            continue
        dates = timestamps(column, fmt)
        if dates.notna().to_numpy()[known].all():
            return fmt, dates, zoned
    return None, None, False


def _numbers_left_out(source, values, train_rows):
    """Why a column of numbers is left out as row numbers or identifiers, else None."""
    found = row_numbers(values)
    if found:
        return row_numbers_text(found)
    count = named_identifiers(source, values[train_rows])
    if count:
        return "holds identifiers (its {:,} training values are all distinct)".format(count)
    return None


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


# What is done to columns, each kind with the line that its columns share when they are many.
_OTHER_LEVELS = Kind("%(count)d columns hold rare levels (fewer than %(rows)d training rows, or "
                     "beyond the %(most)d most frequent): they form the level %(other)r: %(names)s",
                     rows=RARE_LEVEL_ROWS, most=MAX_LEVELS, other=OTHER)
_MISSING_LEVEL = Kind("%(count)d columns miss values: they form the level %(missing)r: %(names)s",
                      missing=MISSING)
_MISSING_OUTSIDE = Kind("%(count)d columns miss values, none in the training split: they count "
                        "as one of its levels: %(names)s")
_UNSEEN_LEVELS = Kind("%(count)d columns hold levels that the training split lacks: they count "
                      "as %(other)r, else %(missing)r, else the column's most frequent level: "
                      "%(names)s", other=OTHER, missing=MISSING)
_DATES = Kind("%(count)d columns hold dates: days since the first date of each in the training "
              "split: %(names)s")
_DURATIONS = Kind("%(count)d columns hold durations: in days: %(names)s")
_HALVES = Kind("%(count)d columns span more than the largest double: they are scaled in halves: "
               "%(names)s")
_BEYOND = Kind("%(count)d columns hold whole numbers beyond %(2**53)s: the models see them as the "
               "nearest doubles, and the views show them to %(digits)d significant digits: "
               "%(names)s", digits=ORIGINAL_DIGITS)
_BEYOND_ONE = ("column %(name)r holds whole numbers beyond %(2**53)s: the models see them as the "
               "nearest doubles, and the views show them to %(digits)d significant digits")


def _renamed(why):
    return Kind("%(count)d columns renamed (%(why)s): %(names)s", rank=0, why=why)


def _left_out(reason):
    # identifiers give their counts: they share a line by the kind of reason
    return Kind("%(count)d columns left out as each %(reason)s: %(names)s", rank=3,
                reason=reason.split(" (")[0])


class _Filled(Kind):
    """Numeric gaps filled, some flagged: a column's entry names its 0/1 feature, if any."""

    def line(self, columns):
        flags = [repr(flag) for _, _, flag in columns if flag]
        template = "%(count)d columns miss values, filled with their training medians: %(names)s"
        if flags:
            template += "; 0/1 features mark the gaps of %(flagged)d of them: %(flags)s"
        return Note(template, count=len(columns), names=named([c[0] for c in columns]),
                    flagged=len(flags), flags=named(flags))


_FILLED = _Filled(None, rank=2)


def _categorical(name, source, column, train, order, notes):
    """The ``CategoricalFeature`` of a text or category column, or the reason to leave it out."""
    seen = train.dropna()
    counts = seen.astype(object).value_counts(sort=False)
    if len(seen) >= IDENTIFIER_ROWS and len(counts) >= IDENTIFIER_SHARE * len(seen):
        return "holds identifiers ({:,} of its {:,} training values are distinct)".format(
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
        notes.add(_OTHER_LEVELS, "column %r: %d of its %d levels (%s) form the level %r" % (
            name, len(rare), len(counts), " and ".join(reasons), labels[other]), name)
    gaps = int(column.isna().sum())
    if gaps and gaps_in_train:
        notes.add(_MISSING_LEVEL, "column %r misses %d value(s): they form the level %r"
                  % (name, gaps, labels[missing]), name)
    elif gaps:
        notes.add(_MISSING_OUTSIDE, "column %r misses %d value(s), none in the training split: "
                  "they count as %r" % (name, gaps, labels[unseen]), name)
    new = column.dropna().astype(object)
    new = new[~new.isin(counts.index)]
    if len(new):
        notes.add(_UNSEEN_LEVELS, "column %r: %d value(s) of level(s) that the training split "
                  "lacks count as %r" % (name, len(new), labels[unseen]), name)
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
        notes.add(_FILLED, text, feature.name, None, flag and flag.name)
    return result


def _extreme_notes(feature, train, notes):
    """What the scaling of a numeric feature of extreme numbers does to them."""
    if feature.halves:
        notes.add(_HALVES, "column %r spans more than the largest double: it is scaled in halves"
                  % feature.name, feature.name)
    if feature.integral and np.nanmax(np.abs(train)) > EXACT_INTEGERS:
        notes.add(_BEYOND, Note(_BEYOND_ONE, name=feature.name, digits=ORIGINAL_DIGITS),
                  feature.name)


def _feature_names(data, target, notes):
    """Each column's feature name, renamed (with a note) where it would break the views; and
    the names taken."""
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
            notes.add(_renamed(why), "column %r renamed %r (%s)" % (_quoted(source), name, why),
                      name, "%r as %r" % (_quoted(source), name))
        names[source] = name
    return names, taken


def _made(name, source, column, train_rows, notes):
    """What a column becomes before its values are read: a ``NumericFeature`` (dates with their
    timestamps and whether they were given in time zones), a ``CategoricalFeature``, or the
    reason to leave it out."""
    dtype = column.dtype
    if isinstance(dtype, pd.CategoricalDtype):
        order = [label for label in dtype.categories]
        return _categorical(name, source, column, column.iloc[train_rows], order, notes), None, False
    if is_number_column(column) or (ptypes.is_object_dtype(dtype) and holds_numbers(column)):
        return NumericFeature(name, source), None, False
    if ptypes.is_datetime64_any_dtype(dtype):
        zoned = getattr(dtype, "tz", None) is not None
        return NumericFeature(name, source, origin=pd.Timestamp(0), date_format=None), None, zoned
    if ptypes.is_timedelta64_dtype(dtype):
        notes.add(_DURATIONS, "column %r holds durations: in days" % name, name)
        return NumericFeature(name, source, duration=True), None, False
    if ptypes.is_object_dtype(dtype) or ptypes.is_string_dtype(dtype):
        fmt, dates, zoned = _text_dates(column)
        if fmt is not None:
            return NumericFeature(name, source, origin=pd.Timestamp(0), date_format=fmt), dates, \
                zoned
        order = sorted(pd.unique(column.dropna().astype(object)),
                       key=lambda v: (str(type(v)), str(v)))
        return _categorical(name, source, column, column.iloc[train_rows], order, notes), None, False
    return "has dtype %s, which no model takes" % dtype, None, False


def prepare_features(data, target, train_rows):
    """The models' features of ``data`` (every column but ``target``), decided on the rows at
    the positions ``train_rows``. Raises a one-line ``ValueError`` when none is left."""
    notes, features, left_out = ColumnNotes(), {}, []
    names, taken = _feature_names(data, target, notes)
    columns = {}
    for source, name in names.items():
        column = data[source]
        made, dates, zoned = _made(name, source, column, train_rows, notes)
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
                    notes.add(_DATES, "column %r holds dates: days since %s, its first date in "
                              "the training split%s" % (name, _text(first), " (times in UTC)"
                                                        if zoned else ""), name)
            if isinstance(made, NumericFeature):
                values = made.values(data) if made.origin is None else days(dates, made.origin)
                plain = made.origin is None and not made.duration
                reason = plain and _numbers_left_out(source, values, train_rows)
                made = reason or _numeric(made, values, train_rows, notes, taken)
                if not isinstance(made, str):
                    columns[name] = values
                    _extreme_notes(made[0], values[train_rows], notes)
        if isinstance(made, str):
            left_out.append((name, made))
            notes.add(_left_out(made), "column %r %s: left out" % (name, made), name)
            continue
        for feature in (made if isinstance(made, list) else [made]):
            features[feature.name] = feature

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
    return PreparedFeatures(pd.DataFrame(parts, index=data.index, copy=True), features,
                            notes.lines())
