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

import unicodedata

import numpy as np
import pandas as pd
from pandas.api import types as ptypes

from ..names import SEPARATOR
from ..plots.text import shorten
from .features import (EXACT_INTEGERS, ORIGINAL_DIGITS, CategoricalFeature, IndicatorFeature,
                       NumericFeature, is_number_column)
from .identifiers import (IDENTIFIER_ROWS, IDENTIFIER_SHARE, identifiers_of, row_numbers_of,
                          row_numbers_text)
from .notes import ColumnNotes, Kind, Note, named
from .profiles import DATE_FORMATS, Unanswered, profile_frame

MISSING_FLAG_SHARE = 0.05
RARE_LEVEL_ROWS = 3
MAX_LEVELS = 30
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
    while SEPARATOR in new:
        new = new.replace(SEPARATOR, SEPARATOR.replace("x", "×"))
    if new.startswith(SEPARATOR.lstrip()):
        new = "×" + new[1:]
    if new.endswith(SEPARATOR.rstrip()):
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


def _categorical(name, source, column, profile, order, notes):
    """The ``CategoricalFeature`` of a text or category column, or the reason to leave it out;
    ``order``: the categories of a category column, else None (its values sorted)."""
    seen = column.train_rows - column.train_gaps
    distinct = profile.distinct_levels(source)
    if seen >= IDENTIFIER_ROWS and distinct >= IDENTIFIER_SHARE * seen:
        return "holds identifiers ({:,} of its {:,} training values are distinct)".format(
            distinct, seen)
    counts, all_counts = profile.counts(source)
    if order is None:
        order = sorted(all_counts.index, key=lambda v: (str(type(v)), str(v)))
    ranked = list(counts.sort_values(ascending=False, kind="stable").index)
    frequent = set(label for label in ranked[:MAX_LEVELS] if counts[label] >= RARE_LEVEL_ROWS)
    kept = [label for label in order if label in frequent]
    rare = [label for label in counts.index if label not in frequent]
    labels = list(kept)
    other = missing = None
    if rare:
        other = len(labels)
        labels.append(unique_name(OTHER, set(map(str, labels))))
    gaps_in_train = column.train_gaps > 0
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
    gaps = column.gaps
    if gaps and gaps_in_train:
        notes.add(_MISSING_LEVEL, "column %r misses %d value(s): they form the level %r"
                  % (name, gaps, labels[missing]), name)
    elif gaps:
        notes.add(_MISSING_OUTSIDE, "column %r misses %d value(s), none in the training split: "
                  "they count as %r" % (name, gaps, labels[unseen]), name)
    new = int(all_counts[~all_counts.index.isin(counts.index)].sum())
    if new:
        notes.add(_UNSEEN_LEVELS, "column %r: %d value(s) of level(s) that the training split "
                  "lacks count as %r" % (name, new, labels[unseen]), name)
    return feature


def _numeric(feature, stats, column, origin, notes, taken):
    """The numeric feature and its missing indicator, if any, or the reason to leave it out;
    ``stats``: the ``Numbers`` of its column (dates, in days since ``origin``)."""
    if stats.count == 0:
        return "has no values in the training split"
    if stats.low == stats.high:
        return "takes one value in the training split"
    largest = stats.learnt(feature, origin)
    result = [feature]
    if stats.gaps:
        share = 1 - stats.count / float(column.train_rows)
        if share == 0:
            where = "none in the training split"
        else:
            where = "%s%% of the training split" % (
                "%.0f" % (100 * share) if share >= 0.005 else "under 1")
        text = "column %r misses %d value(s) (%s): filled with the training median %.4g" % (
            feature.name, stats.gaps, where, feature.median)
        flag = None
        # counted in rows: 1 - 38 / 40 is a little more than 5% in doubles
        if column.train_rows - stats.count > MISSING_FLAG_SHARE * column.train_rows:
            flag = IndicatorFeature(unique_name(feature.name + " missing", taken), feature)
            taken.add(flag.name)
            result.append(flag)
            text += "; the 0/1 feature %r marks them" % flag.name
        notes.add(_FILLED, text, feature.name, None, flag and flag.name)
    _extreme_notes(feature, largest, notes)
    return result


def _extreme_notes(feature, largest, notes):
    """What the scaling of a numeric feature of extreme numbers does to them; ``largest``: the
    largest magnitude of its training values."""
    if feature.halves:
        notes.add(_HALVES, "column %r spans more than the largest double: it is scaled in halves"
                  % feature.name, feature.name)
    if feature.integral and largest > EXACT_INTEGERS:
        notes.add(_BEYOND, Note(_BEYOND_ONE, name=feature.name, digits=ORIGINAL_DIGITS),
                  feature.name)


def _numbers_left_out(source, stats, profile):
    """Why a column of numbers is left out as row numbers or identifiers, else None."""
    found = row_numbers_of(stats.rows, stats.gaps, stats.all_low, lambda: stats.all_high,
                           lambda: stats.all_whole,
                           lambda: profile.all_distinct("distinct_all", source))
    if found:
        return row_numbers_text(found)
    count = identifiers_of(source, stats.count, lambda: stats.whole,
                           lambda: profile.all_distinct("distinct_train", source))
    if count:
        return "holds identifiers (its {:,} training values are all distinct)".format(count)
    return None


