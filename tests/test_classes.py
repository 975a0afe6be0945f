"""The two classes as Python sees them: plain classes of native functions with the method table's
names and signatures, the interpreter's argument errors, and the constructor of InterpretAPI."""
import copy
import inspect
import pickle
import weakref

import pytest

from conftest import ExperimentDouble
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph

CLASSES = {"InterpretAPI": InterpretAPI, "InterpretGraph": InterpretGraph}

# Every method of the two classes with its parameters; a method joins the table when it is added.
METHOD_TABLE = {
    "InterpretAPI.__init__": "self, experiment=None, model=''",
    "InterpretAPI.model_interpret": "self, show=None, uni_feature=None, bi_features=None, sample_id=0, "
                                    "return_data=False, root=0, depth=3, centered=True, "
                                    "original_scale=False, figsize=(8, 6)",
    "InterpretAPI.fi": "self, return_data=False, figsize=(8, 6)",
    "InterpretGraph.plot_fi": "interpret_result, max_show=10, figsize=(8, 6)",
    "InterpretAPI.ei": "self, figsize=(8, 6)",
    "InterpretAPI.coef": "self, show_feature='Numeric', figsize=(8, 6)",
    "InterpretAPI.ei_local": "self, idx, original_scale=False, figsize=(8, 6)",
    "InterpretAPI.fi_local": "self, idx, centered=True, return_data=False, original_scale=False, figsize=(8, 6)",
    "InterpretAPI.llm_df": "self",
    "InterpretAPI.llm_violin": "self, figsize=(8, 6)",
    "InterpretGraph.plot_coef": "interpret_result, show_feature=None, max_show=10, figsize=(8, 6)",
    "InterpretGraph.plot_ei": "interpret_result, max_show=10, figsize=(8, 6)",
    "InterpretGraph.plot_ei_local": "interpret_result, max_show=10, figsize=(8, 6)",
    "InterpretGraph.plot_fi_local": "interpret_result, max_show=10, figsize=(8, 6)",
    "InterpretGraph.plot_llm_violin": "interpret_result, max_show=10, figsize=(8, 6)",
    "InterpretAPI.main_effect": "self, feature, original_scale=False, figsize=(8, 6)",
    "InterpretAPI.interaction_effect": "self, feature0, feature1=None, original_scale=False, figsize=(8, 6)",
    "InterpretGraph.plot_main_effect": "interpret_result, figsize=(8, 6)",
    "InterpretGraph.plot_interaction_effect": "interpret_result, figsize=(8, 6)",
    "InterpretAPI.get_tree": "self, root=0, depth=3, original_scale=False, figsize=(20, 10)",
    "InterpretAPI.get_local_tree": "self, idx, original_scale=False, figsize=(20, 10)",
    "InterpretGraph.plot_tree_diag": "interpret_result, pipeline=None, original_scale=False, figsize=(20, 10)",
    "InterpretGraph.plot_local_tree": "interpret_result, pipeline=None, original_scale=False, figsize=(20, 10)",
}
API_METHODS = [qualname.split(".")[1] for qualname in METHOD_TABLE if qualname.startswith("InterpretAPI.")]
GRAPH_FUNCTIONS = [qualname.split(".")[1] for qualname in METHOD_TABLE if qualname.startswith("InterpretGraph.")]


def test_classes_are_plain_and_hold_the_table_methods():
    own = {f"{owner}.{name}" for owner, cls in CLASSES.items() for name in vars(cls)
           if not name.startswith("__") or name == "__init__"}
    assert own == set(METHOD_TABLE)
    for cls in CLASSES.values():
        assert (type(cls), cls.__bases__, cls.__module__) == (type, (object,), "vexo.workflow.interpret_api")


@pytest.mark.parametrize("qualname", METHOD_TABLE)
def test_method_names_and_signature(qualname):
    owner, name = qualname.split(".")
    function = getattr(CLASSES[owner], name)
    namespace = {}
    exec(f"def twin({METHOD_TABLE[qualname]}): pass", namespace)  # what inspect should report
    twin = namespace["twin"]
    expected = inspect.signature(twin)
    assert (function.__name__, function.__qualname__, function.__doc__) == (name, qualname, None)
    assert (function.__module__, function.__defaults__) == ("vexo.workflow.interpret_api", twin.__defaults__)
    assert inspect.signature(function) == expected
    assert str(inspect.signature(function)) == str(expected)  # tells 0 from False


