import os
import subprocess
import sys

import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import pytest
from matplotlib.colors import to_hex
from matplotlib.image import AxesImage
from matplotlib.patches import Rectangle

from vexo.workflow import plots
from vexo.workflow.plots import PlotEffect, PlotHBar, PlotHeatmap, scale_plot_ticks

POS, NEG = "#e74c3c", "#27ae60"


@pytest.fixture
def shows(monkeypatch):
    calls = []
    monkeypatch.setattr(plt, "show", lambda *a, **k: calls.append(a))
    return calls


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


# ---------------------------------------------------------------- bars

@pytest.mark.parametrize("X", [["a", "b", "a"], np.array(["a", "b", "a"]), pd.Index(["a", "b", "a"])])
def test_plain_bars_keep_order_labels_title_and_size(shows, X):
    assert PlotHBar().plot(X=X, height=pd.Series([0.1, 0.5, 0.3]), title="Feature Importance",
                           figsize=(7, 5)) is None
    fig = the_figure(shows)
    ax = fig.axes[0]
    assert [p.get_width() for p in bars(ax)] == pytest.approx([0.1, 0.5, 0.3])
    assert labels(ax.get_yticklabels()) == ["a", "b", "a"]
    assert ax.get_title() == "Feature Importance"
    assert tuple(fig.get_size_inches()) == (7, 5)
    assert len({to_hex(p.get_facecolor()) for p in bars(ax)}) == 1


def test_signed_bars_take_colour_by_sign_and_show_their_values(shows):
    value = np.array(["0.1235 x 2.0", 37.0, [1.25, 3], "Intercept-free"], dtype=object)
    PlotHBar().plot(X=["w", "x", "y", "z"], height=[-0.4, 1.2, 0.0, -2.0], value=value, title="local",
                    mid_center=True, pos_color=POS, neg_color=NEG, figsize=(8, 6))
    fig = the_figure(shows)
    ax = fig.axes[0]
    assert [to_hex(p.get_facecolor()) for p in bars(ax)] == [NEG, POS, POS, NEG]
    assert labels(ax.texts) == ["0.1235 x 2.0", "37", "1.25 x 3", "Intercept-free"]
    lo, hi = ax.get_xlim()
    assert lo == pytest.approx(-hi) and hi >= 2.0


def test_value_labels_stay_inside_the_axes_and_off_the_bars(shows):
    long = "a rather long input value 123456.789"
    PlotHBar().plot(X=list("abcd"), height=[3.0, -3.0, 0.5, -0.2], value=[long, long, 1, 2], title="t",
                    mid_center=False, figsize=(6, 4))
    fig = the_figure(shows)
    ax = fig.axes[0]
    r = fig.canvas.get_renderer()
    frame = ax.get_window_extent(r)
    for text in ax.texts:
        box = text.get_window_extent(r)
        assert frame.x0 - 1 <= box.x0 and box.x1 <= frame.x1 + 1
        assert not any(box.overlaps(p.get_window_extent(r)) for p in bars(ax))


def test_stems_cross_their_bars_and_labels_clear_the_markers(shows):
    h = np.array([0.5, -1.0, 2.0])
    s0, s1 = h - 0.3, h + 0.4
    PlotHBar().plot_stem(X=["a", "b", "c"], height=h, value=[1.5, 2.5, 3.5], stem_value0=s0,
                         stem_value1=s1, title="stems", mid_center=True, pos_color=POS,
                         neg_color=NEG, figsize=(8, 6))
    fig = the_figure(shows)
    ax = fig.axes[0]
    [stems] = [c for c in ax.collections if c.get_gid() == "stem"]
    assert [tuple(seg[:, 0]) for seg in stems.get_segments()] == pytest.approx(list(zip(s0, s1)))
    markers = {ln.get_gid(): ln for ln in ax.lines if ln.get_gid()}
    assert list(markers["stem_value0"].get_xdata()) == pytest.approx(s0)
    assert list(markers["stem_value1"].get_xdata()) == pytest.approx(s1)
    assert labels(ax.texts) == ["1.5", "2.5", "3.5"]
    r = fig.canvas.get_renderer()
    radius = markers["stem_value1"].get_markersize() / 2 * fig.dpi / 72
    for text, row in zip(ax.texts, zip(h, s0, s1)):
        outer = max(row) if row[0] >= 0 else min(row)
        assert text.xy[0] == pytest.approx(outer)
        anchor = ax.transData.transform(text.xy)[0]
        box = text.get_window_extent(r)
        assert box.x0 > anchor + radius if row[0] >= 0 else box.x1 < anchor - radius


