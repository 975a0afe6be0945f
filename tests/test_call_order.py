"""The module does what the same Python lines do, in the same order, as recording doubles log it."""
import types

import numpy as np
import pytest

from conftest import estimator_named
from python_views import python_views
from recording import Log, Recorder
from vexo.workflow import interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph

NATIVE = {"init": InterpretAPI.__init__, "plot_fi": InterpretGraph.plot_fi, "fi": InterpretAPI.fi,
          "model_interpret": InterpretAPI.model_interpret}


@pytest.fixture
def both(monkeypatch):
    """run(view, make) -> (module's log, Python's log), each on recorders built afresh by make(log)."""

    def run(name, make):
        logs = []
        for native in (True, False):
            log = Log()
            fakes = {name: log.recorder(name) for name in ("InterpretGraph", "PlotHBar", "print")}
            for global_name, fake in fakes.items():
                monkeypatch.setattr(interpret_api, global_name, fake, raising=False)
            view = NATIVE[name] if native else python_views(**fakes)[name]
            args, kwargs = make(log)
            try:
                result = repr(view(*args, **kwargs))
            except Exception as e:  # the error is part of what is compared
                result = (type(e), e.args)
            logs.append((list(log), result))
        return logs

    return run


@pytest.mark.parametrize("name, make", [
    ("fi", lambda log: ((log.recorder("self"), log.recorder("return_data")), {"figsize": log.recorder("size")})),
    ("fi", lambda log: ((log.recorder("self"),), {})),
    ("plot_fi", lambda log: ((log.recorder("record"),), {"figsize": (4, 3)})),
    ("plot_fi", lambda log: ((log.recorder("record", value=Recorder(log, "value", keys={"feature_names"})),), {})),
    ("plot_fi", lambda log: ((log.recorder("record", value=Recorder(log, "value", keys=set())),), {})),
    ("init", lambda log: ((log.recorder("self"), log.recorder("experiment"), "m"), {})),
    ("init", lambda log: ((log.recorder("self"), log.recorder("experiment", interpret_result_dict={"m": 1}), "m"),
                          {})),
], ids=["fi", "fi defaults", "plot_fi", "missing importance", "missing names", "init", "init computed"])
def test_views_in_pythons_order(both, name, make):
    native, python = both(name, make)
    assert native == python and len(native[0]) >= 3


def dispatcher_cases():
    """Per show value of the module's table: its defaults, each method's arguments, and the arguments
    of all its methods at once (the dispatcher refuses to choose); then a value of no row."""
    for show, reaches in interpret_api.SHOWS:
        named = [arguments for _, arguments in reaches]
        for arguments in [(), *named, *([sum(named, ())] if len(named) > 1 else [])]:
            yield show, tuple(dict.fromkeys([*arguments, "figsize"]))
    yield "nothing", ("figsize",)


@pytest.mark.parametrize("show, arguments", list(dispatcher_cases()), ids=lambda case: "-".join(case) if isinstance(
    case, tuple) else case)
def test_dispatcher_in_pythons_order(both, show, arguments):
    native, python = both("model_interpret", lambda log: (
        (log.recorder("self"), show), {name: log.recorder(name) for name in arguments}))
    assert native == python and (native[0] or show == "nothing")


def test_a_relu_network_is_told_by_the_estimators_exact_class_name_at_each_call(api, monkeypatch, capsys):
    monkeypatch.setattr(type(api), "ei", lambda self, **kwargs: print("ei", kwargs))
    relu = type("ReluDNNRegressor", (), {})
    for estimator, is_relu in [(relu(), True), (estimator_named("ReluDNNClassifier"), True),
                               (estimator_named("ReluDNN"), False), (estimator_named("reludnnclassifier"), False),
                               (type("TunedReluDNN", (relu,), {})(), False)]:
        api.pipeline = types.SimpleNamespace(estimator=estimator)
        api.model_interpret(show="global_ei")
        api.model_interpret(show="llm_pc")
        drawn, refused = "ei {'figsize': (8, 6)}", "Not supported"
        assert capsys.readouterr().out.splitlines() == ([refused, drawn] if is_relu else [drawn, refused])
    with pytest.raises(ValueError, match="truth value of an array"):  # show is compared as Python compares it
        api.model_interpret(show=np.array(["global_fi", "x"]))
