import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import pytest
from matplotlib.colors import to_hex
from matplotlib.patches import Rectangle

from effect_doubles import shows  # noqa: F401 (a fixture)
from vexo.workflow.plots import PlotEffect, PlotHBar, PlotHeatmap, Title, scale_plot_ticks, style
from vexo.workflow.plots.bars import number_text

POS, NEG = "#e74c3c", "#27ae60"


def the_figure(shows):
    assert len(plt.get_fignums()) == 1 and len(shows) == 1
    fig = plt.gcf()
    fig.canvas.draw()
    return fig


def bars(ax):
    return sorted((p for p in ax.patches if isinstance(p, Rectangle)), key=lambda p: p.get_y())


def labels(ticklabels):
    return [t.get_text().replace("\u00a0", " ") for t in ticklabels]


@pytest.mark.parametrize("X", [["a", "b", "a"], pd.Index(["a", "b", "a"])])
def test_plain_bars_keep_order_labels_title_and_size(shows, X):
    assert PlotHBar().plot(X=X, height=pd.Series([0.1, 0.5, 0.3]), title="Feature Importance",
                           figsize=(7, 5)) is None
    fig = the_figure(shows)
    ax = fig.axes[0]
    assert [p.get_width() for p in bars(ax)] == pytest.approx([0.1, 0.5, 0.3])
    assert labels(ax.get_yticklabels()) == ["a", "b", "a"] and ax.get_title() == "Feature Importance"
    assert tuple(fig.get_size_inches()) == (7, 5) and len({to_hex(p.get_facecolor()) for p in bars(ax)}) == 1


@pytest.mark.parametrize("given, drawn", [
    ((POS, NEG), (style.POS, style.NEG)),  # red and green, which red-green blind readers confuse
    ((NEG, POS), (style.NEG, style.POS)),
    (("#d62728", "#1f77b4"), ("#d62728", "#1f77b4")),  # a safe pair is kept
])
def test_signed_bars_take_a_safe_colour_by_sign_and_name_the_samples_value(shows, given, drawn):
    value = np.array(["0.1235 x 2.0", 37.0, [1.25, 3], ""], dtype=object)
    PlotHBar().plot(X=["w", "x", "y x v", "z"], height=[-0.4, 1.2, 0.0, -2.0], value=value, title="local",
                    mid_center=True, pos_color=given[0], neg_color=given[1], figsize=(8, 6))
    ax = the_figure(shows).axes[0]
    pos, neg = drawn
    assert [to_hex(p.get_facecolor()) for p in bars(ax)] == [neg, pos, pos, neg]
    assert labels(ax.get_yticklabels()) == ["w = 0.1235 x 2", "x = 37", "y = 1.25, v = 3", "z"]
    assert labels(ax.texts) == ["\u22120.4", "+1.2", "0", "\u22122"]
    lo, hi = ax.get_xlim()
    assert lo == pytest.approx(-hi) and hi >= 2.0


def test_stems_have_a_legend_and_their_bars_lengths_stand_in_a_column_beside_the_chart(shows):
    h = np.array([0.5, -1.0, 2.0])
    s0, s1 = h - 0.3, h + 0.4
    PlotHBar().plot_stem(X=["a", "b", "c"], height=h, value=[1.5, 2.5, 3.5], stem_value0=s0, stem_value1=s1,
                         title="stems", mid_center=True, pos_color=POS, neg_color=NEG, figsize=(8, 6))
    fig = the_figure(shows)
    ax = fig.axes[0]
    [stems] = [c for c in ax.collections if c.get_gid() == "stem"]
    np.testing.assert_allclose([seg[:, 0] for seg in stems.get_segments()], np.column_stack([s0, s1]))
    column = [t for t in ax.texts if t.get_gid() == "column"]
    assert labels(column) == ["+0.5", "\u22121", "+2"] and labels(ax.get_yticklabels()) == ["a = 1.5", "b = 2.5", "c = 3.5"]
    right = ax.get_window_extent().x1
    assert all(t.get_window_extent().x0 > right for t in column)
    [legend] = [lg for lg in [ax.get_legend(), *fig.legends] if lg]
    assert legend.get_title().get_text() == style.STEMS and labels(legend.get_texts()) == [style.LOW_STEM, style.HIGH_STEM]


