"""Plot primitives of the experiment workflow.

Every ``plot`` draws one complete figure of the requested size in one shared look and shows it.
Inputs are checked before a figure is made, so a bad call never leaves half a figure behind.
"""
import re

import matplotlib.pyplot as plt
import numpy as np
from matplotlib import ticker

__all__ = ["PlotHBar", "PlotEffect", "PlotHeatmap", "scale_plot_ticks", "Title"]

INK = "#262626"
MUTED = "#5f5f5f"
SPINE = "#b0b0b0"
GRID = "#e4e4e4"
BAR = "#4c72b0"
DENSITY = "#a9bbd8"
POS = "#e74c3c"
NEG = "#27ae60"
CMAP = "RdBu_r"

TITLE_SIZE = 13
LABEL_SIZE = 10.5
TICK_SIZE = 9.5
NOTE_SIZE = 9


class Title(str):
    """A chart title that also says what the chart's value axis measures.

    It is a ``str`` in every way (it passes through the views unchanged); ``axis_label`` is the
    label a bar chart puts under its value axis, e.g. "drop in R²".
    """

    def __new__(cls, text, axis_label=None):
        self = super().__new__(cls, text)
        self.axis_label = axis_label
        return self

    def __reduce__(self):
        return (Title, (str(self), self.axis_label))


# ---------------------------------------------------------------- checking inputs

def _figsize(figsize):
    if figsize is None:
        return (8.0, 6.0)
    try:
        w, h = (float(v) for v in figsize)
    except (TypeError, ValueError):
        raise ValueError("figsize must be two numbers (width, height) in inches, got %r" % (figsize,))
    if not (np.isfinite(w) and np.isfinite(h) and w > 0 and h > 0):
        raise ValueError("figsize must be two positive numbers, got %r" % (figsize,))
    return (w, h)


def _items(name, values):
    """The entries of a sequence argument as a list, one per bar or category."""
    if values is None:
        raise ValueError("%s is required" % name)
    if hasattr(values, "to_numpy"):
        values = values.to_numpy()
    try:
        if isinstance(values, (str, bytes)):
            raise TypeError
        len(values)
    except TypeError:
        raise ValueError("%s must be a sequence, got %r" % (name, values)) from None
    return list(values)


def _numbers(name, values):
    """A finite one-dimensional float array; an (n, 1) or (1, n) array counts as a vector."""
    if values is None:
        raise ValueError("%s is required" % name)
    if isinstance(values, (str, bytes)):
        raise ValueError("%s must hold numbers, got %r" % (name, values))
    if hasattr(values, "to_numpy"):
        values = values.to_numpy()
    try:
        arr = np.asarray(values, dtype=float)
    except (TypeError, ValueError):
        raise ValueError("%s must hold numbers only" % name) from None
    if arr.ndim == 0:
        raise ValueError("%s must be a sequence of numbers, got %r" % (name, values))
    if arr.ndim > 1:
        if sum(d > 1 for d in arr.shape) > 1:
            raise ValueError("%s must be one-dimensional, got shape %s" % (name, arr.shape))
        arr = arr.ravel()
    if not np.all(np.isfinite(arr)):
        raise ValueError("%s holds NaN or infinite values" % name)
    return arr


def _number(name, value):
    if value is None:
        return None
    try:
        arr = np.asarray(value, dtype=float)
    except (TypeError, ValueError):
        raise ValueError("%s must be a number, got %r" % (name, value)) from None
    if arr.size != 1 or not np.isfinite(arr).all():
        raise ValueError("%s must be one finite number, got %r" % (name, value))
    return float(arr.ravel()[0])


def _same_length(**named):
    lengths = {k: len(v) for k, v in named.items() if v is not None}
    if len(set(lengths.values())) > 1:
        listed = ", ".join("%s has %d" % kv for kv in lengths.items())
        raise ValueError("one entry per bar is needed, but " + listed)


def _is_number(v):
    return isinstance(v, (int, float, np.integer, np.floating)) and not isinstance(v, (bool, np.bool_))


# ---------------------------------------------------------------- text

