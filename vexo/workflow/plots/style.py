"""Plot primitives of the experiment workflow.

Every ``plot`` draws one complete figure of the requested size in one shared look and shows it.
Inputs are checked before a figure is made, so a bad call never leaves half a figure behind.
"""
import re

import matplotlib.pyplot as plt
import numpy as np
from matplotlib import rc_params_from_file, ticker
from matplotlib.lines import Line2D
from matplotlib.transforms import Bbox

from . import look

__all__ = ["PlotHBar", "PlotEffect", "PlotHeatmap", "scale_plot_ticks", "Title"]

_SHEET = rc_params_from_file(look.STYLE, use_default_template=False)

INK = _SHEET["text.color"]
MUTED = _SHEET["xtick.color"]
SPINE = _SHEET["axes.edgecolor"]
GRID = _SHEET["grid.color"]
BAR = _SHEET["axes.prop_cycle"].by_key()["color"][0]
DENSITY = "#a9bbd8"
BASELINE = "#9a9a9a"
POS = "#e74c3c"
NEG = "#27ae60"
CMAP = _SHEET["image.cmap"]

TITLE_SIZE = float(_SHEET["axes.titlesize"])
LABEL_SIZE = float(_SHEET["axes.labelsize"])
TICK_SIZE = float(_SHEET["xtick.labelsize"])
NOTE_SIZE = float(_SHEET["legend.fontsize"])
SMALLEST = 4.0

# the name the experiment gives the intercept among the terms of a local explanation
INTERCEPT = "Intercept"
# value-axis words for the fixed titles of the module's own views
AXIS_WORDS = {"effect importance": "importance (share of the mean absolute effect)",
              "model coefficients": "coefficient"}
LOW_STEM = "5th percentile over training rows"
HIGH_STEM = "95th percentile over training rows"


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
    """A number at `digits` significant digits without float noise (whole numbers stay whole);
    a text of numbers joined by " x " has each number so rounded; any other text as it is."""
    if isinstance(v, np.ndarray) and v.ndim == 0:
        v = v.item()
    if v is None:
        return ""
    if isinstance(v, (str, bytes)):
        text = v.decode() if isinstance(v, bytes) else v
        parts = text.split(" x ")
        if all(_NUMBER.match(p) for p in parts):
            return " x ".join(_fmt(float(p), digits) for p in parts)
        return text
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
        if v == round(v) and abs(v) < 1e9:
            return str(int(round(v)))
        if abs(v) >= 1e9 or abs(v) < 1e-4:
            return "%.*g" % (digits, v)
        return np.format_float_positional(v, precision=digits, fractional=False, trim="-")
    if np.ndim(v) > 0:
        return " x ".join(_fmt(x, digits) for x in np.ravel(np.asarray(v, dtype=object)))
    return str(v)


_NUMBER = re.compile(r"^\s*[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?\s*$")


def _distinct(values, digits=4):
    """Labels of the numbers at `digits` significant digits, more where fewer would make two of
    them read the same."""
    values = [float(v) for v in values]
    for d in range(digits, 13):
        labels = [_fmt(v, d) for v in values]
        if len(set(labels)) == len(set(values)):
            return labels
    return labels


class _TickFormatter(ticker.Formatter):
    """Tick labels at four significant digits, as many more as keep neighbours apart, with a
    true minus sign."""

    def __call__(self, x, pos=None):
        return _fmt(x).replace("-", "\u2212")

    def format_ticks(self, values):
        return [s.replace("-", "\u2212") for s in _distinct(values)]


def _wrap(text, width):
    """Break a text into lines of about `width` characters at its blanks. Words stay whole; only
    a name longer than a line breaks, after an underscore or a slash."""
    width = max(int(width), 8)
    lines = []
    for para in str(text).split("\n"):
        tokens = []  # (text, glue before it)
        for word in para.split(" "):
            if not word:
                continue
            pieces = [word] if len(word) <= width else [p for p in re.split(r"(?<=[_/])", word) if p]
            tokens.extend((p, " " if k == 0 else "") for k, p in enumerate(pieces))
        line = ""
        for token, glue in tokens:
            if line and len(line) + len(glue) + len(token) > width:
                lines.append(line)
                line = token
            else:
                line = line + glue + token if line else token
        lines.append(line)
    return "\n".join(lines)


