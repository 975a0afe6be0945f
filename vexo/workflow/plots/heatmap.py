"""A pair's interaction surface as a heat map: coloured by the values where the data lie, the data
drawn over it, and a feature of few values (categories, a 0/1 flag) as cells of equal width, one
per level, labelled at their centres.
"""
import numpy as np

from ..names import SEPARATOR, split_pair
from .style import CMAP, INK, LABEL_SIZE, MUTED, TICK_SIZE, _figsize, _number, _numbers
from .text import _TickFormatter, _chars_across, _fmt, _importance_title, _wrap
from .figure import _declutter_xticklabels, _nothing_to_show, _show, _style
from .measures import _scaled, _unit_range, effect_label, said
from .ticks import _codes_in_view, _converted, _original_values, _short_labels, scale_plot_ticks

# The share of the data's rows (percent) whose effect the colours span: a corner where a few rows
# (or none) lie cannot set the scale; the values beyond it take the end colours.
COVERED = 95
# Rows drawn over the surface at most, and how far a row's dot strays inside its level's cell.
DOTS = 2000
JITTER = 0.3
# The longest level name on an axis; a longer one keeps its leading words and ends in "…".
LEVEL_CHARS = 22
# How the cells where no rows lie are faded: white at this opacity over the colours. A numeric
# side is judged in blocks, about one per two rows' worth of the square root of the rows.
VEIL = 0.65


class _Side:
    """One side of the surface: the grid of a numeric feature over [lo, hi], or one cell of
    equal width per level of a feature of few values (positions 0, 1, ..., each level's value
    read from the grid point nearest to it)."""

    def __init__(self, lo, hi, n, levels):
        self.lo, self.hi, self.n = lo, hi, n
        self.levels = None if levels is None or len(levels) == 0 else np.asarray(levels, dtype=float)
        if self.levels is None:
            self.cells = np.arange(n)
            self.span = (lo, hi)
        else:
            self.cells = self._nearest_grid_point(self.levels)
            self.span = (-0.5, len(self.levels) - 0.5)

    def _nearest_grid_point(self, values):
        if self.n < 2 or not self.hi > self.lo:
            return np.zeros(len(values), dtype=int)
        return np.clip(np.rint((values - self.lo) / (self.hi - self.lo) * (self.n - 1)),
                       0, self.n - 1).astype(int)

    def level_of(self, values):
        """The position of the level nearest to each value."""
        return np.abs(values[:, None] - self.levels[None, :]).argmin(axis=1)

    def cell(self, values):
        """The drawn cell (a column of the drawn surface) that holds each value."""
        if self.levels is not None:
            return self.level_of(values)
        width = (self.hi - self.lo) / self.n
        return np.clip(np.floor((values - self.lo) / width), 0, self.n - 1).astype(int)

    def position(self, values, rng):
        """Where each value is drawn: a numeric value where it is, a level's value at a random
        place around its cell's centre."""
        if self.levels is None:
            return values
        return self.level_of(values) + rng.uniform(-JITTER, JITTER, len(values))


def _levels(said_levels, k, scaler, feature, lo, hi):
    """The levels of side k: as the values say, else the whole-number codes in view of a feature
    that the scaler calls categorical, else None (a numeric side)."""
    if said_levels is not None and said_levels[k] is not None:
        return said_levels[k]
    if scaler is None or feature is None:
        return None
    codes = _codes_in_view(lo, hi)
    if codes is None:
        return None
    kind = _converted(scaler, feature, codes)[1]
    return codes if isinstance(kind, str) and kind == "categorical" else None


def _level_labels(levels, scaler, feature):
    names = _original_values(scaler, feature, levels) if scaler is not None else list(levels)
    return _short_labels([_fmt(v) for v in names], LEVEL_CHARS)


def _blocks(side, count):
    """The block of each drawn cell of a side: a level is a block of its own, a numeric side
    falls into `count` equal blocks."""
    if side.levels is not None:
        return np.arange(len(side.levels)), len(side.levels)
    return np.arange(side.n) * count // side.n, count


def _uncovered(rows, sides):
    """The drawn cells (rows of the surface by its columns) in whose block no row lies."""
    count = int(np.clip(round(np.sqrt(len(rows)) / 2), 4, 20))
    (bx, nx), (by, ny) = _blocks(sides[0], count), _blocks(sides[1], count)
    covered = np.zeros((ny, nx), dtype=bool)
    covered[by[sides[1].cell(rows[:, 1])], bx[sides[0].cell(rows[:, 0])]] = True
    return ~covered[np.ix_(by, bx)]


def _colour_limit(surface, at_rows):
    """The largest |effect| that the colours tell apart: the COVERED percentile of |effect| over
    the data's rows where there are rows, else the surface's largest."""
    if at_rows is not None and at_rows.size:
        limit = float(np.percentile(np.abs(at_rows), COVERED))
        if limit > 0:
            return limit, True
    return float(np.max(np.abs(surface))) or 1.0, False


