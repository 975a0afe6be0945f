"""What plain Python code can do to the module's caches, fast paths and nesting ends in an exception
or in the honest result: never in a crash, a read of freed memory or a silent wrong record.

Each case runs in a fresh interpreter, so that a crash fails its test instead of ending the run, and
so that a raised recursion limit or a replaced __builtins__ does not outlive it. The scripts start
together and print one JSON line each."""
import pytest

from conftest import fresh_interpreters

PRELUDE = """
import gc, json, sys, threading, types
import numpy as np
from vexo.workflow import interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph

class Drawn:
    # PlotHBar double: keeps the keywords of every drawing
    calls = []
    def plot(self, **kwargs):
        Drawn.calls.append(kwargs)

interpret_api.PlotHBar = Drawn
interpret_api.plt.show = lambda *args, **kwargs: None
"""

SCRIPTS = {}

BUILTINS = PRELUDE + """
import builtins
said = []

def builtins_with(tag, first=()):
    namespace = dict(first)
    namespace.update(vars(builtins))
    namespace["print"] = lambda *args: said.append(tag)
    return namespace

refuse = lambda: InterpretGraph.plot_ei_local({"value": None})  # prints "Not supported"
refuse()
"""

# A module's __builtins__ replaced between two calls: by a dictionary, by something that holds no
# builtins, by a module.
SCRIPTS["builtins replaced"] = BUILTINS + """
interpret_api.__builtins__ = builtins_with("replaced")
refuse()
interpret_api.__builtins__ = types.SimpleNamespace
try:
    refuse()
except NameError as e:
    said.append(str(e))
module = types.ModuleType("fake_builtins")
module.__dict__.update(builtins_with("module"))
interpret_api.__builtins__ = module
del module
refuse()
print(json.dumps(said))
"""

# __builtins__ replaced by a key's __eq__ in the middle of the lookup of "print" in the old
# dictionary, which is freed as soon as the lookup lets it go.
SCRIPTS["builtins swapped"] = BUILTINS + """
swap = []

class Swapping:
    # hashed like "print" and met first in its dictionary; compared, it replaces the builtins
    def __hash__(self):
        return hash("print")
    def __eq__(self, other):
        if swap and other == "print":
            swap.pop()
            interpret_api.__builtins__ = builtins_with("new")
        return False

interpret_api.__builtins__ = builtins_with("old", [(Swapping(), None)])
swap.append(True)
refuse()  # the old dictionary's lookup swaps in the new one; nothing else refers to the old
gc.collect()
reuse = [{"filler": i} for i in range(10_000)]  # memory of the freed dictionary, taken again
refuse()
refuse()
print(json.dumps([said[0] in ("old", "new")] + said[1:]))
"""

# Views whose experiment calls a view again, without end, under raised recursion limits: on the main
# thread and on a thread with a smaller stack; afterwards the module works as before.
SCRIPTS["nesting"] = PRELUDE + """
TABLE = {"feature_names": ["a", "b"], "importance": [1.0, 2.0], "title": "t"}

class Experiment:
    registered_pipeline = {"m": types.SimpleNamespace(estimator=None)}
    interpret_result_dict = {"m": None}
    looping = True
    def interpret_fi(self, model):
        return api.fi() if self.looping else dict(TABLE)

class Dispatching(InterpretAPI):
    def fi(self, **kwargs):  # back to the dispatcher, which calls fi again
        return self.model_interpret(show="global_fi", **kwargs)

experiment = Experiment()
api = InterpretAPI(experiment, "m")
cycles = {"experiment": api.fi,
          "dispatch": lambda: Dispatching(experiment, "m").model_interpret(show="global_fi")}

def outcome(run):
    try:
        run()
        return "returned"
    except RecursionError:
        return "RecursionError"

out = {}
for limit in (1_000, 100_000):
    sys.setrecursionlimit(limit)
    for name, run in cycles.items():
        out[f"{name} {limit}"] = outcome(run)
threading.stack_size(4 << 20)
on_thread = []
thread = threading.Thread(target=lambda: on_thread.append(outcome(api.fi)))
thread.start()
thread.join()
out["thread"] = on_thread[0]
experiment.looping = False
out["after"] = api.fi(return_data=True)
print(json.dumps(out))
"""

# ei_local's terms in containers whose len() differs from what iterating them gives, and in one
# without len(); the record must be the one that a plain list of the same terms gives.
SCRIPTS["lying len"] = PRELUDE + """
TERMS = [[0.5], [1.5, 2.5], [3.0]]

class Claiming:
    def __init__(self, claim):
        self.claim = claim
    def __len__(self):
        return self.claim
    def __iter__(self):
        return iter([list(t) for t in TERMS])
    def __getitem__(self, i):
        return list(TERMS[i])

class Pipeline:
    estimator = None
    def transform_to_orignial_scale(self, name, values):
        return values * 10, None

class Experiment:
    registered_pipeline = {"m": Pipeline()}
    interpret_result_dict = {"m": None}
    inter_effect_trunc_dict = {"m": {"b x c": "b x c"}}
    def __init__(self, make):
        self.make = make
    def interpret_local_effect(self, model, sample_index):
        return {"x": ["a", "b x c", "Intercept"], "y": [1.0, 2.0, 3.0], "value": self.make(), "title": "t"}

def drawn(make, original_scale):
    del Drawn.calls[:]
    try:
        InterpretAPI(Experiment(make), "m").ei_local(0, original_scale=original_scale)
    except Exception as e:
        return type(e).__name__
    return [str(v) for v in Drawn.calls[0]["value"]]

makes = {"list": lambda: [list(t) for t in TERMS], "claims more": lambda: Claiming(5),
         "claims fewer": lambda: Claiming(1), "claims none": lambda: Claiming(0),
         "no len": lambda: (list(t) for t in TERMS)}
print(json.dumps({f"{name} {scale}": drawn(make, scale) for name, make in makes.items() for scale in (False, True)}))
"""

