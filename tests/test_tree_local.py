"""The local tree: get_local_tree draws the part of the tree that the experiment names for one sample,
its path filled yellow, the left-out branches marked, and the two boxes of a crowded level spread."""
import matplotlib.pyplot as plt
import numpy as np
import pytest

from tree_doubles import FULL, MARK, SHORT, Box, Experiment, boxes_of, check_texts, drawn, fitted  # noqa: F401
from vexo.workflow import interpret_api
from vexo.workflow.experiment import explain
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph


@pytest.mark.parametrize("kind, depth, row, original_scale", [
    ("regressor", 4, 0, False), ("classifier", 4, 7, True), ("classifier", 12, 0, False), ("regressor", 1, 3, True),
    ("regressor", 0, 0, True)])
def test_the_samples_nodes_are_drawn_filled_and_marked(drawn, kind, depth, row, original_scale):
    result = explain.tree_local(fitted(kind, depth), FULL, np.random.default_rng(1).normal(size=(50, 3))[row])
    experiment = Experiment(None, local=result)
    assert InterpretAPI(experiment, "tree").get_local_tree(row, original_scale, figsize=(3, 3)) is None
    assert experiment.asked == [("tree", row)]
    assert tuple(plt.gcf().get_size_inches()) == (20, len(result["node_related"]))
    assert drawn["kwargs"] == {"feature_names": [SHORT[n] for n in FULL], "filled": False, "fontsize": 12}
    boxes = boxes_of(drawn["artists"])
    for k, box in enumerate(boxes):
        assert box.get_visible() == (k in result["node_related"])
        assert box._text.endswith(MARK) == (k in result["node_other"])
        assert (box.get_bbox_patch().get_facecolor() == (1, 1, 0, 1)) == (k in result["node_index"])
    check_texts(boxes, result["tree"].tree_, experiment, original_scale, 0)
    assert result["feature_names"] == [SHORT[n] for n in FULL] and result["feature_names_full"] == FULL  # in place
    for (x, y), box in zip(drawn["start"], boxes):
        assert box._y == y and abs(box._x - x) < 0.125  # spread by less than the wanted distance


@pytest.fixture
def spread(monkeypatch):
    """plot_local_tree on boxes at the given (x, y), the arrow of node k starting at its parent, in
    the tree 0 -> (1, 2), 1 -> (3, 4), 2 -> (5, 6); returns the boxes' x and their arrows' x."""
    def run(positions, related, width=20):
        left, right = [1, 3, 5, -1, -1, -1, -1], [2, 4, 6, -1, -1, -1, -1]
        parent = {c: p for p, pair in enumerate(zip(left, right)) for c in pair if c != -1}
        boxes = [Box(x, y, "node", xy=positions[parent.get(k, k)]) for k, (x, y) in enumerate(positions)]
        value = {"tree": None, "feature_names": [], "feature_names_full": [], "node_related": related,
                 "node_other": [], "node_index": [], "children_left": np.array(left), "children_right": right,
                 "criterion": "gini"}
        monkeypatch.setattr(interpret_api, "plot_tree", lambda *args, **kwargs: boxes)
        InterpretGraph.plot_local_tree({"value": value}, None, False, (width, len(related)))
        return [b._x for b in boxes], [b.xy[0] for b in boxes]
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
    (POINTS, [0, 1, 2], 10, [x for x, _ in POINTS], None),
])
def test_the_two_boxes_alone_on_a_level_move_apart_and_their_childrens_arrows_follow(
        spread, positions, related, width, x, arrow):
    moved_x, moved_arrow = spread(positions, related, width)
    assert moved_x == pytest.approx(x)
    if arrow is not None:
        assert moved_arrow == pytest.approx(arrow)
