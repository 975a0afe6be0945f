"""The global tree: the subtree below `root` on the slots of a complete binary tree, a note and a legend."""
import contextlib

import matplotlib.pyplot as plt
import numpy as np
import pytest
from matplotlib.colors import to_rgb

from reading import problems
from tree_doubles import FULL, MARK, SHORT, Box, Experiment, boxes_of, check_texts, drawn, notes, tree_result  # noqa: F401
from sklearn.tree import DecisionTreeClassifier, DecisionTreeRegressor

from vexo.workflow import interpret_api
from vexo.workflow.experiment import explain
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph


def draw(result, root=0, depth=3, **kwargs):
    experiment = Experiment(result)
    # With no level below root the figure is 0.3 inches high, too low for matplotlib to lay out.
    low = depth == 0 and result["max_depth"] > 0
    with pytest.warns(UserWarning, match="Tight layout not applied") if low else contextlib.nullcontext():
        InterpretAPI(experiment, "tree").get_tree(root, depth, **kwargs)
    return experiment


@pytest.mark.parametrize("kind, tree_depth, root, depth, original_scale, names, target, first_line", [
    ("regressor", 4, 0, 3, False, None, "progression", "Depth 3 of 4 shown; (none-leaf-node): more levels below, not shown"),
    ("classifier", 4, 0, 4, True, ["no", "yes"], "y", "Whole tree, depth 4"),
    ("regressor", 4, 2, 1, True, None, None, "Depth 1 of 2 shown below node #2; (none-leaf-node)"),
    ("classifier", 4, 1, 9, False, None, None, "Whole subtree below node #1, depth 3"),
    ("regressor", 4, 0, 0, False, None, None, "Depth 0 of 4 shown; (none-leaf-node)"),
    ("regressor", 0, 0, 3, False, None, "invest", "Whole tree, depth 0"),
    ("classifier", 12, 3, 12, False, ["benign", "malignant"], "y", "Whole subtree below node #3, depth 9"),
    ("regressor", 23, 0, 30, False, None, None, "Whole tree, depth 23"),  # deep chains
])
def test_shown_boxes_sit_on_the_slots_of_a_complete_binary_tree_the_rest_hidden_under_a_note_and_a_legend(
        drawn, kind, tree_depth, root, depth, original_scale, names, target, first_line):
    result = dict(tree_result(kind, tree_depth), **({} if names is None else {"class_names": names}),
                  **({} if target is None else {"target": target}))
    experiment = draw(result, root, depth, original_scale=original_scale)
    left, right = result["children_left"], result["children_right"]
    boxes, (x_mid, y_ini) = boxes_of(drawn["artists"]), drawn["start"][0]
    x_max, height, shown = max(x for x, _ in drawn["start"]), plt.gcf().get_size_inches()[1], min(depth, tree_depth)
    assert height == pytest.approx(10 * shown / 5 + 0.3 if tree_depth else 2)
    # Level by level: a child sits half its parent's offset beside it, its arrow starting at the parent.
    place, parent, level = {root: (x_mid, y_ini)}, {root: root}, [root]
    for i in range(1, shown + 1):
        below = [(c, p, side) for p in level for c, side in ((left[p], -1), (right[p], 1)) if c != -1]
        for c, p, side in below:
            place[c], parent[c] = (place[p][0] + side * x_max / 2 ** (i + 1), y_ini - y_ini * 0.9 * 1.9 / height * i), p
        level = [c for c, _, _ in below]
    assert len(boxes) == len(left) and [b.get_visible() for b in boxes] == [k in place for k in range(len(boxes))]
    # A box keeps its slot's level and moves from its slot only as far as its level needs room, in
    # the slots' order; its arrow leaves its parent's box wherever that went.
    for k, box in enumerate(boxes):
        assert k not in place or (box._y, tuple(box.xy)) == (place[k][1], (boxes[parent[k]]._x, boxes[parent[k]]._y))
        assert box._text.endswith(MARK) == (k in level and left[k] != -1)
    for y in {y for _, y in place.values()}:
        row = sorted((x, k) for k, (x, y_k) in place.items() if y_k == y)
        assert [boxes[k]._x for _, k in row] == sorted(boxes[k]._x for _, k in row)
    assert depth == 0 or problems(plt.gcf(), inside=True) == []
    # a level of up to 8 boxes of these short names holds them where the slots are
    levels = len({y for _, y in place.values()})
    assert all(boxes[k]._x == x for k, (x, _) in place.items()) == (levels <= 4 and tree_depth <= 4)
    tree = result["tree"].tree_
    check_texts(boxes, tree, experiment, original_scale, 1, place)  # hidden boxes too
    assert result["feature_names"] == FULL  # the display names went into a deep copy
    assert drawn["kwargs"] == {"feature_names": [SHORT[n] for n in FULL], "node_ids": True, "filled": True,
                               "fontsize": 12}
    # The edge labels "True" and "False" go beside the children of the box on top.
    for label, child in zip([a for a in drawn["artists"] if a.get_bbox_patch() is None], (left[root], right[root])):
        assert label.get_visible() == (child in place and child != root)
        if label.get_visible():
            box = boxes[child]
            assert (label._x, label._y) == pytest.approx(((box._x + box.xy[0]) / 2, (box._y + box.xy[1]) / 2))
    # The note says how deep the tree is shown and what its numbers mean; a box stays a box on a white fill.
    lines, entries = notes(plt.gca())
    assert lines[0].startswith(first_line)
    assert lines[1].startswith("criterion = %s \u00b7 samples = training rows \u00b7 value = " % result["criterion"])
    assert {to_rgb(boxes[k].get_bbox_patch().get_edgecolor()) for k in place} == {to_rgb("#b0b0b0")}
    if kind == "regressor":
        assert entries == [] and lines[1].endswith("value = mean of %s over the training rows; darker fill = higher"
                                                   % (target or "the target"))
        # one colour, its strength the node's mean on the scale of the tree's lowest to highest
        means = tree.value[:, 0, 0]
        share = {k: (means[k] - means.min()) / (np.ptp(means) or 1) for k in place}
        ink = {k: 1 - np.array(to_rgb(boxes[k].get_bbox_patch().get_facecolor())) for k in place}
        strongest = max(share, key=share.get)
        for k in share:
            assert ink[k] == pytest.approx(ink[strongest] * share[k] / (share[strongest] or 1), abs=0.006)
        return
    labels = names or ["class 0", "class 1"]
    assert [label for label, _ in entries] == labels and "[%s]" % ", ".join(labels) in lines[1]
    # each shown box is its majority class's legend colour, paler the more mixed it is (white for a tie)
    for k in place:
        counts = tree.value[k, 0]
        ink = 1 - np.array(to_rgb(boxes[k].get_bbox_patch().get_facecolor()))
        legend = 1 - np.array(entries[int(np.argmax(counts))][1])
        assert ink == pytest.approx(legend * (counts.max() - counts.min()) / counts.max(), abs=0.006)