def _fmt(v, digits=4):
    """Numbers with at most `digits` decimals, or `digits` significant ones below 1; anything else
    as its text."""
    if isinstance(v, np.ndarray) and v.ndim == 0:
        v = v.item()
    if v is None:
        return ""
    if isinstance(v, (str, bytes)):
        return v.decode() if isinstance(v, bytes) else v
    if isinstance(v, (bool, np.bool_)):
        return str(bool(v))
    if isinstance(v, (int, np.integer)):
        return str(int(v))
    if isinstance(v, (float, np.floating)):
        v = float(v)
        if not np.isfinite(v):
            return str(v)
        if v == 0:
            return "0"
        if abs(v) >= 1e9 or abs(v) < 1e-5:
            return "%.*g" % (min(digits, 4), v)
        return np.format_float_positional(v, precision=digits, fractional=abs(v) >= 1, trim="-")
    if np.ndim(v) > 0:
        return " x ".join(_fmt(x, digits) for x in np.ravel(np.asarray(v, dtype=object)))
    return str(v)


def _tick_formatter(digits=4):
    return ticker.FuncFormatter(lambda v, _pos: _fmt(v, digits).replace("-", "\u2212"))


def _wrap(text, width):
    """Break long names after blanks, underscores, dots, slashes or hyphens; cut only words too long for a line."""
    width = max(int(width), 8)
    lines = []
    for para in str(text).split("\n"):
        line = ""
        for token in re.split(r"(?<=[\s_./\-])", para):
            while len(token) > width:
                if line:
                    lines.append(line.rstrip())
                    line = ""
                lines.append(token[:width])
                token = token[width:]
            if line and len(line) + len(token.rstrip()) > width:
                lines.append(line.rstrip())
                line = token.lstrip()
            else:
                line += token
        lines.append(line.rstrip())
    return "\n".join(lines)


def _chars_across(fig, fontsize, share=1.0):
    return fig.get_figwidth() * 72.0 * share / (0.6 * fontsize)


def _title(ax, text):
    ax.set_title(text, fontsize=TITLE_SIZE, color=INK, fontweight="bold", pad=10)


def _fit_title(fig, ax):
    """Wrap the title so that, centred over its axes, it stays inside the figure."""
    text = ax.title.get_text()
    if not text:
        return
    fig.draw_without_rendering()
    renderer = fig.canvas.get_renderer()
    box = ax.get_window_extent(renderer)
    centre = (box.x0 + box.x1) / 2.0
    room = 2.0 * min(centre, fig.bbox.width - centre) - 8.0
    width = len(text)
    for _ in range(12):
        ax.title.set_text(_wrap(text, width))
        used = ax.title.get_window_extent(renderer).width
        if used <= room or width <= 8:
            break
        width = max(8, min(width - 1, int(width * room / used)))


def _importance_title(prefix, name, importance):
    text = prefix + " of " + name if name else prefix
    if importance is not None:
        text += " (Importance: %s)" % _fmt(importance)
    return text


# ---------------------------------------------------------------- figures

def _figure(figsize, nrows=1, height_ratios=None):
    fig = plt.figure(figsize=figsize, layout="constrained", facecolor="white")
    fig.get_layout_engine().set(h_pad=0.08, w_pad=0.08, hspace=0.03)
    if nrows == 1:
        return fig, [fig.add_subplot()]
    axes = fig.subplots(nrows, 1, sharex=True, gridspec_kw={"height_ratios": height_ratios})
    return fig, list(axes)


def _style(ax, grid_axis=None):
    ax.set_facecolor("white")
    for side in ("top", "right"):
        ax.spines[side].set_visible(False)
    for side in ("left", "bottom"):
        ax.spines[side].set_color(SPINE)
    ax.tick_params(colors=MUTED, labelcolor=INK, labelsize=TICK_SIZE, length=3, width=0.8)
    if grid_axis:
        ax.grid(True, axis=grid_axis, color=GRID, linewidth=0.8, linestyle="-")
    ax.set_axisbelow(True)


def _zero_line(ax, vertical=False):
    line = ax.axvline if vertical else ax.axhline
    line(0, color=MUTED, linewidth=0.9, linestyle="--", zorder=1.5)


def _nothing_to_show(ax):
    for spine in ax.spines.values():
        spine.set_visible(False)
    ax.set_xticks([])
    ax.set_yticks([])
    ax.text(0.5, 0.5, "Nothing to show", transform=ax.transAxes, ha="center", va="center",
            color=MUTED, fontsize=LABEL_SIZE, fontstyle="italic")


