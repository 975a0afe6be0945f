"""Initialisation of vexo.workflow.interpret_api: once per process, in one interpreter, with its
dependencies bound as module globals. What needs a fresh process runs in a subprocess."""
import copy
import importlib
import json
import subprocess
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

from vexo.workflow import interpret_api, plots

NAME = "vexo.workflow.interpret_api"


def test_second_import_returns_the_same_module(monkeypatch):
    monkeypatch.delitem(sys.modules, NAME)
    monkeypatch.setattr(interpret_api, "__spec__", interpret_api.__spec__)  # the import sets a new one
    assert importlib.import_module(NAME) is interpret_api


def test_namespace_binds_each_component_and_the_two_classes():
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
    assert (public["InterpretAPI"].__name__, public["InterpretGraph"].__name__) == ("InterpretAPI", "InterpretGraph")
    assert interpret_api.__test__ == {}
    module_spec = interpret_api.__spec__
    assert (interpret_api.__name__, interpret_api.__package__) == (NAME, "vexo.workflow")
    assert interpret_api.__loader__ is module_spec.loader and interpret_api.__file__ == module_spec.origin


# Scripts that need an interpreter of their own: name -> (script, interpreter options). Each prints
# its findings as JSON on its last line.
SCRIPTS = {}

# Executing into a second module object, then importing in a sub-interpreter. numpy refuses
# sub-interpreters with the same text, so the sub-interpreter also reports which dependencies the
# failing import got to.
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
finally:
    interpreters.destroy(interp)
print(json.dumps(results))
""", ()

# A dependency that raises (through the import system and outside it), one that is missing, and
# last the import with everything intact.
SCRIPTS["broken dependencies"] = """
import importlib, importlib.util, json, sys, traceback
name = "vexo.workflow.interpret_api"
module_spec = importlib.util.find_spec(name)
failures = []

def attempt(run=lambda: importlib.import_module(name)):
    try:
        run()
    except Exception as e:
        failures.append([type(e).__name__, str(e), name in sys.modules,
                         "init vexo.workflow.interpret_api" in "".join(traceback.format_exception(type(e), e, e.__traceback__))])

class Broken(Exception):
    pass

def find_spec(fullname, path=None, target=None):
    if fullname == "seaborn":
        raise Broken("seaborn is broken")

sys.meta_path.insert(0, type("BreaksSeaborn", (), {"find_spec": staticmethod(find_spec)}))
attempt()
attempt(lambda: module_spec.loader.exec_module(importlib.util.module_from_spec(module_spec)))
del sys.meta_path[0]
import vexo.workflow.plots as plots
sys.modules[plots.__name__] = None
attempt()
sys.modules[plots.__name__] = plots
print(json.dumps([failures, importlib.import_module(name).PlotHBar is plots.PlotHBar]))
""", ()

# The first exception that ever passes through the module is a RecursionError, raised deep in a
# cycle of native calls: the process must survive it.
SCRIPTS["recursion first"] = """
import functools, json
from vexo.workflow.interpret_api import InterpretAPI

class Experiment:
    registered_pipeline, interpret_result_dict = {"m": None}, {"m": None}

def inside():
    api = InterpretAPI(Experiment(), "m")
    api.fi = functools.partial(api.model_interpret, "global_fi")
    try:
        api.model_interpret("global_fi")
    except RecursionError as e:
        return type(e).__name__

print(json.dumps(inside()))
""", ()

# A sub-interpreter imports first: refused before anything is imported, and the main interpreter
# still gets the module afterwards.
SCRIPTS["sub-interpreter first"] = """
import _xxsubinterpreters as interpreters, json
interp = interpreters.create()
try:
    interpreters.run_string(interp, "import vexo.workflow.interpret_api")
except interpreters.RunFailedError as e:
    refusal = str(e)
interpreters.destroy(interp)
import vexo.workflow.interpret_api
print(json.dumps([refusal, vexo.workflow.interpret_api.InterpretAPI.__name__]))
""", ()

# Two threads read a method's signature for the first time while making it lets the other run:
# both get the one that was stored first.
SCRIPTS["signature race"] = """
import inspect, json, threading, time
from vexo.workflow.interpret_api import InterpretGraph
real = inspect.Signature

def slow(*args, **kwargs):
    time.sleep(0.05)
    return real(*args, **kwargs)

inspect.Signature = slow
got = []
threads = [threading.Thread(target=lambda: got.append(InterpretGraph.plot_fi.__signature__)) for _ in range(2)]
for t in threads:
    t.start()
for t in threads:
    t.join()
print(json.dumps([len(got), got[0] is got[1], got[0] is InterpretGraph.plot_fi.__signature__]))
""", ()

# from X import Y: a missing name is an ImportError; anything else that the lookup raises is
# the import's error, unchanged.
SCRIPTS["from-import"] = """
import importlib, json, sys, types
import vexo.workflow.plots as plots
found = []
for attribute in ({}, {"__getattr__": lambda name: 1 / 0}):
    stand_in = types.ModuleType(plots.__name__)
    stand_in.__dict__.update(attribute)
    sys.modules[plots.__name__] = stand_in
    try:
        importlib.import_module("vexo.workflow.interpret_api")
    except Exception as e:
        found.append([type(e).__name__, str(e)])
