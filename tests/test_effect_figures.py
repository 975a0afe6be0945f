"""Effect figures: heat maps coloured where the data lie, few-valued features as levels, labelled value axes."""
import copy
import pickle

import matplotlib.pyplot as plt
import numpy as np
import pytest

from conftest import make_frame
from effect_doubles import shows  # noqa: F401 (a fixture)
from vexo.workflow.figures import capture
from vexo.workflow.interpret_api import InterpretAPI
from vexo.workflow.plots import PlotEffect, PlotHeatmap
from vexo.workflow.plots.heatmap import COVERED
from vexo.workflow.plots.measures import EffectValues

LABEL = "effect on the prediction of y"


def heat_map(mat, extent=(0.0, 1.0, 0.0, 1.0), scaler=None, pair="a x b"):
    PlotHeatmap(feature_combine=pair).plot_interpret(mat_value=mat, extent=list(extent), importance=0.5,
                                                     figsize=(6, 4), scaler=scaler)
    plt.gcf().canvas.draw()
    ax, bar = plt.gcf().axes
    return ax, bar, ax.images[0]


rng = np.random.default_rng(0)
AWAY = rng.uniform(0, 0.8, (400, 2))
NEAR = np.vstack([AWAY, rng.uniform(0.93, 1.0, (60, 2))])


@pytest.mark.parametrize("rows, widest", [
    (AWAY, 1.0),    # no row in the corner: the spike saturates, the colours span the rest
    (NEAR, 50.0),   # an eighth of the rows in the corner: it is where the data lie
    (None, 50.0),   # values that say nothing of the data: the whole surface
])
def test_the_colour_range_comes_from_where_the_data_lie(shows, rows, widest):
    # a gentle surface in [-1, 1], a spike of 50 in its top right corner (rows run top down)
    x = np.linspace(0, 1, 100)
    mat = np.sin(6 * x)[None, :] * np.cos(4 * x)[::-1, None]
    mat[:8, -8:] = 50.0
    ax, bar, image = heat_map(EffectValues(mat, LABEL, rows) if rows is not None else mat)
    low, high = image.get_clim()
    assert low == -high and high <= widest + 1e-9
    if rows is not None:
        cells = np.minimum((rows * 100).astype(int), 99)
        assert high == pytest.approx(np.percentile(np.abs(mat[::-1][cells[:, 1], cells[:, 0]]), COVERED))
        words = bar.get_ylabel().replace("\n", " ")
        assert words.startswith(LABEL) and "%d%% of the training rows" % COVERED in words
        # the rows are drawn; the corner without rows is veiled, the middle of the data is not
        [dots] = [c for c in ax.collections if c.get_gid() == "rows"]
        assert len(dots.get_offsets()) == len(rows)
        veil = ax.images[1].get_array()
        assert (veil[-1, -1, 3] > 0) == (rows is AWAY) and veil[30, 30, 3] == 0
    else:
        assert bar.get_ylabel() == "Effect" and len(ax.images) == 1 and not ax.collections


# a boosting machine's 100 by 100 grid over the codes 0..3 of the first feature, each point 10 times its nearest code
BY_CODE = np.tile(10.0 * np.round(np.linspace(0, 3, 100)), (100, 1))
LEVELS = ["north", "south", "east", "west"]


def names_of(feature, values):
    return np.array(LEVELS)[np.asarray(values, dtype=int)], "categorical"


@pytest.mark.parametrize("mat, extent, levels, scaler, ticks", [
    (BY_CODE, (0, 3, 0, 1), ([0, 1, 2, 3], None), names_of, LEVELS),
    # one column per code, as a GAMI network gives a categorical feature
    (np.tile(10.0 * np.arange(5), (7, 1)), (0, 4, 0, 1), ([0, 1, 2, 3, 4], None), None, ["0", "1", "2", "3", "4"]),
    # no levels said: the scaler calls the feature categorical, the codes in view are its levels
    (BY_CODE, (0, 3, 0, 1), None, names_of, LEVELS),
], ids=["grid", "codes", "scaler"])
def test_levels_sit_at_the_centres_of_cells_of_equal_width(shows, mat, extent, levels, scaler, ticks):
    values = EffectValues(mat, LABEL, levels=levels) if levels is not None else mat
    pair = "region x b" if scaler else "a x b"
    scaler = scaler and (lambda f, v: names_of(f, v) if f == "region" else (np.asarray(v) * 2, "numeric"))
    ax, _, image = heat_map(values, extent, scaler, pair)
    n = len(ticks)
    assert image.get_extent()[:2] == list(ax.get_xlim()) == [-0.5, n - 0.5] and image.get_array().shape[1] == n
    # each cell holds its own level's value, its tick at its centre
    assert np.allclose(image.get_array()[0], 10.0 * np.arange(n))
    assert list(ax.get_xticks()) == list(range(n)) and [t.get_text() for t in ax.get_xticklabels()] == ticks