@pytest.mark.parametrize("names, heights, count, drawn, rest", [
    # the intercept is the baseline, not a bar; the terms not given are one bar, counted
    (["c", "b", "Intercept", "a"], [0.5, -1.0, 4.0, 2.0], 5, ["+ 2 other terms", "c", "b", "a"], 1.0),
    (["b", "a"], [-1.0, 2.0], 3, ["+ 1 other term", "b", "a"], 0.5),
])
def test_a_samples_chart_adds_up_from_its_baseline_with_the_rest_as_one_bar(shows, names, heights, count, drawn, rest):
    total = 4.0 + 0.5 - 1.0 + 2.0 + (1.0 if count == 5 else 0.0)
    title = Title("Sample 3", adds_up=style.Sum(total, 4.0, count, "terms"))
    PlotHBar().plot(X=names, height=heights, value=[""] * len(names), title=title, mid_center=True)
    ax = the_figure(shows).axes[0]
    assert labels(ax.get_yticklabels()) == drawn
    widths = [p.get_width() for p in bars(ax)]
    assert sum(widths) + 4.0 == pytest.approx(total) and widths[0] == pytest.approx(rest)


@pytest.mark.parametrize("value, text", [
    (3.89182, "3.892"), (52341.5, "52342"), (183.0, "183"), (0.000123456, "0.0001235"),
    ("183 x 3.89182", "183 x 3.892"), ("blue x 3.0", "blue x 3"), ("Piedmont north", "Piedmont north"), ((), ""),
])
def test_a_samples_numbers_keep_four_digits_or_every_whole_digit(value, text):
    assert number_text(value) == text


def test_the_rest_of_parts_that_add_up_is_0_not_the_rounding_of_the_subtraction():
    total = 0.1 + 0.2
    assert total - 0.3 != 0 and style.Sum(total, 0.0, 2, "features").rest([0.3]) == 0


def test_categorical_effect_draws_bars_at_the_levels_with_density_strip(shows):
    PlotEffect(feature="region").plot("categorical", importance=0.1234567, categories=np.array([0.0, 1.0, 2.0]),
                                      height=[0.2, -0.1, 0.3], density_names=["N", "S", "E"], scores=[5, 9, 2],
                                      figsize=(6, 4))
    fig = the_figure(shows)
    top, strip = fig.axes
    drawn = sorted((p.get_x() + p.get_width() / 2, p.get_height()) for p in top.patches)
    assert np.allclose(drawn, [(0, 0.2), (1, -0.1), (2, 0.3)])
    assert sorted(p.get_height() for p in strip.patches if p.get_gid() == "density") == [2, 5, 9]
    assert top.get_title() == "Main Effect of region (Importance: 12.35%)" and tuple(fig.get_size_inches()) == (6, 4)
    assert list(strip.get_xticks()) == [0, 1, 2] and labels(strip.get_xticklabels()) == ["0", "1", "2"]
    # a binned shape function is drawn as steps (also where its bins, crowded where the data are,
    # are narrower than the grid's steps), a smooth one as a line, and so is a line flat beyond a kink
    x = np.linspace(-1, 1, 100)
    bins = np.sort(np.random.default_rng(0).normal(0, 0.3, 120))
    narrow = np.cumsum(np.random.default_rng(1).uniform(0, 1, 121))[np.searchsorted(bins, x)]
    for y, style in ((np.floor(x * 7) / 7, "steps-mid"), (narrow, "steps-mid"), (x ** 2, "default"),
                     (np.maximum(x, 0), "default"), (np.clip(x, -0.5, 0.5), "default")):
        PlotEffect(feature="age").plot("continuous", xgrid=x, ygrid=y)
        assert plt.gcf().axes[0].lines[0].get_drawstyle() == style and np.allclose(plt.gcf().axes[0].lines[0].get_ydata(), y)


