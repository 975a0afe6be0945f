"""Bad input gives Python exceptions, never a crash; repeated calls leave no references behind."""
import functools
import gc
import sys

import pytest

from conftest import ExperimentDouble
from vexo.workflow import interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph


class Raising:
    """Fails with an exception of its own in any special method used on it; the method named when
    making it is the one that the test means to reach."""

    class Error(Exception):
        pass

    def __init__(self, method):
        self.method = method

    def fail(self, *args):
        raise Raising.Error(self.method)

    __len__ = __lt__ = __bool__ = __eq__ = __getitem__ = __neg__ = fail
    __hash__ = object.__hash__


raises_in = Raising


GOOD = {"feature_names": ["a", "b"], "importance": [1.0, 2.0], "title": "t"}

BAD_RECORDS = {
    "None": (None, TypeError),
    "list": ([], TypeError),
    "int": (42, TypeError),
    "no value": ({"key": "fi"}, KeyError),
    "value None": ({"value": None}, TypeError),
    "value int": ({"value": 42}, TypeError),
    "value str": ({"value": "feature_names"}, TypeError),
    "value list": ({"value": ["feature_names"]}, TypeError),
    "empty value": ({"value": {}}, KeyError),
    "names None": ({"value": dict(GOOD, feature_names=None)}, TypeError),
    "names int": ({"value": dict(GOOD, feature_names=5)}, TypeError),
    "names generator": ({"value": dict(GOOD, feature_names=(n for n in "ab"))}, TypeError),
    "names set": ({"value": dict(GOOD, feature_names={"a", "b"})}, TypeError),
    "names without len": ({"value": dict(GOOD, feature_names=raises_in("__len__"))}, Raising.Error),
    "importance None": ({"value": dict(GOOD, importance=None)}, TypeError),
    "importance int": ({"value": dict(GOOD, importance=3)}, TypeError),
    "no importance": ({"value": {"feature_names": ["a"], "title": "t"}}, KeyError),
    "no title": ({"value": {"feature_names": ["a"], "importance": [1.0]}}, KeyError),
    "record raising": (raises_in("__getitem__"), Raising.Error),
}


@pytest.mark.parametrize("interpret_result, error", BAD_RECORDS.values(), ids=BAD_RECORDS)
def test_bad_record_gives_an_exception(plot_calls, interpret_result, error):
    with pytest.raises(error):
        InterpretGraph.plot_fi(interpret_result)
    assert plot_calls.of("plot") == []


@pytest.mark.parametrize("max_show, error", [
    (None, TypeError),
    ("3", TypeError),
    (1.5, TypeError),
    ([1], TypeError),
    (raises_in("__lt__"), Raising.Error),
])
def test_bad_max_show_gives_an_exception(plot_calls, max_show, error):
    with pytest.raises(error):
        InterpretGraph.plot_fi({"value": GOOD}, max_show=max_show)
    assert plot_calls.of("plot") == []


@pytest.mark.parametrize("answer, error", [(None, TypeError), ([1, 2], TypeError), (7, TypeError),
                                           ({"title": "t"}, KeyError)])
def test_bad_experiment_answer_gives_an_exception(api, experiment_double, plot_calls, monkeypatch, answer, error):
    monkeypatch.setattr(experiment_double, "interpret_fi", lambda model: answer)
    with pytest.raises(error):
        api.fi(return_data=True)


@pytest.mark.parametrize("call, error", [
    (lambda: InterpretAPI.fi(42), AttributeError),
    (lambda: InterpretAPI.fi(None, True), AttributeError),
    (lambda: InterpretAPI.model_interpret(None, "global_fi"), AttributeError),
    (lambda: InterpretAPI.model_interpret(object(), "global_ei"), AttributeError),
    (lambda: InterpretAPI.__init__(42, ExperimentDouble(computed=["model"]), "model"), AttributeError),
    (lambda: InterpretAPI(object(), "model"), AttributeError),
    (lambda: InterpretAPI({"registered_pipeline": {}}, "model"), AttributeError),
    (lambda: InterpretAPI(ExperimentDouble(), ["unhashable"]), TypeError),
])
def test_wrong_objects_give_exceptions(plot_calls, call, error):
    with pytest.raises(error):
        call()


