"""Bad input gives Python exceptions, never a crash; repeated calls leave no references behind."""
import contextlib
import gc
import sys

import pytest

from conftest import ExperimentDouble
from vexo.workflow import interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph


class Boom(Exception):
    pass


def raising(method):
    def fail(*args):
        raise Boom(method)
    return type("Raising", (), {method: fail})()


GOOD = {"feature_names": ["a", "b"], "importance": [1.0, 2.0], "title": "t"}


@pytest.mark.parametrize("call, drawn", [
    (lambda api: InterpretGraph.plot_fi({"value": dict(GOOD, feature_names=raising("__len__"))}), 0),
    (lambda api: InterpretGraph.plot_fi({"value": GOOD}, raising("__lt__")), 0),
    (lambda api: api.fi(return_data=raising("__bool__")), 1),  # asked after the drawing
    (lambda api: api.model_interpret(show=raising("__eq__")), 0),
], ids=["len", "comparison", "truth", "equality"])
def test_an_exception_of_an_argument_passes_through(api, plot_calls, call, drawn):
    with pytest.raises(Boom):
        call(api)
    assert len(plot_calls.of("plot")) == drawn


def test_fi_and_its_failures_leave_no_references(monkeypatch):
    monkeypatch.setattr(interpret_api, "PlotHBar", type("Quiet", (), {"plot": lambda self, X, height, title, figsize: (
        figsize or int("cannot draw"))}))
    # Objects made for the test alone, so that their reference counts are the test's own.
    good, failing, keyword = ("".join([name, "!"]) for name in ["good", "failing", "colour"])
    names, title, figsize = list("abcdefghijkl"), "".join("Title"), (5., 3.)
    value = {"feature_names": names, "importance": names, "title": title}
    answers = {good: lambda: dict(value), failing: lambda: 1 / 0}
    experiment = ExperimentDouble(dict.fromkeys(answers, "GAMINetRegressor"), computed=answers)
    experiment.interpret_fi = lambda model, /: answers[model]()  # a fresh table per call
    api, api_failing = (InterpretAPI(experiment, model) for model in answers)
    paths = [(None, lambda: api.model_interpret("global_fi", return_data=True, figsize=figsize)),
             (KeyError, lambda: InterpretAPI(experiment, keyword)), (TypeError, lambda: api.fi(**{keyword: names})),
             (ZeroDivisionError, lambda: api_failing.model_interpret("global_fi", figsize=figsize)),
             (ValueError, lambda: api.fi(return_data=True, figsize=None))]

    def call(times):
        for _ in range(times):
            for error, path in paths:
                with pytest.raises(error) if error else contextlib.nullcontext():
                    path()
        gc.collect()

    watched = [experiment, api, api_failing, value, names, title, figsize, *answers, keyword]
    call(1)
    gc.freeze()  # the collections below then scan only what the calls made
    try:
        before = [sys.getrefcount(obj) for obj in watched]
        call(1_000)
        assert [sys.getrefcount(obj) for obj in watched] == before  # a reference kept per call shows at once
        # Memory blocks, not tracemalloc's traced size, which creeps through the type attribute cache.
        start = sys.getallocatedblocks()
        call(10_000)
        grown = sys.getallocatedblocks() - start
    finally:
        gc.unfreeze()
    assert grown < 1_000, grown  # an object kept per call would add 10 000

