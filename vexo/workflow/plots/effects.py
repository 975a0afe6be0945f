"""Effects: a feature's main effect over its values with the data's density below it, and a
pair's interaction surface as a heat map (``heatmap``).
"""
import numpy as np

from .style import (BAR, DENSITY, LABEL_SIZE, _figsize, _is_number, _items, _number, _numbers,
                    _same_length)
from .text import _TickFormatter, _chars_across, _fmt, _importance_title, _wrap
from .figure import _declutter_xticklabels, _nothing_to_show, _show, _style, _zero_line
from .heatmap import PlotHeatmap  # noqa: F401 (a plot of the effects, in a module of its own)
from .measures import EffectValues, _scaled, _unit_range, effect_label  # noqa: F401
from .ticks import _labels, _original_values, scale_plot_ticks


def _density_strip(ax, low, lefts, widths, heights, align):
    """The data's density as bars in the strip `low` under `ax`, whose x axis it shares and
    labels: bars from `lefts` ("edge") or centred on them ("center")."""
    _style(low)
    low.bar(lefts, heights, width=widths, align=align, color=DENSITY, edgecolor="white",
            linewidth=0.5, zorder=2, gid="density")
    low.set_ylabel("Density")
    low.set_yticks([])
    low.spines["left"].set_visible(False)
    low.set_ylim(0, max(float(np.max(heights)) if len(heights) else 0.0, 1e-12) * 1.08)
    ax.tick_params(axis="x", labelbottom=False, length=0)


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
        measured = effect_label(height if feature_type == "categorical" else ygrid)
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
            ax.set_ylabel(measured)
            ax.yaxis.set_major_formatter(_TickFormatter())

            if density is not None:
                _density_strip(ax, low, *density)
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
        exactly equal, which a smooth curve's values never are; and it holds still on three
        stretches or more (a staircase whose steps may be narrower than the grid) or changes
        only in jumps of a step or two of the grid. A curve flat in one or two stretches and
        sloping between them (a ReLU network's beyond its last kink) is no staircase."""
        if len(y) < 3:
            return False
        moves = np.diff(y) != 0
        if not 0.1 <= 1.0 - moves.mean() < 1.0:
            return False
        flats = np.count_nonzero(~moves[1:] & moves[:-1]) + int(not moves[0])
        changes = np.count_nonzero(moves[1:] & ~moves[:-1]) + int(moves[0])
        return bool(flats >= 3 or np.count_nonzero(moves) <= 2 * changes)

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