def effect(kind, **call):
    return lambda: PlotEffect(feature="f").plot(kind, importance=0.1, figsize=(6, 4), **call)


@pytest.mark.parametrize("draw, raised, text", [
    # empty input draws a titled figure that says so
    (lambda: PlotHBar().plot(X=np.array([]), height=pd.Series([], dtype=float), title="Coefficients"), None, "Coefficients"),
    (effect("categorical", categories=[], height=[]), None, "Main Effect of f (Importance: 10%)"),
    (lambda: PlotHeatmap(feature_combine="a x b").plot_interpret(mat_value=np.empty((0, 0)), extent=[0, 1, 0, 1]), None,
     "Interaction Effect of a x b"),
    # bad input raises before any figure exists
    (lambda: PlotHBar().plot(X=["a", "b"], height=[1.0, np.nan], title="t"), ValueError, "NaN"),
    (lambda: PlotHBar().plot_stem(X=["a"], height=[1.0], value=[1], stem_value0=[0.0], stem_value1=[0.0, 1.0],
                                  title="t"), ValueError, "stem_value1 has 2"),
    (effect("categorical", categories=[0.0, 1.0], height=[1.0]), ValueError, "one entry per bar"),
    (effect("continuous", xgrid=[0, 1], ygrid=[0, 1], density_names=[0, 1, 2, 3], scores=[1, 1]), ValueError, "bin edge"),
    (lambda: PlotHeatmap(feature_combine="a x b").plot_interpret(mat_value=np.ones((2, 2)), extent=[0, 1, 0]),
     ValueError, "four numbers"),
])
def test_empty_input_draws_a_figure_that_says_so_and_bad_input_raises_before_any_figure_exists(shows, draw, raised, text):
    if raised:
        with pytest.raises(raised, match=text):
            draw()
        assert not plt.get_fignums() and not shows
        return
    draw()
    ax = the_figure(shows).axes[0]
    assert ax.get_title() == text and not ax.patches and not ax.images and "Nothing to show" in labels(ax.texts)


# Ticks in original units -------------------------------------------------------------------

def ticks_of(scaler, lim, kind="numeric", size=(6, 4)):
    ax = plt.figure(figsize=size).add_subplot(2, 2, 3)
    ax.set_xlim(*lim)
    scale_plot_ticks(ax, "f", lambda feature, v: (scaler(np.asarray(v, dtype=float)), kind))
    return [(loc, t.get_text().replace("\u2212", "-")) for loc, t in zip(ax.get_xticks(), ax.get_xticklabels())]


@pytest.mark.parametrize("scaler", [
    lambda v: 100 - 40 * v,
    lambda v: np.clip(100 - 40 * v, 70, 100),   # held still beyond the training range
    lambda v: np.round(30 + 25 * v),             # whole numbers
    lambda v: np.exp(5 * v),                     # strongly curved
], ids=["linear", "held", "whole", "curved"])
def test_every_tick_says_the_original_value_where_it_stands_whichever_way_the_scale_runs(scaler):
    ticks = ticks_of(scaler, (-0.2, 1.2))
    assert len(ticks) >= 3
    for loc, label in ticks:
        assert float(label) == pytest.approx(scaler(loc), rel=1e-3), ticks
    # the scale run the other way reads as the mirror image
    mirrored = ticks_of(lambda v: scaler(-v), (-1.2, 0.2))
    assert sorted((-loc, label) for loc, label in mirrored) == [(pytest.approx(loc), label)
                                                               for loc, label in sorted(ticks)]


