"""The comparison figures read back: every model's curve as given and in its colour, one legend
naming them, the importance grid's cells as ranked, and bad records refused with no figure left."""
import matplotlib.pyplot as plt
import numpy as np
import pytest
from matplotlib.colors import to_hex, to_rgb

from reading import problems
from vexo.workflow.figures import capture
from vexo.workflow.plots import FAMILY_COLORS, Title, plot_compare_effects, plot_compare_importance
from vexo.workflow.plots.bars import printed_number

MODELS = ["glm", "tree", "ebm", "gam", "gami", "reludnn"]
LONG = "serum triglycerides level measured in the blood sample at the first visit"


def curve_set(x, models):
    """A straight line, a staircase and smooth and piecewise-linear curves, centred."""
    shapes = {"glm": 2 * x, "tree": np.where(x < 25, -10.0, 10.0), "ebm": np.floor(x / 3) * 3,
              "gam": 0.1 * x ** 2, "gami": 0.08 * x ** 2 + x, "reludnn": np.maximum(x - 24, 0)}
    return {m: shapes[m] - shapes[m].mean() for m in models}


def effects_record(models=MODELS, levels=None, reads=(), feature="bmi"):
    """A numeric record (levels None) or a categorical one; models in `reads` do not read it."""
    if levels is None:
        x = np.linspace(18, 42, 60)
        curves, density = curve_set(x, models), {"edges": np.linspace(18, 42, 9), "shares": np.full(8, 1 / 8)}
    else:
        x = levels
        curves = {m: np.sin(np.arange(len(x)) + k) for k, m in enumerate(models)}
        density = {"shares": np.linspace(1, 2, len(x)) / np.linspace(1, 2, len(x)).sum()}
    curves.update({m: np.zeros(len(x)) for m in reads})
    return {"feature": feature, "categorical": levels is not None, "x": x, "curves": curves,
            "methods": {m: "main effect" if m != "tree" else "partial dependence" for m in models},
            "reads": {m: m not in reads for m in models}, "colors": {m: FAMILY_COLORS[m] for m in models},
            "density": density, "axis_label": "effect on the prediction of y",
            "title": Title("Effect of %s in each model" % feature), "note": "centred on the training rows"}


def grid_record(rows, models=MODELS, n_features=None, features=None):
    features = features or ["feature %d" % k for k in range(rows)]
    rng = np.random.default_rng(rows)
    importance = rng.uniform(-0.01, 0.5, (rows, len(models)))
    rank = np.argsort(np.argsort(-importance, axis=0), axis=0) + 1
    return {"features": features, "n_features": n_features or rows, "models": models, "rank": rank,
            "importance": importance, "scores": ["R\u00b2 0.5%02d" % k for k in range(len(models))],
            "colors": [FAMILY_COLORS[m] for m in models], "disagree": features[1:2], "value_label": "drop in R\u00b2",
            "title": Title("Permutation importance in each model"), "note": ""}


def drawn(plot, record, figsize=None):
    with capture() as figures:
        plot(record, figsize=figsize)
    assert len(figures) == 1 and not plt.get_fignums()
    # every figure drawn here reads cleanly: no text runs into another or out of the figure
    assert problems(figures[0], inside=True) == []
    return figures[0]


def legend_texts(figure):
    legends = [a.get_legend() for a in figure.axes if a.get_legend()] + figure.legends
    assert len(legends) == 1
    return [t.get_text().replace("\n", " ") for t in legends[0].get_texts()], legends[0]


FIRMS = ["firm %d, %s" % (k, LONG) for k in range(30)]


@pytest.mark.parametrize("models, reads, levels", [
    (MODELS, (), None), (["gam"], (), None), (["glm", "tree"], ("tree",), None), (["tree"], ("tree",), None),
    (MODELS, ("tree",), ["Biscoe", "Dream", "Torgersen"]), (["glm"], (), ["Biscoe", "Dream", "Torgersen"]),
    (MODELS, ("tree",), FIRMS), (["glm"], (), FIRMS)])
