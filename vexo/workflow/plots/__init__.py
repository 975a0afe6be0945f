"""Plot primitives of the experiment workflow.

Every ``plot`` draws one complete figure of the requested size in one shared look and shows it.
Inputs are checked before a figure is made, so a bad call never leaves half a figure behind.

- ``style``: the look in numbers, ``Title`` and ``Sum``, and the checks of the inputs;
- ``text``, ``figure``: numbers and titles fitted into a figure, and the figure's making;
- ``ticks``: axes in the data's own units (``scale_plot_ticks``);
- ``bars``: ``PlotHBar``; ``effects``: ``PlotEffect`` and ``PlotHeatmap``;
- ``compare``: the models side by side, ``plot_compare_effects`` and ``plot_compare_importance``.
"""
from .bars import PlotHBar
from .compare import plot_compare_effects, plot_compare_importance
from .effects import PlotEffect, PlotHeatmap
# the look's numbers, for figures drawn beside the plots'
from .style import (AXIS_WORDS, BAR, BASELINE, CMAP, DENSITY, FAMILY_COLORS, GRID,  # noqa: F401
                    HIGH_STEM, INK, INTERCEPT, LABEL_SIZE, LOW_STEM, MUTED, NEG, NOTE_SIZE, POS,
                    SMALLEST, SPARE_COLORS, SPINE, SHARES, STEMS, TICK_SIZE, TITLE_SIZE, Sum, Title,
                    model_colors)
from .ticks import scale_plot_ticks

__all__ = ["PlotHBar", "PlotEffect", "PlotHeatmap", "plot_compare_effects", "plot_compare_importance",
           "scale_plot_ticks", "Sum", "Title"]
