"""The local tree: get_local_tree draws the part of the tree that the experiment names for one sample,
its path filled yellow, the left-out branches marked, and the two boxes of a crowded level spread."""
import matplotlib.pyplot as plt
import numpy as np
import pytest

from tree_doubles import FULL, SHORT, Box, Experiment, Scaler, boxes_of, fitted
from vexo.workflow import explain, interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph

MARK = "\n(none-leaf-node)"


def local_result(kind, depth, row=0):
    tree = fitted(kind, depth)
    x = np.random.default_rng(1).normal(size=(50, 3))
    return explain.tree_local(tree, FULL, x[row])


@pytest.fixture
def drawn(monkeypatch):
    seen = {}

    def spy(*args, **kwargs):
        artists = real(*args, **kwargs)
        seen.update(artists=artists, kwargs=kwargs, start=[(b._x, b._y, b.xy) for b in boxes_of(artists)])
        return artists

    real = interpret_api.plot_tree
    monkeypatch.setattr(interpret_api, "plot_tree", spy)
    return seen


@pytest.mark.parametrize("kind, depth, row", [("regressor", 4, 0), ("classifier", 4, 7), ("classifier", 12, 0),
                                              ("regressor", 1, 3), ("regressor", 0, 0)])
def test_the_samples_nodes_are_drawn_filled_and_marked(drawn, kind, depth, row):
    result = local_result(kind, depth, row)
    experiment = Experiment(None, local=result)
    assert InterpretAPI(experiment, "tree").get_local_tree(row, figsize=(3, 3)) is None
    assert experiment.asked == [("tree", row)]
    assert tuple(plt.gcf().get_size_inches()) == (20, len(result["node_related"]))
    assert drawn["kwargs"] == {"feature_names": [SHORT[n] for n in FULL], "filled": False, "fontsize": 12}
    boxes = boxes_of(drawn["artists"])
    for k, box in enumerate(boxes):
        assert box.get_visible() == (k in result["node_related"])
        assert (box.get_bbox_patch().get_facecolor() == (1, 1, 0, 1)) == (k in result["node_index"])
        assert box._text.endswith(MARK) == (k in result["node_other"])
        assert result["criterion"] not in box._text and box._text.count("criterion = ") == 1
    assert result["feature_names"] == [SHORT[n] for n in FULL] and result["feature_names_full"] == FULL  # in place
    for (x, y, _), box in zip(drawn["start"], boxes):
        assert box._y == y and abs(box._x - x) < 0.125  # spread by less than the wanted distance


def test_get_local_tree_record_and_refusal(monkeypatch, capsys):
    result, seen = local_result("regressor", 4), []
    monkeypatch.setattr(InterpretGraph, "plot_local_tree", staticmethod(lambda *a, **k: seen.append((a, k))))
    api = InterpretAPI(Experiment(None, local=result), "tree")
    api.get_local_tree(11, True, (1, 1))
    [((record, pipeline, original_scale), kwargs)] = seen
    assert list(record.items()) == [("key", "global_tree"), ("model", "tree"), ("input", {"idx": 11}),
                                    ("value", result)] and record["value"] is result
    assert (pipeline, original_scale, kwargs) == (api.pipeline, True, {"figsize": (20, len(result["node_related"]))})
    monkeypatch.undo()
    for refused in (None, object()):
        assert InterpretAPI(Experiment(None, local=refused), "tree").get_local_tree(3) is None
    assert InterpretGraph.plot_local_tree({"value": None}) is None
    assert capsys.readouterr().out == "Not supported\n" * 3 and not plt.get_fignums()


def spread(positions, related, width=20, left=(1, 3, 5, -1, -1, -1, -1), right=(2, 4, 6, -1, -1, -1, -1)):
    """plot_local_tree on boxes at the given (x, y), node k's arrow starting at its parent."""
    parent = {c: p for p, pair in enumerate(zip(left, right)) for c in pair if c != -1}
    boxes = [Box(x, y, "node", xy=positions[parent.get(k, k)]) for k, (x, y) in enumerate(positions)]
    value = {"tree": None, "feature_names": [], "feature_names_full": [], "node_related": related,
             "node_other": [], "node_index": [], "children_left": np.array(left), "children_right": list(right),
             "criterion": "gini"}
    interpret_api.plot_tree = lambda *a, **k: boxes
    InterpretGraph.plot_local_tree({"value": value}, None, False, (width, len(related)))
    return [b._x for b in boxes], [b.xy[0] for b in boxes]


@pytest.fixture
def restore(monkeypatch):
    monkeypatch.setattr(interpret_api, "plot_tree", interpret_api.plot_tree)


