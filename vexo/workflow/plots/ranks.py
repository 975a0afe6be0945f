"""The models' permutation importance side by side: a grid of a row per feature and a column per
model, each cell its rank and its value, shaded by rank (``plot_compare_importance``).
"""
from collections import namedtuple

import numpy as np
from matplotlib import colormaps
from matplotlib.colors import to_rgb
from matplotlib.patches import Rectangle

from .bars import printed_number
from .figure import _show, _style
from .records import _color, _fitted, _note, _record, _text, _texts
from .style import (INK, LABEL_SIZE, MUTED, NOTE_SIZE, SMALLEST, TICK_SIZE, _figsize, _is_number, _items,
                    _table)
from .text import _measured, _wrap, shorten

# The longest line of a feature's name beside the grid (a name takes two such lines at most):
# a longer name keeps its leading words and ends in "…".
ROW_CHARS = 28
# The grid's shades: darker is more important (a lower rank); the lightest stays off white.
SHADES = "Blues"
# What the mark beside a row label means, and the line that says so.
MARK = "\u25c6"
MARKED = MARK + " and an outline: the features on which the models disagree most"


Grid = namedtuple("Grid", "features n_features models rank importance scores colors disagree "
                          "value_label title note")


def _grid(record):
    _record(record, Grid._fields)
    features, models = _texts("features", record["features"]), _texts("models", record["models"])
    for name, names in (("features", features), ("models", models)):
        if len(set(names)) != len(names):
            raise ValueError("%s must not name one twice, got %r" % (name, names))
    count = record["n_features"]
    if not _is_number(count) or count != int(count) or count < len(features):
        raise ValueError("n_features must be a whole number no smaller than the %d features shown, "
                         "got %r" % (len(features), count))
    # a row per feature, a column per model
    rank, importance = (_table(key, record[key], (len(features), len(models))) for key in ("rank", "importance"))
    if np.any(rank != np.round(rank)) or np.any(rank < 1) or np.any(rank > count):
        raise ValueError("rank must hold whole numbers from 1 to n_features (%d)" % count)
    scores = _texts("scores", record["scores"])
    colors = [_color("each of colors", c) for c in _items("colors", record["colors"])]
    if not len(scores) == len(colors) == len(models):
        raise ValueError("scores and colors must hold one entry per model: %d models, %d scores, "
                         "%d colours" % (len(models), len(scores), len(colors)))
    disagree = [_text("each of disagree", f) for f in _items("disagree", record["disagree"])]
    if not set(disagree) <= set(features):
        raise ValueError("disagree must name features shown, not %r"
                         % sorted(set(disagree) - set(features)))
    return Grid(features, int(count), models, rank.astype(int), importance, scores, colors,
                set(disagree), _text("value_label", record["value_label"]),
                _text("title", record["title"]), _text("note", record["note"]))


def plot_compare_importance(record, figsize=None):
    """The models' permutation importance in a grid: a row per feature, a column per model,
    each cell its rank ("#1", the most important in that model) and its value, shaded by rank.

    record: "features" (the rows, top to bottom), "n_features" (of the whole table), "models",
    "rank" and "importance" (features by models), "scores" (the column headers' second line),
    "colors" (one per model), "disagree" (features to mark), "value_label", "title", "note".
    figsize None grows the figure with the rows and the columns.
    """
    grid = _grid(record)
    names = [_row_label(f, f in grid.disagree) for f in grid.features]
    figsize = _grid_size(grid, names) if figsize is None else _figsize(figsize)
    notes = [grid.note] if grid.note else []
    if len(grid.features) < grid.n_features:
        notes.append("%d of the %d features shown." % (len(grid.features), grid.n_features))
    if grid.disagree:
        notes.append(MARKED + ".")

    def draw(fig):
        ax = fig.axes[0]
        _style(ax)
        ax.set_title(grid.title)
        rows, columns = len(grid.features), len(grid.models)
        for spine in ax.spines.values():
            spine.set_visible(False)
        ax.set_xticks([])
        ax.set_yticks(np.arange(rows), names)
        ax.tick_params(axis="y", length=0, pad=6)
        ax.set_xlim(-0.5, columns - 0.5)
        ax.set_ylim(rows - 0.5, -0.5)
        ax.set_xlabel("in each cell: the rank among all %d features (#1 = the most important) and the %s"
                      % (grid.n_features, grid.value_label))
        _cells(ax, grid)
        _note(fig, "\n".join(notes))
        _fitted(fig)
        _headers(fig, ax, grid)
        _fit_cells(fig, ax, grid)

    _show(figsize, draw)


def _row_label(feature, marked):
    """A feature's name on at most two lines of about ROW_CHARS (a word too long for one taking
    half as much again), shortened beyond them; marked if it is to be."""
    width, label = 2 * ROW_CHARS, _wrap(feature, ROW_CHARS)
    while (label.count("\n") > 1 or max(map(len, label.split("\n"))) > 1.5 * ROW_CHARS) and width > 8:
        width -= 4
        label = _wrap(shorten(feature, width), ROW_CHARS)
    return (MARK + " " + label.replace("\n", "\n   ")) if marked else label


