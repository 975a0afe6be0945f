"""The global tree: get_tree hands a deep copy of the experiment's tree, with display names, to
plot_tree_diag, which lets scikit-learn draw the tree and moves the boxes of the subtree below `root`
onto the slots of a complete binary tree, hiding all others."""
import contextlib
import copy

import matplotlib.pyplot as plt
import pytest

from tree_doubles import FULL, MARK, SHORT, Box, Experiment, Scaler, boxes_of, drawn, tree_result  # noqa: F401
from vexo.workflow import interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph


def grid(x_mid, y_ini, x_max, height, max_depth):
    """The slot places, built level by level for every slot of the complete binary tree."""
    y_ini = 72 * (height - 1) if y_ini > 1 else y_ini
    x_list, y_list, xy_list, last, last_y = [x_mid], [y_ini], [(x_mid, y_ini)], [x_mid], y_ini
    for i in range(min(max_depth, 19) + 1):
        offset, y = x_max / 2 ** (i + 2), y_ini - y_ini * 0.9 * 1.9 / height * (i + 1)
        tmp = [x + d for x in last for d in (-offset, offset)]
        x_list += tmp
        y_list += [y] * len(tmp)
        xy_list += [(x, last_y) for x in last for _ in (0, 1)]
        last, last_y = tmp, y
    return x_list, y_list, xy_list


def slots(left, right, root, depth):
    """Node id to slot below `root`, numbered in level order over every slot, empty ones included."""
    pos, level, c = {root: 0}, [root], 0
    for _ in range(depth):
        tmp = []
        for j in level:
            for child in (left[j], right[j]):
                c += 1
                tmp.append(child)
                if j != -1 and child != -1:
                    pos[child] = c
        level = tmp
    return pos


def draw(result, root=0, depth=3, pipeline=None, **kwargs):
    experiment = Experiment(result)
    if pipeline:
        experiment.registered_pipeline["tree"] = pipeline
    # With no level below root the figure is 0.3 inches high, too low for matplotlib to lay out.
    low = depth == 0 and result["max_depth"] > 0
    with pytest.warns(UserWarning, match="Tight layout not applied") if low else contextlib.nullcontext():
        InterpretAPI(experiment, "tree").get_tree(root, depth, **kwargs)


@pytest.mark.parametrize("kind, tree_depth, root, depth, original_scale", [
    ("regressor", 4, 0, 3, False), ("classifier", 4, 0, 4, True), ("regressor", 4, 2, 2, True),
    ("classifier", 4, 1, 9, False), ("regressor", 4, 0, 0, False), ("classifier", 1, 0, 3, False),
    ("regressor", 0, 0, 3, False), ("classifier", 12, 3, 12, False),
    # deep chains: each split cuts off the one sample that outweighs all others
    ("regressor", 22, 0, 22, False), ("regressor", 23, 0, 22, False), ("regressor", 23, 0, 30, False),
])
def test_shown_boxes_sit_on_the_slots_of_a_complete_binary_tree_and_the_rest_is_hidden(
        drawn, kind, tree_depth, root, depth, original_scale):
    result, scaler = tree_result(kind, tree_depth), Scaler()
    draw(result, root, depth, scaler, original_scale=original_scale)
    left, right, tree = result["children_left"], result["children_right"], result["tree"].tree_
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
    if shown <= 12:  # the places equal, to the last bit, those of the grid of every slot
        x_list, y_list, xy_list = grid(x_mid, y_ini, x_max, height, tree_depth)
        pos = slots(left, right, root, shown)
        assert {k: (x_list[s], y_list[s], xy_list[s]) for k, s in pos.items()} == {
            k: (boxes[k]._x, boxes[k]._y, tuple(boxes[k].xy)) for k in pos}
    for k, box in enumerate(boxes):
        if k in place:
            assert ((box._x, box._y), tuple(box.xy)) == (place[k], place[parent[k]])
        assert box._text.endswith(MARK) == (k in level and left[k] != -1)
        assert result["criterion"] not in box._text and box._text.count("criterion = ") == 1
        if left[k] != -1:  # the split line, of hidden boxes too, in original units on request
            cut = round(float(tree.threshold[k]), 3)
            assert box._text.split("\n")[1] == "%s <= %s" % (SHORT[FULL[tree.feature[k]]],
                                                             cut * 10 + 1 if original_scale else cut)
    splits = [k for k in range(tree.node_count) if left[k] != -1]
    assert scaler.calls == [(FULL[tree.feature[k]], [round(float(tree.threshold[k]), 3)])
                            for k in splits if original_scale]
    assert drawn["kwargs"] == {"feature_names": [SHORT[n] for n in FULL], "node_ids": True, "filled": True,
                               "fontsize": 12}
    # The edge labels "True" and "False" go beside the children of the box on top.
    for label, child in zip([a for a in drawn["artists"] if a.get_bbox_patch() is None], (left[root], right[root])):
        assert label.get_visible() == (child in place and child != root)
        if label.get_visible():
            box = boxes[child]
            assert (label._x, label._y) == pytest.approx(((box._x + box.xy[0]) / 2, (box._y + box.xy[1]) / 2))
    plt.gcf().canvas.draw()


