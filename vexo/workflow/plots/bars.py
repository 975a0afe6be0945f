"""Horizontal bars: importances, coefficients and contributions, with the stems of the
training spread where a local explanation has them.
"""
import numpy as np
from matplotlib.lines import Line2D
from matplotlib.transforms import Bbox

from .style import (AXIS_WORDS, BAR, BASELINE, HIGH_STEM, INK, INTERCEPT, LOW_STEM, MUTED, NEG,
                    NOTE_SIZE, POS, SPINE, TICK_SIZE, _figsize, _items, _numbers, _same_length)
from .text import _TickFormatter, _chars_across, _fmt, _measured, _wrap
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
