"""Making, styling and showing one figure: its axes in the look, tick labels kept apart and
inside the figure, and a figure that fails while drawing closed rather than left behind.
"""
import matplotlib.pyplot as plt

from .. import fonts, look
from .style import GRID, INK, LABEL_SIZE, MUTED, SMALLEST, TICK_SIZE
from .text import _fit_axis_label, _fit_title, _measured


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
    """Turn the x tick labels aslant when they would run into each other (closer than the width
    of a letter or two, where two names read as one once the figure is drawn at another
    resolution, whose type is wider), upright and smaller when even that is not enough."""
    renderer = _measured(fig)
    shown = _shown_ticklabels(ax.xaxis)
    boxes = sorted((t.get_window_extent(renderer) for t in shown), key=lambda b: b.x0)
    gap = shown[0].get_fontsize() * fig.dpi / 72.0 if shown else 0.0
    if any(a.x1 + gap > b.x0 for a, b in zip(boxes, boxes[1:])):
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
            # the texts' fonts before anything is measured: names in any script
            fonts.dress(fig)
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