# Node ids of the tree views in every kind of container: the buffer of exact arrays, array.array and
# memoryview; item by item for anything else, so a masked entry fails as iterating it does.
SCRIPTS["node ids"] = PRELUDE + """
import array
from sklearn.tree import DecisionTreeRegressor

x = np.arange(40.0).reshape(-1, 1)
tree = DecisionTreeRegressor(max_depth=2).fit(x, (x[:, 0] > 20) + x[:, 0] / 100)
left, right = tree.tree_.children_left, tree.tree_.children_right

class Subclass(np.ndarray):
    pass

def containers(ids):
    ids = list(ids)
    return {"list": ids, "int32": np.array(ids, dtype=np.int32),
            "int8 strided": np.array([i for i in ids for _ in (0, 1)], dtype=np.int8)[::2],
            "big-endian": np.array(ids, dtype=">i8"), "memoryview": memoryview(array.array("l", ids)),
            "subclass": np.array(ids).view(Subclass), "masked, none hidden": np.ma.array(ids),
            "masked": np.ma.array(ids, mask=[i == 1 for i in range(len(ids))])}

def boxes():
    texts = [a for a in interpret_api.plt.gca().texts if a.get_bbox_patch() is not None]
    return [[a.get_visible(), round(float(a._x), 6), round(float(a._y), 6), a.get_text(),
             str(a.get_bbox_patch().get_facecolor())] for a in texts]

def local(field, ids):
    value = {"tree": tree, "feature_names": ["x"], "feature_names_full": ["x"], "node_related": [0, 1, 2, 5],
             "node_other": [1], "node_index": [0, 2], "children_left": left, "children_right": right,
             "criterion": "squared_error"}
    value[field] = ids
    InterpretGraph.plot_local_tree({"value": value}, figsize=(20, 4))
    return boxes()

def whole(field, ids):
    value = {"tree": tree, "feature_names": ["x"], "feature_names_full": ["x"], "max_depth": 2,
             "children_left": left, "children_right": right, "criterion": "squared_error"}
    value[field] = ids
    InterpretGraph.plot_tree_diag({"value": value, "input": {"depth": 1, "root": 0}})
    return boxes()

def outcome(draw, field, ids):
    interpret_api.plt.close("all")
    try:
        return draw(field, ids)
    except Exception as e:
        return type(e).__name__

out = {}
for draw, field, ids in [(local, "node_related", [0, 1, 2, 5]), (local, "node_index", [0, 2, 4]),
                         (local, "node_other", [1, 2]), (whole, "children_left", left),
                         (whole, "children_right", right)]:
    for kind, held in containers(ids).items():
        out[f"{draw.__name__} {field} {kind}"] = outcome(draw, field, held)
print(json.dumps(out))
"""


# every field of the two tree views that holds node ids
NODE_FIELDS = [("local", "node_related"), ("local", "node_index"), ("local", "node_other"),
               ("whole", "children_left"), ("whole", "children_right")]


@pytest.fixture(scope="module")
def fresh(tmp_path_factory):
    yield from fresh_interpreters({name: (script, ()) for name, script in SCRIPTS.items()},
                                  tmp_path_factory.mktemp("faults"))


def test_builtins_replaced_between_or_during_lookups_are_used_next_and_the_freed_ones_never_read(fresh):
    assert fresh("builtins replaced") == ["replaced", "name 'print' is not defined", "module"]
    assert fresh("builtins swapped") == [True, "new", "new"]


def test_a_cycle_of_views_ends_in_recursion_error_at_any_recursion_limit_and_on_threads(fresh):
    out = fresh("nesting")
    assert out.pop("after") == {"feature_names": ["a", "b"], "importance": [1.0, 2.0]}
    assert len(out) == 5 and set(out.values()) == {"RecursionError"}, out


def test_terms_are_counted_by_iterating_them_not_by_their_len(fresh):
    out = fresh("lying len")
    for scale in (False, True):
        honest = out[f"list {scale}"]
        assert isinstance(honest, list) and len(honest) == 3
        assert {name: out[f"{name} {scale}"] for name in ("claims more", "claims fewer", "claims none", "no len")} \
            == dict.fromkeys(("claims more", "claims fewer", "claims none", "no len"), honest)


@pytest.mark.parametrize("view, field", NODE_FIELDS)
def test_node_ids_read_from_any_container_give_the_drawing_of_a_list(fresh, view, field):
    out = fresh("node ids")
    honest = out[f"{view} {field} list"]
    assert isinstance(honest, list) and any(box[0] for box in honest)
    kinds = ["int32", "int8 strided", "big-endian", "memoryview", "subclass", "masked, none hidden"]
    assert {kind: out[f"{view} {field} {kind}"] for kind in kinds} == dict.fromkeys(kinds, honest)
    assert out[f"{view} {field} masked"] == "TypeError"  # a hidden entry fails, as iterating it does