def _chars_across(fig, fontsize, share=1.0):
    return fig.get_figwidth() * 72.0 * share / (0.6 * fontsize)


def _measured(fig):
    """The figure's renderer, with the layout and every text placed as the figure now stands:
    drawn again (without rendering) only if something changed since the last draw."""
    if fig.stale:
        fig.draw_without_rendering()
    return fig.canvas.get_renderer()


def _wrap_into(label, text, room, length):
    """Set the text on the label, wrapped at blanks into lines as long as fit in `room` (as the
    callable `length` measures the label, in pixels); the line width in characters it took."""
    width = len(text)
    for _ in range(12):
        label.set_text(_wrap(text, width))
        used = length()
        if used <= room or width <= 8:
            break
        width = max(8, min(width - 1, int(width * room / used)))
    return width


def _fit_title(fig, ax, text=None):
    """Wrap the title (`text`, by default the present one) so that, centred over its axes, it
    stays inside the figure; a word too long for any line makes the type smaller instead."""
    text = ax.title.get_text() if text is None else text
    if ax.title.get_fontsize() != TITLE_SIZE:
        ax.title.set_fontsize(TITLE_SIZE)
    if not text:
        return
    renderer = _measured(fig)
    box = ax.get_window_extent(renderer)
    centre = (box.x0 + box.x1) / 2.0
    room = 2.0 * min(centre, fig.bbox.width - centre) - 8.0
    width = _wrap_into(ax.title, text, room, lambda: ax.title.get_window_extent(renderer).width)
    # a small figure takes a smaller title rather than one of many lines
    while ((ax.title.get_window_extent(renderer).width > room or ax.title.get_text().count("\n") > 1)
           and ax.title.get_fontsize() > SMALLEST + 5):
        ax.title.set_fontsize(ax.title.get_fontsize() - 0.5)
        width = int(width * 1.04) + 1
        ax.title.set_text(_wrap(text, width))
        if ax.title.get_window_extent(renderer).width > room:
            width = max(8, int(width / 1.04) - 1)
            ax.title.set_text(_wrap(text, width))


def _fit_axis_label(fig, ax, axis):
    """Wrap the axis label (at blanks) and, if need be, shrink it to the length of its axes."""
    label = axis.label
    text = label.get_text()
    if not text or not label.get_visible():
        return
    renderer = _measured(fig)
    box = ax.get_window_extent(renderer)
    vertical = axis is ax.yaxis
    room = (box.height if vertical else box.width) + 4.0
    flat = text.replace("\n", " ")

    def length():
        ext = label.get_window_extent(renderer)
        return ext.height if vertical else ext.width

    _wrap_into(label, flat, room, length)
    while length() > room and label.get_fontsize() > SMALLEST + 2:
        label.set_fontsize(label.get_fontsize() - 0.5)


def _importance_title(prefix, name, importance):
    text = prefix + " of " + name if name else prefix
    if importance is not None:
        text += " (Importance: %s)" % _fmt(importance)
    return text


# ---------------------------------------------------------------- figures

def _figure(figsize, nrows=1, height_ratios=None):
    fig = plt.figure(figsize=figsize, layout="constrained")
    fig.get_layout_engine().set(h_pad=0.08, w_pad=0.08, hspace=0.03)
    if nrows == 1:
        return fig, [fig.add_subplot()]
    axes = fig.subplots(nrows, 1, sharex=True, gridspec_kw={"height_ratios": height_ratios})
    return fig, list(axes)


def _style(ax, grid_axis=None):
    # ticks are made again as an axis is resized or zoomed, after the look is left: what they
    # wear is set on the axes, where new ticks take it from
    ax.tick_params(colors=MUTED, labelcolor=INK, labelsize=TICK_SIZE, length=3, width=0.8)
    ax.grid(False)
    if grid_axis:
        ax.grid(True, axis=grid_axis, color=GRID, linewidth=0.8, linestyle="-")


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


