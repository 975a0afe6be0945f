"""Per-call cost of the module's own work: argument binding, dispatch, records and slicing.

The drawing is replaced by a bar plot that does nothing, so that what is timed is the module and
not matplotlib. A plain-Python class doing the same steps is timed beside it for scale. The last
column is what the doubles cost by themselves (called from Python), the part of both times that
neither side can save.

    python bench/bench_calls.py
"""
import pathlib
import platform
import sys
import timeit
import types

import vexo.workflow.interpret_api as interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))
from python_views import python_views  # noqa: E402


class Pipeline:
    class estimator:  # noqa: N801 - stands for a fitted estimator instance
        pass


class Experiment:
    def __init__(self, n_features):
        self.registered_pipeline = {"m": Pipeline()}
        self.interpret_result_dict = {"m": None}
        self.names = [f"feature_{i}" for i in range(n_features)]
        self.importance = list(range(n_features))

    def interpret_fi(self, model):
        return {"feature_names": self.names, "importance": self.importance, "title": "Feature Importance"}


class NoDraw:
    def plot(self, **kwargs):
        pass


def python_api():
    """The same lines as InterpretAPI's __init__, fi and model_interpret and InterpretGraph.plot_fi,
    in Python (the copy that the tests compare the module with), drawing on NoDraw."""
    views = python_views(PlotHBar=NoDraw)
    views["InterpretGraph"] = types.SimpleNamespace(plot_fi=views["plot_fi"])
    return type("PythonAPI", (), {"__init__": views["init"], "fi": views["fi"],
                                  "model_interpret": views["model_interpret"]}), views["InterpretGraph"]


def per_call_us(statements, number):
    """The best of several interleaved rounds of each statement, in microseconds per call."""
    best = [float("inf")] * len(statements)
    for _ in range(7):
        for i, stmt in enumerate(statements):
            best[i] = min(best[i], timeit.timeit(stmt, number=number) / number * 1e6)
    return best


def main():
    interpret_api.PlotHBar = NoDraw
    experiment = Experiment(25)
    api = InterpretAPI(experiment, "m")
    PythonAPI, PythonGraph = python_api()
    py_api = PythonAPI(experiment, "m")
    record = {"key": "fi", "model": "m", "input": None, "value": experiment.interpret_fi("m")}


    # What the doubles do in one call of fi: the experiment's result, and the bar plot made and
    # asked to draw.
    def fi_doubles():
        experiment.interpret_fi("m")
        NoDraw().plot(X=None, height=None, title=None, figsize=None)

    def plot_doubles():
        NoDraw().plot(X=None, height=None, title=None, figsize=None)

    def no_doubles():
        pass

    rows = [
        ("InterpretAPI(experiment, model)", lambda: InterpretAPI(experiment, "m"),
         lambda: PythonAPI(experiment, "m"), no_doubles),
        ("api.fi()", api.fi, py_api.fi, fi_doubles),
        ("api.fi(return_data=True)", lambda: api.fi(return_data=True), lambda: py_api.fi(return_data=True),
         fi_doubles),
        ("InterpretGraph.plot_fi(record)", lambda: InterpretGraph.plot_fi(record),
         lambda: PythonGraph.plot_fi(record), plot_doubles),
        ("api.model_interpret(show='global_fi', return_data=True)",
         lambda: api.model_interpret(show="global_fi", return_data=True),
         lambda: py_api.model_interpret(show="global_fi", return_data=True), fi_doubles),
        ("api.model_interpret(show='none') (no row matches)", lambda: api.model_interpret(show="none"),
         lambda: py_api.model_interpret(show="none"), no_doubles),
    ]
    number = 20000
    print(f"{platform.python_implementation()} {platform.python_version()}")
    print(f"{'call':<58} {'module µs':>10} {'Python µs':>10} {'speed-up':>9} {'doubles µs':>11}")
    print("-" * 102)
    for name, native, python, doubles in rows:
        native_us, python_us, doubles_us = per_call_us((native, python, doubles), number)
        print(f"{name:<58} {native_us:10.2f} {python_us:10.2f} {python_us / native_us:8.2f}x {doubles_us:11.2f}")


if __name__ == "__main__":
    main()