def test_a_two_valued_side_is_two_cells_not_a_continuous_axis(shows):
    grid = np.linspace(0, 1, 100)
    mat = np.where(grid < 0.5, -1.0, 2.0)[::-1, None] * np.ones((1, 100))  # rows from the top down
    ax, _, image = heat_map(EffectValues(mat, LABEL, levels=(None, [0.0, 1.0])), (0, 1, 0, 1),
                            lambda f, v: (np.asarray(v) + 1, "numeric"), pair="age x sex")
    assert image.get_array().shape == (2, 100) and np.allclose(image.get_array()[:, 0], [-1.0, 2.0])
    assert list(ax.get_yticks()) == [0, 1] and [t.get_text() for t in ax.get_yticklabels()] == ["1", "2"]


REGIONS = np.array(["Piemonte north valley", "Puglia", "Sicilia", "Toscana central hills", "Veneto lagoon plains"])


@pytest.mark.parametrize("dpi", [100, 110, 180])
def test_long_level_names_never_run_into_each_other_whatever_the_resolution(shows, dpi):
    PlotEffect(feature="region").plot("categorical", categories=np.arange(5.0), height=[-0.5, 0.3, 0.4, 0.3, -0.4],
                                      scaler=lambda f, v: (REGIONS[np.asarray(v, dtype=int)], "categorical"))
    (fig := plt.gcf()).set_dpi(dpi)
    fig.canvas.draw()
    shown = fig.axes[-1].get_xticklabels()
    boxes = sorted((t.get_window_extent() for t in shown), key=lambda b: b.x0)
    assert [t.get_text() for t in shown] == list(REGIONS)
    # side by side only with a blank's width between them; else aslant
    blank = 0.3 * shown[0].get_fontsize() * dpi / 72
    assert shown[0].get_rotation() != 0 or all(a.x1 + blank < b.x0 for a, b in zip(boxes, boxes[1:]))


def test_effect_values_say_what_they_measure_through_copies_and_not_through_arithmetic():
    values = EffectValues(np.arange(6.0), LABEL, np.ones((3, 2)), (None, [0, 1]))
    for kept in (values.reshape(2, 3), values[1:], copy.deepcopy(values), pickle.loads(pickle.dumps(values))):
        assert (type(kept), kept.axis_label, kept.points.shape, kept.levels[0], list(kept.levels[1])) == (
            EffectValues, LABEL, (3, 2), None, [0, 1])
    assert {type(computed) for computed in (values * 2, values - values.mean(), np.abs(values))} == {np.ndarray}
    PlotEffect(feature="age").plot("continuous", xgrid=np.arange(6.0), ygrid=values)
    PlotEffect(feature="age").plot("categorical", categories=[0.0, 1.0], height=values[:2])
    assert [plt.figure(n).axes[0].get_ylabel() for n in plt.get_fignums()] == [LABEL, LABEL]


# The experiment hands the views what its effects are on, where its rows lie and its levels ------

@pytest.fixture(scope="module")
def few_values():
    """A 0/1 flag, a sex coded 1 and 2 and a category; the pairs take sex and colour with age."""
    from vexo.workflow.experiment import Experiment

    frame = make_frame(n=240, seed=3)
    rng = np.random.default_rng(3)
    frame["flag"], frame["sex"] = rng.integers(0, 2, len(frame)), rng.choice([1, 2], len(frame))
    exp = Experiment(frame, "y")
    names = exp.dataset.feature_names
    pairs = [(names.index("age"), names.index("sex")), (names.index("age"), names.index("colour"))]
    exp.register("ebm", "ebm", outer_bags=1, interactions=pairs)
    exp.register("gami", "gami", interactions=pairs)
    exp.register("relu", "reludnn", hidden_layer_sizes=(6,))
    return exp


def drawn(exp, model, **arguments):
    with capture() as figures:
        InterpretAPI(exp, model).model_interpret(show="global_effect_plot", original_scale=True, **arguments)
    [fig] = figures
    fig.canvas.draw()
    return fig


@pytest.mark.parametrize("model", ["ebm", "gami", "relu"])
def test_effects_name_what_they_are_on_and_pairs_draw_the_levels_of_features_of_few_values(few_values, model):
    names, short = few_values.dataset.feature_names, few_values.dataset.truncated_columns_dict_15
    assert drawn(few_values, model, uni_feature="age").axes[0].get_ylabel().startswith(LABEL)
    if model == "relu":
        return
    levels = few_values.effect_levels(model)
    assert sorted(names[j] for j in levels) == ["colour", "flag", "sex"] and few_values.effect_label(model) == LABEL
    assert list(levels[names.index("flag")]) == [0, 1] and list(levels[names.index("colour")]) == [0, 1, 2]
    for other, ticks in [("sex", ["1", "2"]), ("colour", ["blue", "green", "red"])]:
        ax, bar = drawn(few_values, model, bi_features=(short["age"], short[other])).axes
        levels_axis = ax.yaxis if list(ax.get_yticks()) == list(range(len(ticks))) else ax.xaxis
        assert [t.get_text() for t in levels_axis.get_ticklabels()] == ticks
        assert bar.get_ylabel().startswith(LABEL) and ax.collections[0].get_gid() == "rows"