sys.modules[plots.__name__] = plots
print(json.dumps([found, importlib.import_module("vexo.workflow.interpret_api").PlotHBar is plots.PlotHBar]))
""", ()

# The build's major.minor against the running interpreter's, read from sys.version at import.
VERSION_CHECK = """
import json, sys, traceback, warnings
real, sys.version = sys.version, %r + sys.version[sys.version.index(" "):]
with warnings.catch_warnings(record=True) as caught:
    if not sys.warnoptions:
        warnings.simplefilter("always", RuntimeWarning)
    try:
        import vexo.workflow.interpret_api
        error = None
    except RuntimeWarning as e:
        error = [str(e), "init vexo.workflow.interpret_api" in "".join(traceback.format_exception(type(e), e, e.__traceback__))]
sys.version = real
import vexo.workflow.interpret_api
print(json.dumps([[[w.category.__name__, str(w.message)] for w in caught if "compiletime" in str(w.message)],
                  error, vexo.workflow.interpret_api.InterpretAPI.__name__]))
"""
SCRIPTS["version 3.1"] = VERSION_CHECK % "3.1.5", ()
SCRIPTS["running version"] = VERSION_CHECK % sys.version.split(" ")[0], ("-W", "error::RuntimeWarning")
SCRIPTS["version 3.1, warnings as errors"] = VERSION_CHECK % "3.1.5", ("-W", "error::RuntimeWarning")


@pytest.fixture(scope="module")
def fresh(tmp_path_factory):
    """Runs all SCRIPTS at once (each spends its time importing the dependencies); returns a reader.
    They run outside the checkout: "-c" puts the working directory first on sys.path, and the
    source tree's vexo has no compiled module."""
    outside = tmp_path_factory.mktemp("fresh")
    running = {name: subprocess.Popen([sys.executable, *options, "-c", script], stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, text=True, cwd=outside)
               for name, (script, options) in SCRIPTS.items()}

    def result(name):
        out, err = running[name].communicate(timeout=120)
        assert running[name].returncode == 0, err
        return json.loads(out.splitlines()[-1])

    yield result
    for process in running.values():
        process.communicate(timeout=120)


def test_executing_into_another_module_object_is_refused(fresh):
    assert fresh("once per process")[:3] == [
        "Module 'interpret_api' has already been imported. Re-initialisation is not supported.", False, True]


def test_sub_interpreter_is_refused_before_any_dependency_is_imported(fresh):
    assert fresh("once per process")[3] == repr([
        "Interpreter change detected - this module can only be loaded into one interpreter per process.", []])


def test_failing_dependency_fails_the_import_with_its_exception_and_leaves_no_module(fresh):
    raised = ["Broken", "seaborn is broken", False, True]
    missing = ["ModuleNotFoundError", "import of vexo.workflow.plots halted; None in sys.modules", False, True]
    assert fresh("broken dependencies") == [[raised, raised, missing], True]  # and a later import succeeds


RUNNING = f"{sys.version_info.major}.{sys.version_info.minor}"
MISMATCH = (f"compiletime version {RUNNING} of module 'vexo.workflow.interpret_api' "
            "does not match runtime version 3.1")


@pytest.mark.parametrize("script, findings", [
    # 3.1 against 3.11: equal in their first three characters, yet another version
    ("version 3.1", [[["RuntimeWarning", MISMATCH]], None, "InterpretAPI"]),
    ("running version", [[], None, "InterpretAPI"]),
    ("version 3.1, warnings as errors", [[], [MISMATCH, True], "InterpretAPI"]),  # and a later import succeeds
])
def test_version_mismatch_warns_and_only_a_warning_turned_error_fails_the_import(fresh, script, findings):
    assert fresh(script) == findings


def test_a_recursion_error_as_the_first_exception_does_not_kill_the_process(fresh):
    assert fresh("recursion first") == "RecursionError"


def test_a_sub_interpreter_importing_first_is_refused_and_the_main_interpreter_imports(fresh):
    refusal, class_name = fresh("sub-interpreter first")
    assert "ImportError" in refusal
    assert "Interpreter change detected - this module can only be loaded into one interpreter per process." in refusal
    assert class_name == "InterpretAPI"


def test_racing_first_reads_of_a_signature_share_the_first_one_stored(fresh):
    assert fresh("signature race") == [2, True, True]


def test_from_import_of_a_missing_name_is_an_import_error_and_other_lookup_errors_propagate(fresh):
    found, imported = fresh("from-import")
    assert found == [
        ["ImportError", "cannot import name 'PlotHeatmap' from 'vexo.workflow.plots' (unknown location)"],
        ["ZeroDivisionError", "division by zero"]]
    assert imported
