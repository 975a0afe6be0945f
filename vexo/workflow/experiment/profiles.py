"""The statistics of a table's columns that decide its features (``columns.prepare_features``).

A table that does not fit in one process arrives as partitions that never meet: each is profiled
where it is (``profile_frame``), and the profiles are merged (``merge``, associative, so in any
tree that keeps the partitions in order) into the profile of the whole table. The decisions read
the profile alone, so a table gives the same features and notes whichever way it was split.

A profile holds, per column: its dtype; whether every value is a real number, and in which of the
date formats every value parses (with the first training date in each); its gaps; its numbers'
training count, least and greatest values, whether all whole, and middle values; over all rows
what tells row numbers; and its level counts in the training split and in all rows.

Everything is exact, with two bounds:

- The training median. A partition's is exact (the middle values of its training values). A
  merged profile keeps the training values themselves while they are at most ``EXACT_VALUES``,
  and so the exact median; past that, each partition gives ``QUANTILES`` quantiles of its
  values, and the median is read off their merged distribution: its rank is off by at most a
  thousandth of the training values (a few thousandths where many partitions were folded
  together), which keeps it within 1% of the range wherever the values between the 49.9th and
  50.1st percentiles lie within 1% of it. This is the one place where exactness is traded: an
  exact median of 10**8 values would need them all in one place.
- Distinct values and level counts are kept while a column has at most ``KEPT_LEVELS`` distinct
  values. Past that a merged profile cannot tell what a decision needs (whether a column of
  text holds identifiers, its most frequent levels), and ``TableProfile.questions`` asks for it.
  A partition answers its own questions, so a profile of one frame asks none; it keeps the
  level counts of a column that is not identifiers whatever their number, as its decision
  needs them.

Past ``EXACT_VALUES`` training dates, whether they are whole days since the first is told by
the time of day that they share. A partition whose text all reads as dates keeps no level
counts: where other partitions hold other text, the column's levels are asked for.
"""

import re

import numpy as np
import pandas as pd
from pandas.api import types as ptypes

from .features import ISO_8601, days, floats, holds_numbers, is_number_column, timestamps
from .identifiers import IDENTIFIER_ROWS, IDENTIFIER_SHARE, named_as_identifiers

EXACT_VALUES = 100_000
KEPT_LEVELS = 100_000
QUANTILES = 1001
# The quantile summaries that a profile holds before it folds them into one.
_SUMMARIES = 64
_P = np.linspace(0.0, 1.0, QUANTILES)
# ISO 8601 comes last: it would read "2013" and "20130101" as dates too, so it is taken only
# for text that ``ISO_TIMESTAMP`` matches.
DATE_FORMATS = ("%Y-%m-%d", "%Y-%m-%d %H:%M:%S", "%Y-%m-%dT%H:%M:%S", "%Y-%m-%d %H:%M",
                "%Y/%m/%d", "%d.%m.%Y", "%d/%m/%Y", "%m/%d/%Y", "%Y-%m", ISO_8601)
# a date, and maybe a time (to the minute, second or a fraction of it) and its offset from UTC
ISO_TIMESTAMP = re.compile(r"[0-9]{4}-[0-9]{2}-[0-9]{2}(?:[T ][0-9]{2}:[0-9]{2}(?::[0-9]{2}"
                           r"(?:[.,][0-9]+)?)?)?(Z|[+-][0-9]{2}(?::?[0-9]{2})?)?")
# Distinct values: a sorted array while they are all distinct and at most KEPT_LEVELS, else one
# of these.
REPEATS, UNKNOWN = "repeats", "unknown"
_SECOND = np.timedelta64(1, "s")


def _distinct(values):
    unique = np.unique(values)
    if len(unique) < len(values):
        return REPEATS
    return unique if len(unique) <= KEPT_LEVELS else UNKNOWN


def _union(a, b):
    states = [held for held in (a, b) if isinstance(held, str)]
    if states:
        return REPEATS if REPEATS in states else UNKNOWN
    unique = np.union1d(a, b)
    if len(unique) < len(a) + len(b):
        return REPEATS
    return unique if len(unique) <= KEPT_LEVELS else UNKNOWN


