"""Plot primitives of the experiment workflow (being written)."""


class PlotHBar:
    pass


class PlotEffect:
    pass


class PlotHeatmap:
    pass


def scale_plot_ticks(ax, feature, scaler, axis=0):
    raise NotImplementedError
