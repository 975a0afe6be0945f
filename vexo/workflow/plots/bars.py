"""Horizontal bars: importances, coefficients and one sample's contributions, with the stems
of the training spread where a local explanation has them.

A sample's chart reads as a sum: each bar is named with the sample's value ("s1 = 183"), the
parts a chart leaves out are one bar of their own ("+ 21 other features"), and the intercept,
where a title's ``Sum`` says what the parts start from, is that start rather than a bar.
"""
from collections import namedtuple

import numpy as np
from matplotlib.lines import Line2D
from matplotlib.transforms import Bbox, blended_transform_factory

from ..names import SEPARATOR, parts
from .style import (AXIS_WORDS, BAR, BASELINE, HIGH_STEM, INK, INTERCEPT, LOW_STEM, MUTED, NEG,
                    NOTE_SIZE, POS, SHARES, SPINE, STEMS, TICK_SIZE, _figsize, _items, _numbers,
                    _safe_signs, _same_length)
from .text import _NUMBER, _TickFormatter, _chars_across, _fmt, _measured, _wrap
from .figure import (_declutter_xticklabels, _nothing_to_show, _overlap, _show, _shrink_until_apart,
                     _style, _ticklabels, _values_no_larger_than_names, _zero_line)


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


class _PercentFormatter(_TickFormatter):
    """Tick labels of shares as percentages: 0.25 reads 25%."""

    def __call__(self, x, pos=None):
        return super().__call__(x * 100.0) + "%"

    def format_ticks(self, values):
        return [s + "%" for s in super().format_ticks([v * 100.0 for v in values])]


def number_text(v):
    """A sample's number as its chart prints it: four significant digits, or every whole digit
    of a larger number below 1e15 (52342, not 52340, for 52341.5); a text of numbers joined by
    " x " (a pair's values) has each so printed, other text is kept."""
    if isinstance(v, np.ndarray) and v.ndim == 0:
        v = v.item()
    if isinstance(v, (float, np.floating)) and np.isfinite(v) and v != 0:
        whole = int(np.floor(np.log10(abs(float(v))))) + 1
        # beyond 15 whole digits a double holds no more than noise: 4 digits and an exponent
        return _fmt(v, max(4, whole) if whole <= 15 else 4)
    if isinstance(v, str):
        return SEPARATOR.join(number_text(float(p)) if _NUMBER.match(p) else p for p in parts(v))
    if not isinstance(v, (bytes, bool, np.bool_)) and np.ndim(v) > 0:
        return SEPARATOR.join(number_text(x) for x in np.ravel(np.asarray(v, dtype=object)))
    return _fmt(v)


def printed_number(v):
    """``number_text`` of a number with a true minus sign, as titles and bar labels print it."""
    return number_text(float(v)).replace("-", "\u2212")


def _signed(number):
    """A contribution as the bars print it (``number_text``), its sign always shown."""
    text = number_text(float(number))
    if text == "0":
        return text
    return ("\u2212" + text[1:]) if text.startswith("-") else "+" + text


def _named(name, value):
    """A bar's name with the sample's value: "s1 = 183"; a pair's "s1 = 183, s5 = 3.892". A
    name too long for one line breaks before "= 183", never after it."""
    if not value:
        return name
    names, values = parts(name), parts(value)
    if len(names) == len(values) == 2:
        return ", ".join("%s =\u00a0%s" % pair for pair in zip(names, values))
    return "%s =\u00a0%s" % (name, value)


# The rows of a chart: tick labels, bar lengths, colours, the texts of the contributions (None
# for an unsigned chart), the stems' ends (None without stems; NaN for a row without a stem),
# and the positions from the bottom.
Rows = namedtuple("Rows", "labels heights colors texts low high y")


