"""Models side by side: one feature's effect in every model on one axis over the data's density
(``plot_compare_effects``); and, from ``ranks``, every model's permutation importance as ranks
and values in a grid of features by models (``plot_compare_importance``).

Each takes the record that the experiment's comparison computes (a dict, described at each
function) and checks it whole before a figure is made: a bad record leaves no figure behind.
"""
from collections import namedtuple
from collections.abc import Mapping

import numpy as np
from matplotlib import cbook
from matplotlib.path import Path
from matplotlib.transforms import Bbox

from .effects import PlotEffect, _density_strip
from .figure import _declutter_xticklabels, _overlap, _show, _style, _zero_line
from .ranks import plot_compare_importance  # noqa: F401 (the other comparison, in a module of its own)
from .records import _color, _flag, _fitted, _note, _record, _text, _texts
from .style import LABEL_SIZE, NOTE_SIZE, _figsize, _numbers
from .text import _TickFormatter, _chars_across, _measured, _wrap
from .ticks import _short_labels

# The longest level name under the effects, and the shorter one under many levels: a longer name
# keeps its leading words and ends in "…".
LEVEL_CHARS = 24
MANY_LEVEL_CHARS = 16
# The most levels whose markers are joined by lines; and more levels than this have shorter names.
JOINED = 10
# Markers of the models at the levels of a category, in the order of the models: shapes that
# tell the models apart where their colours sit close together, each with the share of the
# markers' size that makes it look as large as the others.
MARKERS = (("o", 1.0), ("s", 0.9), ("D", 0.8), ("^", 1.1), ("v", 1.1), ("P", 1.0), ("X", 1.0), ("h", 1.0))


def _per_model(record, key, models, check):
    """The record's entry `key` (a dict of one entry per model), each entry checked."""
    given = record[key]
    if not isinstance(given, Mapping) or set(given) != set(models):
        raise ValueError("%s must hold one entry for each model of the curves (%s), got %r"
                         % (key, ", ".join(models), given))
    return {m: check("%s[%r]" % (key, m), given[m]) for m in models}


# "steps", the last, may be left out
Effects = namedtuple("Effects", "feature categorical x curves methods reads colors density "
                                "axis_label title note steps")


def _effects(record):
    _record(record, Effects._fields[:-1])
    feature = _text("feature", record["feature"])
    categorical = _flag("categorical", record["categorical"])
    if categorical:
        x = _texts("x", record["x"])
    else:
        x = _numbers("x", record["x"])
        if not len(x) or np.any(np.diff(x) <= 0):
            raise ValueError("x must hold one point at least, in increasing order")
    curves = record["curves"]
    if not isinstance(curves, Mapping) or not curves:
        raise ValueError("curves must map each model's name to its curve, one model at least")
    models = [_text("each model's name", m) for m in curves]
    lines = {m: _numbers("curves[%r]" % m, curves[m]) for m in models}
    for m, y in lines.items():
        if len(y) != len(x):
            raise ValueError("curves[%r] has %d values for the %d points of x" % (m, len(y), len(x)))
    return Effects(feature, categorical, x, lines, _per_model(record, "methods", models, _text),
                   _per_model(record, "reads", models, _flag),
                   _per_model(record, "colors", models, _color),
                   _density(record["density"], categorical, x), _text("axis_label", record["axis_label"]),
                   _text("title", record["title"]), _text("note", record["note"]),
                   {m: v for m, v in (record.get("steps") or {}).items() if v is not None})


def _density(density, categorical, x):
    """Where the strip's bars go: (lefts or centres, widths, shares, align); None without one."""
    if density is None:
        return None
    if not isinstance(density, Mapping) or "shares" not in density:
        raise ValueError("density must be a dict with the shares of the training rows, got %r" % (density,))
    shares = _numbers("density['shares']", density["shares"])
    if np.any(shares < 0):
        raise ValueError("density['shares'] must not be negative")
    if categorical:
        if len(shares) != len(x):
            raise ValueError("density['shares'] must hold one share per level, got %d for %d levels"
                             % (len(shares), len(x)))
        return np.arange(len(x), dtype=float), 0.8, shares, "center"
    edges = _numbers("density['edges']", density.get("edges"))
    if len(edges) != len(shares) + 1 or np.any(np.diff(edges) <= 0):
        raise ValueError("density['edges'] must be %d increasing bin edges, one more than the shares"
                         % (len(shares) + 1))
    return edges[:-1], np.diff(edges), shares, "edge"