def _ticklabels(axis):
    """The axis' major tick labels. Reading them puts the ticks where they already are, which
    marks the figure as changed; the figure keeps the mark it had, so no needless draw follows."""
    fig = axis.axes.figure
    stale = fig.stale
    labels = axis.get_majorticklabels()
    fig.stale = stale
    return labels


def _shown_ticklabels(axis):
    """The tick labels that a draw puts on the page: those of ticks in view, with text."""
    lo, hi = sorted(axis.get_view_interval())
    eps = 1e-9 * max(hi - lo, 1e-300)
    return [t for loc, t in zip(axis.get_majorticklocs(), _ticklabels(axis))
            if lo - eps <= loc <= hi + eps and t.get_visible() and t.get_text()]


def _values_no_larger_than_names(ax):
    """Type the value labels beside the bars no larger than the names of the bars."""
    names = _ticklabels(ax.yaxis)
    if not names:
        return
    size = names[0].get_fontsize()
    for t in ax.texts:
        if t.get_gid() == "value" and t.get_fontsize() > size:
            t.set_fontsize(size)


def _overlap(a, b, slack=0.5):
    return (a.x0 + slack < b.x1 and b.x0 + slack < a.x1 and a.y0 + slack < b.y1 and b.y0 + slack < a.y1)


def _crowded(texts, renderer):
    boxes = [t.get_window_extent(renderer) for t in texts]
    return any(_overlap(a, b) for i, a in enumerate(boxes) for b in boxes[i + 1:])


def _declutter_xticklabels(fig, ax):
    """Turn the x tick labels aslant when they would run into each other, upright and smaller
    when even that is not enough."""
    renderer = _measured(fig)
    boxes = [t.get_window_extent(renderer) for t in _shown_ticklabels(ax.xaxis)]
    boxes.sort(key=lambda b: b.x0)
    if any(a.x1 + 2 > b.x0 for a, b in zip(boxes, boxes[1:])):
        ax.tick_params(axis="x", labelrotation=40)
        for t in ax.get_xticklabels():
            t.set_horizontalalignment("right")
            t.set_rotation_mode("anchor")
        _shrink_until_apart(fig, ax.xaxis, rotation=90)


def _shrink_until_apart(fig, axis, rotation=None):
    """Make the axis' tick labels smaller (after turning them to `rotation`, or putting wrapped
    labels back on one line) until no two touch."""
    renderer = _measured(fig)
    if not _crowded(_shown_ticklabels(axis), renderer):
        return
    labels = _ticklabels(axis)
    if rotation is None and any("\n" in t.get_text() for t in labels):
        axis.set_ticks(axis.get_majorticklocs(),
                       [t.get_text().replace("_\n", "_").replace("/\n", "/").replace("\n", " ")
                        for t in labels])
    if rotation is not None:
        axis.set_tick_params(labelrotation=rotation)
    size = labels[0].get_fontsize() if labels else TICK_SIZE
    while size > SMALLEST and _crowded(_shown_ticklabels(axis), _measured(fig)):
        size = max(SMALLEST, size - 0.5)
        axis.set_tick_params(labelsize=size)


def _values_inside(fig, ax):
    """Widen the value axis until the value labels beside the bars stay inside the axes."""
    texts = [t for t in ax.texts if t.get_gid() == "value"]
    if not texts:
        return
    for _ in range(20):
        renderer = _measured(fig)
        box = ax.get_window_extent(renderer)
        boxes = [t.get_window_extent(renderer) for t in texts]
        left = max(0.0, box.x0 - min(b.x0 for b in boxes))
        right = max(0.0, max(b.x1 for b in boxes) - box.x1)
        if left < 0.5 and right < 0.5:
            return
        lo, hi = ax.get_xlim()
        per_pixel = (hi - lo) / max(box.width - left - right, 0.2 * box.width)
        lo, hi = lo - (left + 2) * per_pixel, hi + (right + 2) * per_pixel
        ax.set_xlim(lo, hi)