def test_every_curve_is_drawn_as_given_in_its_colour_and_named_in_one_legend(models, reads, levels):
    record = effects_record(models, levels=levels, reads=reads)
    figure = drawn(plot_compare_effects, record)
    ax, strip = figure.axes
    # a category's curve: a marker at each level
    lines = [line for line in ax.lines if line.get_transform() is ax.transData and (levels is None or line.get_linestyle() == "None")]
    assert [to_hex(line.get_color()) for line in lines] == [FAMILY_COLORS[m] for m in models]
    for line, model in zip(lines, models):
        assert np.allclose(line.get_ydata(), record["curves"][model])
    names, legend = legend_texts(figure)
    assert names == ["%s (does not use it)" % m if m in reads else
                     "%s \u2014 %s" % (m, record["methods"][m]) for m in models]
    heights = [p.get_height() for p in strip.patches if p.get_gid() == "density"]
    assert heights == pytest.approx(record["density"]["shares"]) and strip.get_xlabel() == "bmi"
    assert ax.get_ylabel() == record["axis_label"] and ax.get_title() == record["title"]
    if levels is None:
        assert all(np.allclose(line.get_xdata(), record["x"]) for line in lines)
        # the staircases of the tree and the boosting machine as steps, the others as drawn lines
        assert {m: line.get_drawstyle() for m, line in zip(models, lines)} == \
            {m: "steps-mid" if m in ("tree", "ebm") and m not in reads else "default" for m in models}
        # the legend hides no point of any curve
        box = legend.get_window_extent()
        points = np.vstack([ax.transData.transform(line.get_xydata()) for line in lines])
        assert not np.any((points[:, 0] > box.x0) & (points[:, 0] < box.x1) & (points[:, 1] > box.y0) & (points[:, 1] < box.y1))
    else:
        # the models side by side within each level's cell, no two at one place
        at = np.array([m.get_xdata() for m in lines])
        assert at.shape == (len(models), len(levels)) and np.all(np.abs(at - np.arange(len(levels))) < 0.4)
        assert all(len(set(np.round(column, 6))) == len(models) for column in at.T)
        shown = [t.get_text() for t in strip.get_xticklabels()]
        assert len(shown) == len(set(shown)) == len(levels) and all(level.startswith(t.rstrip("\u2026")) for t, level in zip(shown, levels))


@pytest.mark.parametrize("rows, models, n_features", [(10, MODELS, None), (20, MODELS, 64), (3, ["ebm"], None)])
def test_each_cell_writes_its_rank_and_value_shaded_darker_by_rank_and_marked_rows_are_the_disagreeing_ones(
        rows, models, n_features):
    features = ["feature %d" % k for k in range(rows - 1)] + [LONG]
    record = grid_record(rows, models, n_features, features)
    record["importance"][-1, 0] = -2.220446049250313e-17  # equal scores subtracted: reads as 0
    figure = drawn(plot_compare_importance, record)
    ax = figure.axes[0]
    if n_features is None:
        width, height = figure.get_size_inches()
        assert 4 <= width <= 10 and 3 <= height <= 9.5
    cells = {(round(t.get_position()[1]), round(t.get_position()[0]), t.get_gid()): t.get_text()
             for t in ax.texts if t.get_gid() in ("rank", "importance")}
    assert cells == {**{(i, j, "rank"): "#%d" % r for (i, j), r in np.ndenumerate(record["rank"])},
                     **{(i, j, "importance"): printed_number(v if abs(v) > 1e-15 else 0.0)
                        for (i, j), v in np.ndenumerate(record["importance"])}}
    shades = {(round(p.get_y() + 0.5), round(p.get_x() + 0.5)): p.get_facecolor() for p in ax.patches if p.get_gid() == "cell"}
    light = {record["rank"][k]: sum(to_rgb(shades[k])) for k in np.ndindex(record["rank"].shape)}
    assert [light[r] for r in sorted(light)] == sorted(light.values())
    outlined = [round(p.get_y() + p.get_height() / 2) for p in ax.patches if p.get_gid() == "disagree"]
    marked = [k for k, t in enumerate(ax.get_yticklabels()) if t.get_text().startswith("\u25c6")]
    assert outlined == marked == [1]
    assert [t.get_text() for t in ax.texts if t.get_gid() == "model"] == models
    assert [to_hex(t.get_color()) for t in ax.texts if t.get_gid() == "model"] == record["colors"]
    assert [t.get_text() for t in ax.texts if t.get_gid() == "score"] == record["scores"]
    note = " ".join(t.get_text() for t in ax.texts if t.get_gid() == "note").replace("\n", " ")
    assert ("%d of the 64 features shown" % rows in note) == (n_features == 64) and "disagree" in note


