import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import pytest
from matplotlib.colors import to_hex
from matplotlib.image import AxesImage
from matplotlib.patches import Rectangle

from effect_doubles import shows  # noqa: F401 (a fixture)
from vexo.workflow.plots import PlotEffect, PlotHBar, PlotHeatmap, scale_plot_ticks

POS, NEG = "#e74c3c", "#27ae60"


def the_figure(shows):
    assert len(plt.get_fignums()) == 1 and len(shows) == 1
    fig = plt.gcf()
    fig.canvas.draw()
    return fig


def bars(ax):
    return sorted((p for p in ax.patches if isinstance(p, Rectangle)), key=lambda p: p.get_y())


def labels(ticklabels):
    return [t.get_text() for t in ticklabels]


def tick_pairs(axis):
    return [(loc, float(t.get_text().replace("\u2212", "-")))
            for loc, t in zip(axis.get_majorticklocs(), axis.get_ticklabels())]


def linear(feature, values):
    return values * 10.0 + 5.0, None


@pytest.mark.parametrize("X", [["a", "b", "a"], np.array(["a", "b", "a"]), pd.Index(["a", "b", "a"])])
def test_plain_bars_keep_order_labels_title_and_size(shows, X):
    assert PlotHBar().plot(X=X, height=pd.Series([0.1, 0.5, 0.3]), title="Feature Importance",
                           figsize=(7, 5)) is None
    fig = the_figure(shows)
    ax = fig.axes[0]
    assert [p.get_width() for p in bars(ax)] == pytest.approx([0.1, 0.5, 0.3])
    assert labels(ax.get_yticklabels()) == ["a", "b", "a"] and ax.get_title() == "Feature Importance"
    assert tuple(fig.get_size_inches()) == (7, 5) and len({to_hex(p.get_facecolor()) for p in bars(ax)}) == 1


def test_signed_bars_take_colour_by_sign_and_show_their_values(shows):
    value = np.array(["0.1235 x 2.0", 37.0, [1.25, 3], "Intercept-free"], dtype=object)
    PlotHBar().plot(X=["w", "x", "y", "z"], height=[-0.4, 1.2, 0.0, -2.0], value=value, title="local",
                    mid_center=True, pos_color=POS, neg_color=NEG, figsize=(8, 6))
    ax = the_figure(shows).axes[0]
    assert [to_hex(p.get_facecolor()) for p in bars(ax)] == [NEG, POS, POS, NEG]
    assert labels(ax.texts) == ["0.1235 x 2", "37", "1.25 x 3", "Intercept-free"]
    lo, hi = ax.get_xlim()
    assert lo == pytest.approx(-hi) and hi >= 2.0


def test_stems_run_between_their_endpoints_and_are_labelled_at_the_outer_end(shows):
    h = np.array([0.5, -1.0, 2.0])
    s0, s1 = h - 0.3, h + 0.4
    PlotHBar().plot_stem(X=["a", "b", "c"], height=h, value=[1.5, 2.5, 3.5], stem_value0=s0,
                         stem_value1=s1, title="stems", mid_center=True, pos_color=POS,
                         neg_color=NEG, figsize=(8, 6))
    ax = the_figure(shows).axes[0]
    [stems] = [c for c in ax.collections if c.get_gid() == "stem"]
    np.testing.assert_allclose([seg[:, 0] for seg in stems.get_segments()], np.column_stack([s0, s1]))
    markers = {ln.get_gid(): list(ln.get_xdata()) for ln in ax.lines if ln.get_gid()}
    assert (markers["stem_value0"], markers["stem_value1"]) == (pytest.approx(s0), pytest.approx(s1))
    assert labels(ax.texts) == ["1.5", "2.5", "3.5"]
    for text, row in zip(ax.texts, zip(h, s0, s1)):
        assert text.xy[0] == pytest.approx(max(row) if row[0] >= 0 else min(row))


@pytest.mark.parametrize("scaler, tick_labels", [
    (None, ["0", "1", "2"]),
    (lambda f, a: (np.array(["no", "yes", "maybe"])[a.astype(int)], a), ["no", "yes", "maybe"]),
])
def test_categorical_effect_draws_bars_over_categories_with_density_strip(shows, scaler, tick_labels):
    PlotEffect(feature="region").plot("categorical", importance=0.1234567, categories=np.array([0.0, 1.0, 2.0]),
                                      height=[0.2, -0.1, 0.3], density_names=["N", "S", "E"], scores=[5, 9, 2],
                                      figsize=(6, 4), scaler=scaler)
    fig = the_figure(shows)
    top, strip = fig.axes
    drawn = sorted((p.get_x() + p.get_width() / 2, p.get_height()) for p in top.patches)
    assert np.allclose(drawn, [(0, 0.2), (1, -0.1), (2, 0.3)])
    assert sorted(p.get_height() for p in strip.patches if p.get_gid() == "density") == [2, 5, 9]
    assert top.get_title() == "Main Effect of region (Importance: 0.1235)" and tuple(fig.get_size_inches()) == (6, 4)
    assert labels(strip.get_xticklabels()) == tick_labels


