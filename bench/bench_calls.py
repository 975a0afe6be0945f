"""Per-call cost of the module's own work: argument binding, dispatch, records and slicing.

The drawing is replaced by a bar plot that does nothing, so that what is timed is the module and
not matplotlib. A plain-Python class doing the same steps is timed beside it for scale.

    python bench/bench_calls.py
"""
import timeit

import vexo.workflow.interpret_api as interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph


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


class PythonAPI:
    """The same steps as InterpretAPI.fi and InterpretGraph.plot_fi, in Python."""

    def __init__(self, experiment=None, model=""):
        self.experiment = experiment
        self.model = model
        self.pipeline = experiment.registered_pipeline[self.model]

    def fi(self, return_data=False, figsize=(8, 6)):
        interp_fi = self.experiment.interpret_fi(self.model)
        interpret_result = {"key": "fi", "model": self.model, "input": None, "value": interp_fi}
        PythonAPI.plot_fi(interpret_result, figsize=figsize)
        if return_data:
            out = interpret_result["value"]
            out.pop("title")
            return out
        return None

    @staticmethod
    def plot_fi(interpret_result, max_show=10, figsize=(8, 6)):
        hbar = NoDraw()
        n = len(interpret_result["value"]["feature_names"])
        max_show = max_show if max_show < n else n
        hbar.plot(X=interpret_result["value"]["feature_names"][-max_show:],
                  height=interpret_result["value"]["importance"][-max_show:],
                  title=interpret_result["value"]["title"], figsize=figsize)


def per_call_us(stmt, number):
    best = min(timeit.repeat(stmt, number=number, repeat=5))
    return best / number * 1e6


def main():
    interpret_api.PlotHBar = NoDraw
    experiment = Experiment(25)
    api = InterpretAPI(experiment, "m")
    py_api = PythonAPI(experiment, "m")
    record = {"key": "fi", "model": "m", "input": None,
              "value": experiment.interpret_fi("m")}

    def bad_call():
        try:
            api.fi(1, 2, 3)
        except TypeError:
            pass

    rows = [
        ("InterpretAPI(experiment, model)", lambda: InterpretAPI(experiment, "m"),
         lambda: PythonAPI(experiment, "m")),
        ("api.fi()", api.fi, py_api.fi),
        ("api.fi(figsize=(4, 3))", lambda: api.fi(figsize=(4, 3)), lambda: py_api.fi(figsize=(4, 3))),
        ("api.model_interpret(show='global_fi')", lambda: api.model_interpret(show="global_fi"), None),
        ("api.model_interpret() (no view)", api.model_interpret, None),
        ("InterpretGraph.plot_fi(record)", lambda: InterpretGraph.plot_fi(record),
         lambda: PythonAPI.plot_fi(record)),
        ("api.fi(1, 2, 3) -> TypeError", bad_call, None),
    ]
    number = 20000
    print(f"{'call':<42} {'native µs':>10} {'python µs':>10}")
    print("-" * 64)
    for name, native, python in rows:
        native_us = per_call_us(native, number)
        python_us = f"{per_call_us(python, number):10.2f}" if python else f"{'-':>10}"
        print(f"{name:<42} {native_us:10.2f} {python_us}")


if __name__ == "__main__":
    main()