@pytest.mark.parametrize("tree_depth, depth, figsize, size", [(0, 0, (9, 1), (9, 2)), (1, 3, (12, 5), (12, 1.3))])
def test_figure_width_is_asked_and_height_follows_the_levels_shown(tree_depth, depth, figsize, size):
    draw(tree_result("regressor", tree_depth), 0, depth, figsize=figsize)
    assert tuple(plt.gcf().get_size_inches()) == pytest.approx(size)


def test_get_tree_draws_a_deep_copy_with_display_names(monkeypatch):
    result, seen = tree_result("regressor", 1), []
    kept = copy.deepcopy(result)
    monkeypatch.setattr(InterpretGraph, "plot_tree_diag", staticmethod(lambda *a, **k: seen.append((a, k))))
    api = InterpretAPI(Experiment(result), "tree")
    assert api.get_tree(5, 2, "yes", (3, 4)) is None
    [((record, pipeline, original_scale), kwargs)] = seen
    assert (pipeline, original_scale, kwargs) == (api.pipeline, "yes", {"figsize": (3, 4)})
    assert list(record) == ["key", "model", "input", "value"] and record["key"] == "global_tree"
    assert record["model"] == "tree" and list(record["input"].items()) == [("depth", 2), ("root", 5)]
    value = record["value"]
    assert value is not result and value["tree"] is not result["tree"]
    assert value["feature_names_full"] == FULL and value["feature_names"] == [SHORT[n] for n in FULL]
    assert result["feature_names"] == FULL and list(result) == list(kept)  # the experiment's copy is untouched


@pytest.mark.parametrize("result", [None, object(), ["tree"]])
def test_a_model_without_a_tree_result_is_refused(capsys, result):
    assert InterpretAPI(Experiment(result), "tree").get_tree() is None
    assert InterpretGraph.plot_tree_diag({"value": None}) is None
    assert capsys.readouterr().out == "Not supported\n" * 2 and not plt.get_fignums()


@pytest.mark.parametrize("change, error", [
    ({"children_left": [1, 0, -1], "max_depth": 5}, ValueError),  # a cycle
    ({"children_right": [7, -1, -1]}, IndexError), ({"children_right": [-5, -1, -1]}, IndexError),
    ({"children_left": None}, TypeError), ({"children_right": [2.5, -1, -1]}, TypeError),
    ({"root": 3}, IndexError), ({"root": -1}, IndexError), ({"root": "0"}, TypeError), ({"depth": 0.5}, TypeError),
    ({"max_depth": None}, TypeError), ({"artists": []}, IndexError), ({"artists": [object()]}, AttributeError),
    ({"artists": [Box("0.5", 0.9)]}, TypeError), ({"text": "node #0\nage\nx\ny\nz"}, ValueError),
    ({"text": "node #0\nheight <= 1\nx\ny\nz"}, ValueError), ({"pipeline": None}, AttributeError),
    ({"criterion": KeyError}, KeyError),
])
def test_bad_input_gives_an_exception(monkeypatch, change, error):
    value = {"tree": None, "feature_names": ["age"], "feature_names_full": ["age_full"], "max_depth": 1,
             "children_left": [1, -1, -1], "children_right": [2, -1, -1], "criterion": "gini"}
    value = {k: change.get(k, v) for k, v in value.items() if change.get(k) is not KeyError}
    boxes = change.get("artists", [Box(0.5, 0.9, change.get("text", "node #0\nage <= 1.5\nx\ny\nz")), Box(0.2, 0.5),
                                   Box(0.8, 0.5)])
    monkeypatch.setattr(interpret_api, "plot_tree", lambda *args, **kwargs: boxes)
    record = {"value": value, "input": {"depth": change.get("depth", 3), "root": change.get("root", 0)}}
    with pytest.raises(error):
        InterpretGraph.plot_tree_diag(record, change.get("pipeline", Scaler()), True)


@pytest.mark.parametrize("original_scale", [False, True])
def test_a_fitted_experiment_tree_shows_its_splits_in_model_or_data_units(experiment, original_scale):
    InterpretAPI(experiment, "tree").get_tree(0, 4, original_scale=original_scale)
    dataset = experiment.dataset
    feature_of = {dataset.truncated_columns_dict_10[name]: name for name in dataset.feature_names}
    lines = [t.get_text().split("\n") for t in plt.gca().texts if t.get_bbox_patch() is not None and t.get_visible()]
    splits = [line[1].split(" <= ") for line in lines if " <= " in line[1]]
    assert len(splits) >= 7 and all(line[1 + (" <= " in line[1])].startswith("criterion = ") for line in lines)
    for name, cut in splits:
        feature = feature_of[name]
        if not original_scale:
            assert 0 <= float(cut) <= len(dataset.categories.get(feature, [0, 1]))
        elif feature in dataset.categories:
            assert cut in list(dataset.categories[feature])  # a label, not a code
        else:
            assert dataset.data[feature].min() <= float(cut) <= dataset.data[feature].max()