def test_continuous_effect_draws_the_line_over_a_histogram_in_original_units(shows):
    x = np.linspace(-1, 1, 100)
    edges = np.linspace(-1, 1, 11)
    PlotEffect(feature="age").plot("continuous", importance=2, density_names=edges, scores=np.arange(10.0),
                                   xgrid=x, ygrid=(x ** 3).reshape(-1, 1), figsize=(8, 6), scaler=linear)
    top, strip = the_figure(shows).axes
    [line] = [ln for ln in top.lines if len(ln.get_xdata()) == 100]
    assert np.allclose(line.get_xdata(), x) and np.allclose(line.get_ydata(), x ** 3)
    hist = sorted((p for p in strip.patches if p.get_gid() == "density"), key=lambda p: p.get_x())
    assert [p.get_x() for p in hist] == pytest.approx(edges[:-1])
    assert [p.get_width() for p in hist] == pytest.approx(np.diff(edges))
    pairs = tick_pairs(strip.xaxis)
    assert len(pairs) >= 3 and all(label == pytest.approx(loc * 10 + 5) and label == round(label)
                                for loc, label in pairs)


def test_heatmap_draws_the_matrix_over_its_extent_with_a_colour_bar_each_axis_in_its_units(shows):
    def scaler(feature, values):
        return (values * 10 if feature == "age" else values + 100), None

    mat = np.outer(np.linspace(1, -1, 20), np.linspace(-2, 2, 30))
    PlotHeatmap(mesh_grid=100, feature_combine="age x income").plot_interpret(
        mat_value=mat, extent=[0, 3, -1, 1], importance=0.25, figsize=(7, 5), scaler=scaler)
    fig = the_figure(shows)
    ax, bar = fig.axes
    [image] = [a for a in ax.get_children() if isinstance(a, AxesImage)]
    assert np.array_equal(image.get_array(), mat) and list(image.get_extent()) == [0, 3, -1, 1]
    assert image.norm.vmin == -image.norm.vmax == -2 and bar.get_ylabel() == "Effect"
    assert ax.get_title() == "Interaction Effect of age x income (Importance: 0.25)"
    assert (ax.get_xlabel(), ax.get_ylabel(), tuple(fig.get_size_inches())) == ("age", "income", (7, 5))
    assert all(label == pytest.approx(loc * 10) for loc, label in tick_pairs(ax.xaxis))
    assert all(label == pytest.approx(loc + 100) for loc, label in tick_pairs(ax.yaxis))


@pytest.mark.parametrize("draw, title", [
    (lambda: PlotHBar().plot(X=np.array([]), height=pd.Series([], dtype=float), title="Coefficients"),
     "Coefficients"),
    (lambda: PlotEffect(feature="f").plot("categorical", importance=0.1, categories=[], height=[]),
     "Main Effect of f (Importance: 0.1)"),
    (lambda: PlotHeatmap(feature_combine="a x b").plot_interpret(mat_value=np.empty((0, 0)), extent=[0, 1, 0, 1]),
     "Interaction Effect of a x b"),
])
def test_empty_input_draws_a_titled_figure_that_says_so(shows, draw, title):
    draw()
    ax = the_figure(shows).axes[0]
    assert ax.get_title() == title and not ax.patches and not ax.images
    assert "Nothing to show" in labels(ax.texts)


def effect(kind, **call):
    return lambda: PlotEffect(feature="f").plot(kind, importance=0.1, figsize=(6, 4), **call)


@pytest.mark.parametrize("draw, message", [
    (lambda: PlotHBar().plot(X=["a", "b"], height=[1.0, np.nan], title="t"), "NaN"),
    (lambda: PlotHBar().plot(X=["a", "b"], height=[1.0], title="t"), "height has 1"),
    (lambda: PlotHBar().plot(X=["a"], height=[1.0], value=[1, 2], title="t"), "value has 2"),
    (lambda: PlotHBar().plot_stem(X=["a"], height=[1.0], value=[1], stem_value0=[0.0],
                                  stem_value1=[0.0, 1.0], title="t"), "stem_value1 has 2"),
    (effect("categorical", categories=[0.0, 1.0], height=[1.0]), "one entry per bar"),
    (effect("continuous", xgrid=[0.0, 1.0], ygrid=[1.0, np.nan]), "NaN"),
    (effect("continuous", xgrid=[0, 1], ygrid=[0, 1], density_names=[0, 1, 2, 3], scores=[1, 1]), "bin edge"),
    (lambda: PlotHeatmap(feature_combine="a x b").plot_interpret(
        mat_value=[[1.0, np.nan]], extent=[0, 1, 0, 1]), "NaN"),
    (lambda: PlotHeatmap(feature_combine="a x b").plot_interpret(
        mat_value=np.ones((2, 2)), extent=[0, 1, 0]), "four numbers"),
])
def test_bad_input_raises_before_any_figure_exists(shows, draw, message):
    with pytest.raises(ValueError, match=message):
        draw()
    assert not plt.get_fignums() and not shows


def test_category_codes_get_one_tick_per_level_in_view():
    levels = np.array(["blue", "green", "red"])

    def to_labels(feature, codes):  # a code beyond the levels comes back as the nearest level
        return levels[np.clip(np.round(np.asarray(codes, dtype=float)), 0, 2).astype(int)], "categorical"

    ax = plt.figure().add_subplot()
    ax.set_xlim(-1.4, 3.3)
    scale_plot_ticks(ax=ax, feature="colour", scaler=to_labels, axis=0)
    assert list(ax.get_xticks()) == [0, 1, 2] and labels(ax.get_xticklabels()) == ["blue", "green", "red"]