def _show(figsize, draw, nrows=1, height_ratios=None):
    """Make the figure and run draw(fig) inside the package's look; a failure part way closes the
    figure instead of leaving it half made."""
    fig = None
    try:
        with look.context():
            fig, _ = _figure(figsize, nrows, height_ratios)
            draw(fig)
            titles = {ax: ax.title.get_text() for ax in fig.axes}
            for ax in fig.axes:
                _fit_title(fig, ax)
                _fit_axis_label(fig, ax, ax.xaxis)
                _fit_axis_label(fig, ax, ax.yaxis)
            # fitting titles and labels resizes the axes: keep the tick labels apart in what is left
            for ax in fig.axes:
                _shrink_until_apart(fig, ax.yaxis)
                _shrink_until_apart(fig, ax.xaxis)
                _values_no_larger_than_names(ax)
            for ax in fig.axes:
                _values_inside(fig, ax)
                _fit_title(fig, ax, titles[ax])
            _measured(fig)
    except BaseException:
        if fig is not None:
            plt.close(fig)
        raise
    plt.show()


# ---------------------------------------------------------------- scaling

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


def _levels_in_view(target, scaler, feature, lo, hi):
    """One tick at each code that the axis shows, labelled with its level; a tick between two
    codes would repeat the label of one of them. False when there are too many codes for ticks."""
    eps = 1e-9 * (hi - lo)
    codes = np.arange(np.ceil(lo - eps), np.floor(hi + eps) + 1)
    if not 0 < len(codes) <= 60:
        return False
    labels = _labels(_original_values(scaler, feature, codes))
    # codes outside the feature's levels come back as the nearest level: drop the repeats
    first, last = 0, len(labels) - 1
    while first < last and labels[first] == labels[first + 1]:
        first += 1
    while last > first and labels[last] == labels[last - 1]:
        last -= 1
    target.set_ticks(codes[first:last + 1], labels[first:last + 1])
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


# ---------------------------------------------------------------- bars