def _middle(values):
    """The middle value of ``values`` (odd count), or the two middle values (even count)."""
    n = len(values)
    part = np.partition(values, [(n - 1) // 2, n // 2])
    return (part[n // 2],) if n % 2 else (part[n // 2 - 1], part[n // 2])


def _as_seconds(values):
    return (values - np.datetime64(0, "s")) / _SECOND if values.dtype.kind == "M" \
        else values.astype(float)


def _summary(values):
    return np.quantile(_as_seconds(values), _P), len(values)


def _merged_cdf(summaries):
    """The points of the summaries and how many values lie at or below each, as the summaries
    tell it (linearly between their quantiles)."""
    grid = np.unique(np.concatenate([points for points, _ in summaries]))
    below = sum(n * np.interp(grid, points, _P) for points, n in summaries)
    return grid, below


def _folded(summaries):
    """One summary of the values of ``summaries``."""
    grid, below = _merged_cdf(summaries)
    total = sum(n for _, n in summaries)
    return np.interp(_P * total, below, grid), total


def approximate_median(summaries):
    grid, below = _merged_cdf(summaries)
    return float(np.interp(below[-1] / 2, below, grid))


class Numbers:
    """A column's numbers (floats, NaN for gaps) or dates (datetime64, NaT for gaps). Over the
    training rows: their ``count``, ``low`` and ``high``, ``whole`` (numbers: whether all are
    whole; dates: the time of day that they share, else None), the values themselves (``kept``)
    while at most ``EXACT_VALUES``, the ``middle`` values where exact, and quantile
    ``summaries`` where not. Over all rows: ``rows``, ``gaps``, ``all_low``, ``all_whole`` and,
    for numbers that may be row numbers or identifiers, their ``distinct`` values."""

    def __init__(self, values, train, identifiers=False):
        self.dates = dates = values.dtype.kind == "M"
        gap = np.isnat(values) if dates else np.isnan(values)
        self.rows, self.gaps = len(values), int(gap.sum())
        seen = values[train & ~gap]
        self.count = len(seen)
        self.low = self.high = self.middle = None
        self.whole = None if dates else True
        self.kept, self.summaries = seen, []
        if self.count:
            self.low, self.high = seen.min(), seen.max()
            self.middle = _middle(seen)
            if dates:
                times = np.unique(seen - seen.astype("datetime64[D]"))
                self.whole = times[0] if len(times) == 1 else None
            else:
                self.whole = bool(np.all(seen == np.round(seen)))
            if self.count > EXACT_VALUES:
                self.kept, self.summaries = None, [_summary(seen)]
        known = values[~gap]
        self.all_low = known.min() if len(known) else None
        self.all_high = known.max() if len(known) else None
        self.all_whole = dates or bool(np.all(known == np.round(known)))
        # only what may be row numbers (no gaps, whole, from 0 or 1) or identifiers needs them
        self.distinct = {
            "all": _distinct(known) if not dates and self.gaps == 0 and self.all_whole
            and len(known) and self.all_low >= 0 else REPEATS,
            "train": _distinct(seen) if not dates and identifiers and self.whole else REPEATS}

    def merged(self, other):
        new = object.__new__(Numbers)
        new.dates = self.dates
        new.rows, new.gaps = self.rows + other.rows, self.gaps + other.gaps
        lows = [n.all_low for n in (self, other) if n.all_low is not None]
        new.all_low = min(lows) if lows else None
        highs = [n.all_high for n in (self, other) if n.all_high is not None]
        new.all_high = max(highs) if highs else None
        new.all_whole = self.all_whole and other.all_whole
        new.distinct = {key: _union(self.distinct[key], other.distinct[key])
                        for key in self.distinct}
        if not other.count or not self.count:
            source = self if self.count else other
            for field in ("count", "low", "high", "whole", "middle", "kept", "summaries"):
                setattr(new, field, getattr(source, field))
            return new
        new.count = self.count + other.count
        new.low, new.high = min(self.low, other.low), max(self.high, other.high)
        if not self.dates:
            new.whole = self.whole and other.whole
        else:
            new.whole = self.whole if self.whole is not None and other.whole is not None \
                and self.whole == other.whole else None
        new.kept, new.middle, new.summaries = None, None, self.summaries + other.summaries
        if self.kept is not None and other.kept is not None and new.count <= EXACT_VALUES:
            new.kept = np.concatenate([self.kept, other.kept])
            new.middle = _middle(new.kept)
        else:
            new.summaries += [_summary(n.kept) for n in (self, other) if n.kept is not None]
            if len(new.summaries) > _SUMMARIES:
                new.summaries = [_folded(new.summaries)]
        return new

    def learnt(self, feature, origin=None):
        """Sets a ``NumericFeature``'s training statistics (in days since ``origin`` for
        dates); returns the largest magnitude of its training values."""
        def units(values):
            if origin is None:
                return np.asarray(values, dtype=float)
            return days(pd.Series(np.asarray(values)), origin)
        low, high = units([self.low, self.high])
        if self.kept is not None:
            feature.learn(units(self.kept))
        else:
            if self.middle is not None:
                median = units(self.middle)
            else:
                # summaries of dates are in seconds since 1970
                median = approximate_median(self.summaries)
                if origin is not None:
                    median = (median - (origin - pd.Timestamp(0)) / pd.Timedelta(seconds=1)) \
                        / 86400.0
                median = np.array([median])
            if origin is None:
                whole = bool(self.whole)
            else:
                whole = self.whole is not None and self.whole == np.timedelta64(
                    origin - origin.normalize())
            feature.learnt(float(low), float(high), median, whole)
        return max(abs(low), abs(high))


def _text_dates(column, train):
    """Each of ``DATE_FORMATS`` in which every value of a text column parses -> the
    ``Numbers`` of its dates (naive, in UTC where they carry a time zone) and whether any value
    gives its time zone. Empty where a value is no text."""
    values = column.dropna()
    if ptypes.is_object_dtype(column.dtype):
        if not all(isinstance(v, str) for v in values):
            return {}
        if not all(type(v) is str for v in values):
            # numpy's str_, which older pandas does not parse as dates
            values = pd.Series([str(v) for v in values], index=values.index, dtype=object)
        values = values.astype("str")
    head = values.iloc[:50]
    known = column.notna().to_numpy()
    found = {}
    for fmt in DATE_FORMATS:
        zoned = False
        if fmt == ISO_8601:
            if not all(ISO_TIMESTAMP.fullmatch(v) for v in head) \
                    or not values.str.fullmatch(ISO_TIMESTAMP.pattern).all():
                continue
            zones = values.str.extract("^(?:%s)$" % ISO_TIMESTAMP.pattern, expand=False)
            zoned = bool((zones.notna() & (zones != "")).any())
        elif not pd.to_datetime(head, format=fmt, errors="coerce").notna().all():
            continue
        dates = timestamps(column, fmt)
        if dates.notna().to_numpy()[known].all():
            found[fmt] = (Numbers(dates.to_numpy(), train), zoned)
    return found


def merged_levels(a, b):
    """(training, all rows') value counts of the rows of ``a`` then ``b``, each pair of counts
    added, levels in the order in which they first come."""
    return tuple(pd.concat([x, y]).groupby(level=0, sort=False).sum() for x, y in zip(a, b))


class ColumnProfile:
    """The statistics of one column (see the module's docstring): ``dtype``; ``rows``,
    ``train_rows``, ``gaps`` and ``train_gaps``; ``all_numbers`` (every value of an object
    column is a real number); ``numbers`` (``Numbers`` of a column of numbers, dates or
    durations, else None); ``dates`` (text: date format -> (``Numbers``, zoned)); ``levels``
    ((training value counts, all-rows value counts) of a column of text or categories, None
    past ``KEPT_LEVELS`` distinct values)."""

    def __init__(self, source, column, train, answers):
        dtype = self.dtype = column.dtype
        gap = column.isna().to_numpy()
        self.rows, self.train_rows = len(column), int(train.sum())
        self.gaps, self.train_gaps = int(gap.sum()), int((gap & train).sum())
        self.all_numbers = ptypes.is_object_dtype(dtype) and (
            self.gaps == len(column) or holds_numbers(column))
        self.numbers, self.dates, self.levels = None, {}, None
        if ptypes.is_datetime64_any_dtype(dtype):
            self.numbers = Numbers(timestamps(column, None).to_numpy(), train)
        elif ptypes.is_timedelta64_dtype(dtype):
            self.numbers = Numbers(floats(column / pd.Timedelta(days=1)), train)
        elif is_number_column(column) or self.all_numbers:
            try:
                self.numbers = Numbers(floats(column), train, named_as_identifiers(source))
            except ValueError as error:
                # a number beyond the largest double: raised if the column is taken as numbers
                self.numbers = error
            else:
                self._answered(source, answers)
        if ptypes.is_object_dtype(dtype) or ptypes.is_string_dtype(dtype):
            self.dates = _text_dates(column, train)
        if isinstance(dtype, pd.CategoricalDtype) or ptypes.is_object_dtype(dtype) \
                or ptypes.is_string_dtype(dtype):
            if (self.dates or self.all_numbers) and self.gaps < self.rows:
                # dates (or numbers) in every partition need no levels; a partition of them
                # where others hold other text leaves the levels to questions
                return
            held = column.astype(object)
            counts = (held[~gap & train].value_counts(sort=False),
                      held[~gap].value_counts(sort=False))
            self.levels = counts
            if len(counts[1]) > KEPT_LEVELS:
                seen, distinct = self.train_rows - self.train_gaps, len(counts[0])
                answers["distinct_train", source] = distinct
                if seen >= IDENTIFIER_ROWS and distinct >= IDENTIFIER_SHARE * seen:
                    # identifiers: their counts are not needed
                    self.levels = None

    def _answered(self, source, answers):
        """Answers the questions on distinct numbers past those kept: all are distinct."""
        numbers = self.numbers
        for key, kind, count in (("all", "distinct_all", numbers.rows - numbers.gaps),
                                 ("train", "distinct_train", numbers.count)):
            if isinstance(numbers.distinct[key], str) and numbers.distinct[key] == UNKNOWN:
                answers[kind, source] = count

    def merged(self, other):
        new = object.__new__(ColumnProfile)
        new.dtype = self.dtype
        for field in ("rows", "train_rows", "gaps", "train_gaps"):
            setattr(new, field, getattr(self, field) + getattr(other, field))
        new.all_numbers = self.all_numbers and other.all_numbers
        new.numbers = self.numbers and other.numbers
        if isinstance(self.numbers, ValueError) or isinstance(other.numbers, ValueError):
            new.numbers = self.numbers if isinstance(self.numbers, ValueError) else other.numbers
        elif new.numbers is not None:
            new.numbers = self.numbers.merged(other.numbers)
        new.dates = {fmt: (self.dates[fmt][0].merged(other.dates[fmt][0]),
                           self.dates[fmt][1] or other.dates[fmt][1])
                     for fmt in DATE_FORMATS if fmt in self.dates and fmt in other.dates}
        new.levels = None
        if self.levels is not None and other.levels is not None:
            new.levels = merged_levels(self.levels, other.levels)
            if len(new.levels[1]) > KEPT_LEVELS:
                new.levels = None
        return new


class Unanswered(Exception):
    """A decision needs what a profile cannot tell: ``TableProfile.questions`` lists it."""


class TableProfile:
    """The statistics of a table's columns (``columns``, the target's among them): one
    ``ColumnProfile`` per feature column, and the answers given to its questions."""

    def __init__(self, columns, target, profiles, answers):
        self.columns, self.target = list(columns), target
        self.profiles, self.answers = profiles, answers

    def questions(self):
        """What the decisions need that this profile cannot tell, as (kind, source) pairs; ask
        again once they are answered (``answer``), as an answer may raise another question:

        - ("distinct_all", source) -> int: the number of distinct values over all rows of a
          column of numbers, its gaps (and infinities) left out, the values read as doubles;
        - ("distinct_train", source) -> int: the number of distinct values in the training
          rows (as doubles for a column of numbers, as levels for text), gaps left out;
        - ("counts", source) -> (training value counts, all-rows value counts) as pandas
          Series (``Series.value_counts(sort=False)`` of the values as objects, gaps left
          out), each in the order in which its levels first come in the table's rows.
        """
        from .columns import decide_features
        asked = []
        decide_features(self, asked)
        return asked

    def answer(self, kind, source, value):
        self.answers[kind, source] = value

    def known(self, kind, source):
        """The answer to a question, else raises ``Unanswered``."""
        if (kind, source) not in self.answers:
            raise Unanswered(kind, source)
        return self.answers[kind, source]

    def all_distinct(self, kind, source):
        """Whether every number of a column is distinct: over all rows ("distinct_all"), or in
        the training rows ("distinct_train")."""
        numbers = self.profiles[source].numbers
        held = numbers.distinct["all" if kind == "distinct_all" else "train"]
        if not isinstance(held, str):
            return True
        if held == REPEATS:
            return False
        count = numbers.rows - numbers.gaps if kind == "distinct_all" else numbers.count
        return self.known(kind, source) == count

    def distinct_levels(self, source):
        levels = self.profiles[source].levels
        return len(levels[0]) if levels is not None else self.known("distinct_train", source)

    def counts(self, source):
        levels = self.profiles[source].levels
        return levels if levels is not None else self.known("counts", source)


def profile_frame(frame, target, train_mask):
    """The profile of one frame (a partition of a table, or all of it), whose rows all have a
    target; ``train_mask``: True at the rows of the training split."""
    train = np.asarray(train_mask, dtype=bool)
    answers = {}
    profiles = {source: ColumnProfile(source, frame[source], train, answers)
                for source in frame.columns if source != target}
    return TableProfile(frame.columns, target, profiles, answers)


def merge(a, b):
    """The profile of the rows of ``a`` followed by those of ``b``."""
    profiles = {source: a.profiles[source].merged(b.profiles[source]) for source in a.profiles}
    return TableProfile(a.columns, a.target, profiles, {})
