"""Layout time of the global tree diagram: plot_tree_diag on trees of 10^2 to 10^5 nodes, shown to
depths up to 30, against the same steps written in plain Python.

Drawing is replaced by a double: plot_tree hands out ready-made boxes (plain objects with the
attributes that the layout reads and writes) and pyplot's figure, tight_layout and show do nothing.
What is timed is the layout: slots from the box positions, the walk below root, and the rewriting,
moving, hiding and marking of every box; for the shown boxes also their numbers at 4 significant
digits (read from a stand-in for the fitted tree's arrays) and their fill and edge; and the note under
the tree.

    python bench/bench_trees.py
"""
import gc
import random
import time
import types

import numpy as np

import vexo.workflow.interpret_api as interpret_api
from vexo.workflow.interpret_api import InterpretGraph

MAX_DEPTH = 30


def random_tree(n_nodes, max_depth=MAX_DEPTH, seed=0):
    """children_left, children_right of a binary tree with n_nodes (odd) nodes and depth at most
    max_depth, grown by splitting leaves, most often one of the newest (so the tree grows deep)."""
    rng = random.Random(seed)
    left, right, depth = [-1], [-1], [0]
    leaves = [0]
    while len(left) + 2 <= n_nodes:
        pick = len(leaves) - 1 - rng.randrange(min(len(leaves), 4)) if rng.random() < 0.5 else rng.randrange(len(leaves))
        node = leaves[pick]
        if depth[node] >= max_depth:
            leaves.pop(pick)
            continue
        leaves[pick] = leaves[-1]
        leaves.pop()
        for side in (left, right):
            side[node] = len(left)
            left.append(-1)
            right.append(-1)
            depth.append(depth[node] + 1)
            leaves.append(len(left) - 1)
    return left, right, max(depth)


class Patch:
    def set_facecolor(self, colour):
        pass

    set_edgecolor = set_linewidth = set_facecolor


PATCH = Patch()


class Box:
    """Records what the layout does to a box, with its attributes in an instance dictionary like
    matplotlib's annotations."""

    def __init__(self, x, y, text):
        self._x, self._y, self._text, self.xy, self.visible = x, y, text, (x, y), True

    def set_visible(self, visible):
        self.visible = visible

    def get_bbox_patch(self):
        return PATCH


def boxes_for(left):
    inner = "node #%d\nf0 <= 0.5\ngini = 0.5\nsamples = 10\nvalue = [5, 5]"
    leaf = "node #%d\ngini = 0.0\nsamples = 5\nvalue = [5, 0]"
    n = len(left)
    return [Box((k + 0.5) / n, 0.9, (inner if left[k] != -1 else leaf) % k) for k in range(n)]


def fitted_tree(left):
    """What the views read of a fitted classifier: the arrays of tree_."""
    n, rng = len(left), np.random.default_rng(0)
    shares = rng.random(n)
    return types.SimpleNamespace(tree_=types.SimpleNamespace(
        feature=np.zeros(n, dtype=np.intp), threshold=np.full(n, 0.5), impurity=rng.random(n) / 2,
        value=np.stack([shares, 1 - shares], axis=1)[:, None, :], weighted_n_node_samples=np.full(n, 10.0),
        n_classes=np.array([2], dtype=np.intp), n_outputs=1))


def number(x):
    text = "%.4g" % x
    return np.format_float_positional(x, precision=4, unique=False, fractional=False, trim="-") \
        if "e" in text and 1e-4 <= abs(x) < 1e15 else text


def dress(artist, arrays, c, split):
    """The numbers of a shown box at 4 significant digits, its fill by class and its edge."""
    lines = artist._text.split("\n")
    first = 1 + split
    lines[first] = "criterion = " + number(arrays.impurity[c])
    counts = arrays.value[c, 0] * arrays.weighted_n_node_samples[c]
    lines[first + 2] = "value = [%s]" % ", ".join("%d" % round(v) for v in counts)
    artist._text = "\n".join(lines)
    top, other = max(counts), min(counts)
    strength = 0.75 * (top - other) / top
    colour = (221, 132, 82) if counts[0] >= counts[1] else (76, 114, 176)
    patch = artist.get_bbox_patch()
    patch.set_facecolor("#%02x%02x%02x" % tuple(round(255 + (ch - 255) * strength) for ch in colour))
    patch.set_edgecolor("#b0b0b0")
    patch.set_linewidth(0.8)