def test_results_without_keys_give_an_exception():
    experiment = ExperimentDouble()
    experiment.interpret_result_dict = ["model"]
    with pytest.raises(AttributeError, match="keys"):
        InterpretAPI(experiment, "model")
    experiment.interpret_result_dict = type("Results", (), {"keys": lambda self: 5})()
    with pytest.raises(TypeError):
        InterpretAPI(experiment, "model")


def test_exceptions_of_argument_truth_and_equality_propagate(api, plot_calls):
    with pytest.raises(Raising.Error):
        api.fi(return_data=raises_in("__bool__"))
    with pytest.raises(Raising.Error):
        api.model_interpret(show=raises_in("__eq__"))
    with pytest.raises(Raising.Error):
        api.model_interpret(show="global_fi", return_data=raises_in("__bool__"))


@pytest.mark.parametrize("name, call", [
    ("PlotHBar", lambda api: api.fi()),
    ("InterpretGraph", lambda api: api.fi()),
])
def test_removed_global_gives_a_name_error(api, monkeypatch, name, call):
    monkeypatch.delattr(interpret_api, name)
    with pytest.raises(NameError, match=f"name '{name}' is not defined"):
        call(api)


def test_view_calling_back_into_the_dispatcher_ends_in_recursion_error(experiment_double):
    class Looping(InterpretAPI):
        def fi(self, **kwargs):
            return self.model_interpret(show="global_fi", **kwargs)

    with pytest.raises(RecursionError):
        Looping(experiment_double, "model").model_interpret(show="global_fi")


def test_native_cycle_ends_in_recursion_error(api):
    # no Python frame in the cycle: partial and the dispatcher are both native
    api.fi = functools.partial(api.model_interpret, "global_fi")
    with pytest.raises(RecursionError):
        api.model_interpret(show="global_fi")


# --- references and memory ------------------------------------------------------------------------

class QuietHBar:
    def plot(self, **kwargs):
        pass


class FailingHBar:
    def plot(self, **kwargs):
        raise ValueError("cannot draw")


class Table(dict):
    """A table that counts its living instances."""

    live = 0

    def __init__(self, **entries):
        super().__init__(**entries)
        Table.live += 1

    def __del__(self):
        Table.live -= 1


class QuietExperiment(ExperimentDouble):
    """Serves the same table without recording, so that repeated calls cost no memory here."""

    def __init__(self, model, value):
        super().__init__({model: "GAMINetRegressor"}, computed=[model])
        self.value = value

    def interpret_fi(self, model):
        return self.value() if callable(self.value) else self.value


MEASURED_CALLS = 10_000


def assert_no_leak(call, watched, calls=1_000):
    """Calls `call` over and over: the reference counts of the watched objects must come back (a
    reference kept per call shows at once), and the number of memory blocks that the interpreter
    holds must stay put over MEASURED_CALLS further calls (an object kept per call adds one each).

    Blocks are counted rather than tracemalloc's traced size: the module makes its attribute names
    afresh at each call, and they rotate through the interpreter's type attribute cache, whose
    entries keep the last name looked up; the traced size creeps up by up to a few hundred
    kilobytes with nothing leaked."""
    call()
    gc.freeze()  # the collections below then scan only what the calls made
    try:
        gc.collect()
        before = [sys.getrefcount(obj) for obj in watched]
        for _ in range(calls):
            call()
        gc.collect()
        assert [sys.getrefcount(obj) for obj in watched] == before
        start = sys.getallocatedblocks()
        for _ in range(MEASURED_CALLS):
            call()
        gc.collect()
        grown = sys.getallocatedblocks() - start
    finally:
        gc.unfreeze()
    assert grown < MEASURED_CALLS // 10, grown


def expecting(error, call):
    def attempt():
        try:
            call()
        except error:
            pass
        else:
            raise AssertionError(f"{error.__name__} expected")
    return attempt


@pytest.fixture
def parts():
    """Objects made for the test alone, so that their reference counts are the test's own."""
    model = "".join(["mo", "del", "-", "leak"])
    names = [f"feature {i}" for i in range(12)]
    importance = [float(i) for i in range(12)]
    title = "".join(["Feature ", "importance"])
    figsize = (float(5), float(3))
    return model, names, importance, title, figsize


@pytest.fixture
def quiet(monkeypatch):
    monkeypatch.setattr(interpret_api, "PlotHBar", QuietHBar)
    monkeypatch.setattr(interpret_api, "print", lambda *args: None, raising=False)