def _rows(names, heights, values, stems, adds_up, colors, labelled=False):
    """What a chart draws of its bars. Without ``adds_up``, every bar, the intercept on top
    and set apart; with it, the intercept left out (it is the baseline) and the parts not
    given drawn as one more bar at the bottom, set apart. A signed chart, or a ``labelled``
    one, writes each bar's length beside it."""
    keep = [k for k, name in enumerate(names) if adds_up is None or name != INTERCEPT]
    labels = [names[k] if values is None else _named(names[k], values[k]) for k in keep]
    h = heights[keep]
    colors = [colors[k] for k in keep]
    low = high = None
    if stems is not None:
        low, high = stems[0][keep], stems[1][keep]
    others = 0 if adds_up is None else adds_up.count - len(keep)
    if others > 0:
        kind = adds_up.kind[:-1] if others == 1 and adds_up.kind.endswith("s") else adds_up.kind
        labels.insert(0, "+ %d other %s" % (others, kind))
        h = np.concatenate([[adds_up.rest(h)], h])
        colors.insert(0, BASELINE)
        if stems is not None:
            low, high = np.concatenate([[np.nan], low]), np.concatenate([[np.nan], high])
    y = np.arange(len(labels), dtype=float)
    if others > 0 and len(labels) > 1:
        y[1:] += 0.6
    elif adds_up is None and len(labels) > 1 and INTERCEPT in labels:
        top = labels.index(INTERCEPT)
        y[top + 1:] -= 1
        y[top] = len(labels) - 1 + 0.6
    texts = [_signed(v) for v in h] if values is not None else (
        [printed_number(v) for v in h] if labelled else None)
    return Rows(labels, h, colors, texts, low, high, y)