def _feature_names(columns, target, notes):
    """Each column's feature name, renamed (with a note) where it would break the views; and
    the names taken."""
    taken = set(columns)
    names = {}
    for source in columns:
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


def _made(name, source, column, profile, notes):
    """What a column becomes, from its ``ColumnProfile``: a ``NumericFeature`` with the
    ``Numbers`` of its column and whether its dates were given in time zones, a
    ``CategoricalFeature``, or the reason to leave it out."""
    dtype = column.dtype
    if isinstance(dtype, pd.CategoricalDtype):
        order = list(dtype.categories)
        return _categorical(name, source, column, profile, order, notes), None, False
    numbers = column.numbers
    if isinstance(numbers, ValueError) and (
            is_number_column(column) or (column.all_numbers and column.gaps < column.rows)):
        raise numbers
    if is_number_column(column) or (column.all_numbers and column.gaps < column.rows):
        return NumericFeature(name, source), numbers, False
    if ptypes.is_datetime64_any_dtype(dtype):
        zoned = getattr(dtype, "tz", None) is not None
        return NumericFeature(name, source, origin=pd.Timestamp(0), date_format=None), \
            numbers, zoned
    if ptypes.is_timedelta64_dtype(dtype):
        notes.add(_DURATIONS, "column %r holds durations: in days" % name, name)
        return NumericFeature(name, source, duration=True), numbers, False
    if ptypes.is_object_dtype(dtype) or ptypes.is_string_dtype(dtype):
        for fmt in DATE_FORMATS:
            if fmt in column.dates and column.gaps < column.rows:
                dates, zoned = column.dates[fmt]
                return NumericFeature(name, source, origin=pd.Timestamp(0), date_format=fmt), \
                    dates, zoned
        return _categorical(name, source, column, profile, None, notes), None, False
    return "has dtype %s, which no model takes" % dtype, None, False


def _decided(name, source, profile, notes, taken):
    """A column's features, or the reason to leave it out."""
    made, stats, zoned = _made(name, source, profile.profiles[source], profile, notes)
    if not isinstance(made, NumericFeature):
        return made
    origin = None
    if made.origin is not None:
        # days since the first date of the training split
        if stats.count == 0:
            return "has no values in the training split"
        origin = made.origin = pd.Timestamp(stats.low)
        notes.add(_DATES, "column %r holds dates: days since %s, its first date in the "
                  "training split%s" % (name, _text(origin), " (times in UTC)" if zoned else ""),
                  name)
    plain = made.origin is None and not made.duration
    reason = plain and _numbers_left_out(source, stats, profile)
    return reason or _numeric(made, stats, profile.profiles[source], origin, notes, taken)


def decide_features(profile, asked=None):
    """The features (name -> ``Feature``, in order) and the notes that a ``TableProfile``
    decides. What the profile cannot tell raises ``Unanswered``, or, given a list ``asked``,
    is added to it (and the column passed over)."""
    notes, features, left_out = ColumnNotes(), {}, []
    names, taken = _feature_names(profile.columns, profile.target, notes)
    for source, name in names.items():
        try:
            made = _decided(name, source, profile, notes, taken)
        except Unanswered as question:
            if asked is None:
                raise
            asked.append(question.args)
            continue
        if isinstance(made, str):
            left_out.append((name, made))
            notes.add(_left_out(made), "column %r %s: left out" % (name, made), name)
            continue
        for feature in (made if isinstance(made, list) else [made]):
            features[feature.name] = feature
    if not features and asked is None:
        raise ValueError("no column is left to explain %r: %s" % (
            profile.target, "; ".join("%r %s" % item for item in left_out)))
    return features, notes.lines()


def prepare_features(data, target, train_rows, profile=None):
    """The models' features of ``data`` (every column but ``target``), decided on the rows at
    the positions ``train_rows``; or, given the ``TableProfile`` of a whole table of which
    ``data`` holds some rows (``train_rows`` those of the training split), decided on it.
    Raises a one-line ``ValueError`` when none is left."""
    if profile is None:
        train = np.zeros(len(data), dtype=bool)
        train[train_rows] = True
        profile = profile_frame(data, target, train)
    features, notes = decide_features(profile)
    parts, values = {}, {}
    for name, feature in features.items():
        if isinstance(feature, IndicatorFeature):
            of = feature.of.name
            held = values[of] if of in values else feature.of.values(data)
            parts[name] = np.isnan(held).astype(float)
        elif isinstance(feature, NumericFeature) and (feature.origin is not None
                                                      or feature.duration):
            parts[name] = values[name] = feature.values(data)
        else:
            parts[name] = data[feature.source].array
    parts[target] = data[target].array
    # copied, so that later edits of the user's table do not reach the models' data
    return PreparedFeatures(pd.DataFrame(parts, index=data.index, copy=True), features, notes)