def _axis_words(title, signed):
    """What a bar chart's value axis measures: the title's own label, the words for the module's
    fixed titles, or a generic word."""
    words = getattr(title, "axis_label", None)
    if words:
        return str(words)
    text = "" if title is None else str(title).strip().lower()
    if text in AXIS_WORDS:
        return AXIS_WORDS[text]
    if "coefficient" in text:
        return "coefficient"
    if signed:
        return "contribution"
    if "importance" in text:
        return "importance"
    return "value"


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
        text = "" if title is None else str(title)
        xlabel = _axis_words(title, signed)

        def draw(fig):
            ax = fig.axes[0]
            _style(ax, grid_axis="x")
            ax.set_title(text)
            n = len(names)
            if n == 0:
                _nothing_to_show(ax)
                return
            ax.set_xlabel(xlabel)
            y = self._rows(names)
            colors = [pos_color if h >= 0 else neg_color for h in heights] if signed else [BAR] * n
            colors = [BASELINE if name == INTERCEPT else c for name, c in zip(names, colors)]
            ax.barh(y, heights, height=0.56 if stems else 0.7, color=colors, edgecolor="none", zorder=2)
            baseline = [k for k, name in enumerate(names) if name == INTERCEPT]
            if baseline and n > 1:
                # the intercept is where the pushes start from, not one of them: set it apart
                ax.axhline(y[baseline[0]] - 0.8, color=SPINE, linewidth=0.8, linestyle=":", zorder=1.5)

            fontsize = self._label_size(fig, n, names)
            width = _chars_across(fig, fontsize, 0.3)
            ax.set_yticks(y, [_wrap(s, width) for s in names], fontsize=fontsize)
            ax.tick_params(axis="y", length=0, pad=6)
            ax.spines["left"].set_visible(False)
            ax.set_ylim(-0.6, float(y.max()) + 0.6)

            outer_hi, outer_lo = heights.copy(), heights.copy()
            if stems:
                ax.hlines(y, np.minimum(s0, s1), np.maximum(s0, s1), color=INK, linewidth=1.3,
                          zorder=3, gid="stem")
                ax.plot(s0, y, linestyle="none", marker="o", markersize=6, markerfacecolor="white",
                        markeredgecolor=INK, markeredgewidth=1.3, alpha=1.0, zorder=4, gid="stem_value0")
                ax.plot(s1, y, linestyle="none", marker="o", markersize=6, color=INK, alpha=1.0,
                        markeredgewidth=1.3, zorder=4, gid="stem_value1")
                outer_hi = np.maximum.reduce([heights, s0, s1])
                outer_lo = np.minimum.reduce([heights, s0, s1])

            texts, anchors, sides = [], [], []
            offset = 8 if stems else 4
            if signed:
                for i, (h, text_i) in enumerate(zip(heights, labels)):
                    if not text_i:
                        continue
                    side = 1 if h >= 0 else -1
                    anchor = outer_hi[i] if side > 0 else outer_lo[i]
                    anchors.append(max(anchor, 0.0) if side > 0 else min(anchor, 0.0))
                    sides.append(side)
                    texts.append(ax.annotate(
                        text_i, xy=(anchors[-1], y[i]), xytext=(offset * side, 0), textcoords="offset points",
                        ha="left" if side > 0 else "right", va="center", fontsize=min(NOTE_SIZE, fontsize),
                        color=MUTED, zorder=5, gid="value"))
                    # fitted inside the axes below; the layout must not shrink the axes for them
                    texts[-1].set_in_layout(False)
            lo, hi = self._fit_xlim(fig, ax, outer_lo, outer_hi, texts, anchors, sides, mid_center, offset)
            if lo < 0 < hi:
                _zero_line(ax, vertical=True)
            ax.xaxis.set_major_formatter(_TickFormatter())
            _shrink_until_apart(fig, ax.yaxis)
            _values_no_larger_than_names(ax)
            _declutter_xticklabels(fig, ax)
            if stems:
                self._stem_legend(fig, ax)

        _show(figsize, draw)

    @staticmethod
    def _rows(names):
        """Bar positions from the bottom: the given order, the intercept on top and set apart."""
        baseline = [k for k, name in enumerate(names) if name == INTERCEPT]
        if not baseline or len(names) == 1:
            return np.arange(len(names), dtype=float)
        y = np.empty(len(names))
        rest = [k for k in range(len(names)) if k != baseline[0]]
        y[rest] = np.arange(len(rest))
        y[baseline[0]] = len(rest) + 0.6
        return y

    @staticmethod
    def _stem_legend(fig, ax):
        """Say what the two dots are, where the legend covers no bar, stem or label; under the
        chart when no corner is free."""
        handles = [Line2D([], [], linestyle="none", marker="o", markersize=6, markerfacecolor="white",
                          markeredgecolor=INK, markeredgewidth=1.3, label=LOW_STEM),
                   Line2D([], [], linestyle="none", marker="o", markersize=6, color=INK, label=HIGH_STEM)]
        size = min(NOTE_SIZE, _ticklabels(ax.yaxis)[0].get_fontsize() + 1)
        renderer = _measured(fig)
        taken = [p.get_window_extent(renderer) for p in ax.patches]
        taken += [t.get_window_extent(renderer) for t in ax.texts]
        for line in ax.lines:
            if line.get_gid() in ("stem_value0", "stem_value1"):
                points = ax.transData.transform(np.column_stack([line.get_xdata(), line.get_ydata()]))
                taken += [Bbox.from_extents(px - 5, py - 5, px + 5, py + 5) for px, py in points]
        for c in ax.collections:
            if c.get_gid() == "stem":
                for seg in c.get_segments():
                    (x0, y0), (x1, y1) = ax.transData.transform(seg)
                    taken.append(Bbox.from_extents(min(x0, x1), y0 - 1, max(x0, x1), y1 + 1))
        for loc in ("upper right", "upper left", "lower right", "lower left"):
            legend = ax.legend(handles=handles, loc=loc, fontsize=size, frameon=False, borderaxespad=0.3)
            box = legend.get_window_extent(renderer)
            if not any(_overlap(box, b) for b in taken):
                return legend
            legend.remove()
        ncols = 2 if fig.get_figwidth() >= 7 else 1
        return fig.legend(handles=handles, loc="outside lower center", fontsize=size, frameon=False,
                          ncols=ncols)

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
            renderer = _measured(fig)
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

def _unit_range(values):
    """Whether the values could be a feature scaled to [0, 1], as the pipeline hands them over."""
    values = np.asarray(values, dtype=float)
    return values.size > 0 and values.min() >= -1e-9 and values.max() <= 1 + 1e-9