def _grid_size(grid, names):
    """A figure that gives each row about a third of an inch and each column an inch and a bit."""
    chars = max(len(line) for name in names for line in name.split("\n"))
    labels = chars * 0.6 * TICK_SIZE / 72.0 + 0.3
    width = max(4.2, labels + 1.2 * len(grid.models) + 0.5)
    two_lines = any("\n" in name for name in names)
    height = max(3.0, 2.1 + (0.36 if two_lines else 0.32) * len(grid.features))
    return (width, height)


def _shade(grid):
    """Each cell's colour: the rank on the shades, rank 1 darkest."""
    worst = max(int(grid.rank.max()), 2)
    share = (worst - grid.rank) / (worst - 1.0)
    return colormaps[SHADES](0.1 + 0.8 * share)


def _on(color):
    """The colour of text that reads on a cell of the colour."""
    r, g, b = to_rgb(color)
    return "white" if 0.2126 * r + 0.7152 * g + 0.0722 * b < 0.5 else INK


def _cells(ax, grid):
    shades = _shade(grid)
    # a drop that is only the rounding of subtracting equal scores (-2.22e-17) reads as 0
    scale = np.abs(grid.importance).max(axis=0, initial=0.0)
    shown = np.where(np.abs(grid.importance) <= 1e-12 * scale, 0.0, grid.importance)
    for i, feature in enumerate(grid.features):
        for j in range(len(grid.models)):
            ax.add_patch(Rectangle((j - 0.5, i - 0.5), 1, 1, facecolor=shades[i, j], edgecolor="white",
                                   linewidth=2, zorder=1, gid="cell"))
            ink = _on(shades[i, j])
            ax.text(j, i, "#%d" % grid.rank[i, j], ha="right", va="center", fontsize=LABEL_SIZE + 0.5,
                    fontweight="bold", color=ink, zorder=3, gid="rank")
            ax.text(j, i, printed_number(shown[i, j]), ha="left", va="center",
                    fontsize=NOTE_SIZE, color=ink, zorder=3, gid="importance")
        if feature in grid.disagree:
            ax.add_patch(Rectangle((-0.5, i - 0.46), len(grid.models), 0.92, fill=False, edgecolor=INK,
                                   linewidth=1.8, zorder=4, clip_on=False, gid="disagree"))


def _headers(fig, ax, grid):
    """Above each column the model's name in its colour over a bar of it, and its score; the
    axis grows upward to hold them."""
    renderer = _measured(fig)
    frame = ax.get_window_extent(renderer)
    column = frame.width / len(grid.models)
    chars = max(8, int(column / (0.6 * LABEL_SIZE * fig.dpi / 72.0)))
    names, scores = [], []
    for j, (model, score, color) in enumerate(zip(grid.models, grid.scores, grid.colors)):
        scores.append(ax.annotate(score, xy=(j, -0.5), xytext=(0, 6), textcoords="offset points",
                                  ha="center", va="bottom", fontsize=NOTE_SIZE, color=MUTED, gid="score"))
        names.append(ax.annotate(_wrap(model, chars), xy=(j, -0.5), xytext=(0, 6), textcoords="offset points",
                                 ha="center", va="bottom", fontsize=LABEL_SIZE, fontweight="bold",
                                 color=color, gid="model"))
        ax.add_patch(Rectangle((j - 0.45, -0.5), 0.9, 0.0, edgecolor=color, linewidth=2.5, zorder=4,
                               clip_on=False, gid="accent"))
    per_point = fig.dpi / 72.0
    lift = 6 + max(t.get_window_extent(renderer).height for t in scores) / per_point + 2
    for name in names:
        name.xyann = (0, lift)
    need = (lift + max(t.get_window_extent(renderer).height for t in names) / per_point + 4) * per_point
    rows = len(grid.features)
    # the header's height in rows, from the pixels that a row takes once the header is there
    head = need * rows / max(frame.height - need, 0.5 * frame.height)
    ax.set_ylim(rows - 0.5, -0.5 - head)


def _fit_cells(fig, ax, grid):
    """Set each cell's rank and value side by side, centred as a pair in its cell, all cells
    alike; smaller type where a column or a row is too narrow for them."""
    ranks = [t for t in ax.texts if t.get_gid() == "rank"]
    values = [t for t in ax.texts if t.get_gid() == "importance"]
    renderer = _measured(fig)
    frame = ax.get_window_extent(renderer)
    column = frame.width / len(grid.models)
    lo, hi = ax.get_ylim()
    row = frame.height / abs(lo - hi)
    while True:
        rank_w = max(t.get_window_extent(renderer).width for t in ranks)
        value_w = max(t.get_window_extent(renderer).width for t in values)
        gap = 0.5 * values[0].get_fontsize() * fig.dpi / 72.0
        tall = ranks[0].get_window_extent(renderer).height
        if (rank_w + gap + value_w <= 0.9 * column and tall <= 0.85 * row) or \
                values[0].get_fontsize() <= SMALLEST:
            break
        for t in ranks + values:
            t.set_fontsize(max(SMALLEST, t.get_fontsize() - 0.5))
    start = -(rank_w + gap + value_w) / 2.0 / column
    for t in ranks:
        t.set_x(t.get_position()[0] + start + rank_w / column)
    for t in values:
        t.set_x(t.get_position()[0] + start + (rank_w + gap) / column)
