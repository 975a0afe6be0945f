"""What plain Python can do to the module's caches and nesting ends in an exception, never a crash."""
import pytest

from conftest import fresh_interpreters

PRELUDE = """
import array, builtins, gc, json, sys, threading, types
import numpy as np
from vexo.workflow import interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph
drawn = []
interpret_api.PlotHBar = type("Drawn", (), {"plot": lambda self, **kwargs: drawn.append(kwargs)})
interpret_api.plt.show = lambda *args, **kwargs: None

def outcome(run):
    try:
        return run()
    except Exception as e:
        return type(e).__name__
"""

SCRIPTS = {
    # __builtins__ replaced by a key's __eq__ in the middle of the lookup of "print" in the old
    # dictionary, which is freed as soon as the lookup lets it go.
    "builtins": PRELUDE + """
said = []
def builtins_with(tag, first=()):
    namespace = dict(first)
    namespace.update(vars(builtins), print=lambda *args: said.append(tag))
    return namespace

class Swapping:  # hashed like "print" and met first in its dictionary; compared, it swaps the builtins
    def __hash__(self):
        return hash("print")
    def __eq__(self, other):
        if other == "print" and interpret_api.__builtins__.get("swap"):
            interpret_api.__builtins__ = builtins_with("new")
        return False

refuse = lambda: InterpretGraph.plot_ei_local({"value": None})  # prints "Not supported"
refuse()
interpret_api.__builtins__ = builtins_with("old", [(Swapping(), None), ("swap", True)])
refuse()
gc.collect()
reuse = [{"filler": i} for i in range(10_000)]  # memory of the freed dictionary, taken again
refuse()
refuse()
print(json.dumps(said))
""",
    # A builtin replaced in place between two calls (the namespace unchanged), shadowed by a
    # global that is then deleted, and looked up in a module set as __builtins__.
    "builtin replaced": PRELUDE + """
import contextlib, io
said, real = [], builtins.print
tagged = lambda tag: lambda *args: said.append(tag)
def refuse():
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        InterpretGraph.plot_ei_local({"value": None})  # prints "Not supported"
    said.extend(out.getvalue().split())
refuse()
for change in [lambda: setattr(builtins, "print", tagged("a")), lambda: setattr(builtins, "print", tagged("b")),
               lambda: setattr(interpret_api, "print", tagged("global")), lambda: delattr(interpret_api, "print"),
               lambda: setattr(builtins, "print", real), lambda: setattr(interpret_api, "__builtins__", builtins),
               lambda: setattr(builtins, "print", tagged("module"))]:
    change()
    refuse()
builtins.print = real
print(json.dumps(said))
""",
    # A view whose experiment calls it again, directly or through the dispatcher, under raised
    # recursion limits and on a thread with a smaller stack; afterwards the module works as before.
    "nesting": PRELUDE + """
class Experiment:
    registered_pipeline, interpret_result_dict, looping = {"m": types.SimpleNamespace(estimator=None)}, {"m": 0}, True
    def interpret_fi(self, model):
        return api.fi() if self.looping else {"feature_names": ["a"], "importance": [1.0], "title": "t"}

class Dispatching(InterpretAPI):
    def fi(self, **kwargs):
        return self.model_interpret(show="global_fi", **kwargs)

experiment = Experiment()
api = InterpretAPI(experiment, "m")
out = []
for limit in (1_000, 100_000):
    sys.setrecursionlimit(limit)
    out += [outcome(api.fi), outcome(lambda: Dispatching(experiment, "m").model_interpret(show="global_fi"))]
def on_thread(stack, run):
    threading.stack_size(stack)
    thread = threading.Thread(target=lambda: out.append(outcome(run)))
    thread.start()
    thread.join()

# threads with less stack than the bound that suits the main thread, at the default limit and above
for limit in (1_000, 100_000):
    sys.setrecursionlimit(limit)
    for stack in (256 << 10, 512 << 10, 4 << 20):
        on_thread(stack, api.fi)
experiment.looping = False
on_thread(256 << 10, lambda: api.fi(return_data=True))
print(json.dumps(out + [api.fi(return_data=True)]))
""",
    # ei_local's terms in containers whose len() differs from what iterating them gives, and in one
    # without len(): each must give the record of a plain list of the same terms.
    "lying len": PRELUDE + """
TERMS = [[0.5], [1.5, 2.5], [3.0]]
Claiming = type("Claiming", (), {"__init__": lambda self, n: setattr(self, "n", n), "__len__": lambda self: self.n,
                                 "__iter__": lambda self: iter(TERMS), "__getitem__": lambda self, i: TERMS[i]})
Pipeline = type("Pipeline", (), {"estimator": None, "transform_to_orignial_scale": lambda self, n, v: (v * 10, 0)})

class Experiment:
    registered_pipeline, interpret_result_dict = {"m": Pipeline()}, {"m": None}
    inter_effect_trunc_dict = {"m": {"b x c": "b x c"}}
    def interpret_local_effect(self, model, sample_index):
        return {"x": ["a", "b x c", "Intercept"], "y": [1.0, 2.0, 3.0], "value": self.make(), "title": "t"}

def draw(make, original_scale):
    drawn.clear()
    Experiment.make = staticmethod(make)
    InterpretAPI(Experiment(), "m").ei_local(0, original_scale=original_scale)
    return [str(v) for v in drawn[0]["value"]]

print(json.dumps([[outcome(lambda: draw(make, scale)) for make in (
    lambda: [list(t) for t in TERMS], lambda: Claiming(5), lambda: Claiming(1), lambda: Claiming(0),
    lambda: (list(t) for t in TERMS))] for scale in (False, True)]))
""",
    # Node ids of the tree views in every kind of container: the buffer of exact arrays, array.array
    # and memoryview; item by item for anything else, so a masked entry fails as iterating it does.
    "node ids": PRELUDE + """
from sklearn.tree import DecisionTreeRegressor

x = np.arange(40.0).reshape(-1, 1)
tree = DecisionTreeRegressor(max_depth=2).fit(x, (x[:, 0] > 20) + x[:, 0] / 100)
TREE = {"tree": tree, "feature_names": ["x"], "feature_names_full": ["x"], "criterion": "squared_error",
        "children_left": tree.tree_.children_left, "children_right": tree.tree_.children_right}
LOCAL = dict(TREE, node_related=[0, 1, 2, 5], node_other=[1], node_index=[0, 2])

def containers(ids):
    return [ids, np.array(ids, dtype=np.int32), np.array([i for i in ids for _ in (0, 1)], dtype=np.int8)[::2],
            np.array(ids, dtype=">i8"), memoryview(array.array("l", ids)),
            np.array(ids).view(type("Subclass", (np.ndarray,), {})), np.ma.array(ids),
            np.ma.array(ids, mask=[i == 1 for i in range(len(ids))])]

def draw(field, ids):
    interpret_api.plt.close("all")
    if field.startswith("node"):
        InterpretGraph.plot_local_tree({"value": dict(LOCAL, **{field: ids})}, figsize=(20, 4))
    else:
        InterpretGraph.plot_tree_diag({"value": dict(TREE, max_depth=2, **{field: ids}),
                                       "input": {"depth": 1, "root": 0}})
    return [[a.get_visible(), round(float(a._x), 6), round(float(a._y), 6), a.get_text(),
             str(a.get_bbox_patch().get_facecolor())] for a in interpret_api.plt.gca().texts if a.get_bbox_patch()]

print(json.dumps({field: [outcome(lambda: draw(field, held)) for held in containers(list(ids))] for field, ids in [
    ("node_related", [0, 1, 2, 5]), ("node_index", [0, 2, 4]), ("node_other", [1, 2]),
    ("children_left", TREE["children_left"]), ("children_right", TREE["children_right"])]}))
""",
}