@pytest.mark.parametrize("depth", [2, 4])
def test_levels_drawn_in_points_fill_the_figure_from_its_top_inch_down(monkeypatch, depth):
    """Boxes placed in points (some scikit-learn releases): the first level an inch below the top edge."""
    real = interpret_api.plot_tree

    def in_points(*args, **kwargs):
        artists, (w, h) = real(*args, **kwargs), plt.gca().bbox.size
        for a in artists:
            a.xycoords = a.anncoords = "axes pixels"
            a._x, a._y, a.xy = a._x * w, a._y * h, (a.xy[0] * w, a.xy[1] * h)
        return artists

    monkeypatch.setitem(plt.rcParams, "figure.dpi", 72)  # a pixel is a point
    monkeypatch.setattr(interpret_api, "plot_tree", in_points)
    draw(tree_result("regressor", 4), 0, depth, figsize=(12, 10))
    figure, shown = plt.gcf(), [b for b in plt.gca().texts if b.get_bbox_patch() is not None and b.get_visible()]
    figure.canvas.draw()
    levels = sorted({round(b._y, 6) for b in shown}, reverse=True)
    # 16 boxes do not fit 12 inches even at the smallest font: the figure grows wider instead
    assert tuple(figure.get_size_inches()) == pytest.approx((12, 2 * depth + 0.3)) or (
        depth == 4 and figure.get_size_inches()[0] > 12 and figure.get_size_inches()[1] == 2 * depth + 0.3)
    assert len(levels) == depth + 1
    assert levels[0] == pytest.approx(72 * (figure.get_size_inches()[1] - 1))
    assert len({round(a - b, 6) for a, b in zip(levels, levels[1:])}) == 1  # evenly spaced
    assert all(0 <= b.get_bbox_patch().get_window_extent().y0 and b.get_bbox_patch().get_window_extent().y1
               <= figure.bbox.height for b in shown)  # each box whole inside the figure