def test_fi_leaves_no_references(parts, quiet):
    model, names, importance, title, figsize = parts
    value = {"feature_names": names, "importance": importance, "title": title}
    experiment = QuietExperiment(model, value)
    api = InterpretAPI(experiment, model)
    assert_no_leak(lambda: api.fi(figsize=figsize), [value, model, names, importance, title, figsize, api],
                   calls=20_000)


@pytest.mark.parametrize("through_dispatcher", [False, True])
def test_returned_tables_are_freed(parts, quiet, through_dispatcher):
    model, names, importance, title, figsize = parts
    def fresh_table():
        return Table(feature_names=names, importance=importance, title=title)

    api = InterpretAPI(QuietExperiment(model, fresh_table), model)
    if through_dispatcher:
        call = lambda: api.model_interpret(show="global_fi", return_data=True, figsize=figsize)  # noqa: E731
    else:
        call = lambda: api.fi(return_data=True, figsize=figsize)  # noqa: E731
    assert_no_leak(call, [model, names, importance, title, figsize, api])
    gc.collect()
    assert Table.live == 0


def test_refusal_leaves_no_references(parts, quiet):
    model, _, _, _, figsize = parts
    experiment = QuietExperiment(model, None)
    experiment.registered_pipeline[model].estimator = type("ReluDNNRegressor", (), {})()
    api = InterpretAPI(experiment, model)
    show = "".join(["global", "_ei"])
    assert_no_leak(lambda: api.model_interpret(show, figsize=figsize), [show, figsize, api])


def test_argument_errors_leave_no_references(parts, quiet):
    model, names, importance, title, figsize = parts
    api = InterpretAPI(QuietExperiment(model, None), model)
    keyword = "".join(["colo", "ur"])
    bad_calls = [
        lambda: InterpretAPI.fi(api, names, figsize, title),
        lambda: api.fi(**{keyword: names}),
        lambda: api.fi(names, return_data=importance),
        lambda: InterpretAPI.fi(api, **{1: names}),
        lambda: InterpretAPI.fi(return_data=names, figsize=figsize),
        lambda: InterpretGraph.plot_fi(max_show=names),
        lambda: InterpretAPI(names, model, title, figsize),
    ]

    def call():
        for bad_call in bad_calls:
            expecting(TypeError, bad_call)()

    assert_no_leak(call, [api, names, importance, title, figsize, keyword])


def test_exception_paths_leave_no_references(parts, quiet):
    model, names, importance, title, figsize = parts
    without_title = {"feature_names": names, "importance": importance}
    api_without_title = InterpretAPI(QuietExperiment(model, without_title), model)
    value = {"feature_names": names, "importance": importance, "title": title}
    api = InterpretAPI(QuietExperiment(model, value), model)
    failing_experiment = QuietExperiment(model, None)
    failing_experiment.interpret_fi = lambda model: 1 / 0
    api_failing = InterpretAPI(failing_experiment, model)
    unregistered = "".join(["un", "registered"])

    def draw_failing():
        interpret_api.PlotHBar = FailingHBar  # the quiet fixture puts the original back
        try:
            api.fi(return_data=True, figsize=figsize)
        finally:
            interpret_api.PlotHBar = QuietHBar

    paths = [
        expecting(KeyError, lambda: api_without_title.fi(return_data=True, figsize=figsize)),
        expecting(ValueError, draw_failing),
        expecting(ZeroDivisionError, lambda: api_failing.model_interpret(show="global_fi", figsize=figsize)),
        expecting(TypeError, lambda: InterpretGraph.plot_fi({"value": dict(value, feature_names=None)})),
        expecting(KeyError, lambda: InterpretAPI(failing_experiment, unregistered)),
    ]

    def call():
        for path in paths:
            path()

    watched = [api, api_without_title, api_failing, value, without_title, model, names, importance, title,
               figsize, unregistered]
    assert_no_leak(call, watched)
    assert value["title"] is title  # the failed draws took nothing from the table


def test_constructor_leaves_no_references(parts):
    model = parts[0]
    experiment = QuietExperiment(model, None)
    pipeline = experiment.registered_pipeline[model]
    assert_no_leak(lambda: InterpretAPI(experiment, model), [experiment, model, pipeline])
