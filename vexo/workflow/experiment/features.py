"""The features that the models see: each takes its column of a frame, encodes it as one
column of the models' input matrix with what it learnt on the training split, and undoes that
encoding for the views (``original``). ``columns`` decides which features a table has."""

import numbers

import numpy as np
import pandas as pd
from pandas.api import types as ptypes

# The significant digits that a value keeps when its scaling is undone, counted on the larger of
# the value and the feature's minimum (the numbers that scaling subtracts and unscaling adds
# back): the rounding error of the two steps sits three orders below the last of them, so that
# 27.6074 comes back as 27.6074 and not 27.607400000000002, while every value is exact to 1e-12
# of that magnitude (5.14280811 stays 5.14280811; an income keeps its cents up to 10**10).
ORIGINAL_DIGITS = 13
# The powers of ten that a double holds exactly: rounding to a decimal place within them gives
# the double nearest the decimal.
_EXACT_POWERS = 22
# Whole numbers up to this size are held exactly by a double; beyond it they come back as the
# doubles that the models saw, not as integers that they never were.
EXACT_INTEGERS = 2.0 ** 53
_LARGEST = np.finfo(float).max
_DAY = pd.Timedelta(days=1)
# The date format of ISO 8601 text ("2013-01-01T06:00:00.123Z", "...+01:00"), read in UTC, as a
# column may give each value in a time zone of its own.
ISO_8601 = "ISO8601"


def objects(column):
    """The column's values as an object array, None for its gaps (whatever their kind)."""
    held = column.to_numpy(dtype=object, copy=True)
    held[pd.isna(held)] = None
    return held


def floats(column):
    """A column of numbers as floats, NaN for its gaps and for infinities."""
    if ptypes.is_bool_dtype(column.dtype) or ptypes.is_object_dtype(column.dtype) \
            or ptypes.is_extension_array_dtype(column.dtype):
        held = objects(column)
        values = np.full(len(held), np.nan)
        known = ~pd.isna(held)
        try:
            values[known] = held[known].astype(float)
        except OverflowError:
            raise ValueError("column %r holds a number beyond the largest double (%.4g)"
                             % (column.name, _LARGEST)) from None
    else:
        values = column.to_numpy(dtype=float, copy=True)
    values[~np.isfinite(values)] = np.nan
    return values


def is_number_column(column):
    dtype = column.dtype
    if ptypes.is_bool_dtype(dtype):
        return True
    return ptypes.is_numeric_dtype(dtype) and not ptypes.is_complex_dtype(dtype)


def holds_numbers(column):
    """An object column whose values are all real numbers (not text, not booleans)."""
    values = column.dropna()
    return len(values) > 0 and all(
        isinstance(v, numbers.Real) and not isinstance(v, (bool, np.bool_)) for v in values)


def timestamps(column, fmt):
    """A column of dates (datetime dtype, or text in format ``fmt``) as naive timestamps, in
    UTC where they carry a time zone."""
    if ptypes.is_datetime64_any_dtype(column.dtype):
        dates = column
    else:
        zone = {"utc": True} if fmt == ISO_8601 else {}
        held = objects(column)
        if any(type(v) is np.str_ for v in held):
            # older pandas does not parse numpy's str_
            held = np.array([v if v is None else str(v) for v in held], dtype=object)
        dates = pd.Series(pd.to_datetime(held, format=fmt, errors="coerce", **zone),
                          index=column.index)
    if getattr(dates.dt, "tz", None) is not None:
        dates = dates.dt.tz_convert(None)
    return dates


def days(dates, origin):
    return floats((dates - origin) / _DAY)


class Feature:
    """One feature of the models: its ``name``, the column of the user's table it comes from
    (``source``), and how its values become one column of the models' input."""

    kind = "numeric"

    def __init__(self, name, source):
        self.name = name
        self.source = source

    def column(self, frame):
        """The feature's column of a frame: under its name, else under its name in the
        user's table."""
        if self.name in frame.columns:
            return frame[self.name]
        return frame[self.source]

    def present(self, frame):
        return self.name in frame.columns or self.source in frame.columns

    def __repr__(self):
        return "%s(%r)" % (type(self).__name__, self.name)


