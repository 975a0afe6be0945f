"""Initialisation of vexo.workflow.interpret_api: once per process, in one interpreter, with its
dependencies bound as module globals. What needs a fresh process runs in a subprocess."""
import copy
import importlib
import sys

import IPython.display
import matplotlib.gridspec
import matplotlib.pyplot
import numpy
import pandas
import pytest
import seaborn
import sklearn.tree
import statsmodels.nonparametric.smoothers_lowess

from conftest import fresh_interpreters
from vexo.workflow import interpret_api, plots

NAME = "vexo.workflow.interpret_api"


def test_namespace_binds_each_component_and_a_second_import_returns_the_module(monkeypatch):
    components = {
        "deepcopy": copy.deepcopy, "np": numpy, "pd": pandas, "sns": seaborn,
        "display": IPython.display.display, "gridspec": matplotlib.gridspec, "plt": matplotlib.pyplot,
        "plot_tree": sklearn.tree.plot_tree, "lowess": statsmodels.nonparametric.smoothers_lowess.lowess,
        "PlotHeatmap": plots.PlotHeatmap, "PlotEffect": plots.PlotEffect, "PlotHBar": plots.PlotHBar,
        "scale_plot_ticks": plots.scale_plot_ticks,
    }
    public = {name: value for name, value in vars(interpret_api).items() if not name.startswith("_")}
    assert public.keys() == components.keys() | {"InterpretAPI", "InterpretGraph"}
    assert [name for name, component in components.items() if public[name] is not component] == []
    assert (interpret_api.__name__, interpret_api.__package__, interpret_api.__test__) == (NAME, "vexo.workflow", {})
    assert interpret_api.__loader__ is interpret_api.__spec__.loader
    assert interpret_api.__file__ == interpret_api.__spec__.origin
    monkeypatch.delitem(sys.modules, NAME)
    monkeypatch.setattr(interpret_api, "__spec__", interpret_api.__spec__)  # the import sets a new one
    assert importlib.import_module(NAME) is interpret_api


# Scripts that need an interpreter of their own: name -> (script, interpreter options). Each prints
# its findings as JSON on its last line.
SCRIPTS = {}

# Executing into a second module object, then importing in a sub-interpreter, which must be refused
# before any dependency is imported.
SCRIPTS["once per process"] = """
import _xxsubinterpreters as interpreters, importlib, importlib.util, json
module_spec = importlib.util.find_spec("vexo.workflow.interpret_api")
first, second = importlib.util.module_from_spec(module_spec), importlib.util.module_from_spec(module_spec)
module_spec.loader.exec_module(first)
try:
    module_spec.loader.exec_module(second)
except RuntimeError as e:
    results = [str(e), hasattr(second, "InterpretAPI"), importlib.import_module(module_spec.name) is first]
interp = interpreters.create()
try:
    interpreters.run_string(interp, \'\'\'if True:
        import sys
        try:
            import vexo.workflow.interpret_api
        except ImportError as e:
            deps = [d for d in ("numpy", "pandas", "seaborn", "matplotlib", "vexo.workflow.plots") if d in sys.modules]
            raise RuntimeError("REPORT" + repr([str(e), deps]))\'\'\')
except interpreters.RunFailedError as e:
    results.append(str(e).split("REPORT", 1)[1])
print(json.dumps(results))
""", ()

# A dependency that raises, one that is missing, and last the import with everything intact.
SCRIPTS["broken dependencies"] = """
import importlib, json, sys, traceback
name = "vexo.workflow.interpret_api"
failures = []

def attempt():
    try:
        importlib.import_module(name)
    except Exception as e:
        failures.append([type(e).__name__, str(e), name in sys.modules,
                         "init vexo.workflow.interpret_api" in "".join(traceback.format_exception(type(e), e, e.__traceback__))])

def find_spec(fullname, path=None, target=None):
    if fullname == "seaborn":
        raise LookupError("seaborn is broken")

sys.meta_path.insert(0, type("BreaksSeaborn", (), {"find_spec": staticmethod(find_spec)}))
attempt()
del sys.meta_path[0]
import vexo.workflow.plots as plots
sys.modules[plots.__name__] = None
attempt()
sys.modules[plots.__name__] = plots
print(json.dumps([failures, importlib.import_module(name).PlotHBar is plots.PlotHBar]))
""", ()

# The first exception that ever passes through the module is a RecursionError, raised deep in a
# cycle of native calls; then two threads race to make a method's signature (making it lets the
# other run): both must get the one stored first.
SCRIPTS["first uses"] = """
import functools, inspect, json, threading, time
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph

class Experiment:
    registered_pipeline, interpret_result_dict = {"m": None}, {"m": None}

api = InterpretAPI(Experiment(), "m")
api.fi = functools.partial(api.model_interpret, "global_fi")
try:
    api.model_interpret("global_fi")
except RecursionError as e:
    first = type(e).__name__
real = inspect.Signature
inspect.Signature = lambda *args, **kwargs: time.sleep(0.05) or real(*args, **kwargs)
got = []
threads = [threading.Thread(target=lambda: got.append(InterpretGraph.plot_fi.__signature__)) for _ in range(2)]
for t in threads:
    t.start()
for t in threads:
    t.join()
print(json.dumps([first, len(got), got[0] is got[1] is InterpretGraph.plot_fi.__signature__]))
""", ()

@pytest.fixture(scope="module")
def fresh(tmp_path_factory):
    yield from fresh_interpreters(SCRIPTS, tmp_path_factory.mktemp("fresh"), timeout=120)


@pytest.mark.parametrize("script, findings", [
    ("once per process", [
        "Module 'interpret_api' has already been imported. Re-initialisation is not supported.", False, True,
        repr(["Interpreter change detected - this module can only be loaded into one interpreter per process.", []])]),
    # a failing dependency fails the import with its own exception and leaves no module; a later import succeeds
    ("broken dependencies", [[["LookupError", "seaborn is broken", False, True], [
        "ModuleNotFoundError", "import of vexo.workflow.plots halted; None in sys.modules", False, True]], True]),
    ("first uses", ["RecursionError", 2, True]),
])
def test_in_a_fresh_interpreter(fresh, script, findings):
    assert fresh(script) == findings