def test_long_labels_are_wrapped_and_stay_in_the_figure(shows):
    name = "credit_utilisation_ratio_over_the_last_twelve_months_of_the_account"
    PlotHBar().plot(X=[name, "b"], height=[1, 2], title="A title long enough to need more than one line "
                    "when the figure is only five inches wide", figsize=(5, 3))
    fig = the_figure(shows)
    ax = fig.axes[0]
    first = ax.get_yticklabels()[0].get_text()
    assert "\n" in first and first.replace("\n", "") == name
    r = fig.canvas.get_renderer()
    for text in [ax.title] + ax.get_yticklabels():
        box = text.get_window_extent(r)
        assert box.x0 >= -1 and box.x1 <= fig.bbox.width + 1


@pytest.mark.parametrize("method, call, message", [
    ("plot", dict(X=["a", "b"], height=[1.0, np.nan]), "NaN"),
    ("plot", dict(X=["a", "b"], height=[1.0]), "height has 1"),
    ("plot", dict(X=["a"], height=[1.0], value=[1, 2]), "value has 2"),
    ("plot", dict(X="ab", height=[1.0, 2.0]), "sequence"),
    ("plot", dict(X=["a"], height=["tall"]), "numbers"),
    ("plot", dict(X=["a"], height=[1.0], figsize=(0, 6)), "figsize"),
    ("plot_stem", dict(X=["a"], height=[1.0], value=[1], stem_value0=[0.0], stem_value1=[0.0, 1.0]),
     "stem_value1 has 2"),
])
def test_bad_bar_input_raises_and_leaves_no_figure(shows, method, call, message):
    with pytest.raises(ValueError, match=message):
        getattr(PlotHBar(), method)(title="t", **call)
    assert not plt.get_fignums() and not shows


# ---------------------------------------------------------------- main effects

def test_categorical_effect_draws_bars_over_categories_with_density_strip(shows):
    PlotEffect(feature="region").plot("categorical", importance=0.1234567, categories=np.array([0.0, 1.0, 2.0]),
                                      height=[0.2, -0.1, 0.3], density_names=["N", "S", "E"], scores=[5, 9, 2],
                                      figsize=(6, 4), scaler=None)
    fig = the_figure(shows)
    top, strip = fig.axes
    drawn = sorted((p.get_x() + p.get_width() / 2, p.get_height()) for p in top.patches)
    assert np.allclose(drawn, [(0, 0.2), (1, -0.1), (2, 0.3)])
    assert sorted(p.get_height() for p in strip.patches if p.get_gid() == "density") == [2, 5, 9]
    assert top.get_title() == "Main Effect of region (Importance: 0.1235)"
    assert labels(strip.get_xticklabels()) == ["0", "1", "2"]
    assert tuple(fig.get_size_inches()) == (6, 4)


def test_categorical_tick_labels_come_from_xticks_or_scaler(shows):
    PlotEffect(feature="f").plot("categorical", importance=0.5, categories=[0.0, 1.0], height=[1, 2],
                                 density_names=[0.0, 1.0], scores=[1, 1], xticks=[0.0, 1.0],
                                 xticks_label=["low", "high"], figsize=(6, 4), scaler=None)
    assert labels(the_figure(shows).axes[-1].get_xticklabels()) == ["low", "high"]
    plt.close("all")
    shows.clear()
    PlotEffect(feature="f").plot("categorical", importance=0.5, categories=[0.0, 1.0], height=[1, 2],
                                 density_names=[0.0, 1.0], scores=[1, 1], figsize=(6, 4),
                                 scaler=lambda f, a: (np.array(["no", "yes"])[a.astype(int)], a))
    assert labels(the_figure(shows).axes[-1].get_xticklabels()) == ["no", "yes"]