class NumericFeature(Feature):
    """Numbers (dates and durations as days), gaps filled with the training median, scaled
    to [0, 1] by the training range."""

    def __init__(self, name, source, origin=None, date_format=None, duration=False):
        super().__init__(name, source)
        self.origin, self.date_format, self.duration = origin, date_format, duration
        self.median, self.minimum, self.range = 0.0, 0.0, 1.0
        self.integral = self.halves = False

    def values(self, frame):
        """The feature's values in its own units (days for dates), NaN for gaps."""
        column = self.column(frame)
        if self.duration and ptypes.is_timedelta64_dtype(column.dtype):
            return floats(column / _DAY)
        if self.origin is not None and not (is_number_column(column)
                                            or holds_numbers(column)):
            return days(timestamps(column, self.date_format), self.origin)
        return floats(column)

    def learn(self, train_values):
        seen = train_values[~np.isnan(train_values)]
        self.learnt(float(seen.min()), float(seen.max()), seen,
                    bool(np.all(seen == np.round(seen))))

    def learnt(self, low, high, middle, integral):
        """Takes the training statistics: the least and greatest values, values whose median
        is the training median (all of them, or the middle one or two), whether all are
        whole."""
        with np.errstate(over="ignore"):
            self.median = float(np.median(middle))
            span = high - low
        if not np.isfinite(self.median):
            # the two middle values of an even count added up beyond the largest double
            self.median = 2 * float(np.median(middle / 2))
        self.minimum = low
        # A column holding both ±1.7e308 spans more than the largest double: its range is kept
        # halved (halving is exact), and so are its values while they are scaled.
        self.halves = not np.isfinite(span)
        # A constant feature maps to 0 rather than dividing by zero.
        self.range = (high / 2 - low / 2 if self.halves else span) or 1.0
        self.integral = integral

    def encode(self, frame):
        values = self.values(frame)
        values[np.isnan(values)] = self.median
        with np.errstate(over="ignore", invalid="ignore"):
            if not self.halves:
                scaled = (values - self.minimum) / self.range
                if np.all(np.isfinite(scaled)):
                    return scaled
            # a value far outside the training range overflowed: in halves, which give the
            # same doubles wherever the whole did not overflow
            scaled = (values / 2 - self.minimum / 2) / (
                self.range if self.halves else self.range / 2)
        # what still overflows sits at the largest double of its sign
        return np.clip(scaled, -_LARGEST, _LARGEST)

    def original(self, values):
        """Values in model scale back in the feature's units, as the shortest decimals that the
        scaling means (27.6074, not 27.607400000000002); whole numbers of a feature of whole
        numbers come back as integers where a double holds them exactly (up to 2**53)."""
        if self.halves:
            values = undo_scaling(values, self.minimum / 2, self.range, halves=True)
        else:
            values = undo_scaling(values, self.minimum, self.range)
        if self.integral and values.size and np.all(np.abs(values) <= EXACT_INTEGERS) \
                and np.all(values == np.round(values)):
            return values.astype(np.int64)
        return values


def undo_scaling(values, minimum, span, halves=False):
    """``values * span + minimum``, rounded to ``ORIGINAL_DIGITS`` significant digits of the
    larger of the value and ``minimum``, so that the rounding error of scaling and unscaling is
    gone and a value is otherwise exact. ``halves``: minimum and span are halved (a range
    beyond the largest double), and so doubled again at the end; such values are not rounded,
    as the digits kept would move the largest doubles themselves. A value whose rounding would
    pass the largest double is left unrounded."""
    factor = 2.0 if halves else 1.0
    with np.errstate(over="ignore", invalid="ignore"):
        values = (np.asarray(values, dtype=float) * span + minimum) * factor
    if halves:
        return values
    return np.asarray(_significant(values, abs(float(minimum))))


def _significant(values, floor):
    """``values`` at ``ORIGINAL_DIGITS`` significant digits of the larger of each value's
    magnitude and ``floor``: the nearest doubles to those decimals."""
    rounded = np.array(values, dtype=float)
    flat = rounded.reshape(-1)
    with np.errstate(divide="ignore", over="ignore", invalid="ignore"):
        magnitude = np.maximum(np.abs(flat), floor)
        decimals = ORIGINAL_DIGITS - 1 - np.floor(np.log10(magnitude))
    finite = np.isfinite(flat) & np.isfinite(decimals)
    for d in np.unique(decimals[finite]):
        at = finite & (decimals == d)
        d = int(d)
        with np.errstate(over="ignore", invalid="ignore"):
            if 0 <= d <= _EXACT_POWERS:
                new = np.rint(flat[at] * 10.0 ** d) / 10.0 ** d
            elif -_EXACT_POWERS <= d < 0:
                new = np.rint(flat[at] / 10.0 ** -d) * 10.0 ** -d
            else:
                new = np.array([_at_decimal_place(v, d) for v in flat[at]])
        flat[at] = np.where(np.isfinite(new), new, flat[at])
    return rounded + 0.0


def _at_decimal_place(value, decimals):
    """``value`` rounded to ``decimals`` decimal places, through its text: for the places that
    the exact powers of ten do not reach."""
    if value == 0:
        return 0.0
    kept = int(np.floor(np.log10(abs(value)))) + 1 + decimals
    if kept > 0:
        return float("%.*e" % (kept - 1, value))
    step = float("1e%d" % -decimals)
    return float(np.copysign(step, value)) if abs(value) >= step / 2 else 0.0


class IndicatorFeature(Feature):
    """1 where a numeric feature's value is missing, else 0."""

    def __init__(self, name, of):
        super().__init__(name, of.source)
        self.of = of
        self.minimum, self.range = 0.0, 1.0

    def present(self, frame):
        return self.of.present(frame)

    def encode(self, frame):
        return np.isnan(self.of.values(frame)).astype(float)

    def original(self, values):
        return values


class CategoricalFeature(Feature):
    """Integer codes of the training levels: ``labels[code]`` is a code's label."""

    kind = "categorical"

    def __init__(self, name, source, labels, code_of, missing_code, unseen_code):
        super().__init__(name, source)
        self.labels = np.array(labels, dtype=object)
        # every label of the training split -> its code (rare labels share the code of "other")
        self._index = pd.Index(list(code_of), dtype=object)
        self._codes = np.array(list(code_of.values()), dtype=int)
        self.missing_code = missing_code
        self.unseen_code = unseen_code

    def codes(self, frame):
        held = objects(self.column(frame))
        gaps = pd.isna(held)
        found = self._index.get_indexer(held)
        codes = np.where(found >= 0, self._codes[np.maximum(found, 0)], self.unseen_code)
        codes[gaps] = self.unseen_code if self.missing_code is None else self.missing_code
        return codes

    def encode(self, frame):
        return self.codes(frame).astype(float)

    def original(self, values):
        values = np.asarray(values, dtype=float)
        if np.isnan(values).any():
            # a NaN cast to an integer is a code far out of range
            raise ValueError("feature %r has no level at the code NaN" % (self.name,))
        return self.labels[np.clip(np.floor(values), 0, len(self.labels) - 1).astype(int)]
