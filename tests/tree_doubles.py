"""Trees and drawing doubles shared by the tree view tests."""
import types

import numpy as np
import pytest
from matplotlib.colors import to_rgb
from sklearn.tree import DecisionTreeClassifier, DecisionTreeRegressor

from vexo.workflow import interpret_api
from vexo.workflow.experiment import explain
from vexo.workflow.plots.bars import number_text as _number

FULL = ["age_in_years_at_entry", "income", "colour"]
SHORT = {"age_in_years_at_entry": "age_in_yea", "income": "income", "colour": "colour"}
MARK = "\n(none-leaf-node)"  # ends the text of a shown box whose children are left out


def fitted(kind, depth):
    """A tree of exactly `depth` levels on three features; deep ones are chains cutting off one heavy sample each."""
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
    """Holds a tree and a local result; its pipeline words a split as "<= " threshold * 10 + 1, recording each."""

    def __init__(self, result, local=None):
        self.converted = []
        pipeline = types.SimpleNamespace(estimator=DecisionTreeRegressor(), split_condition=lambda n, t: (
            self.converted.append((n, t)) or "<= %r" % (t * 10 + 1)))
        self.registered_pipeline, self.interpret_result_dict = {"tree": pipeline}, {"tree": result}
        self.dataset = types.SimpleNamespace(truncated_columns_dict_10=SHORT)
        self.local, self.asked = local, []

    def interpret_local_tree(self, model, idx, /):
        self.asked.append((model, idx))
        return self.local


def value_text(tree, k):
    """A node's value as the boxes print it: the mean, or the class counts, to 4 significant digits."""
    if tree.n_classes[0] == 1:
        return _number(tree.value[k, 0, 0])
    return "[%s]" % ", ".join("%d" % round(c) for c in tree.value[k, 0] * tree.weighted_n_node_samples[k])


def check_texts(boxes, tree, experiment, original_scale, split_line, shown):
    """Shown boxes print their numbers to 4 digits and their split as the pipeline words it; others as plot_tree."""
    splits = [k for k in range(tree.node_count) if tree.children_left[k] != -1]
    for k, box in enumerate(boxes):
        lines = box._text.split("\n")
        assert box._text.count("criterion = ") == 1 and "squared_error" not in box._text and "gini" not in box._text
        if k in shown:
            assert "criterion = " + _number(tree.impurity[k]) in lines and "value = " + value_text(tree, k) in lines
        if k in splits:
            name, t = SHORT[FULL[tree.feature[k]]], float(tree.threshold[k])
            assert lines[split_line] == "%s <= %s" % (name, repr(t * 10 + 1) if original_scale and k in shown
                                                      else round(t, 3))
    assert experiment.converted == [(FULL[tree.feature[k]], tree.threshold[k])
                                    for k in splits if original_scale and k in shown]


class Box:
    """A node box as plot_tree draws it."""

    def __init__(self, x, y, text="samples = 1", xy=None):
        self._x, self._y, self._text, self.xy = x, y, text, xy if xy is not None else (x, y)
        self.patch = types.SimpleNamespace(set_facecolor=lambda colour: None, set_edgecolor=lambda colour: None,
                                           set_linewidth=lambda width: None,
                                           get_window_extent=lambda renderer=None: types.SimpleNamespace(width=0, height=0))
        self.set_visible, self.get_bbox_patch = lambda visible: None, lambda: self.patch
        self.update_bbox_position_size = lambda renderer: None  # a point: never in another's way
        self.get_window_extent = lambda renderer=None: types.SimpleNamespace(y0=0.0)


def notes(axes):
    """The one note under the tree (its lines) and the legend's entries (label, fill)."""
    [note] = [t.get_text() for t in axes.texts if t.get_bbox_patch() is None and t.get_text().strip() not in
              ("True", "False")]
    legend = axes.get_legend()
    entries = [] if legend is None else [(t.get_text(), to_rgb(h.get_facecolor()))
                                         for t, h in zip(legend.get_texts(), legend.legend_handles)]
    return note.split("\n"), entries


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