def _declutter_xticklabels(fig, ax):
    """Turn the x tick labels aslant when they would run into each other."""
    fig.draw_without_rendering()
    renderer = fig.canvas.get_renderer()
    boxes = [t.get_window_extent(renderer) for t in ax.get_xticklabels() if t.get_visible() and t.get_text()]
    boxes.sort(key=lambda b: b.x0)
    if any(a.x1 + 2 > b.x0 for a, b in zip(boxes, boxes[1:])):
        ax.tick_params(axis="x", labelrotation=40)
        for t in ax.get_xticklabels():
            t.set_horizontalalignment("right")
            t.set_rotation_mode("anchor")


def _show(fig, draw):
    """Run draw(fig); a failure part way closes the figure instead of leaving it half made."""
    try:
        draw(fig)
        for ax in fig.axes:
            _fit_title(fig, ax)
        fig.draw_without_rendering()
    except BaseException:
        plt.close(fig)
        raise
    plt.show()


# ---------------------------------------------------------------- scaling

def _original_values(scaler, feature, values):
    result = scaler(feature, np.asarray(values, dtype=float))
    try:
        first, _ = result
    except (TypeError, ValueError):
        raise ValueError("scaler for %r must return a pair whose first item holds the values" % (feature,)) from None
    first = np.asarray(first, dtype=object).ravel()
    if first.size != len(values):
        raise ValueError("scaler for %r returned %d values for %d" % (feature, first.size, len(values)))
    return [v.item() if isinstance(v, np.generic) else v for v in first]


def scale_plot_ticks(ax, feature, scaler, axis=0):
    """Label the ticks of ax's x axis (axis 0) or y axis (axis 1) in the original units of feature.

    A numeric, strictly monotonic scaler gets round tick values in original units placed where
    they fall; a scaler that returns labels gets one tick per whole-number code in view; any other
    scaler has the present ticks relabelled with what it returns.
    """
    if scaler is None:
        return None
    if axis not in (0, 1):
        raise ValueError("axis must be 0 (x) or 1 (y), got %r" % (axis,))
    target = ax.xaxis if axis == 0 else ax.yaxis
    lo, hi = sorted(ax.get_xlim() if axis == 0 else ax.get_ylim())
    if not lo < hi:
        return None

    grid = np.linspace(lo, hi, 257)
    mapped = _original_values(scaler, feature, grid)
    try:
        orig = np.asarray(mapped, dtype=float)
    except (TypeError, ValueError):
        orig = None
    if orig is not None and np.all(np.isfinite(orig)):
        steps = np.diff(orig)
        if np.all(steps > 0) or np.all(steps < 0):
            if steps[0] < 0:
                orig, grid = orig[::-1], grid[::-1]
            span = orig[-1] - orig[0]
            box = ax.get_position()
            inches = (box.width * ax.figure.get_figwidth() if axis == 0 else box.height * ax.figure.get_figheight())
            nbins = int(np.clip(round(inches * 1.1), 3, 9))
            nice = ticker.MaxNLocator(nbins=nbins, steps=[1, 2, 2.5, 5, 10]).tick_values(orig[0], orig[-1])
            nice = nice[(nice >= orig[0] - 1e-9 * span) & (nice <= orig[-1] + 1e-9 * span)]
            locs = np.interp(nice, orig, grid)
            # a strongly curved scaler crowds round values at one end; even ticks read better then
            spread = np.diff(np.concatenate([[lo], np.sort(locs), [hi]]))
            if len(nice) >= 2 and spread.max() <= 0.45 * (hi - lo):
                target.set_ticks(locs, [_fmt(v) for v in nice])
                return None

    eps = 1e-9 * (hi - lo)
    if orig is None:
        # labels of a categorical feature's codes: one tick at each code that the axis shows, since
        # a tick between two codes would repeat the label of the nearer one
        codes = np.arange(np.ceil(lo - eps), np.floor(hi + eps) + 1)
        if 0 < len(codes) <= 60:
            labels = [_fmt(v) for v in _original_values(scaler, feature, codes)]
            # codes outside the feature's levels come back as the nearest level: drop the repeats
            first, last = 0, len(labels) - 1
            while first < last and labels[first] == labels[first + 1]:
                first += 1
            while last > first and labels[last] == labels[last - 1]:
                last -= 1
            target.set_ticks(codes[first:last + 1], labels[first:last + 1])
            return None
    locs = [t for t in target.get_majorticklocs() if lo - eps <= t <= hi + eps]
    if locs:
        values = _original_values(scaler, feature, locs)
        target.set_ticks(locs, [np.format_float_positional(float(v), precision=5, fractional=False, trim="-")
                                if _is_number(v) and 1e-5 <= abs(v) < 1e9 else _fmt(v) for v in values])
    return None


