"""The two classes as Python sees them: plain classes of native functions with the method table's
names and signatures, the interpreter's argument errors, and the constructor of InterpretAPI."""
import copy
import inspect
import pickle
import weakref

import pytest

from conftest import ExperimentDouble
from vexo.workflow import interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph

CLASSES = {"InterpretAPI": InterpretAPI, "InterpretGraph": InterpretGraph}

# Every method of the two classes with its parameters. Methods that do not exist yet are left out
# of the checks below, so that each joins them when it is added.
METHOD_TABLE = {
    "InterpretAPI.__init__": "self, experiment=None, model=''",
    "InterpretAPI.model_interpret": "self, show=None, uni_feature=None, bi_features=None, sample_id=0, "
                                    "return_data=False, root=0, depth=3, centered=True, "
                                    "original_scale=False, figsize=(8, 6)",
    "InterpretAPI.fi": "self, return_data=False, figsize=(8, 6)",
    "InterpretAPI.ei": "self, figsize=(8, 6)",
    "InterpretAPI.coef": "self, show_feature='Numeric', figsize=(8, 6)",
    "InterpretAPI.main_effect": "self, feature, original_scale=False, figsize=(8, 6)",
    "InterpretAPI.interaction_effect": "self, feature0, feature1=None, original_scale=False, figsize=(8, 6)",
    "InterpretAPI.ei_local": "self, idx, original_scale=False, figsize=(8, 6)",
    "InterpretAPI.fi_local": "self, idx, centered=True, return_data=False, original_scale=False, figsize=(8, 6)",
    "InterpretAPI.get_tree": "self, root=0, depth=3, original_scale=False, figsize=(20, 10)",
    "InterpretAPI.get_local_tree": "self, idx, original_scale=False, figsize=(20, 10)",
    "InterpretAPI.llm_df": "self",
    "InterpretAPI.llm_violin": "self, figsize=(8, 6)",
    "InterpretGraph.plot_fi": "interpret_result, max_show=10, figsize=(8, 6)",
    "InterpretGraph.plot_coef": "interpret_result, show_feature=None, max_show=10, figsize=(8, 6)",
    "InterpretGraph.plot_ei": "interpret_result, max_show=10, figsize=(8, 6)",
    "InterpretGraph.plot_tree_diag": "interpret_result, pipeline=None, original_scale=False, figsize=(20, 10)",
    "InterpretGraph.plot_local_tree": "interpret_result, pipeline=None, original_scale=False, figsize=(20, 10)",
    "InterpretGraph.plot_main_effect": "interpret_result, figsize=(8, 6)",
    "InterpretGraph.plot_interaction_effect": "interpret_result, figsize=(8, 6)",
    "InterpretGraph.plot_ei_local": "interpret_result, max_show=10, figsize=(8, 6)",
    "InterpretGraph.plot_fi_local": "interpret_result, max_show=10, figsize=(8, 6)",
    "InterpretGraph.plot_llm_violin": "interpret_result, max_show=10, figsize=(8, 6)",
}
REQUIRED_NOW = ["InterpretAPI.__init__", "InterpretAPI.model_interpret", "InterpretAPI.fi",
                "InterpretGraph.plot_fi"]


def lookup(qualname):
    owner, name = qualname.split(".")
    return CLASSES[owner], name


def present(qualname):
    cls, name = lookup(qualname)
    return name in vars(cls)


PRESENT = [qualname for qualname in METHOD_TABLE if present(qualname)]


def python_twin(parameters):
    """The Python function with the same parameters: what inspect should report of the method."""
    namespace = {}
    exec(f"def twin({parameters}): pass", namespace)
    return namespace["twin"]


@pytest.mark.parametrize("cls", CLASSES.values(), ids=CLASSES)
def test_classes_are_plain(cls):
    assert type(cls) is type
    assert cls.__bases__ == (object,)
    assert cls.__module__ == "vexo.workflow.interpret_api"
    assert cls.__qualname__ == cls.__name__
    assert type("Sub", (cls,), {}).__mro__[1] is cls


def test_table_methods_exist():
    assert set(REQUIRED_NOW) <= set(PRESENT)
    own = {f"{owner}.{name}" for owner, cls in CLASSES.items() for name in vars(cls) if not name.startswith("__")}
    assert own <= set(METHOD_TABLE)


@pytest.mark.parametrize("qualname", PRESENT)
def test_method_names_and_signature(qualname):
    cls, name = lookup(qualname)
    function = getattr(cls, name)
    twin = python_twin(METHOD_TABLE[qualname])
    assert type(function).__name__ == "native_function"
    assert function.__name__ == name
    assert function.__qualname__ == qualname
    assert function.__module__ == "vexo.workflow.interpret_api"
    assert function.__doc__ is None
    assert function.__text_signature__ == f"({METHOD_TABLE[qualname]})"
    assert function.__defaults__ == twin.__defaults__
    signature = inspect.signature(function)
    assert signature == inspect.signature(twin)
    assert str(signature) == str(inspect.signature(twin))
    assert {p.kind for p in signature.parameters.values()} == {inspect.Parameter.POSITIONAL_OR_KEYWORD}


