"""The two classes as Python sees them: native methods, signatures, argument errors, the constructor."""
import copy
import inspect
import pickle
import weakref

import pytest

from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph

CLASSES = {"InterpretAPI": InterpretAPI, "InterpretGraph": InterpretGraph}

# Every method of the two classes by its parameters: those of InterpretAPI take self, the others are
# static; a method joins the table when it is added.
SIGNATURES = {
    "self, experiment=None, model=''": "__init__",
    "self, show=None, uni_feature=None, bi_features=None, sample_id=0, return_data=False, root=0, depth=3, "
    "centered=True, original_scale=False, figsize=(8, 6)": "model_interpret",
    "self, return_data=False, figsize=(8, 6)": "fi",
    "self, figsize=(8, 6)": "ei llm_violin",
    "self": "llm_df",
    "self, show_feature='Numeric', figsize=(8, 6), original_scale=False": "coef",
    "self, idx, original_scale=False, figsize=(8, 6)": "ei_local",
    "self, idx, centered=True, return_data=False, original_scale=False, figsize=(8, 6)": "fi_local",
    "self, feature, original_scale=False, figsize=(8, 6)": "main_effect",
    "self, feature0, feature1=None, original_scale=False, figsize=(8, 6)": "interaction_effect",
    "self, root=0, depth=3, original_scale=False, figsize=(20, 10)": "get_tree",
    "self, idx, original_scale=False, figsize=(20, 10)": "get_local_tree",
    "interpret_result, max_show=10, figsize=(8, 6)": "plot_fi plot_ei plot_ei_local plot_fi_local plot_llm_violin",
    "interpret_result, show_feature=None, max_show=10, figsize=(8, 6)": "plot_coef",
    "interpret_result, figsize=(8, 6)": "plot_main_effect plot_interaction_effect",
    "interpret_result, pipeline=None, original_scale=False, figsize=(20, 10)": "plot_tree_diag plot_local_tree",
}
METHOD_TABLE = {("InterpretAPI." if parameters.startswith("self") else "InterpretGraph.") + name: parameters
                for parameters, names in SIGNATURES.items() for name in names.split()}


def test_classes_are_plain_and_hold_the_table_methods():
    assert {f"{owner}.{name}" for owner, cls in CLASSES.items() for name in vars(cls) if not name.startswith("__")
            or name == "__init__"} == set(METHOD_TABLE) and InterpretGraph.__bases__ == InterpretAPI.__bases__ == (object,)


@pytest.mark.parametrize("qualname", METHOD_TABLE)
def test_method_names_signature_and_binding(api, qualname):
    owner, name = qualname.split(".")
    function, namespace = getattr(CLASSES[owner], name), {}
    exec(f"def twin({METHOD_TABLE[qualname]}): pass", namespace)  # what inspect should report
    twin = namespace["twin"]
    assert (function.__name__, function.__qualname__, function.__doc__, function.__module__, function.__defaults__) \
        == (name, qualname, None, "vexo.workflow.interpret_api", twin.__defaults__)
    assert str(inspect.signature(function)) == str(inspect.signature(twin))  # tells 0 from False
    if owner == "InterpretGraph":  # static: the same function from the class and an instance
        assert isinstance(vars(InterpretGraph)[name], staticmethod) and getattr(InterpretGraph(), name) is function
    elif name != "__init__":  # bound like a Python function
        bound = getattr(api, name)
        assert bound.__self__ is api and bound.__func__ is vars(InterpretAPI)[name] is function
        assert list(inspect.signature(bound).parameters) == list(inspect.signature(function).parameters)[1:]


def test_functions_copy_pickle_and_weakly_reference_like_python_functions(api):
    function = InterpretGraph.plot_fi
    assert copy.deepcopy(function) is pickle.loads(pickle.dumps(function)) is weakref.ref(function)() is function


@pytest.mark.parametrize("call, message", [
    (lambda api: InterpretAPI.fi(return_data=True), "fi() takes at least 1 positional argument (0 given)"),
    (lambda api: api.fi(False, (8, 6), None), "fi() takes at most 3 positional arguments (4 given)"),
    (lambda api: InterpretAPI(experiment=None, colour=1), "__init__() got an unexpected keyword argument 'colour'"),
    (lambda api: api.model_interpret("a", show="a"), "model_interpret() got multiple values for argument 'show'"),
    (lambda api: InterpretAPI.fi(api, **{1: 2}), "keywords must be strings"),  # worded as the interpreter words it
])
def test_argument_errors_call_nothing(api, experiment_double, plot_calls, call, message):
    with pytest.raises(TypeError) as raised:
        call(api)
    assert str(raised.value).endswith(message) and experiment_double.calls == [] and plot_calls == []