LEVELS = [(0.5, 0.9), (0.45, 0.7), (0.5, 0.7), (0.2, 0.5), (0.8, 0.5), (0.55, 0.5), (0.6, 0.5)]


def test_a_crowded_pair_moves_apart_and_its_childrens_arrows_follow(restore):
    x, arrow = spread(LEVELS, [0, 1, 2, 3, 4])  # 3 and 4 are 0.6 apart: they stay
    assert x == pytest.approx([0.5, 0.4125, 0.5375, 0.2, 0.8, 0.55, 0.6])
    assert arrow == pytest.approx([0.5, 0.5, 0.5, 0.45 - 0.0375, 0.45 - 0.0375, 0.5 + 0.0375, 0.5 + 0.0375])


def test_the_first_of_a_pair_moves_left_on_equal_x_and_the_arrow_signs_are_fixed(restore):
    x, arrow = spread([(0.5, 0.9), (0.5, 0.7), (0.5, 0.7)] + LEVELS[3:], [0, 2, 1])
    assert x[1:3] == pytest.approx([0.5 + 0.0625, 0.5 - 0.0625])
    # the first of the pair (node 2) moved left, yet its children's arrows move by minus the change
    assert arrow[3:] == pytest.approx([0.5 + 0.0625] * 2 + [0.5 - 0.0625] * 2)


@pytest.mark.parametrize("related, moved", [([0, 1], []), ([0, 3, 4, 5], []), ([0, 3, 4, 5, 6], []),
                                            ([0, 5, 6], [5, 6])])
def test_only_the_two_alone_on_their_level_move(restore, related, moved):
    x, _ = spread(LEVELS, related)
    assert [k for k in range(7) if x[k] != LEVELS[k][0]] == moved


@pytest.mark.parametrize("width, gap, x_change", [(20, 100, 40), (10, 100, 0), (10, 80, 5)])
def test_boxes_placed_in_points_keep_an_eighth_of_the_width_apart(restore, width, gap, x_change):
    # top box beyond 1: positions in points, the wanted distance 0.125 * 72 * width
    points = [(720, 500), (700, 300), (700 + gap, 300), (600, 100), (650, 100), (800, 100), (900, 100)]
    x, _ = spread(points, [0, 1, 2], width)
    assert x[1:3] == pytest.approx([700 - x_change, 700 + gap + x_change])


def test_split_lines_of_a_local_tree_are_rewritten(drawn):
    result, scaler = local_result("regressor", 4), Scaler()
    experiment = Experiment(None, local=result)
    experiment.registered_pipeline["tree"] = scaler
    InterpretAPI(experiment, "tree").get_local_tree(0, original_scale=True)
    tree = result["tree"].tree_
    splits = [k for k in range(tree.node_count) if tree.children_left[k] != -1]
    assert [name for name, _ in scaler.calls] == [FULL[tree.feature[k]] for k in splits]
    for k, (name, values) in zip(splits, scaler.calls):
        first = boxes_of(drawn["artists"])[k]._text.split("\n")[0]
        assert values == [round(float(tree.threshold[k]), 3)] and first.startswith(SHORT[name] + " <= ")
        if name != "colour":
            assert first == "%s <= %s" % (SHORT[name], values[0] * 10 + 1)


@pytest.mark.parametrize("change, error", [
    ({"node_related": [0, 9]}, IndexError), ({"node_related": [0, "1"]}, TypeError), ({"node_other": None}, TypeError),
    ({"missing": "node_index"}, KeyError), ({"missing": "children_left"}, KeyError), ({"width": "wide"}, TypeError),
    ({"pipeline": None}, AttributeError), ({"boxes": []}, IndexError),
])
def test_bad_local_input_gives_an_exception(restore, change, error):
    value = {"tree": None, "feature_names": ["a"], "feature_names_full": ["a_full"], "node_related": [0, 1, 2],
             "node_other": [], "node_index": [0], "children_left": [1, -1, -1], "children_right": [2, -1, -1],
             "criterion": "gini"}
    value.update({k: v for k, v in change.items() if k in value})
    value.pop(change.get("missing"), None)
    boxes = change.get("boxes", [Box(0.5, 0.9, "a <= 0.5\nb\nc\nd"), Box(0.49, 0.5), Box(0.51, 0.5)])
    interpret_api.plot_tree = lambda *a, **k: boxes
    with pytest.raises(error):
        InterpretGraph.plot_local_tree({"value": value}, change.get("pipeline", Scaler()), True,
                                       (change.get("width", 20), 3))
