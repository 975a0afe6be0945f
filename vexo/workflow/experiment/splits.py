"""A decision tree's splits as they read in the data's own units.

A tree sends a row left where its feature's model-scale value, held as a 32-bit float, is at
most the split's threshold. Converted to the data's units that threshold is a long decimal
(92.9999997), and rounded blindly to a few digits it can land on the other side of a value that
training rows hold. A split is printed instead as the shortest readable condition that sends
every training value of the feature the way the model sends it:

- numbers: the cut rounded to 4 significant digits of the training values beside it; where that
  number would put a training value on the wrong side, the nearest number of that precision that
  does not, else one digit more (``bp <= 92.99`` for a cut just below 93 when 92.67 lies left).
  A feature of whole numbers prints whole numbers or halves (``bp <= 92.5``, ``year <= 1945``);
- dates: the day, else the hour, minute or second, nearest the cut that separates the training
  dates (``opened <= 2021-03-14``: rows of that day and before go left);
- missing indicators: ``= 0``, the rows whose value is present go left;
- categories: the set of levels that go left, ``∈ {GE, GM}``, cut after a few levels with
  ``… (+N)``; never an order of the levels' codes.
"""
import math

import numpy as np
import pandas as pd

from .features import CategoricalFeature, IndicatorFeature

# significant digits of a printed cut, more only where fewer would move a training value
SIGNIFICANT = 4
# the finest step of a cut of a feature of whole numbers: a half, the midpoint of two of them
WHOLE_STEP = 0.5
# the set of levels of a category split: this many characters of level names at most (at least
# one level), each level cut to LEVEL_WIDTH characters
LEVELS_WIDTH = 28
LEVEL_WIDTH = 14
_DAY = pd.Timedelta(days=1)
# a cut of a date column, from the day down to the second
_DATE_STEPS = (("D", "%Y-%m-%d"), ("h", "%Y-%m-%d %H:00"), ("min", "%Y-%m-%d %H:%M"),
               ("s", "%Y-%m-%d %H:%M:%S"))


def training_values(feature, frame):
    """A numeric feature's distinct values in ``frame`` (the training rows) in its own units,
    gaps as the median that the models see, ascending; and each as the tree compares it (model
    scale as a 32-bit float, which never falls as the value rises)."""
    raw = feature.values(frame)
    raw[np.isnan(raw)] = feature.median
    values, first = np.unique(raw, return_index=True)
    seen = np.asarray(feature.encode(frame), dtype=float)[first]
    return values, seen.astype(np.float32).astype(float)


def condition(feature, threshold, values=None, seen=None):
    """The text after the feature's name of a split at ``threshold`` (model scale); ``values``
    and ``seen`` are ``training_values`` of a numeric feature."""
    threshold = float(threshold)
    if isinstance(feature, CategoricalFeature):
        return level_set(feature.labels, threshold)
    if isinstance(feature, IndicatorFeature):
        # its values are 0 and 1: a split between them sends the 0s left
        return "= 0" if 0 <= threshold < 1 else "<= " + number_between(threshold, None, None)
    if feature.halves:
        cut = (threshold * feature.range + feature.minimum / 2) * 2
    else:
        cut = threshold * feature.range + feature.minimum
    k = int(np.searchsorted(seen, threshold, side="right"))
    low = float(values[k - 1]) if k > 0 else None
    high = float(values[k]) if k < len(values) else None
    if feature.origin is not None and not feature.duration:
        text = date_between(feature.origin, cut, low, high)
        if text is not None:
            return "<= " + text
    return "<= " + number_between(cut, low, high, whole=feature.integral)


def _inside(value, low, high):
    return (low is None or low <= value) and (high is None or value < high)


def _decimal(value, decimals):
    text = "%.*f" % (decimals, value)
    if "." in text:
        text = text.rstrip("0").rstrip(".")
    return "0" if text == "-0" else text


def number_between(cut, low, high, whole=False):
    """The number nearest ``cut`` with the fewest digits (``SIGNIFICANT`` significant digits
    of the training values beside it, more where needed) that training value ``low`` does not
    exceed and ``high`` does: every value up to ``low`` lies at or below it, every value from
    ``high`` above. ``whole``: the values are whole numbers, the cut a whole number or a half.
    Either bound may be None (no training value on that side)."""
    near = [abs(v) for v in (low, high) if v is not None]
    scale = max(near) if near and max(near) > 0 else (abs(cut) or 1.0)
    top = math.floor(math.log10(scale))
    for digits in range(SIGNIFICANT, 18):
        exponent = top - digits + 1
        step, decimals = 10.0 ** exponent, max(0, -exponent)
        if whole and step < WHOLE_STEP:
            step, decimals = WHOLE_STEP, 1
        first = None if low is None else math.ceil(low / step)
        last = None if high is None else math.ceil(high / step) - 1
        if first is not None and last is not None and first > last:
            continue
        k = round(cut / step)
        k = k if first is None else max(k, first)
        k = k if last is None else min(k, last)
        text = _decimal(k * step, decimals)
        if _inside(float(text), low, high):
            return text
    # the training value below the cut is a cut of its own
    return repr(low if low is not None else cut)


def date_between(origin, cut, low, high):
    """The day (else the hour, minute or second) nearest ``cut`` that training date ``low`` is
    not after and ``high`` is after; dates as days since ``origin``. None where the dates leave
    the calendar's range."""
    try:
        stamp = lambda days: origin + pd.to_timedelta(days, unit="D")  # noqa: E731
        at = stamp(cut)
        start = None if low is None else stamp(low)
        end = None if high is None else stamp(high) - pd.Timedelta(1, unit="ns")
        for step, form in _DATE_STEPS:
            first = None if start is None else start.ceil(step)
            last = None if end is None else end.floor(step)
            if first is not None and last is not None and first > last:
                continue
            chosen = at.round(step)
            chosen = chosen if first is None else max(chosen, first)
            chosen = chosen if last is None else min(chosen, last)
            text = chosen.strftime(form)
            if _inside((pd.Timestamp(text) - origin) / _DAY, low, high):
                return text
        return str(start if start is not None else at)
    except (OverflowError, ValueError):
        return None


def level_set(labels, threshold):
    """``∈ {…}`` of the levels whose code is at most ``threshold``, in code order; after
    ``LEVELS_WIDTH`` characters of names the rest is counted, ``… (+N)``."""
    left = [str(label) for code, label in enumerate(labels) if code <= threshold]
    shown, used = [], 0
    for level in left:
        if len(level) > LEVEL_WIDTH:
            level = level[:LEVEL_WIDTH - 1] + "…"
        if shown and used + len(level) > LEVELS_WIDTH:
            break
        shown.append(level)
        used += len(level) + 2
    if len(left) > len(shown):
        shown.append("… (+%d)" % (len(left) - len(shown)))
    return "∈ {%s}" % ", ".join(shown)
