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
    rng = np.random.default_rng(depth)
    tree = (DecisionTreeRegressor if kind == "regressor" else DecisionTreeClassifier)(
        max_depth=depth if 0 < depth <= 4 else None, random_state=0)
    if depth > 4:
        x = np.column_stack([np.arange(depth + 1.0), np.zeros(depth + 1), np.zeros(depth + 1)])
        if kind == "regressor":
            tree.fit(x, 10.0 ** np.arange(depth + 1))
        else:
            tree.fit(x, np.arange(depth + 1) % 2, sample_weight=3.0 ** np.arange(depth + 1))
    else:
        x = rng.normal(size=(400, 3))
        y = x[:, 0] + x[:, 1] ** 2 - x[:, 2] if depth else np.ones(400)
        tree.fit(x, y if kind == "regressor" else (y > np.median(y)).astype(int) if depth else np.zeros(400))
    assert tree.get_depth() == depth
    return tree


def tree_result(kind, depth):
    return explain.tree_result(fitted(kind, depth), FULL)


class Experiment:
    """Holds one model's tree result, or whatever it is given as the result."""

    def __init__(self, result, local=None):
        self.registered_pipeline = {"tree": types.SimpleNamespace(estimator=DecisionTreeRegressor())}
        self.interpret_result_dict = {"tree": result}
        self.dataset = types.SimpleNamespace(truncated_columns_dict_10=SHORT)
        self.local = local
        self.asked = []

    def interpret_local_tree(self, model, idx, /):
        self.asked.append((model, idx))
        return self.local


class Scaler:
    """A pipeline double: original units are model units times 10 plus 1; records its calls."""

    def __init__(self):
        self.calls = []

    def transform_to_orignial_scale(self, name, values):
        self.calls.append((name, values.tolist()))
        return values * 10 + 1, "numeric"


class Box:
    """A node box as plot_tree draws it."""

    def __init__(self, x, y, text="samples = 1", xy=None):
        self._x, self._y, self._text, self.xy = x, y, text, xy if xy is not None else (x, y)
        self.patch = types.SimpleNamespace(set_facecolor=lambda colour: None)

    def set_visible(self, visible):
        self.visible = visible

    def get_bbox_patch(self):
        return self.patch


def boxes_of(artists):
    return [a for a in artists if a.get_bbox_patch() is not None]


@pytest.fixture
def drawn(monkeypatch):
    """The real plot_tree, watched: its artists, its keywords and where it put the boxes."""
    seen = {}

    def spy(*args, **kwargs):
        artists = real(*args, **kwargs)
        seen.update(artists=artists, kwargs=kwargs, start=[(b._x, b._y) for b in boxes_of(artists)])
        return artists

    real = interpret_api.plot_tree
    monkeypatch.setattr(interpret_api, "plot_tree", spy)
    return seen

