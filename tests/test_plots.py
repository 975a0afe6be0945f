import re

import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import pytest
from matplotlib.colors import to_hex
from matplotlib.image import AxesImage
from matplotlib.patches import Rectangle

from effect_doubles import shows  # noqa: F401 (a fixture)
from vexo.workflow.plots import PlotEffect, PlotHBar, PlotHeatmap, Title, scale_plot_ticks

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


def test_a_binned_shape_function_is_drawn_as_steps_and_a_smooth_one_as_a_line(shows):
    x = np.linspace(0, 1, 100)
    binned = np.floor(x * 7) / 7
    for y, style in ((binned, "steps-mid"), (x ** 2, "default")):
        PlotEffect(feature="age").plot("continuous", xgrid=x, ygrid=y)
        [line] = the_figure(shows).axes[0].lines[:1]
        assert line.get_drawstyle() == style
        plt.close("all")
        shows.clear()


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


def test_a_narrow_axis_in_original_units_gets_round_ticks_not_relabelled_codes():
    fig = plt.figure(figsize=(8, 6))
    ax = fig.add_subplot(2, 2, 3)
    ax.set_xlim(-0.0248, 1.0215)
    scale_plot_ticks(ax, "share", lambda f, v: (v * 100.0 - 2.0, "numeric"))
    ticks = tick_pairs(ax.xaxis)
    assert len(ticks) >= 3 and all(label % 5 == 0 for _, label in ticks)
    plt.close(fig)


def test_category_codes_get_one_tick_per_level_in_view():
    levels = np.array(["blue", "green", "red"])

    def to_labels(feature, codes):  # a code beyond the levels comes back as the nearest level
        return levels[np.clip(np.round(np.asarray(codes, dtype=float)), 0, 2).astype(int)], "categorical"

    ax = plt.figure().add_subplot()
    ax.set_xlim(-1.4, 3.3)
    scale_plot_ticks(ax=ax, feature="colour", scaler=to_labels, axis=0)
    assert list(ax.get_xticks()) == [0, 1, 2] and labels(ax.get_xticklabels()) == ["blue", "green", "red"]


# What the figures read like ----------------------------------------------------------------------

NOISE = re.compile(r"\d\.\d*(0{6,}|9{6,})")


def shown_ticklabels(axis):
    lo, hi = sorted(axis.get_view_interval())
    eps = 1e-9 * (hi - lo)
    return [t for loc, t in zip(axis.get_majorticklocs(), axis.get_majorticklabels())
            if lo - eps <= loc <= hi + eps and t.get_visible() and t.get_text()]


def visible_texts(fig):
    """Every text a reader sees, with its box on the page."""
    fig.canvas.draw()
    renderer = fig.canvas.get_renderer()
    texts = list(fig.texts) + [t for legend in fig.legends for t in legend.get_texts()]
    for ax in fig.axes:
        texts += [ax.title, ax.xaxis.label, ax.yaxis.label] + list(ax.texts)
        texts += shown_ticklabels(ax.xaxis) + shown_ticklabels(ax.yaxis)
        if ax.get_legend():
            texts += ax.get_legend().get_texts()
    return [(t.get_text(), t.get_window_extent(renderer)) for t in texts if t.get_visible() and t.get_text().strip()]


def overlaps(boxes):
    return [(a, b) for i, (a, ba) in enumerate(boxes) for b, bb in boxes[i + 1:]
            if ba.x0 + 0.5 < bb.x1 and bb.x0 + 0.5 < ba.x1 and ba.y0 + 0.5 < bb.y1 and bb.y0 + 0.5 < ba.y1]


def assert_readable(fig):
    texts = visible_texts(fig)
    assert not overlaps(texts)
    width, height = fig.bbox.width, fig.bbox.height
    assert all(b.x0 >= -1 and b.y0 >= -1 and b.x1 <= width + 1 and b.y1 <= height + 1 for _, b in texts)
    assert not [s for s, _ in texts if NOISE.search(s)]
    return texts


LONG = ["mean concave points x worst compactness", "a_feature_name_without_any_blank_in_it", "bmi"]
CROWD = ["%s %d" % (LONG[k % 3], k) for k in range(12)]


