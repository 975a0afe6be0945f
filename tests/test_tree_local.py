"""The local tree: one sample's part of the tree, its path shaded, left-out branches marked, crowded boxes spread."""
import matplotlib.pyplot as plt
import numpy as np
import pytest
from matplotlib.colors import to_hex
from sklearn.tree import DecisionTreeRegressor

from tree_doubles import FULL, MARK, SHORT, Box, Experiment, boxes_of, check_texts, drawn, fitted, notes  # noqa: F401
from vexo.workflow import interpret_api
from vexo.workflow.experiment import explain
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph


@pytest.mark.parametrize("kind, depth, row, original_scale, names", [
    ("regressor", 4, 0, False, None), ("classifier", 4, 7, True, ["rest", "gentoo"]), ("classifier", 12, 0, False, None),
    ("regressor", 1, 3, True, None), ("regressor", 0, 0, True, None), ("classifier", 4, 2, False, ["no", "yes"])])
def test_the_samples_nodes_are_drawn_shaded_marked_and_spread_over_the_drawing(
        drawn, kind, depth, row, original_scale, names):
    result = explain.tree_local(fitted(kind, depth), FULL, np.random.default_rng(1).normal(size=(50, 3))[row])
    result.update({} if names is None else {"class_names": names})
    experiment = Experiment(None, local=result)
    assert InterpretAPI(experiment, "tree").get_local_tree(row, original_scale, figsize=(3, 3)) is None
    assert experiment.asked == [("tree", row)]
    assert tuple(plt.gcf().get_size_inches()) == (20, len(result["node_related"]))
    boxes, related = boxes_of(drawn["artists"]), set(result["node_related"])
    for k, box in enumerate(boxes):
        patch = box.get_bbox_patch()
        assert box.get_visible() == (k in related)
        assert box._text.endswith(MARK) == (k in result["node_other"])
        # the path in the look's soft blue, edged in its blue; the other drawn boxes white, edged in grey
        assert k not in related or (to_hex(patch.get_facecolor()), to_hex(patch.get_edgecolor())) == (
            ("#d2dceb", "#4c72b0") if k in result["node_index"] else ("#ffffff", "#b0b0b0"))
        majority = names[int(np.argmax(result["tree"].tree_.value[k, 0]))] if names else None
        assert ("class = %s" % majority in box._text.split("\n")) == (names is not None)
    check_texts(boxes, result["tree"].tree_, experiment, original_scale, 0, related)
    assert result["feature_names"] == [SHORT[n] for n in FULL] and result["feature_names_full"] == FULL  # in place
    # Levels stay levels, in their order; the drawn ones reach from the top to plot_tree's lowest level and
    # across its whole width.
    start = {k: xy for k, xy in enumerate(drawn["start"])}
    heights = {start[k][1]: boxes[k]._y for k in related}
    assert len(set(heights.values())) == len(heights) and sorted(heights, key=heights.get) == sorted(heights)
    lowest, top = min(y for _, y in start.values()), start[0][1]
    assert (min(heights.values()), max(heights.values())) == pytest.approx((lowest, top) if len(heights) > 1 else (top, top))
    if len(related) > 1:  # at least as wide: a row of boxes that would touch is spread wider
        xs = [boxes[k]._x for k in related]
        assert min(xs) <= min(x for x, _ in start.values()) + 1e-9 and max(xs) >= max(x for x, _ in start.values()) - 1e-9
    lines, entries = notes(plt.gca())
    assert lines[0].startswith("Path of sample %d shaded" % row) and [label for label, _ in entries] == ["path of sample %d" % row]
    assert ("(none-leaf-node)" in "\n".join(lines)) == bool(result["node_other"])


def test_the_note_and_legend_stay_under_the_boxes_of_a_short_path_through_a_deep_tree(drawn):
    # a pure leaf left of 0 and five levels right of it: three boxes in a figure three inches high, on
    # plot_tree's levels of the whole tree, where the lowest box reaches below the axes
    x = np.random.default_rng(0).normal(size=(400, 3))
    tree = DecisionTreeRegressor(max_depth=5, random_state=0).fit(x, (x[:, 0] > 0) * (10 + x[:, 1] + x[:, 2] ** 2))
    result = explain.tree_local(tree, FULL, np.array([-2.0, 0.0, 0.0]))
    InterpretAPI(Experiment(None, local=result), "tree").get_local_tree(0, False)
    plt.gcf().canvas.draw()
    assert len(result["node_related"]) == 3
    lowest = min(b.get_bbox_patch().get_window_extent().y0 for b in boxes_of(drawn["artists"]) if b.get_visible())
    note, = [t for t in plt.gca().texts if t.get_text().startswith("Path of")]
    assert note.get_window_extent().y1 < lowest > plt.gca().get_legend().get_window_extent().y1