@pytest.mark.parametrize("qualname", [q for q in PRESENT if q.startswith("InterpretGraph.")])
def test_graph_functions_are_static(qualname):
    cls, name = lookup(qualname)
    assert isinstance(vars(cls)[name], staticmethod)
    assert getattr(cls(), name) is getattr(cls, name)


@pytest.mark.parametrize("qualname", [q for q in PRESENT if q.startswith("InterpretAPI.")])
def test_api_functions_bind_like_python_functions(api, qualname):
    _, name = lookup(qualname)
    function = vars(InterpretAPI)[name]
    bound = getattr(api, name)
    assert bound.__self__ is api and bound.__func__ is function
    assert getattr(InterpretAPI, name) is function
    assert function.__get__(None, InterpretAPI) is function
    assert list(inspect.signature(bound).parameters) == list(inspect.signature(function).parameters)[1:]


def test_native_functions_cannot_be_made_from_python():
    with pytest.raises(TypeError, match="cannot create"):
        type(InterpretAPI.fi)()


@pytest.mark.parametrize("qualname", PRESENT)
def test_functions_copy_pickle_and_weakly_reference_like_python_functions(qualname):
    cls, name = lookup(qualname)
    function = getattr(cls, name)
    assert copy.copy(function) is function
    assert copy.deepcopy({"f": function})["f"] is function
    assert pickle.loads(pickle.dumps(function)) is function
    ref = weakref.ref(function)
    assert ref() is function


def test_bound_methods_survive_weak_references(api):
    method = weakref.WeakMethod(api.fi)
    assert method() == api.fi


# --- argument errors ----------------------------------------------------------------------------

ARGUMENT_ERRORS = {
    "no self": (lambda api: InterpretAPI.fi(), "fi() takes at least 1 positional argument (0 given)"),
    "keywords, no self": (lambda api: InterpretAPI.fi(return_data=True, figsize=(1, 2)),
                          "fi() takes at least 1 positional argument (0 given)"),
    "too many": (lambda api: InterpretAPI.fi(api, False, (8, 6), None),
                 "fi() takes at most 3 positional arguments (4 given)"),
    "too many, bound": (lambda api: api.fi(False, (8, 6), None),
                        "fi() takes at most 3 positional arguments (4 given)"),
    "unknown keyword": (lambda api: api.fi(x=1), "fi() got an unexpected keyword argument 'x'"),
    "duplicate": (lambda api: api.fi(True, return_data=True),
                  "fi() got multiple values for argument 'return_data'"),
    "duplicate self": (lambda api: InterpretAPI.fi(api, self=api), "fi() got multiple values for argument 'self'"),
    "non-string keyword": (lambda api: InterpretAPI.fi(api, **{1: 2}), "fi() keywords must be strings"),
    "non-string keyword, bound": (lambda api: api.fi(**{1: 2}), "keywords must be strings"),
    "no record": (lambda api: InterpretGraph.plot_fi(max_show=3),
                  "plot_fi() takes at least 1 positional argument (0 given)"),
    "too many, static": (lambda api: InterpretGraph.plot_fi({}, 10, (8, 6), None),
                         "plot_fi() takes at most 3 positional arguments (4 given)"),
    "constructor, too many": (lambda api: InterpretAPI(1, 2, 3),
                              "__init__() takes at most 3 positional arguments (4 given)"),
    "constructor, unknown keyword": (lambda api: InterpretAPI(experiment=None, colour=1),
                                     "__init__() got an unexpected keyword argument 'colour'"),
    "dispatcher, too many": (lambda api: api.model_interpret(*range(11)),
                             "model_interpret() takes at most 11 positional arguments (12 given)"),
    "dispatcher, duplicate": (lambda api: api.model_interpret("global_fi", show="global_fi"),
                              "model_interpret() got multiple values for argument 'show'"),
}


@pytest.mark.parametrize("call, message", ARGUMENT_ERRORS.values(), ids=ARGUMENT_ERRORS)
def test_argument_errors_are_the_interpreters_and_call_nothing(api, experiment_double, plot_calls, call, message):
    with pytest.raises(TypeError) as raised:
        call(api)
    assert str(raised.value) == message
    assert experiment_double.calls == [] and plot_calls == []


def count_message(name, how, bound, given):
    return f"{name}() takes {how} {bound} positional argument{'' if bound == 1 else 's'} ({given} given)"