@pytest.mark.parametrize("name", ["bmi", LONG, "a" * 40, "b" * 80, "x_" * 40, "word " * 30])
def test_a_row_label_keeps_its_name_on_two_lines_or_its_leading_part_and_an_ellipsis(name):
    figure = drawn(plot_compare_importance, grid_record(2, ["glm", "tree"], features=[name, "age"]))
    label = figure.axes[0].get_yticklabels()[0].get_text()
    joined = "".join(label.replace("\u25c6", "").split())
    assert label.count("\n") <= 1 and max(map(len, label.split("\n"))) <= 45
    assert joined == "".join(name.split()) or (joined.endswith("\u2026") and "".join(name.split()).startswith(joined[:-1]))


@pytest.mark.parametrize("plot, record, figsize", [
    (plot_compare_effects, effects_record(feature=LONG), (5, 4)),
    (plot_compare_effects, effects_record(["glm"], levels=["a", "b"], reads=["glm"]), (4, 3)),
    (plot_compare_importance, grid_record(10), (6, 4)),
    (plot_compare_importance, grid_record(1, ["gam"]), None),
])
def test_in_a_small_figure_or_a_grid_of_one_row_no_text_runs_into_another_or_out_of_it(plot, record, figsize):
    drawn(plot, record, figsize)


EFFECTS, GRID = effects_record(["glm", "tree"]), grid_record(3, ["glm", "tree"])


@pytest.mark.parametrize("plot, record, words", [
    (plot_compare_effects, {k: v for k, v in EFFECTS.items() if k != "reads"}, "lacks 'reads'"),
    (plot_compare_effects, dict(EFFECTS, x=EFFECTS["x"][::-1]), "increasing order"),
    (plot_compare_effects, dict(EFFECTS, curves={"glm": np.zeros(60), "tree": np.zeros(59)}), "59 values"),
    (plot_compare_effects, dict(EFFECTS, methods={"glm": "main effect"}), "one entry for each model"),
    (plot_compare_effects, dict(EFFECTS, density={"edges": [0, 1], "shares": [0.5, 0.5]}), "bin edges"),
    (plot_compare_importance, dict(GRID, rank=GRID["rank"][:2]), "3 rows and 2 columns"),
    (plot_compare_importance, dict(GRID, rank=GRID["rank"] * 2), "from 1 to n_features"),
    (plot_compare_importance, dict(GRID, n_features=2), "no smaller than the 3"),
    (plot_compare_importance, dict(GRID, scores=["R\u00b2 0.5"]), "one entry per model"),
    (plot_compare_importance, dict(GRID, disagree=["age"]), "features shown"),
    (plot_compare_importance, dict(GRID, importance=np.full((3, 2), np.nan)), "NaN"),
])
def test_a_bad_record_is_refused_before_a_figure_is_made(plot, record, words):
    with pytest.raises(ValueError, match=words):
        plot(record)
    assert plt.get_fignums() == []