@pytest.mark.parametrize("draw", [
    lambda size: PlotHBar().plot(X=CROWD, height=np.linspace(-0.3, 1e5, 12), title="Effect Importance", figsize=size),
    lambda size: PlotHBar().plot(X=["Intercept"] + LONG, height=[150.0, -30.123456, 0.0001234, 7.0],
                                 value=["", 27.607400000000002, "0.10430000000000002 x 0.02461", 82.02199999999999],
                                 title="Sample 1: prediction 67.21, intercept plus effects", mid_center=True, figsize=size),
    lambda size: PlotHBar().plot_stem(X=LONG, height=[-2.0, 0.5, 1.0], value=[1, 2, 3], stem_value0=[-3.0, 0.0, 0.5],
                                      stem_value1=[1.0, 2.0, 3.0], title="stems", figsize=size),
    lambda size: PlotEffect(feature=LONG[0]).plot("continuous", importance=0.06825, xgrid=np.linspace(0, 1, 50),
                                                  ygrid=np.linspace(-1e4, 1e4, 50), density_names=np.linspace(0, 1, 11),
                                                  scores=np.arange(10.0), figsize=size),
    lambda size: PlotEffect(feature="level").plot("categorical", importance=0.1, categories=np.arange(30.0),
                                                  height=np.linspace(-1, 1, 30), figsize=size,
                                                  scaler=lambda f, v: (np.array(["level number %d" % c for c in v]), None)),
    lambda size: PlotHeatmap(feature_combine="mean concave points x " + LONG[1]).plot_interpret(
        mat_value=np.outer(np.linspace(-1, 1, 40), np.linspace(1, -1, 40)) * 1234.5678, extent=[0, 1, 0, 1],
        importance=0.0682500000001, figsize=size),
], ids=["many-bars", "signed", "stems", "effect", "levels", "heatmap"])
def test_no_text_covers_another_nor_leaves_the_figure_nor_carries_float_noise(shows, draw):
    # the smallest size crowds the texts most
    draw((4, 3))
    fig = the_figure(shows)
    assert_readable(fig)
    assert all(ax.get_xlabel() for ax in fig.axes if shown_ticklabels(ax.xaxis) and ax.get_label() != "<colorbar>")


def test_stem_legend_names_the_dots_and_covers_no_bar_stem_or_label(shows):
    PlotHBar().plot_stem(X=["a", "b", "c", "d"], height=[3.0, -1.0, 2.0, 4.0], value=[1, 2, 3, 4],
                         stem_value0=[2.0, -2.0, 1.0, 3.0], stem_value1=[4.0, 0.0, 3.0, 5.0], title="t", figsize=(8, 6))
    fig = the_figure(shows)
    ax = fig.axes[0]
    [legend] = [ax.get_legend()] if ax.get_legend() else fig.legends
    assert labels(legend.get_texts()) == ["5th percentile over training rows", "95th percentile over training rows"]
    assert [h.get_markerfacecolor() for h in legend.legend_handles][0] == "white"
    renderer = fig.canvas.get_renderer()
    box = legend.get_window_extent(renderer)
    things = [p.get_window_extent(renderer) for p in ax.patches] + [t.get_window_extent(renderer) for t in ax.texts]
    dots = [ax.transData.transform(xy) for line in ax.lines if line.get_gid()
            for xy in zip(line.get_xdata(), line.get_ydata())]
    assert not overlaps([("legend", box)] + [("x", b) for b in things])
    assert not any(box.contains(*xy) for xy in dots)


@pytest.mark.parametrize("draw", [
    lambda X, h: PlotHBar().plot(X=X, height=h, value=[0, 1, 2, 3], title="t", mid_center=True),
    lambda X, h: PlotHBar().plot_stem(X=X, height=h, value=[0, 1, 2, 3], stem_value0=h - 1, stem_value1=h + 1,
                                      title="t", mid_center=True),
])
def test_the_intercept_is_drawn_apart_as_the_baseline(shows, draw):
    draw(["a", "Intercept", "b", "c"], np.array([0.5, 9.0, -1.0, 2.0]))
    ax = the_figure(shows).axes[0]
    by_name = dict(zip(labels(ax.get_yticklabels()), ax.get_yticks()))
    drawn = {round(p.get_y() + p.get_height() / 2, 6): p for p in bars(ax)}
    assert by_name["a"] < by_name["b"] < by_name["c"] < by_name["Intercept"]
    assert by_name["Intercept"] - by_name["c"] > by_name["c"] - by_name["b"]
    assert to_hex(drawn[round(by_name["Intercept"], 6)].get_facecolor()) not in (POS, NEG)
    assert {to_hex(drawn[round(by_name[k], 6)].get_facecolor()) for k in "ac"} == {POS}


@pytest.mark.parametrize("title, signed, words", [
    (Title("Feature Importance", "drop in R²"), False, "drop in R²"),
    ("Effect Importance", False, "share of the mean absolute effect"),
    ("Model Coefficients", False, "coefficient"),
    ("Sample 3", True, "contribution"),
    ("Feature Importance", False, "importance"),
])
def test_every_bar_chart_says_what_its_value_axis_measures(shows, title, signed, words):
    PlotHBar().plot(X=["a", "b"], height=[1.0, -2.0], title=title, value=[1, 2] if signed else None)
    ax = the_figure(shows).axes[0]
    assert words in ax.get_xlabel() and ax.get_title() == str(title)