# ---------------------------------------------------------------- one feature in every model

def plot_compare_effects(record, figsize=None):
    """Every model's effect of one feature on one axis, the data's density in a strip below.

    record: "feature" (its name), "categorical", "x" (the grid, increasing, or the levels'
    labels), "curves" {model: one value per x, centred}, "methods" {model: what the curve is},
    "reads" {model: False where the model does not read the feature}, "colors" {model: colour},
    "density" ({"edges", "shares"}, or {"shares"} per level), "axis_label", "title", "note",
    and, if known, "steps" {model: whether its curve is a staircase, None where unknown}. The
    curves' order is the legend's. A curve that holds its value across steps (a tree's, a
    boosting machine's) is drawn as the staircase it is; where the record does not say, the
    curve's values tell.
    """
    figsize = _figsize(figsize)
    effects = _effects(record)

    def draw(fig):
        ax, low = fig.axes[0], fig.axes[-1]
        _style(ax, grid_axis="y")
        ax.set_title(effects.title)
        positions = np.arange(len(effects.x), dtype=float) if effects.categorical else effects.x
        handles = (_levels if effects.categorical else _curves)(fig, ax, effects, positions)
        _zero_line(ax)
        ax.set_ylabel(effects.axis_label)
        ax.yaxis.set_major_formatter(_TickFormatter())
        if effects.density is not None:
            _density_strip(ax, low, *effects.density)
        low.set_xlabel(_wrap(effects.feature, _chars_across(fig, LABEL_SIZE, 0.9)))
        if effects.categorical:
            chars = LEVEL_CHARS if len(positions) <= JOINED else MANY_LEVEL_CHARS
            low.set_xticks(positions, _short_labels(effects.x, chars))
            ax.set_xlim(-0.6, len(positions) - 0.4)
            _declutter_xticklabels(fig, low)
        else:
            low.xaxis.set_major_formatter(_TickFormatter())
        fig.align_ylabels()
        _note(fig, effects.note)
        _fitted(fig)
        _legend(fig, ax, handles)

    _show(figsize, draw, 1 if effects.density is None else 2, [3.2, 1])


def _entry(effects, model):
    """A model's legend entry: its name and what its curve is, or that it does not read the feature."""
    if not effects.reads[model]:
        return "%s (does not use it)" % model
    return "%s \u2014 %s" % (model, effects.methods[model])


def _curves(fig, ax, effects, x):
    """One line per model; a single point is a dot. Each line is a little thinner than the one
    before, so that a curve that another one covers (two GAMs that agree) still shows as its
    rim."""
    lines = []
    for k, (model, y) in enumerate(effects.curves.items()):
        reads = effects.reads[model]
        width = max(2.8 - 0.25 * k, 1.2) if reads else 1.6
        line, = ax.plot(x, y, color=effects.colors[model], alpha=1.0, linewidth=width,
                        linestyle="-" if reads else ":", solid_capstyle="round", zorder=2 if reads else 1.8,
                        drawstyle="steps-mid" if effects.steps.get(model, PlotEffect._stepwise(y))
                        else "default",
                        marker="o" if len(x) == 1 else "None", markersize=6, label=_entry(effects, model))
        lines.append(line)
    return lines


def _levels(fig, ax, effects, x):
    """One marker per level and model, the models side by side within a level (so that equal
    values stay apart), each model's markers joined by a faint line where the levels are few
    enough for the lines to be followed; a model that does not read the feature has hollow
    markers."""
    count = len(effects.curves)
    per_level = fig.get_figwidth() * 72.0 * 0.8 / max(len(x), 1)
    size = float(np.clip(per_level * 0.6 / count, 5.0, 8.0))
    spread = min(0.7, 1.4 * size / per_level * (count - 1))
    offsets = np.linspace(-spread / 2, spread / 2, count)
    markers = []
    for k, (model, y) in enumerate(effects.curves.items()):
        color, reads = effects.colors[model], effects.reads[model]
        if 1 < len(x) <= JOINED:
            ax.plot(x + offsets[k], y, color=color, alpha=0.3, linewidth=1.0, zorder=1.8, gid="join")
        shape, scale = MARKERS[k % len(MARKERS)]
        marker, = ax.plot(x + offsets[k], y, linestyle="None", marker=shape,
                          markersize=size * scale, color=color, alpha=1.0, markerfacecolor=color if reads else "white",
                          markeredgecolor="white" if reads else color, markeredgewidth=0.5 if reads else 1.2,
                          zorder=3, label=_entry(effects, model))
        markers.append(marker)
    return markers