@pytest.fixture
def spread(monkeypatch):
    """plot_local_tree on boxes at (x, y), each arrow from the parent: the boxes' x and their arrows' x."""
    def run(positions, related, width=20):
        left, right = [1, 3, 5, -1, -1, -1, -1], [2, 4, 6, -1, -1, -1, -1]
        parent = {c: p for p, pair in enumerate(zip(left, right)) for c in pair if c != -1}
        # two drawn boxes at the drawing's corners, each alone at its height: the drawn part is the whole
        # drawing, which the drawn boxes then need not be stretched over
        frame = [(0, 1.0), (1.0, 0.1)] if positions[0][0] <= 1 else [(0, 600), (1500, 0)]
        boxes = [Box(x, y, "node", xy=(positions + frame)[parent.get(k, k)]) for k, (x, y) in enumerate(positions + frame)]
        related = related + [7, 8]
        value = {"tree": None, "feature_names": [], "feature_names_full": [], "node_related": related,
                 "node_other": [], "node_index": [], "children_left": np.array(left), "children_right": right,
                 "criterion": "gini"}
        monkeypatch.setattr(interpret_api, "plot_tree", lambda *args, **kwargs: boxes)
        InterpretGraph.plot_local_tree({"value": value}, None, False, (width, len(related)))
        return [b._x for b in boxes[:7]], [b.xy[0] for b in boxes[:7]]
    return run


LEVELS = [(0.5, 0.9), (0.45, 0.7), (0.5, 0.7), (0.2, 0.5), (0.8, 0.5), (0.55, 0.5), (0.6, 0.5)]
EQUAL = [(0.5, 0.9), (0.5, 0.7), (0.5, 0.7)] + LEVELS[3:]
POINTS = [(720, 500), (700, 300), (800, 300), (600, 100), (650, 100), (800, 100), (900, 100)]
X, C = [x for x, _ in LEVELS], 0.0375


@pytest.mark.parametrize("positions, related, width, x, arrow", [
    # 1 and 2 are 0.05 apart: each moves 0.0375 away, the arrows of 1's children left, of 2's right
    (LEVELS, [0, 1, 2, 3, 4], 20, [.5, .45 - C, .5 + C] + X[3:], [.5, .5, .5] + [.45 - C] * 2 + [.5 + C] * 2),
    # equal x: the first of the pair (2) moves left, yet its children's arrows move by minus the change
    (EQUAL, [0, 2, 1], 20, [.5, .5625, .4375] + X[3:], [.5, .5, .5, .5625, .5625, .4375, .4375]),
    # a level with one box, or with three or four, stays
    (LEVELS, [0, 1], 20, X, [.5, .5, .5, .45, .45, .5, .5]), (LEVELS, [0, 3, 4, 5, 6], 20, X, None),
    (LEVELS, [0, 5, 6], 20, X[:5] + [.55 - C, .6 + C], None),
    # top box beyond 1: positions in points, at least 0.125 * 72 * width apart
    (POINTS, [0, 1, 2], 20, [720, 660, 840, 600, 650, 800, 900], [720, 720, 720, 660, 660, 840, 840]),
    # width 10: 90 points wanted, the pair is 100 apart; the figure is 720 points wide, the boxes are
    # moved into it, in their order
    (POINTS, [0, 1, 2], 10, None, None),
])
def test_the_two_boxes_alone_on_a_level_move_apart_and_their_childrens_arrows_follow(
        spread, positions, related, width, x, arrow):
    moved_x, moved_arrow = spread(positions, related, width)
    assert moved_x == pytest.approx(x) if x else moved_x[1] < moved_x[2] <= 72 * width
    if arrow is not None:
        assert moved_arrow == pytest.approx(arrow)