@pytest.mark.parametrize("change, error, message", [
    ({"children_left": [1, 0, -1], "max_depth": 5}, ValueError, "node 0 is reached twice"),
    ({"children_right": [7, -1, -1]}, IndexError, r"node 7 is not a node of the tree \(ids 0 to 2\)"),
    ({"root": -1}, IndexError, "node -1 is not a node of the tree"),
])
def test_arrays_that_are_no_tree_are_named(monkeypatch, change, error, message):
    value = {"tree": None, "feature_names": ["age"], "feature_names_full": ["age_full"], "max_depth": 1,
             "children_left": [1, -1, -1], "children_right": [2, -1, -1], "criterion": "gini", **change}
    monkeypatch.setattr(interpret_api, "plot_tree", lambda *args, **kwargs: [
        Box(0.5, 0.9, "node #0\nage <= 1.5\nx\ny\nz"), Box(0.2, 0.5), Box(0.8, 0.5)])
    with pytest.raises(error, match=message):
        InterpretGraph.plot_tree_diag({"value": value, "input": {"depth": 3, "root": change.get("root", 0)}})


# Display names of the full 20 characters, on features of very different scales.
LONG = {"feature %d" % i: "%s%02d" % ("worst concave point"[:18], i) for i in range(6)}


@pytest.mark.parametrize("classes, depth, view, original_scale", [
    (2, 5, "global", False), (4, 5, "global", True), (0, 5, "global", True), (3, 4, "global", False),
    (2, 9, "local", True), (0, 7, "local", False)])
def test_hostile_trees_draw_no_box_over_another_nor_outside_the_figure_in_a_readable_font(
        classes, depth, view, original_scale):
    """Long names, thresholds in long units, many classes, full deep levels: rows the slots cannot hold."""
    rng = np.random.default_rng(depth)
    x = rng.normal(size=(4000, 6)) * [1, 1e4, 1e-4, 1, 1, 1]
    y = x[:, 0] + np.sin(3 * x[:, 3]) + rng.normal(size=4000) * 0.1
    tree = (DecisionTreeClassifier(max_depth=depth, random_state=0).fit(x, np.digitize(y, np.quantile(
        y, np.linspace(0, 1, classes + 1)[1:-1]))) if classes else DecisionTreeRegressor(
        max_depth=depth, random_state=0).fit(x, y * 1e5))
    result = explain.tree_local(tree, list(LONG), x[7]) if view == "local" else explain.tree_result(tree, list(LONG))
    experiment = Experiment(result, local=result)
    experiment.dataset.truncated_columns_dict_10 = LONG
    api = InterpretAPI(experiment, "tree")
    api.get_local_tree(7, original_scale) if view == "local" else api.get_tree(0, depth, original_scale)
    figure = plt.gcf()
    shown = [b for b in boxes_of(plt.gca().texts) if b.get_visible()]
    assert problems(figure, inside=True) == [] and min(b.get_fontsize() for b in shown) >= 7