def plot_tree_diag_python(interpret_result, pipeline=None, original_scale=False, figsize=(20, 10)):
    """The same steps in Python: slots by formula, sets for membership."""
    v = interpret_result["value"]
    if v is None:
        print("Not supported")
        return
    max_depth = v["max_depth"]
    depth = interpret_result["input"]["depth"]
    root = interpret_result["input"]["root"]
    depth = max_depth if max_depth < depth else depth
    figsize = (figsize[0], 2) if max_depth == 0 else (figsize[0], figsize[1] * depth / 5 + 0.3)
    height = figsize[1]
    fake_plt.figure(figsize=figsize)
    artists = fake_plot_tree(v["tree"], feature_names=v["feature_names"], node_ids=True, filled=True, fontsize=12)
    boxes = [a for a in artists if a.get_bbox_patch() is not None]
    x_mid, y_ini = boxes[0]._x, boxes[0]._y
    if y_ini > 1:
        y_ini = 72 * (height - 1)
    x_max = max(b._x for b in boxes)
    left, right = v["children_left"], v["children_right"]
    place = {root: ((x_mid, y_ini), (x_mid, y_ini))}
    level = [root]
    for i in range(1, depth + 1):
        if not level:
            break
        offset = x_max / 2 ** (i + 1)
        y = y_ini - y_ini * 0.9 * 1.9 / height * i
        next_level = []
        for parent in level:
            (px, py), _ = place[parent]
            for child, x in ((left[parent], px - offset), (right[parent], px + offset)):
                if child != -1:
                    place[child] = ((x, y), (px, py))
                    next_level.append(child)
        level = next_level
    unfinished = {n for n in level if left[n] != right[n]}
    criterion, arrays = v["criterion"], v["tree"].tree_
    for c, artist in enumerate(boxes):
        artist._text = artist._text.replace(criterion, "criterion")
        if c not in place:
            artist.set_visible(False)
        else:
            dress(artist, arrays, c, left[c] != -1)
            (artist._x, artist._y), artist.xy = place[c]
        if c in unfinished:
            artist._text = artist._text + "\n(none-leaf-node)"
    fake_plt.gca().text(0, -0.01, "Depth %d shown\ncriterion = %s" % (depth, criterion))
    fake_plt.tight_layout()
    fake_plt.show()


fake_axes = types.SimpleNamespace(text=lambda *args, **kwargs: None, legend=lambda *args, **kwargs: None,
                                  transAxes=None)
fake_plt = types.SimpleNamespace(figure=lambda **kwargs: None, tight_layout=lambda: None, show=lambda: None,
                                 gca=lambda: fake_axes, Rectangle=lambda *args, **kwargs: None)
served = []


def fake_plot_tree(tree, **kwargs):
    return served[0]


def best_of(functions, record, left, repeat):
    """The least time of each function over `repeat` rounds, taking turns (the machine's load
    falls on both alike), each call on fresh boxes."""
    times = [[] for _ in functions]
    for _ in range(repeat + 1):  # the first round warms up, and is dropped
        for function, spent in zip(functions, times):
            served[:] = [boxes_for(left)]
            gc.collect()
            start = time.process_time()  # CPU time: the machine may be busy with other work
            function(record)
            spent.append(time.process_time() - start)
    return [min(spent[1:]) for spent in times]


def main():
    interpret_api.plt = fake_plt
    interpret_api.plot_tree = fake_plot_tree
    print("%8s %9s %6s %7s %10s %10s %7s" % ("nodes", "max depth", "depth", "shown", "C++ ms", "Python ms", "ratio"))
    for n_nodes in (101, 1_001, 10_001, 100_001):
        left, right, max_depth = random_tree(n_nodes)
        left, right = np.array(left), np.array(right)  # as a fitted tree holds them
        for depth in (5, 10, 20, 30):
            value = {"tree": fitted_tree(left), "feature_names": ["f0"], "feature_names_full": ["f0"], "max_depth": max_depth,
                     "children_left": left, "children_right": right, "criterion": "gini"}
            record = {"key": "global_tree", "model": "m", "input": {"depth": depth, "root": 0}, "value": value}
            repeat = 9 if n_nodes < 50_000 else 5
            native, python = best_of((InterpretGraph.plot_tree_diag, plot_tree_diag_python), record, left, repeat)
            shown = sum(b.visible for b in served[0])
            print("%8d %9d %6d %7d %10.3f %10.3f %7.2f" % (
                n_nodes, max_depth, depth, shown, native * 1e3, python * 1e3, python / native))


if __name__ == "__main__":
    main()