class PlotHeatmap:
    """The joint effect of a feature pair as a heat map over the pair's ranges."""

    def __init__(self, mesh_grid=100, feature_combine=None):
        self.mesh_grid = mesh_grid
        self.feature_combine = feature_combine

    def plot_interpret(self, mat_value, extent, importance=None, figsize=(8, 6), scaler=None):
        """mat_value rows run from the top of the second feature's range down, columns from the
        left of the first's; extent is [first min, first max, second min, second max].

        Values that say so (``EffectValues``) give the colour bar's label, the data's rows (drawn
        as dots; the colours span the effect at COVERED% of them) and the levels of a feature of
        few values, drawn as cells of equal width."""
        figsize = _figsize(figsize)
        importance = _number("importance", importance)
        label, points, levels = (effect_label(mat_value), said(mat_value, "points"),
                                 said(mat_value, "levels"))
        mat = self._surface(mat_value)
        box = _numbers("extent", extent)
        if len(box) != 4:
            raise ValueError("extent must be four numbers [x min, x max, y min, y max], got %d" % len(box))
        for k in (0, 2):
            if box[k] == box[k + 1]:
                box[k], box[k + 1] = box[k] - 0.5, box[k + 1] + 0.5

        pair = "" if self.feature_combine is None else _fmt(self.feature_combine)
        features = split_pair(pair)
        if features is None:
            if scaler is not None:
                raise ValueError("feature_combine must name two features joined by %r to rescale "
                                 "the axes, got %r" % (SEPARATOR, self.feature_combine))
            features = None
        names = features or (None, None)
        if mat.size == 0:
            sides, surface = None, mat
        else:
            sides = [_Side(box[0], box[1], mat.shape[1],
                           _levels(levels, 0, scaler, names[0], box[0], box[1])),
                     _Side(box[2], box[3], mat.shape[0],
                           _levels(levels, 1, scaler, names[1], box[2], box[3]))]
            # rows from the bottom of the second feature's range up, as the axis runs
            surface = mat[::-1][np.ix_(sides[1].cells, sides[0].cells)]
        rows = None
        if sides is not None and points is not None and points.ndim == 2 and points.shape[1] == 2:
            rows = points[np.all(np.isfinite(points), axis=1)]
        at_rows = None if rows is None else surface[sides[1].cell(rows[:, 1]), sides[0].cell(rows[:, 0])]

        def draw(fig):
            ax = fig.axes[0]
            _style(ax)
            ax.set_title(_importance_title("Interaction Effect", pair, importance))
            if mat.size == 0:
                _nothing_to_show(ax)
                return
            limit, by_rows = _colour_limit(surface, at_rows)
            image = ax.imshow(surface, extent=sides[0].span + sides[1].span, origin="lower",
                              aspect="auto", cmap=CMAP, vmin=-limit, vmax=limit,
                              interpolation="nearest")
            beyond = (surface.max() > limit, surface.min() < -limit)
            extend = {(True, True): "both", (True, False): "max", (False, True): "min"}.get(beyond, "neither")
            bar = fig.colorbar(image, ax=ax, fraction=0.05, pad=0.02, extend=extend)
            bar.outline.set_visible(False)
            bar.ax.tick_params(labelsize=TICK_SIZE, colors=MUTED, labelcolor=INK)
            bar.set_label(label + ("; colours span the effect at %d%% of the training rows "
                                   "(dots), faded where none lie" % COVERED if by_rows else ""))
            bar.ax.grid(False)
            bar.formatter = _TickFormatter()
            bar.update_ticks()
            if rows is not None and len(rows):
                veil = np.zeros(surface.shape + (4,))
                veil[_uncovered(rows, sides)] = (1.0, 1.0, 1.0, VEIL)
                ax.imshow(veil, extent=sides[0].span + sides[1].span, origin="lower",
                          aspect="auto", interpolation="nearest")
                self._dots(ax, rows, sides)
            ax.set_xlim(sides[0].span)
            ax.set_ylim(sides[1].span)
            for side in ("left", "bottom"):
                ax.spines[side].set_visible(False)
            if features:
                self._label_axes(fig, ax, features, sides, box, scaler)
            _declutter_xticklabels(fig, ax)

        _show(figsize, draw)

    def _surface(self, mat_value):
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
        return mat

    @staticmethod
    def _dots(ax, rows, sides):
        """The data's rows, lightly, at most DOTS of them (an even spread of the rows given)."""
        if len(rows) > DOTS:
            rows = rows[np.linspace(0, len(rows) - 1, DOTS).astype(int)]
        rng = np.random.default_rng(0)
        x = sides[0].position(rows[:, 0], rng)
        y = sides[1].position(rows[:, 1], rng)
        alpha = float(np.clip(12.0 / np.sqrt(len(rows)), 0.15, 0.6))
        ax.scatter(x, y, s=5, color=INK, alpha=alpha, linewidths=0, zorder=3, gid="rows")

    @staticmethod
    def _label_axes(fig, ax, features, sides, box, scaler):
        for k, (target, lims) in enumerate(((ax.xaxis, box[:2]), (ax.yaxis, box[2:]))):
            name, side = features[k], sides[k]
            if side.levels is not None:
                target.set_ticks(np.arange(len(side.levels)), _level_labels(side.levels, scaler, name))
            elif scaler is None and _unit_range(lims):
                name = _scaled(name)
            room = (_chars_across(fig, LABEL_SIZE, 0.8) if k == 0
                    else fig.get_figheight() * 72 * 0.8 / (0.6 * LABEL_SIZE))
            target.set_label_text(_wrap(name, room))
            if side.levels is None:
                scale_plot_ticks(ax, features[k], scaler, axis=k)