def test_a_narrow_axis_gets_round_ticks_and_category_codes_one_tick_per_level():
    ticks = ticks_of(lambda v: v * 100.0 - 2.0, (-0.0248, 1.0215), size=(8, 6))
    assert len(ticks) >= 3 and all(float(label) % 5 == 0 for _, label in ticks)
    levels = np.array(["blue", "green", "red"])
    # a code beyond the levels comes back as the nearest level
    assert ticks_of(lambda v: levels[np.clip(np.round(v), 0, 2).astype(int)], (-1.4, 3.3), "categorical") == \
        [(0, "blue"), (1, "green"), (2, "red")]


FIRMS = np.array(["General Electric", "General Motors", "Atlantic Refining", "IBM", "US Steel", "Union Oil",
                  "Westinghouse", "Goodyear", "Diamond Match", "American Steel Foundries of Chicago and Pittsburgh"])


@pytest.mark.parametrize("lim, size, upright", [((0, 9), (3, 3), True), ((9, 0), (20, 3), False)])
def test_levels_on_an_axis_keep_apart_read_apart_and_sit_whole_inside_it(lim, size, upright):
    ax = plt.figure(figsize=size).add_subplot()
    ax.set_xlim(*lim)
    scale_plot_ticks(ax, "firm", lambda f, v: (FIRMS[np.clip(np.round(v), 0, 9).astype(int)], "categorical"))
    shown = labels(ax.get_xticklabels())
    assert list(ax.get_xticks()) == list(range(10)) and len(set(shown)) == 10
    assert all(len(t) <= 16 and (t == name or t.endswith("\u2026")) for t, name in zip(shown, FIRMS))
    assert shown[:2] == ["General Electric", "General Motors"] and shown[-1] == "American Steel\u2026"
    # the end levels whole inside the axis, which keeps its direction
    assert sorted(ax.get_xlim()) == [-0.5, 9.5] and (ax.get_xlim()[0] > ax.get_xlim()[1]) == (lim[0] > lim[1])
    assert all(t.get_rotation() == (90 if upright else 0) for t in ax.get_xticklabels())


# What the figures read like ----------------------------------------------------------------

def test_axes_say_what_they_measure_shares_read_as_percentages_and_importance_has_four_digits(shows):
    for title, signed, words, tick in [(Title("Feature Importance", "drop in R²"), False, "drop in R²", "0.25"),
                                       ("Effect Importance", False, "share of the mean absolute effect", "25%"),
                                       ("Model Coefficients", False, "coefficient", "0.25"),
                                       ("Sample 3", True, "contribution", None)]:
        PlotHBar().plot(X=["a", "b"], height=[0.1, 0.25], title=title, value=[1, 2] if signed else None)
        ax = plt.gcf().axes[0]
        assert words in ax.get_xlabel() and ax.get_title() == str(title)
        assert tick is None or tick in labels(ax.get_xticklabels())
    plt.close("all")
    x = np.linspace(0, 1, 20)
    PlotEffect(feature="bmi").plot("continuous", xgrid=x, ygrid=x, figsize=(6, 4))
    PlotEffect(feature="bmi").plot("continuous", xgrid=x, ygrid=x, figsize=(6, 4), scaler=lambda f, v: (v * 10.0 + 5.0, None))
    PlotHeatmap(feature_combine="concave points x compactness").plot_interpret(
        mat_value=np.eye(4) * 0.10430000000000002, extent=[0, 1, 20, 70], importance=0.0682512345, figsize=(4, 3))
    figures = [plt.figure(n) for n in plt.get_fignums()]
    assert [f.axes[-1 if k < 2 else 0].get_xlabel() for k, f in enumerate(figures)] == \
        ["bmi (scaled to 0\u20131)", "bmi", "concave points (scaled to 0\u20131)"]
    figures[-1].canvas.draw()
    assert figures[-1].axes[0].get_title().endswith("(Importance: 6.825%)")

