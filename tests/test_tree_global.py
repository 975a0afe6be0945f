"""The global tree: get_tree hands a deep copy of the experiment's tree, with display names, to
plot_tree_diag, which lets scikit-learn draw the tree and moves the boxes of the subtree below `root`
onto the slots of a complete binary tree, hiding all others."""
import contextlib
import copy

import matplotlib.pyplot as plt
import pytest

from tree_doubles import FULL, SHORT, Box, Experiment, Scaler, boxes_of, drawn, tree_result  # noqa: F401 (a fixture)
from vexo.workflow import interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph

MARK = "\n(none-leaf-node)"


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
    """Node id to level-order slot below `root`, and the last level's nodes that have children."""
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
    return pos, [n for n in level if n != -1 and left[n] != right[n]]


def draw(result, root=0, depth=3, **kwargs):
    # With no level below root the figure is 0.3 inches high, too low for matplotlib to lay out.
    low = depth == 0 and result["max_depth"] > 0
    with pytest.warns(UserWarning, match="Tight layout not applied") if low else contextlib.nullcontext():
        InterpretAPI(Experiment(result), "tree").get_tree(root, depth, **kwargs)


@pytest.mark.parametrize("kind, tree_depth, root, depth", [
    ("regressor", 4, 0, 3), ("classifier", 4, 0, 4), ("regressor", 4, 2, 2), ("classifier", 4, 1, 9),
    ("regressor", 4, 0, 0), ("classifier", 1, 0, 3), ("regressor", 0, 0, 3), ("classifier", 12, 3, 12),
])
def test_shown_boxes_sit_on_their_grid_slots_and_the_rest_is_hidden(drawn, kind, tree_depth, root, depth):
    result = tree_result(kind, tree_depth)
    draw(result, root, depth)
    left, right, tree = result["children_left"], result["children_right"], result["tree"].tree_
    (x_mid, y_ini), xs = drawn["start"][0], [x for x, _ in drawn["start"]]
    x_list, y_list, xy_list = grid(x_mid, y_ini, max(xs), plt.gcf().get_size_inches()[1], tree_depth)
    pos, unfinished = slots(left, right, root, min(depth, tree_depth))
    boxes = boxes_of(drawn["artists"])
    assert len(boxes) == len(left) and [b.get_visible() for b in boxes] == [k in pos for k in range(len(boxes))]
    for k, box in enumerate(boxes):
        if k in pos:
            assert (box._x, box._y, tuple(box.xy)) == (x_list[pos[k]], y_list[pos[k]], xy_list[pos[k]])
        assert box._text.endswith(MARK) == (k in unfinished)
        assert result["criterion"] not in box._text and box._text.count("criterion = ") == 1
        if left[k] != -1:  # the split line stays in model units
            assert box._text.split("\n")[1] == "%s <= %s" % (SHORT[FULL[tree.feature[k]]], round(tree.threshold[k], 3))
    assert drawn["kwargs"] == {"feature_names": [SHORT[n] for n in FULL], "node_ids": True, "filled": True,
                               "fontsize": 12}
    # The edge labels "True" and "False" go beside the children of the box on top.
    for label, child in zip([a for a in drawn["artists"] if a.get_bbox_patch() is None], (left[root], right[root])):
        assert label.get_visible() == (child in pos and child != root)
        if label.get_visible():
            box = boxes[child]
            assert (label._x, label._y) == pytest.approx(((box._x + box.xy[0]) / 2, (box._y + box.xy[1]) / 2))


@pytest.mark.parametrize("tree_depth, depth, figsize, size", [
    (4, 3, (20, 10), (20, 6.3)), (4, 0, (20, 10), (20, 0.3)), (4, 7, (20, 10), (20, 8.3)),
    (0, 5, (20, 10), (20, 2)), (0, 0, (9, 1), (9, 2)), (1, 3, (12, 5), (12, 1.3)),
])
def test_figure_height_follows_the_levels_shown(tree_depth, depth, figsize, size):
    draw(tree_result("regressor", tree_depth), 0, depth, figsize=figsize)
    assert tuple(plt.gcf().get_size_inches()) == pytest.approx(size)


@pytest.mark.parametrize("tree_depth, depth", [(22, 22), (23, 22), (23, 30)])
def test_a_deep_chain_is_laid_out_to_every_level_asked(drawn, tree_depth, depth):
    result = tree_result("regressor", tree_depth)
    draw(result, 0, depth)
    boxes, (x_mid, y_ini) = boxes_of(drawn["artists"]), drawn["start"][0]
    x_max, height = max(x for x, _ in drawn["start"]), plt.gcf().get_size_inches()[1]
    shown = min(depth, tree_depth)
    assert height == pytest.approx(10 * shown / 5 + 0.3)
    left, right, node, x = result["children_left"], result["children_right"], 0, x_mid
    for level in range(1, shown + 1):  # each split cuts off the largest sample, a leaf; follow the other
        on_right = right[node] != -1 and left[right[node]] != -1
        node, x = (right if on_right else left)[node], x + (1 if on_right else -1) * x_max / 2 ** (level + 1)
        assert (boxes[node]._x, boxes[node]._y) == (x, y_ini - y_ini * 0.9 * 1.9 / height * level)
    assert boxes[node]._text.endswith(MARK) == (tree_depth > shown)
    assert sum(b.get_visible() for b in boxes) == 1 + 2 * shown
    plt.gcf().canvas.draw()


def test_get_tree_draws_a_deep_copy_with_display_names(monkeypatch):
    result = tree_result("regressor", 1)
    kept = copy.deepcopy(result)
    experiment, seen = Experiment(result), []
    monkeypatch.setattr(InterpretGraph, "plot_tree_diag", staticmethod(lambda *a, **k: seen.append((a, k))))
    api = InterpretAPI(experiment, "tree")
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


def test_split_lines_are_rewritten_into_original_units(drawn):
    result, scaler = tree_result("regressor", 4), Scaler()
    experiment = Experiment(result)
    experiment.registered_pipeline["tree"] = scaler
    InterpretAPI(experiment, "tree").get_tree(0, 2, original_scale=True)
    tree = result["tree"].tree_
    splits = [k for k in range(tree.node_count) if tree.children_left[k] != -1]  # hidden boxes too
    assert scaler.calls == [(FULL[tree.feature[k]], [round(float(tree.threshold[k]), 3)]) for k in splits]
    assert [boxes_of(drawn["artists"])[k]._text.split("\n")[1] for k in splits] == [
        "%s <= %s" % (SHORT[FULL[tree.feature[k]]], round(float(tree.threshold[k]), 3) * 10 + 1) for k in splits]


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