def test_effect_and_heat_map_axes_name_the_feature_and_say_when_it_is_scaled(shows):
    x = np.linspace(0, 1, 20)
    PlotEffect(feature="bmi").plot("continuous", xgrid=x, ygrid=x, figsize=(6, 4))
    PlotEffect(feature="bmi").plot("continuous", xgrid=x, ygrid=x, figsize=(6, 4), scaler=linear)
    PlotEffect(feature="age").plot("continuous", xgrid=x * 50 + 20, ygrid=x, figsize=(6, 4))
    PlotHeatmap(feature_combine="bmi x age").plot_interpret(mat_value=np.eye(3), extent=[0, 1, 20, 70])
    xlabels = [plt.figure(n).axes[-1 if k < 3 else 0].get_xlabel().replace("\n", " ") for k, n in enumerate(plt.get_fignums())]
    assert xlabels == ["bmi (scaled to 0\u20131)", "bmi", "age", "bmi (scaled to 0\u20131)"]
    heat = plt.figure(plt.get_fignums()[-1])
    assert heat.axes[0].get_ylabel() == "age" and heat.axes[1].get_ylabel() == "Effect"


def test_numbers_are_printed_at_four_significant_digits_and_titles_break_between_words(shows):
    PlotHeatmap(feature_combine="mean concave points x worst compactness").plot_interpret(
        mat_value=np.eye(4) * 0.10430000000000002, extent=[0, 1, 0, 1], importance=0.0682512345, figsize=(4, 3))
    fig = the_figure(shows)
    title = fig.axes[0].get_title()
    assert "\n" in title and title.replace("\n", " ") == "Interaction Effect of mean concave points x worst " \
                                                           "compactness (Importance: 0.06825)"
    assert all(len(s.replace(".", "").lstrip("0")) <= 4 for s in re.findall(r"\d[\d.]*", title))
    for text, _ in visible_texts(fig):
        for number in re.findall(r"\d+\.\d+", text):
            assert len(number.replace(".", "").lstrip("0")) <= 4


def test_scale_plot_ticks_labels_an_unlabelled_axis_and_draws_levels_not_codes():
    def sex(feature, codes):  # levels 1 and 2, as the data has them; a value between codes is the lower level
        return np.where(np.asarray(codes) < 1, 1, 2), "categorical"

    ax = plt.figure().add_subplot()
    ax.plot([0, 1], [0, 1])
    scale_plot_ticks(ax=ax, feature="sex", scaler=sex, axis=0)
    assert list(ax.get_xticks()) == [0, 1] and labels(ax.get_xticklabels()) == ["1", "2"]
    assert ax.get_xlabel() == "sex"
    ax.set_ylabel("mine")
    scale_plot_ticks(ax=ax, feature="weight", scaler=lambda f, v: (np.sin(v * 7) * 1.23456789, None), axis=1)
    assert ax.get_ylabel() == "mine"
    assert all(len(t.get_text().lstrip("\u2212-").replace(".", "").lstrip("0")) <= 4 for t in ax.get_yticklabels())
    plt.close("all")


def test_a_categorical_effect_puts_its_bars_at_the_levels(shows):
    PlotEffect(feature="sex").plot("categorical", importance=0.5, categories=[0.0, 1.0], height=[1.0, -1.0],
                                   density_names=[0.0, 1.0], scores=[0.4, 0.6], figsize=(4, 3),
                                   scaler=lambda f, v: (np.asarray(v) + 1, "categorical"))
    top, strip = the_figure(shows).axes
    assert sorted(p.get_x() + p.get_width() / 2 for p in top.patches) == [0, 1]
    assert list(strip.get_xticks()) == [0, 1] and labels(strip.get_xticklabels()) == ["1", "2"]
    assert strip.get_xlabel() == "sex"


def test_plots_draw_in_the_package_look_whatever_style_the_caller_has(shows):
    with plt.style.context("classic"):
        PlotHBar().plot(X=["a"], height=[1.0], title="t", figsize=(4, 3))
    ax = the_figure(shows).axes[0]
    sheet = plt.rcParams.copy()
    from vexo.workflow import look
    with look.context():
        sheet = plt.rcParams.copy()
    tick = ax.get_xticklabels()[0]
    assert tick.get_fontfamily() == sheet["font.family"] and tick.get_fontsize() == sheet["xtick.labelsize"]
    assert ax.title.get_fontsize() == sheet["axes.titlesize"]
    assert to_hex(ax.xaxis.label.get_color()) == to_hex(sheet["axes.labelcolor"])