def test_continuous_effect_draws_the_line_over_a_histogram_in_original_units(shows):
    x = np.linspace(-1, 1, 100)
    edges = np.linspace(-1, 1, 11)
    PlotEffect(feature="age").plot("continuous", importance=2, density_names=edges, scores=np.arange(10.0),
                                   xgrid=x, ygrid=(x ** 3).reshape(-1, 1), figsize=(8, 6), scaler=linear)
    fig = the_figure(shows)
    top, strip = fig.axes
    [line] = [ln for ln in top.lines if len(ln.get_xdata()) == 100]
    assert np.allclose(line.get_xdata(), x) and np.allclose(line.get_ydata(), x ** 3)
    hist = sorted((p for p in strip.patches if p.get_gid() == "density"), key=lambda p: p.get_x())
    assert [p.get_x() for p in hist] == pytest.approx(edges[:-1])
    assert [p.get_width() for p in hist] == pytest.approx(np.diff(edges))
    pairs = tick_pairs(strip.xaxis)
    assert len(pairs) >= 3
    assert all(label == pytest.approx(loc * 10 + 5) for loc, label in pairs)
    assert all(label == round(label) for _, label in pairs)


@pytest.mark.parametrize("kind, call, message", [
    ("categorical", dict(categories=[0.0, 1.0], height=[1.0]), "one entry per bar"),
    ("continuous", dict(xgrid=[0.0, 1.0], ygrid=[1.0, np.nan]), "NaN"),
    ("continuous", dict(xgrid=[0.0, 1.0]), "ygrid"),
    ("continuous", dict(xgrid=[0, 1], ygrid=[0, 1], density_names=[0, 1, 2, 3], scores=[1, 1]), "bin edge"),
    ("continuous", dict(xgrid=[0, 1], ygrid=[0, 1], density_names=[0, 1, 2]), "together"),
    ("categorical", dict(categories=[0.0], height=[1.0], xticks=[0.0], xticks_label=["a", "b"]), "xticks"),
    ("categorical", dict(categories=[0.0], height=[1.0], xticks_label=["a"]), "xticks"),
])
def test_bad_effect_input_raises_before_drawing(shows, kind, call, message):
    with pytest.raises(ValueError, match=message):
        PlotEffect(feature="f").plot(kind, importance=0.1, figsize=(6, 4), **call)
    assert not plt.get_fignums() and not shows


# ---------------------------------------------------------------- heat maps

def test_heatmap_draws_the_matrix_over_its_extent_with_a_colour_bar(shows):
    mat = np.outer(np.linspace(1, -1, 20), np.linspace(-2, 2, 30))
    PlotHeatmap(mesh_grid=100, feature_combine="age x income").plot_interpret(
        mat_value=mat, extent=[0, 3, -1, 1], importance=0.25, figsize=(7, 5), scaler=None)
    fig = the_figure(shows)
    ax, bar = fig.axes
    [image] = [a for a in ax.get_children() if isinstance(a, AxesImage)]
    assert np.array_equal(image.get_array(), mat) and list(image.get_extent()) == [0, 3, -1, 1]
    assert image.norm.vmin == -image.norm.vmax == -2
    assert bar.get_ylabel() == "Effect"
    assert ax.get_title() == "Interaction Effect of age x income (Importance: 0.25)"
    assert (ax.get_xlabel(), ax.get_ylabel()) == ("age", "income")