# ---------------------------------------------------------------- bars

class PlotHBar:
    """Horizontal bar charts: plain, signed with value labels, and signed with stems."""

    def plot(self, X, height, title="", figsize=(8, 6), value=None, mid_center=False,
             pos_color=POS, neg_color=NEG):
        """Bars in the given order, the first at the bottom.

        With value, every bar takes pos_color or neg_color by its sign and is labelled with its
        value; mid_center puts zero in the middle of the chart.
        """
        self._draw(X, height, title, figsize, value, None, mid_center, pos_color, neg_color)

    def plot_stem(self, X, height, value, stem_value0, stem_value1, title="", mid_center=False,
                  pos_color=POS, neg_color=NEG, figsize=(8, 6)):
        """The signed, labelled bars of plot, each crossed by a stem from stem_value0 (open
        marker) to stem_value1 (filled marker)."""
        self._draw(X, height, title, figsize, value, (stem_value0, stem_value1),
                   mid_center, pos_color, neg_color)

    def _draw(self, X, height, title, figsize, value, stems, mid_center, pos_color, neg_color):
        figsize = _figsize(figsize)
        names = [_fmt(x) for x in _items("X", X)]
        heights = _numbers("height", height)
        labels = None if value is None else [_fmt(v) for v in _items("value", value)]
        s0 = s1 = None
        if stems is not None:
            s0 = _numbers("stem_value0", stems[0])
            s1 = _numbers("stem_value1", stems[1])
        _same_length(X=names, height=heights, value=labels, stem_value0=s0, stem_value1=s1)
        signed = value is not None

        def draw(fig):
            ax = fig.axes[0]
            _style(ax, grid_axis="x")
            _title(ax, "" if title is None else str(title))
            n = len(names)
            if n == 0:
                _nothing_to_show(ax)
                return
            y = np.arange(n)
            colors = [pos_color if h >= 0 else neg_color for h in heights] if signed else BAR
            ax.barh(y, heights, height=0.56 if stems else 0.7, color=colors, edgecolor="none", zorder=2)

            fontsize = self._label_size(fig, n, names)
            width = _chars_across(fig, fontsize, 0.3)
            ax.set_yticks(y, [_wrap(s, width) for s in names], fontsize=fontsize)
            ax.tick_params(axis="y", length=0, pad=6)
            ax.spines["left"].set_visible(False)
            ax.set_ylim(-0.6, n - 0.4)

            outer_hi, outer_lo = heights.copy(), heights.copy()
            if stems:
                ax.hlines(y, np.minimum(s0, s1), np.maximum(s0, s1), color=INK, linewidth=1.3,
                          zorder=3, gid="stem")
                ax.plot(s0, y, linestyle="none", marker="o", markersize=6, markerfacecolor="white",
                        markeredgecolor=INK, markeredgewidth=1.3, zorder=4, gid="stem_value0")
                ax.plot(s1, y, linestyle="none", marker="o", markersize=6, color=INK, zorder=4,
                        gid="stem_value1")
                outer_hi = np.maximum.reduce([heights, s0, s1])
                outer_lo = np.minimum.reduce([heights, s0, s1])

            texts, anchors, sides = [], [], []
            offset = 8 if stems else 4
            if signed:
                for i, (h, text) in enumerate(zip(heights, labels)):
                    if not text:
                        continue
                    side = 1 if h >= 0 else -1
                    anchor = outer_hi[i] if side > 0 else outer_lo[i]
                    anchors.append(max(anchor, 0.0) if side > 0 else min(anchor, 0.0))
                    sides.append(side)
                    texts.append(ax.annotate(
                        text, xy=(anchors[-1], i), xytext=(offset * side, 0), textcoords="offset points",
                        ha="left" if side > 0 else "right", va="center", fontsize=NOTE_SIZE,
                        color=MUTED, zorder=5))
                    # fitted inside the axes below; the layout must not shrink the axes for them
                    texts[-1].set_in_layout(False)
            lo, hi = self._fit_xlim(fig, ax, outer_lo, outer_hi, texts, anchors, sides, mid_center, offset)
            if lo < 0 < hi:
                _zero_line(ax, vertical=True)
            ax.xaxis.set_major_formatter(_tick_formatter())

        fig, _ = _figure(figsize)
        _show(fig, draw)

    @staticmethod
    def _label_size(fig, n, names):
        # Crowded or long names need smaller type to stay apart.
        per_bar = fig.get_figheight() * 72.0 * 0.72 / max(n, 1)
        width = _chars_across(fig, TICK_SIZE, 0.3)
        lines = max(_wrap(s, width).count("\n") + 1 for s in names)
        return float(np.clip(per_bar * 0.62 / lines, 6.0, TICK_SIZE))

    @staticmethod
    def _label_shares(fig, renderer, axes_width, texts, sides, offset, centred):
        """The share of the axes width each value label needs, its text wrapped or shrunk
        until the labels leave at least 30% of the width to the bars."""
        gap = (offset + 2.0) * fig.dpi / 72.0
        raw = [t.get_text() for t in texts]
        for _ in range(8):
            shares = [(t.get_window_extent(renderer).width + gap) / axes_width for t in texts]
            right = max([f for f, s in zip(shares, sides) if s > 0], default=0.0)
            left = max([f for f, s in zip(shares, sides) if s < 0], default=0.0)
            need = 2 * max(right, left) if centred else right + left
            if need <= 0.7:
                break
            limit = 0.7 / (2 if centred or (right and left) else 1)
            changed = False
            for t, text, f in zip(texts, raw, shares):
                if f > limit:
                    longest = max(len(line) for line in t.get_text().split("\n"))
                    wrapped = _wrap(text, max(8, int(longest * limit / f)))
                    changed |= wrapped != t.get_text()
                    t.set_text(wrapped)
            if not changed:
                for t in texts:
                    t.set_fontsize(max(6.0, t.get_fontsize() - 1))
        # shares above 0.45 could never be met together and would not converge
        return [min(f, 0.45) for f in shares]

    @staticmethod
    def _fit_xlim(fig, ax, lo_values, hi_values, texts, anchors, sides, centred, offset):
        lo0 = min(0.0, float(lo_values.min()))
        hi0 = max(0.0, float(hi_values.max()))
        if hi0 == lo0:
            lo0, hi0 = (-1.0, 1.0) if centred else (0.0, 1.0)
        pad = 0.04 * (hi0 - lo0)
        lo0 = lo0 - pad if lo0 < 0 else lo0
        hi0 = hi0 + pad if hi0 > 0 else hi0
        if centred:
            m = max(hi0, -lo0)
            lo0, hi0 = -m, m
        lo, hi = lo0, hi0
        if texts:
            fig.draw_without_rendering()
            renderer = fig.canvas.get_renderer()
            axes_width = ax.get_window_extent(renderer).width
            shares = PlotHBar._label_shares(fig, renderer, axes_width, texts, sides, offset, centred)
            for _ in range(200):
                span = hi - lo
                new_hi = max([hi0] + [a + f * span for a, f, s in zip(anchors, shares, sides) if s > 0])
                new_lo = min([lo0] + [a - f * span for a, f, s in zip(anchors, shares, sides) if s < 0])
                if centred:
                    m = max(new_hi, -new_lo)
                    new_lo, new_hi = -m, m
                if abs(new_hi - hi) + abs(new_lo - lo) <= 1e-9 * span:
                    break
                lo, hi = new_lo, new_hi
        ax.set_xlim(lo, hi)
        return lo, hi