@pytest.mark.parametrize("name", GRAPH_FUNCTIONS)
def test_graph_functions_are_static(name):
    assert isinstance(vars(InterpretGraph)[name], staticmethod)
    assert getattr(InterpretGraph(), name) is getattr(InterpretGraph, name)


@pytest.mark.parametrize("name", API_METHODS)
def test_api_functions_bind_like_python_functions(api, name):
    function = vars(InterpretAPI)[name]
    bound = getattr(api, name)
    assert bound.__self__ is api and bound.__func__ is function
    assert getattr(InterpretAPI, name) is function
    assert list(inspect.signature(bound).parameters) == list(inspect.signature(function).parameters)[1:]
    assert weakref.WeakMethod(bound)() == bound


@pytest.mark.parametrize("qualname", METHOD_TABLE)
def test_functions_copy_pickle_and_weakly_reference_like_python_functions(qualname):
    owner, name = qualname.split(".")
    function = getattr(CLASSES[owner], name)
    assert copy.copy(function) is function and copy.deepcopy({"f": function})["f"] is function
    assert pickle.loads(pickle.dumps(function)) is function
    assert weakref.ref(function)() is function


def test_native_functions_cannot_be_made_from_python():
    with pytest.raises(TypeError, match="cannot create"):
        type(InterpretAPI.fi)()


def python_error(call):
    """What the running interpreter says when `call` fails with a TypeError."""
    try:
        call()
    except TypeError as error:
        return str(error)
    raise AssertionError("no TypeError")


def fi(self, return_data=False, figsize=(8, 6)):
    pass


@pytest.mark.parametrize("call, message", [
    (lambda api: InterpretAPI.fi(return_data=True), "fi() takes at least 1 positional argument (0 given)"),
    (lambda api: api.fi(False, (8, 6), None), "fi() takes at most 3 positional arguments (4 given)"),
    (lambda api: InterpretGraph.plot_fi({}, 10, (8, 6), None),
     "plot_fi() takes at most 3 positional arguments (4 given)"),
    (lambda api: InterpretAPI(experiment=None, colour=1), "__init__() got an unexpected keyword argument 'colour'"),
    (lambda api: api.model_interpret("global_fi", show="global_fi"),
     "model_interpret() got multiple values for argument 'show'"),
    # as for a Python function: the wording depends on the interpreter's version
    (lambda api: InterpretAPI.fi(api, **{1: 2}), python_error(lambda: fi(None, **{1: 2}))),
], ids=["too few", "too many", "too many, static", "unknown keyword", "duplicate", "non-string keyword"])
def test_argument_errors_are_the_interpreters_and_call_nothing(api, experiment_double, plot_calls, call, message):
    with pytest.raises(TypeError) as raised:
        call(api)
    assert str(raised.value) == message
    assert experiment_double.calls == [] and plot_calls == []


def test_constructor_binds_experiment_model_and_pipeline_and_computes_only_missing_results():
    experiment = ExperimentDouble({"m": "GAMINetRegressor", "n": "GAMINetRegressor"}, computed=["m"])
    api = InterpretAPI(experiment, "m")
    assert list(vars(api)) == ["experiment", "model", "pipeline"]
    assert api.experiment is experiment and api.model == "m" and api.pipeline is experiment.registered_pipeline["m"]
    assert experiment.calls == []
    InterpretAPI(experiment, "n")
    InterpretAPI(experiment, model="n")
    assert experiment.calls == [("interpret_single", "n")]


def test_unregistered_model_fails_before_anything_is_computed():
    experiment = ExperimentDouble({"m": "GAMINetRegressor"})
    with pytest.raises(KeyError) as raised:
        InterpretAPI(experiment, "other")
    assert raised.value.args == ("other",)
    assert experiment.calls == []


def test_default_experiment_fails_on_its_pipeline_after_binding_experiment_and_model():
    api = InterpretAPI.__new__(InterpretAPI)
    with pytest.raises(AttributeError, match="registered_pipeline"):
        InterpretAPI.__init__(api)
    assert vars(api) == {"experiment": None, "model": ""}
