"""Ticks in the data's own units: the axis of a feature in model scale labelled through the
pipeline's scaler.
"""
import numpy as np
from matplotlib import ticker

from .style import _is_number
from .text import ELLIPSIS, _TickFormatter, _distinct, _fmt, shorten


def _converted(scaler, feature, values):
    """The scaler's values for `values` as a list, and the kind it names ("categorical", ...)."""
    result = scaler(feature, np.asarray(values, dtype=float))
    try:
        first, kind = result
    except (TypeError, ValueError):
        raise ValueError("scaler for %r must return a pair whose first item holds the values" % (feature,)) from None
    first = np.asarray(first, dtype=object).ravel()
    if first.size != len(values):
        raise ValueError("scaler for %r returned %d values for %d" % (feature, first.size, len(values)))
    return [v.item() if isinstance(v, np.generic) else v for v in first], kind


def _original_values(scaler, feature, values):
    return _converted(scaler, feature, values)[0]


def _labels(values):
    """Tick labels of converted values: numbers at four significant digits, kept apart."""
    if values and all(_is_number(v) for v in values):
        return _distinct(values)
    return [_fmt(v) for v in values]


def _short_labels(texts, chars):
    """Each text longer than `chars` shortened to its leading words (``text.shorten``); where the
    words kept could begin another text too ("General…" beside "General Motors"), it is cut at
    `chars` instead, mid-word."""
    texts = [str(t) for t in texts]
    short = [t if len(t) <= chars else shorten(t, chars) for t in texts]
    return [t[:max(chars - 1, 1)] + ELLIPSIS
            if s != t and any(o != t and o.startswith(s[:-1]) for o in texts) else s
            for t, s in zip(texts, short)]


# The longest level name on a narrow axis (the pair plot's panels): a longer one is shortened.
LEVEL_CHARS = 16


def _fit_levels(target, labels):
    """Level labels that fit their axis: long names shortened; on an x axis too narrow for them
    side by side, turned upright; where even a line each is too much, only every k-th shown."""
    ax = target.axes
    fig = ax.figure
    box = ax.get_position()
    horizontal = target is ax.xaxis
    length = 72.0 * (box.width * fig.get_figwidth() if horizontal else box.height * fig.get_figheight())
    labels = _short_labels(labels, LEVEL_CHARS)
    shown = target.get_ticklabels()
    size = shown[0].get_fontsize() if shown else 10.0
    room = length / max(len(labels), 1)
    upright = horizontal and max(len(t) for t in labels) * 0.6 * size > room
    if upright:
        target.set_tick_params(labelrotation=90)
    if (upright or not horizontal) and 1.3 * size > room:
        every = int(np.ceil(1.3 * size / room))
        labels = [t if k % every == 0 else "" for k, t in enumerate(labels)]
    return labels


# The most level codes that an axis labels one by one.
MOST_CODES = 60


def _codes_in_view(lo, hi):
    """The whole-number codes from lo to hi, or None where there are none or more than
    MOST_CODES."""
    eps = 1e-9 * (hi - lo)
    codes = np.arange(np.ceil(lo - eps), np.floor(hi + eps) + 1)
    return codes if 0 < len(codes) <= MOST_CODES else None


def _levels_in_view(target, scaler, feature, lo, hi):
    """One tick at each code that the axis shows, labelled with its level; a tick between two
    codes would repeat the label of one of them. False when there are too many codes for ticks."""
    codes = _codes_in_view(lo, hi)
    if codes is None:
        return False
    labels = _labels(_original_values(scaler, feature, codes))
    # codes outside the feature's levels come back as the nearest level: drop the repeats
    first, last = 0, len(labels) - 1
    while first < last and labels[first] == labels[first + 1]:
        first += 1
    while last > first and labels[last] == labels[last - 1]:
        last -= 1
    # placed first as they are, so that the type size of their labels can be read
    target.set_ticks(codes[first:last + 1], labels[first:last + 1])
    target.set_ticks(codes[first:last + 1], _fit_levels(target, labels[first:last + 1]))
    # a level is a cell around its code: the first and last whole, not cut at the border
    wider = (min(lo, codes[first] - 0.5), max(hi, codes[last] + 0.5))
    start, end = target.get_view_interval()
    if start > end:
        wider = wider[::-1]
    if target is target.axes.xaxis:
        target.axes.set_xlim(*wider)
    else:
        target.axes.set_ylim(*wider)
    return True


def scale_plot_ticks(ax, feature, scaler, axis=0):
    """Label the ticks of ax's x axis (axis 0) or y axis (axis 1) in the original units of feature.

    A numeric, strictly monotonic scaler gets round tick values in original units placed where
    they fall; a categorical feature (the scaler says so, or returns labels) gets one tick per
    whole-number code in view; any other scaler has the present ticks relabelled with what it
    returns. An axis without a label is labelled with the feature's name.
    """
    if scaler is None:
        return None
    if axis not in (0, 1):
        raise ValueError("axis must be 0 (x) or 1 (y), got %r" % (axis,))
    target = ax.xaxis if axis == 0 else ax.yaxis
    if feature is not None and not target.get_label_text():
        target.set_label_text(str(feature))
    lo, hi = sorted(ax.get_xlim() if axis == 0 else ax.get_ylim())
    if not lo < hi:
        return None

    grid = np.linspace(lo, hi, 257)
    mapped, kind = _converted(scaler, feature, grid)
    try:
        orig = np.asarray(mapped, dtype=float)
    except (TypeError, ValueError):
        orig = None
    categorical = orig is None or (isinstance(kind, str) and kind == "categorical")
    if categorical and _levels_in_view(target, scaler, feature, lo, hi):
        return None
    if orig is not None and np.all(np.isfinite(orig)):
        steps = np.diff(orig)
        if (np.all(steps >= 0) or np.all(steps <= 0)) and np.ptp(orig) > 0:
            if orig[-1] < orig[0]:
                orig, grid = orig[::-1], grid[::-1]
            # a scaler that holds still beyond the training range is monotonic inside it
            _, keep = np.unique(orig, return_index=True)
            orig, grid = orig[keep], grid[keep]
            span = orig[-1] - orig[0]
            box = ax.get_position()
            inches = (box.width * ax.figure.get_figwidth() if axis == 0 else box.height * ax.figure.get_figheight())
            # a narrow axis may take a step or two more than its width suggests: three round
            # values can leave half the axis bare where a fourth fits
            fits = int(np.clip(round(inches * 1.1), 3, 9))
            for nbins in range(fits, min(fits + 2, 9) + 1):
                nice = ticker.MaxNLocator(nbins=nbins, steps=[1, 2, 2.5, 5, 10]).tick_values(orig[0], orig[-1])
                nice = nice[(nice >= orig[0] - 1e-9 * span) & (nice <= orig[-1] + 1e-9 * span)]
                locs = np.interp(nice, orig, grid)
                # a strongly curved scaler crowds round values at one end; even ticks read better then
                spread = np.diff(np.concatenate([[lo], np.sort(locs), [hi]]))
                if len(nice) >= 2 and spread.max() <= 0.45 * (hi - lo):
                    target.set_ticks(locs, _TickFormatter().format_ticks(nice))
                    return None

    eps = 1e-9 * (hi - lo)
    locs = [t for t in target.get_majorticklocs() if lo - eps <= t <= hi + eps]
    if locs:
        target.set_ticks(locs, _labels(_original_values(scaler, feature, locs)))
    return None