# ---------------------------------------------------------------- main effects

class PlotEffect:
    """The main effect of one feature over a strip of its sample density."""

    def __init__(self, feature=None):
        self.feature = feature

    def plot(self, feature_type, importance=None, categories=None, height=None, density_names=None,
             scores=None, xgrid=None, ygrid=None, xticks=None, xticks_label=None, figsize=(8, 6),
             scaler=None):
        """A "categorical" feature_type draws bars of height over categories; any other draws the
        line ygrid over xgrid. density_names are bin edges (one more than scores) or the places
        of the scores; scaler relabels the feature axis in original units."""
        figsize = _figsize(figsize)
        importance = _number("importance", importance)
        name = "" if self.feature is None else _fmt(self.feature)
        categorical = feature_type == "categorical"

        if categorical:
            cats = _items("categories", categories)
            effect_y = _numbers("height", height)
            _same_length(categories=cats, height=effect_y)
            numeric = (len(cats) > 0 and all(_is_number(c) for c in cats)
                       and np.all(np.isfinite(np.asarray(cats, dtype=float)))
                       and len(set(float(c) for c in cats)) == len(cats))
            effect_x = np.asarray(cats, dtype=float) if numeric else np.arange(len(cats), dtype=float)
        else:
            effect_x = _numbers("xgrid", xgrid)
            effect_y = _numbers("ygrid", ygrid)
            _same_length(xgrid=effect_x, ygrid=effect_y)
            cats, numeric = None, True

        density = None
        if density_names is not None or scores is not None:
            density = self._density(density_names, scores, categorical, cats, effect_x)

        ticks = labels = None
        if xticks is not None:
            ticks = _numbers("xticks", xticks)
            if xticks_label is not None:
                labels = [_fmt(v) for v in _items("xticks_label", xticks_label)]
                if len(labels) != len(ticks):
                    raise ValueError("xticks has %d positions but xticks_label %d labels"
                                     % (len(ticks), len(labels)))
        elif xticks_label is not None:
            raise ValueError("xticks_label needs xticks to say where the labels go")
        elif categorical and len(cats):
            ticks = effect_x
            if not (numeric and scaler is not None):
                labels = [_fmt(c) for c in cats]

        def draw(fig):
            ax = fig.axes[0]
            low = fig.axes[-1]
            _style(ax, grid_axis="y")
            _title(ax, _importance_title("Main Effect", name, importance))
            if len(effect_x) == 0 and density is None:
                _nothing_to_show(ax)
                return
            if categorical:
                ax.bar(effect_x, effect_y, width=self._bar_width(effect_x), color=BAR,
                       edgecolor="none", zorder=2)
            else:
                ax.plot(effect_x, effect_y, color=BAR, linewidth=2.2, solid_capstyle="round", zorder=2)
            _zero_line(ax)
            ax.set_ylabel("Effect", fontsize=LABEL_SIZE, color=INK)
            ax.yaxis.set_major_formatter(_tick_formatter())

            if density is not None:
                _style(low)
                lefts, widths, heights, align = density
                low.bar(lefts, heights, width=widths, align=align, color=DENSITY, edgecolor="white",
                        linewidth=0.5, zorder=2, gid="density")
                low.set_ylabel("Density", fontsize=LABEL_SIZE, color=INK)
                low.set_yticks([])
                low.spines["left"].set_visible(False)
                low.set_ylim(0, max(float(np.max(heights)) if len(heights) else 0.0, 1e-12) * 1.08)
                ax.tick_params(axis="x", labelbottom=False, length=0)
            low.set_xlabel(_wrap(name, _chars_across(fig, LABEL_SIZE, 0.9)), fontsize=LABEL_SIZE, color=INK)

            if ticks is not None:
                tick_labels = labels
                if tick_labels is None:
                    tick_labels = ([_fmt(v) for v in _original_values(scaler, self.feature, ticks)]
                                   if scaler is not None else [_fmt(v) for v in ticks])
                low.set_xticks(ticks, tick_labels)
            else:
                if categorical:
                    low.set_xticks([])
                ax.margins(x=0.02)
                scale_plot_ticks(low, self.feature, scaler, axis=0)
            if categorical or ticks is not None:
                _declutter_xticklabels(fig, low)
            fig.align_ylabels()

        fig, _ = _figure(figsize, 2 if density is not None else 1, [3.2, 1])
        _show(fig, draw)

    @staticmethod
    def _bar_width(x):
        if len(x) < 2:
            return 0.8
        return 0.8 * float(np.min(np.diff(np.unique(x))))

    def _density(self, density_names, scores, categorical, cats, effect_x):
        """Where the density bars go: (lefts or centres, widths, heights, align)."""
        if density_names is None or scores is None:
            raise ValueError("density_names and scores are needed together")
        heights = _numbers("scores", scores)
        names = _items("density_names", density_names)
        if categorical and len(names) == len(heights) == len(cats):
            # one score per category, in the order of the categories
            return effect_x, self._bar_width(effect_x), heights, "center"
        try:
            where = _numbers("density_names", names)
        except ValueError:
            raise ValueError("density_names must be numbers unless there is one per category") from None
        if len(where) == len(heights) + 1:
            if np.any(np.diff(where) <= 0):
                raise ValueError("density_names taken as bin edges must increase")
            return where[:-1], np.diff(where), heights, "edge"
        if len(where) == len(heights):
            return where, self._bar_width(where), heights, "center"
        raise ValueError("density_names must give one bin edge more than scores, or one name per "
                         "score; got %d names for %d scores" % (len(where), len(heights)))