def test_heatmap_rescales_each_axis_with_its_own_feature(shows):
    seen = []

    def scaler(feature, values):
        seen.append(feature)
        return (values * 10 if feature == "a" else values + 100), None

    PlotHeatmap(mesh_grid=100, feature_combine="a x b").plot_interpret(
        mat_value=np.ones((4, 4)), extent=[0, 1, 0, 1], importance=0.1, figsize=(6, 6), scaler=scaler)
    ax = the_figure(shows).axes[0]
    assert set(seen) == {"a", "b"}
    assert all(label == pytest.approx(loc * 10) for loc, label in tick_pairs(ax.xaxis))
    assert all(label == pytest.approx(loc + 100) for loc, label in tick_pairs(ax.yaxis))


@pytest.mark.parametrize("call, message", [
    (dict(mat_value=np.ones(5), extent=[0, 1, 0, 1]), "2-D"),
    (dict(mat_value=[[1.0, np.nan]], extent=[0, 1, 0, 1]), "NaN"),
    (dict(mat_value=np.ones((2, 2)), extent=[0, 1, 0]), "four numbers"),
    (dict(mat_value=np.ones((2, 2)), extent=[0, 1, 0, 1], scaler=linear), "two features"),
])
def test_bad_heatmap_input_raises_before_drawing(shows, call, message):
    with pytest.raises(ValueError, match=message):
        PlotHeatmap(feature_combine="just_one").plot_interpret(importance=0.1, figsize=(6, 4), **call)
    assert not plt.get_fignums()


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


# ---------------------------------------------------------------- tick rescaling

def test_scale_plot_ticks_relabels_only_the_chosen_axis():
    fig, ax = plt.subplots()
    ax.plot([0, 1], [0, 2])
    before = labels(ax.get_yticklabels())
    scale_plot_ticks(ax, "f", linear, axis=0)
    fig.canvas.draw()
    assert all(label == pytest.approx(loc * 10 + 5) for loc, label in tick_pairs(ax.xaxis))
    assert labels(ax.get_yticklabels()) == before
    scale_plot_ticks(ax, "f", None, axis=1)
    assert labels(ax.get_yticklabels()) == before


def test_scale_plot_ticks_keeps_a_strongly_curved_axis_covered():
    fig, ax = plt.subplots()
    ax.set_ylim(-2, 2)
    scale_plot_ticks(ax, "f", lambda f, v: (np.exp(v) * 1000, None), axis=1)
    pairs = tick_pairs(ax.yaxis)
    assert np.diff([-2] + [loc for loc, _ in pairs] + [2]).max() < 1.5
    assert all(label == pytest.approx(np.exp(loc) * 1000, rel=1e-4) for loc, label in pairs)


def test_scale_plot_ticks_labels_present_ticks_when_the_scaler_gives_text():
    fig, ax = plt.subplots()
    ax.set_xlim(0, 2)
    ax.set_xticks([0, 1, 2])
    scale_plot_ticks(ax, "f", lambda f, v: (np.array(["lo", "mid", "hi"])[v.astype(int)], None), axis=0)
    assert labels(ax.get_xticklabels()) == ["lo", "mid", "hi"]


@pytest.mark.parametrize("scaler, axis", [
    (lambda f, v: v * 2, 0),
    (lambda f, v: (v[:1], None), 0),
    (linear, 2),
])
def test_scale_plot_ticks_rejects_bad_scalers_and_axes(scaler, axis):
    fig, ax = plt.subplots()
    with pytest.raises(ValueError):
        scale_plot_ticks(ax, "f", scaler, axis=axis)


def test_importing_the_plots_stays_light():
    root = os.path.dirname(os.path.dirname(os.path.abspath(plots.__file__)))
    code = ("import sys, vexo.workflow.plots; "
            "print(sorted(m for m in ('pandas', 'seaborn', 'scipy', 'sklearn') if m in sys.modules))")
    env = dict(os.environ, PYTHONPATH=os.path.dirname(root), MPLBACKEND="Agg")
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "[]"