# A fresh interpreter per script: a crash fails its test, and a raised limit or replaced builtins dies with it.
@pytest.fixture(scope="module")
def fresh(tmp_path_factory):
    yield from fresh_interpreters(SCRIPTS, tmp_path_factory.mktemp("faults"))


def test_builtins_replaced_during_a_lookup_or_between_calls_are_used_next_and_the_freed_ones_never_read(fresh):
    said = fresh("builtins")
    assert said[0] in ("old", "new") and said[1:] == ["new", "new"]


def test_a_builtin_replaced_in_place_or_shadowed_is_the_one_used_next(fresh):
    assert fresh("builtin replaced") == ["Not", "supported", "a", "b", "global", "b", "Not", "supported",
                                         "Not", "supported", "module"]


def test_a_cycle_of_views_ends_in_recursion_error_at_any_recursion_limit_and_on_threads(fresh):
    assert fresh("nesting") == ["RecursionError"] * 10 + [{"feature_names": ["a"], "importance": [1.0]}] * 2


def test_terms_are_counted_by_iterating_them_not_by_their_len(fresh):
    for honest, *rest in fresh("lying len"):
        assert isinstance(honest, list) and len(honest) == 3 and rest == [honest] * 4


def test_node_ids_read_from_any_container_give_the_drawing_of_a_list(fresh):
    for field, (honest, *rest, masked) in fresh("node ids").items():
        assert isinstance(honest, list) and any(box[0] for box in honest), field
        assert rest == [honest] * 6 and masked == "TypeError", field  # a hidden entry fails, as iterating does