# ---------------------------------------------------------------- interactions

class PlotHeatmap:
    """The joint effect of a feature pair as a heat map over the pair's ranges."""

    def __init__(self, mesh_grid=100, feature_combine=None):
        self.mesh_grid = mesh_grid
        self.feature_combine = feature_combine

    def plot_interpret(self, mat_value, extent, importance=None, figsize=(8, 6), scaler=None):
        """mat_value rows run from the top of the second feature's range down, columns from the
        left of the first's; extent is [first min, first max, second min, second max]."""
        figsize = _figsize(figsize)
        importance = _number("importance", importance)
        try:
            mat = np.asarray(mat_value, dtype=float)
        except (TypeError, ValueError):
            raise ValueError("mat_value must hold numbers only") from None
        if mat.ndim == 1 and self.mesh_grid and mat.size == int(self.mesh_grid) ** 2:
            mat = mat.reshape(int(self.mesh_grid), int(self.mesh_grid))
        if mat.ndim != 2:
            raise ValueError("mat_value must be a 2-D array, got shape %s" % (mat.shape,))
        if not np.all(np.isfinite(mat)):
            raise ValueError("mat_value holds NaN or infinite values")
        box = _numbers("extent", extent)
        if len(box) != 4:
            raise ValueError("extent must be four numbers [x min, x max, y min, y max], got %d" % len(box))
        for k in (0, 2):
            if box[k] == box[k + 1]:
                box[k], box[k + 1] = box[k] - 0.5, box[k + 1] + 0.5

        pair = "" if self.feature_combine is None else _fmt(self.feature_combine)
        features = pair.split(" x ")
        if len(features) != 2:
            if scaler is not None:
                raise ValueError("feature_combine must name two features joined by ' x ' to rescale "
                                 "the axes, got %r" % (self.feature_combine,))
            features = None

        def draw(fig):
            ax = fig.axes[0]
            _style(ax)
            _title(ax, _importance_title("Interaction Effect", pair, importance))
            if mat.size == 0:
                _nothing_to_show(ax)
                return
            limit = float(np.max(np.abs(mat))) or 1.0
            image = ax.imshow(mat, extent=box, origin="upper", aspect="auto", cmap=CMAP,
                              vmin=-limit, vmax=limit, interpolation="nearest")
            bar = fig.colorbar(image, ax=ax, fraction=0.05, pad=0.02)
            bar.outline.set_visible(False)
            bar.ax.tick_params(labelsize=TICK_SIZE, colors=MUTED, labelcolor=INK)
            bar.set_label("Effect", fontsize=LABEL_SIZE, color=INK)
            bar.formatter = _tick_formatter()
            bar.update_ticks()
            for side in ("left", "bottom"):
                ax.spines[side].set_visible(False)
            if features:
                ax.set_xlabel(_wrap(features[0], _chars_across(fig, LABEL_SIZE, 0.8)),
                              fontsize=LABEL_SIZE, color=INK)
                ax.set_ylabel(_wrap(features[1], fig.get_figheight() * 72 * 0.8 / (0.6 * LABEL_SIZE)),
                              fontsize=LABEL_SIZE, color=INK)
                scale_plot_ticks(ax, features[0], scaler, axis=0)
                scale_plot_ticks(ax, features[1], scaler, axis=1)
            _declutter_xticklabels(fig, ax)

        fig, _ = _figure(figsize)
        _show(fig, draw)