def _drawn(fig, ax):
    """The data on the axes in pixels: each line as a path (as it is drawn, steps and all), each
    marker as a box."""
    paths, boxes = [], []
    for line in ax.lines:
        if line.get_transform() is not ax.transData:  # the zero line, across the axes
            continue
        xy = line.get_xydata()
        if line.get_drawstyle() == "steps-mid" and len(xy) > 1:
            xy = np.column_stack(cbook.pts_to_midstep(xy[:, 0], xy[:, 1]))
        pixels = ax.transData.transform(xy)
        if line.get_linestyle() not in ("None", "none", "", " "):
            paths.append(Path(pixels))
        if line.get_marker() not in ("None", "none", "", " ", None):
            r = line.get_markersize() * fig.dpi / 72.0 / 2.0 + 1.0
            boxes += [Bbox.from_extents(px - r, py - r, px + r, py + r) for px, py in pixels]
    return paths, boxes


def _hides_nothing(fig, ax, legend):
    """Whether the legend stands inside the axes clear of every line and marker."""
    renderer = _measured(fig)
    box, frame = legend.get_window_extent(renderer).padded(2.0), ax.get_window_extent(renderer)
    if box.x0 < frame.x0 - 3 or box.x1 > frame.x1 + 3 or box.y0 < frame.y0 - 3 or box.y1 > frame.y1 + 3:
        return False
    paths, boxes = _drawn(fig, ax)
    return not (any(p.intersects_bbox(box, filled=False) for p in paths)
                or any(_overlap(box, b) for b in boxes))


def _legend(fig, ax, handles):
    """One legend, where it hides no data: in a free corner of the axes; else over the data, in
    room made above it; else under the axes."""
    labels = [_wrap(h.get_label(), 44) for h in handles]
    style = dict(fontsize=NOTE_SIZE, borderaxespad=0.4, handlelength=2.4, columnspacing=1.4,
                 markerscale=7.0 / max(h.get_markersize() for h in handles))
    widths = sorted({1, min(2, len(handles)), min(3, len(handles))})
    for ncols in widths:
        for loc in ("upper left", "upper right", "lower left", "lower right", "upper center",
                    "lower center"):
            legend = _inside(ax, handles, labels, loc, ncols, style)
            if _hides_nothing(fig, ax, legend):
                return legend
            legend.remove()
    for ncols in widths[::-1]:
        legend = _inside(ax, handles, labels, "upper center", ncols, style)
        if _room_above(fig, ax, legend):
            return legend
        legend.remove()
    return _below(fig, handles, labels, style)


def _below(fig, handles, labels, style):
    """The legend under the figure's axes, in as many columns as its width holds."""
    for ncols in range(min(3, len(handles)), 0, -1):
        legend = fig.legend(handles, labels, loc="outside lower center", ncols=ncols, **style)
        if ncols == 1 or legend.get_window_extent(_measured(fig)).width <= 0.98 * fig.bbox.width:
            return legend
        legend.remove()


def _inside(ax, handles, labels, loc, ncols, style):
    """A legend inside the axes, which the layout leaves out: one that does not fit is not kept,
    and must not shrink the axes while it is tried."""
    legend = ax.legend(handles, labels, loc=loc, ncols=ncols, **style)
    legend.set_in_layout(False)
    return legend


def _room_above(fig, ax, legend):
    """Raise the top of the value axis until the data stay below the legend, if that takes no
    more than 45% of the axes' height; the axis as it was otherwise."""
    lo, hi = ax.get_ylim()
    for _ in range(4):
        renderer = _measured(fig)
        frame, box = ax.get_window_extent(renderer), legend.get_window_extent(renderer)
        if box.width > frame.width + 6:
            break
        paths, boxes = _drawn(fig, ax)
        tops = [p.vertices[:, 1].max() for p in paths] + [b.y1 for b in boxes]
        # the height, in pixels above the axes' foot, that the data take and the legend leaves
        taken = max(tops) - frame.y0 + 4.0
        left = box.y0 - frame.y0
        if taken <= left and _hides_nothing(fig, ax, legend):
            return True
        if frame.y1 - box.y0 > 0.45 * frame.height:
            break
        bottom, top = ax.get_ylim()
        ax.set_ylim(bottom, bottom + (top - bottom) * max(taken / max(left, 1.0), 1.02))
    ax.set_ylim(lo, hi)
    return False