class PlotHBar:
    """Horizontal bar charts: plain, signed with value labels, and signed with stems."""

    def plot(self, X, height, title="", figsize=(8, 6), value=None, mid_center=False,
             pos_color=POS, neg_color=NEG):
        """Bars in the given order, the first at the bottom.

        With value (the sample's value of each bar's feature, shown with its name), every bar
        takes pos_color or neg_color by its sign and is labelled with its length; mid_center
        puts zero in the middle of the chart. A red and green pair of colours is drawn in
        the look's pair, which colour-blind readers tell apart.
        """
        self._draw(X, height, title, figsize, value, None, mid_center, pos_color, neg_color)

    def plot_stem(self, X, height, value, stem_value0, stem_value1, title="", mid_center=False,
                  pos_color=POS, neg_color=NEG, figsize=(8, 6)):
        """The signed, labelled bars of plot, each crossed by a stem from stem_value0 (open
        marker) to stem_value1 (filled marker); the lengths are listed right of the chart."""
        self._draw(X, height, title, figsize, value, (stem_value0, stem_value1),
                   mid_center, pos_color, neg_color)

    def _draw(self, X, height, title, figsize, value, stems, mid_center, pos_color, neg_color):
        figsize = _figsize(figsize)
        names = [_fmt(x) for x in _items("X", X)]
        heights = _numbers("height", height)
        values = None if value is None else [number_text(v) for v in _items("value", value)]
        if stems is not None:
            stems = (_numbers("stem_value0", stems[0]), _numbers("stem_value1", stems[1]))
        _same_length(X=names, height=heights, value=values, stem_value0=stems and stems[0],
                     stem_value1=stems and stems[1])
        signed = value is not None
        pos_color, neg_color = _safe_signs(pos_color, neg_color)
        colors = [(pos_color if h >= 0 else neg_color) if signed else BAR for h in heights]
        colors = [BASELINE if name == INTERCEPT else c for name, c in zip(names, colors)]
        adds_up = getattr(title, "adds_up", None) if signed else None
        text = "" if title is None else str(title)
        subtitle = getattr(title, "subtitle", None)
        if subtitle:
            text = "%s: %s" % (text, subtitle)
        xlabel = _axis_words(title, signed)
        shares = not signed and str(title).strip().lower() in SHARES

        def draw(fig):
            ax = fig.axes[0]
            _style(ax, grid_axis="x")
            ax.set_title(text)
            if not names:
                _nothing_to_show(ax)
                return
            rows = _rows(names, heights, values, stems, adds_up, colors,
                         bool(getattr(title, "labelled", False)))
            ax.set_xlabel(xlabel)
            # names that carry the sample's values take a larger share of the width
            self._bars(fig, ax, rows, 0.3 if values is None else 0.4)
            lo, hi = self._labelled_xlim(fig, ax, rows, mid_center)
            if lo < 0 < hi:
                _zero_line(ax, vertical=True)
            ax.xaxis.set_major_formatter(_PercentFormatter() if shares else _TickFormatter())
            _shrink_until_apart(fig, ax.yaxis)
            _values_no_larger_than_names(ax)
            _declutter_xticklabels(fig, ax)
            if rows.low is not None:
                self._stem_legend(fig, ax)

        _show(figsize, draw)

    def _bars(self, fig, ax, rows, share):
        """The bars, their names, the line that sets a row apart, and the stems."""
        stems = rows.low is not None
        y = rows.y
        ax.barh(y, rows.heights, height=0.56 if stems else 0.7, color=rows.colors, edgecolor="none",
                zorder=2)
        ys = np.sort(y)
        gaps = np.flatnonzero(np.diff(ys) > 1.3)
        if len(gaps):
            # a row set apart (the intercept, or the parts not shown) is not one of the others
            ax.axhline((ys[gaps[0]] + ys[gaps[0] + 1]) / 2, color=SPINE, linewidth=0.8, linestyle=":",
                       zorder=1.5)
        fontsize = self._label_size(fig, len(rows.labels), rows.labels, share)
        width = _chars_across(fig, fontsize, share)
        ax.set_yticks(y, [_wrap(s, width) for s in rows.labels], fontsize=fontsize)
        ax.tick_params(axis="y", length=0, pad=6)
        ax.spines["left"].set_visible(False)
        ax.set_ylim(-0.6, float(y.max()) + 0.6)
        if stems:
            has = ~np.isnan(rows.low)
            low, high, at = rows.low[has], rows.high[has], y[has]
            ax.hlines(at, np.minimum(low, high), np.maximum(low, high), color=INK, linewidth=1.3,
                      zorder=3, gid="stem")
            ax.plot(low, at, linestyle="none", marker="o", markersize=6, markerfacecolor="white",
                    markeredgecolor=INK, markeredgewidth=1.3, alpha=1.0, zorder=4, gid="stem_value0")
            ax.plot(high, at, linestyle="none", marker="o", markersize=6, color=INK, alpha=1.0,
                    markeredgewidth=1.3, zorder=4, gid="stem_value1")

    def _labelled_xlim(self, fig, ax, rows, mid_center):
        """The contributions written beside the bars (in a column right of the chart where
        stems cross them), and the value axis' limits that keep every text inside."""
        heights, stems = rows.heights, rows.low is not None
        outer_hi = np.nanmax([heights, rows.low, rows.high], axis=0) if stems else heights
        outer_lo = np.nanmin([heights, rows.low, rows.high], axis=0) if stems else heights
        texts, anchors, sides = [], [], []
        size = min(NOTE_SIZE, _ticklabels(ax.yaxis)[0].get_fontsize())
        if rows.texts is not None and stems:
            column = blended_transform_factory(ax.transAxes, ax.transData)
            for y, text in zip(rows.y, rows.texts):
                ax.annotate(text, xy=(1.0, y), xycoords=column, xytext=(8, 0), textcoords="offset points",
                            ha="left", va="center", fontsize=size, color=MUTED, gid="column",
                            annotation_clip=False)
        elif rows.texts is not None:
            for h, y, text in zip(heights, rows.y, rows.texts):
                side = 1 if h >= 0 else -1
                anchors.append(max(h, 0.0) if side > 0 else min(h, 0.0))
                sides.append(side)
                texts.append(ax.annotate(
                    text, xy=(anchors[-1], y), xytext=(4 * side, 0), textcoords="offset points",
                    ha="left" if side > 0 else "right", va="center", fontsize=size,
                    color=MUTED, zorder=5, gid="value"))
                # fitted inside the axes below; the layout must not shrink the axes for them
                texts[-1].set_in_layout(False)
        return self._fit_xlim(fig, ax, outer_lo, outer_hi, texts, anchors, sides, mid_center, 4)

    @staticmethod
    def _stem_legend(fig, ax):
        """Say what the stems and their two dots are, where the legend covers no bar, stem or
        label; under the chart when no corner is free."""
        handles = [Line2D([], [], color=INK, linewidth=1.3, marker="o", markersize=6, markerfacecolor="white",
                          markeredgecolor=INK, markeredgewidth=1.3, label=LOW_STEM),
                   Line2D([], [], color=INK, linewidth=1.3, marker="o", markersize=6, label=HIGH_STEM)]
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
            legend = ax.legend(handles=handles, loc=loc, fontsize=size, frameon=False, borderaxespad=0.3,
                               title=STEMS, title_fontsize=size, alignment="left")
            box = legend.get_window_extent(renderer)
            if not any(_overlap(box, b) for b in taken):
                return legend
            legend.remove()
        ncols = 2 if fig.get_figwidth() >= 7 else 1
        return fig.legend(handles=handles, loc="outside lower center", fontsize=size, frameon=False,
                          ncols=ncols, title=STEMS, title_fontsize=size)

    @staticmethod
    def _label_size(fig, n, names, share):
        # Crowded or long names need smaller type to stay apart.
        per_bar = fig.get_figheight() * 72.0 * 0.72 / max(n, 1)
        width = _chars_across(fig, TICK_SIZE, share)
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
