"""Trees and drawing doubles shared by the tree view tests."""
import types

import numpy as np
import pytest
from sklearn.tree import DecisionTreeClassifier, DecisionTreeRegressor

from vexo.workflow import interpret_api
from vexo.workflow.experiment import explain

FULL = ["age_in_years_at_entry", "income", "colour"]
SHORT = {"age_in_years_at_entry": "age_in_yea", "income": "income", "colour": "colour"}
MARK = "\n(none-leaf-node)"  # ends the text of a shown box whose children are left out


def fitted(kind, depth):
    """A scikit-learn tree of exactly `depth` levels on three features. Deep trees are chains:
    each split cuts off the one sample that outweighs all others."""
    regressor = kind == "regressor"
    tree = (DecisionTreeRegressor if regressor else DecisionTreeClassifier)(
        max_depth=depth if 0 < depth <= 4 else None, random_state=0)
    if depth > 4:
        x, weight = np.arange(depth + 1.0)[:, None] * [1, 0, 0], 3.0 ** np.arange(depth + 1)
        tree.fit(x, 10.0 ** np.arange(depth + 1) if regressor else np.arange(depth + 1) % 2, sample_weight=weight)
    else:
        x = np.random.default_rng(depth).normal(size=(400, 3))
        y = x[:, 0] + x[:, 1] ** 2 - x[:, 2] if depth else np.zeros(400)
        tree.fit(x, y if regressor else (y > np.median(y)).astype(int))
    assert tree.get_depth() == depth
    return tree


def tree_result(kind, depth):
    return explain.tree_result(fitted(kind, depth), FULL)


class Experiment:
    """Holds one model's tree result and local result; its pipeline gives original units as model
    units times 10 plus 1 and records what it converts."""

    def __init__(self, result, local=None):
        self.converted = []
        pipeline = types.SimpleNamespace(estimator=DecisionTreeRegressor(), transform_to_orignial_scale=lambda n, v: (
            self.converted.append((n, v.tolist())) or v * 10 + 1, "numeric"))
        self.registered_pipeline, self.interpret_result_dict = {"tree": pipeline}, {"tree": result}
        self.dataset = types.SimpleNamespace(truncated_columns_dict_10=SHORT)
        self.local, self.asked = local, []

    def interpret_local_tree(self, model, idx, /):
        self.asked.append((model, idx))
        return self.local


def check_texts(boxes, tree, experiment, original_scale, split_line):
    """Each box's text names its criterion once and its split, in original units on request, on
    `split_line`; only the splits' thresholds are converted."""
    splits = [k for k in range(tree.node_count) if tree.children_left[k] != -1]
    for k, box in enumerate(boxes):
        assert box._text.count("criterion = ") == 1 and "squared_error" not in box._text and "gini" not in box._text
        if k in splits:
            cut = round(float(tree.threshold[k]), 3)
            assert box._text.split("\n")[split_line] == "%s <= %s" % (SHORT[FULL[tree.feature[k]]],
                                                                      cut * 10 + 1 if original_scale else cut)
    assert experiment.converted == [(FULL[tree.feature[k]], [round(float(tree.threshold[k]), 3)])
                                    for k in splits if original_scale]


class Box:
    """A node box as plot_tree draws it."""

    def __init__(self, x, y, text="samples = 1", xy=None):
        self._x, self._y, self._text, self.xy = x, y, text, xy if xy is not None else (x, y)
        self.patch = types.SimpleNamespace(set_facecolor=lambda colour: None)
        self.set_visible, self.get_bbox_patch = lambda visible: None, lambda: self.patch


def boxes_of(artists):
    return [a for a in artists if a.get_bbox_patch() is not None]


@pytest.fixture
def drawn(monkeypatch):
    """The real plot_tree, watched: its artists, its keywords and where it put the boxes."""
    seen, real = {}, interpret_api.plot_tree

    def spy(*args, **kwargs):
        artists = real(*args, **kwargs)
        seen.update(artists=artists, kwargs=kwargs, start=[(b._x, b._y) for b in boxes_of(artists)])
        return artists

    monkeypatch.setattr(interpret_api, "plot_tree", spy)
    return seen