def _scaled(name):
    return name + " (scaled to 0\u20131)" if name else "scaled to 0\u20131"


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

        axis_name = name
        if not categorical and scaler is None and ticks is None and _unit_range(effect_x):
            axis_name = _scaled(name)

        def draw(fig):
            ax = fig.axes[0]
            low = fig.axes[-1]
            _style(ax, grid_axis="y")
            ax.set_title(_importance_title("Main Effect", name, importance))
            if len(effect_x) == 0 and density is None:
                _nothing_to_show(ax)
                return
            if categorical:
                ax.bar(effect_x, effect_y, width=self._bar_width(effect_x), color=BAR,
                       edgecolor="none", zorder=2)
            else:
                # a binned shape function holds its value across each bin: draw it as the staircase
                # it is, not as slopes between the grid points
                steps = "steps-mid" if self._stepwise(effect_y) else "default"
                ax.plot(effect_x, effect_y, color=BAR, alpha=1.0, linewidth=2.2, solid_capstyle="round",
                        drawstyle=steps, zorder=2)
            _zero_line(ax)
            ax.set_ylabel("Effect")
            ax.yaxis.set_major_formatter(_TickFormatter())

            if density is not None:
                _style(low)
                lefts, widths, heights, align = density
                low.bar(lefts, heights, width=widths, align=align, color=DENSITY, edgecolor="white",
                        linewidth=0.5, zorder=2, gid="density")
                low.set_ylabel("Density")
                low.set_yticks([])
                low.spines["left"].set_visible(False)
                low.set_ylim(0, max(float(np.max(heights)) if len(heights) else 0.0, 1e-12) * 1.08)
                ax.tick_params(axis="x", labelbottom=False, length=0)
            low.set_xlabel(_wrap(axis_name, _chars_across(fig, LABEL_SIZE, 0.9)))

            if ticks is not None:
                tick_labels = labels
                if tick_labels is None:
                    tick_labels = _labels(_original_values(scaler, self.feature, ticks)
                                          if scaler is not None else list(ticks))
                low.set_xticks(ticks, tick_labels)
            else:
                if categorical:
                    low.set_xticks([])
                ax.margins(x=0.02)
                scale_plot_ticks(low, self.feature, scaler, axis=0)
            if categorical or ticks is not None:
                _declutter_xticklabels(fig, low)
            fig.align_ylabels()

        _show(figsize, draw, 2 if density is not None else 1, [3.2, 1])

    @staticmethod
    def _stepwise(y):
        """Whether a curve is piecewise constant: a tenth of its neighbouring values or more are
        exactly equal, which a smooth curve's values never are."""
        if len(y) < 3:
            return False
        same = np.diff(y) == 0
        return bool(same.mean() >= 0.1) and not bool(same.all())

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
            ax.set_title(_importance_title("Interaction Effect", pair, importance))
            if mat.size == 0:
                _nothing_to_show(ax)
                return
            limit = float(np.max(np.abs(mat))) or 1.0
            image = ax.imshow(mat, extent=box, origin="upper", aspect="auto", cmap=CMAP,
                              vmin=-limit, vmax=limit, interpolation="nearest")
            bar = fig.colorbar(image, ax=ax, fraction=0.05, pad=0.02)
            bar.outline.set_visible(False)
            bar.ax.tick_params(labelsize=TICK_SIZE, colors=MUTED, labelcolor=INK)
            bar.set_label("Effect")
            bar.ax.grid(False)
            bar.formatter = _TickFormatter()
            bar.update_ticks()
            for side in ("left", "bottom"):
                ax.spines[side].set_visible(False)
            if features:
                xname, yname = features
                if scaler is None:
                    xname = _scaled(xname) if _unit_range(box[:2]) else xname
                    yname = _scaled(yname) if _unit_range(box[2:]) else yname
                ax.set_xlabel(_wrap(xname, _chars_across(fig, LABEL_SIZE, 0.8)))
                ax.set_ylabel(_wrap(yname, fig.get_figheight() * 72 * 0.8 / (0.6 * LABEL_SIZE)))
                scale_plot_ticks(ax, features[0], scaler, axis=0)
                scale_plot_ticks(ax, features[1], scaler, axis=1)
            _declutter_xticklabels(fig, ax)

        _show(figsize, draw)