@pytest.mark.parametrize("qualname", PRESENT)
def test_positional_count_errors_follow_the_signature(qualname):
    cls, name = lookup(qualname)
    function = vars(cls)[name].__func__ if isinstance(vars(cls)[name], staticmethod) else vars(cls)[name]
    parameters = inspect.signature(function).parameters.values()
    total = len(parameters)
    required = sum(p.default is inspect.Parameter.empty for p in parameters)
    all_required = required == total
    with pytest.raises(TypeError) as too_few:
        function()
    assert str(too_few.value) == count_message(name, "exactly" if all_required else "at least", required, 0)
    with pytest.raises(TypeError) as too_many:
        function(*range(total + 1))
    assert str(too_many.value) == count_message(name, "exactly" if all_required else "at most", total, total + 1)
    if required > 1:
        # the count given is the position of the first missing parameter
        with pytest.raises(TypeError) as missing_last:
            function(*range(required - 1))
        assert str(missing_last.value) == count_message(name, "at least" if not all_required else "exactly",
                                                        required, required - 1)


# --- the constructor ----------------------------------------------------------------------------

def test_constructor_binds_experiment_model_and_pipeline():
    experiment = ExperimentDouble({"m": "GAMINetRegressor"}, computed=["m"])
    api = InterpretAPI(experiment, "m")
    assert list(vars(api)) == ["experiment", "model", "pipeline"]
    assert api.experiment is experiment
    assert api.model == "m"
    assert api.pipeline is experiment.registered_pipeline["m"]


def test_constructor_computes_missing_results_once():
    experiment = ExperimentDouble({"m": "GAMINetRegressor"})
    InterpretAPI(experiment, "m")
    InterpretAPI(experiment, model="m")
    assert experiment.calls == [("interpret_single", ("m",), {})]


def test_constructor_leaves_computed_results_alone():
    experiment = ExperimentDouble({"m": "GAMINetRegressor", "n": "X"}, computed=["m"])
    InterpretAPI(experiment, "m")
    assert experiment.calls == []


def test_unregistered_model_fails_before_anything_is_computed():
    experiment = ExperimentDouble({"m": "GAMINetRegressor"})
    with pytest.raises(KeyError) as raised:
        InterpretAPI(experiment, "other")
    assert raised.value.args == ("other",)
    assert experiment.calls == []


def test_default_model_is_the_empty_string():
    experiment = ExperimentDouble({"": "GAMINetRegressor"})
    api = InterpretAPI(experiment)
    assert api.model == "" and api.pipeline is experiment.registered_pipeline[""]


def test_default_experiment_fails_on_its_pipeline_after_binding_experiment_and_model():
    with pytest.raises(AttributeError, match="registered_pipeline"):
        InterpretAPI()
    api = InterpretAPI.__new__(InterpretAPI)
    with pytest.raises(AttributeError, match="registered_pipeline"):
        InterpretAPI.__init__(api)
    assert vars(api) == {"experiment": None, "model": ""}


def test_constructor_reads_the_pipeline_from_its_argument_and_the_model_from_the_object():
    given = ExperimentDouble({"m": "GAMINetRegressor", "m (stored)": "GAMIRegressor"})
    stored = ExperimentDouble({"m": "GAMINetRegressor"})

    class Storing(InterpretAPI):
        def __setattr__(self, name, value):
            substitutes = {"experiment": stored, "model": f"{value} (stored)"}
            super().__setattr__(name, substitutes.get(name, value))

    api = Storing(given, "m")
    assert api.pipeline is given.registered_pipeline["m (stored)"]
    assert given.calls == []
    assert stored.calls == [("interpret_single", ("m (stored)",), {})]


def test_subclass_objects_are_api_objects(experiment_double, plot_calls):
    class Mine(InterpretAPI):
        pass

    mine = Mine(experiment_double, "model")
    assert list(vars(mine)) == ["experiment", "model", "pipeline"]
    mine.fi()
    assert len(plot_calls.of("plot")) == 1


def test_methods_are_replaceable_on_the_class(api, monkeypatch):
    seen = []
    monkeypatch.setattr(InterpretAPI, "fi", lambda self, **kwargs: seen.append((self, kwargs)) or "table")
    assert api.model_interpret(show="global_fi", return_data=True) == "table"
    assert seen == [(api, {"return_data": True, "figsize": (8, 6)})]


def test_graph_is_looked_up_in_the_module_at_each_call(api, monkeypatch):
    seen = []

    class Graph:
        @staticmethod
        def plot_fi(record, **kwargs):
            seen.append((record["key"], kwargs))

    monkeypatch.setattr(interpret_api, "InterpretGraph", Graph)
    api.fi(figsize=(1, 2))
    assert seen == [("fi", {"figsize": (1, 2)})]
