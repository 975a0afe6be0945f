"""Initialisation of vexo.workflow.interpret_api: once per process, in one interpreter, with its
dependencies bound as module globals. What needs a fresh process runs in a subprocess."""
import copy
import importlib
import json
import subprocess
import sys
import textwrap

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
    assert interpret_api.InterpretAPI.fi.__qualname__ == "InterpretAPI.fi"


GLOBALS = {
    "deepcopy": copy.deepcopy,
    "np": numpy,
    "pd": pandas,
    "sns": seaborn,
    "display": IPython.display.display,
    "gridspec": matplotlib.gridspec,
    "plt": matplotlib.pyplot,
    "plot_tree": sklearn.tree.plot_tree,
    "lowess": statsmodels.nonparametric.smoothers_lowess.lowess,
    "PlotHeatmap": plots.PlotHeatmap,
    "PlotEffect": plots.PlotEffect,
    "PlotHBar": plots.PlotHBar,
    "scale_plot_ticks": plots.scale_plot_ticks,
}


@pytest.mark.parametrize("name", GLOBALS)
def test_global_is_bound_to_its_component(name):
    assert getattr(interpret_api, name) is GLOBALS[name]


def test_namespace_holds_the_components_and_the_two_classes_only():
    public = {name for name in vars(interpret_api) if not name.startswith("_")}
    assert public == set(GLOBALS) | {"InterpretAPI", "InterpretGraph"}
    assert interpret_api.InterpretAPI.__name__ == "InterpretAPI"
    assert interpret_api.InterpretGraph.__name__ == "InterpretGraph"
    assert interpret_api.__test__ == {}


def test_module_attributes_name_its_loader_file_and_package():
    spec = interpret_api.__spec__
    assert interpret_api.__name__ == NAME
    assert interpret_api.__doc__ is None
    assert interpret_api.__loader__ is spec.loader
    assert interpret_api.__file__ == spec.origin
    assert interpret_api.__package__ == "vexo.workflow"
    assert not hasattr(interpret_api, "__path__")


# Scripts that need an interpreter of their own: name -> (script, interpreter options). Each prints
# its findings as JSON on its last line.
SCRIPTS = {}

SCRIPTS["module objects"] = """
import _imp, importlib, importlib.util, json, sys
name = "vexo.workflow.interpret_api"
spec = importlib.util.find_spec(name)

class Spec:
    def __init__(self, **attributes):
        self.__dict__.update(name=name, origin=spec.origin, **attributes)

class BrokenSpec(Spec):
    @property
    def parent(self):
        raise RuntimeError("parent is broken")

def created(spec_type=Spec, **attributes):
    try:
        module = _imp.create_dynamic(spec_type(**attributes))
    except RuntimeError as e:
        return str(e)
    return {k: v for k, v in vars(module).items() if k != "__file__"} | {"file": module.__file__ == spec.origin}

bare = created(submodule_search_locations=None)
full = created(loader="the loader", parent="vexo.workflow", submodule_search_locations=["here"])
broken = created(BrokenSpec)

m1 = importlib.util.module_from_spec(spec)
m2 = importlib.util.module_from_spec(spec)
spec.loader.exec_module(m1)
try:
    spec.loader.exec_module(m2)
    error = None
except RuntimeError as e:
    error = str(e)
print(json.dumps({
    "bare": bare, "full": full, "broken": broken,
    "distinct": m1 is not m2,
    "error": error,
    "m1 works": m1.InterpretAPI.fi.__module__ == name,
    "m2 empty": not hasattr(m2, "InterpretAPI"),
    "imported is m1": importlib.import_module(name) is m1,
}))
""", ()

# numpy refuses sub-interpreters with the same text, so the sub-interpreter reports whether the
# failing import got as far as numpy or any other dependency.
SCRIPTS["sub-interpreter"] = """
import _xxsubinterpreters as interpreters, json
import vexo.workflow.interpret_api
interp = interpreters.create()
try:
    interpreters.run_string(interp, '''
import sys
try:
    import vexo.workflow.interpret_api
except ImportError as e:
    deps = ["numpy", "pandas", "seaborn", "matplotlib", "vexo.workflow.plots"]
    raise RuntimeError("REPORT" + repr([str(e), [d for d in deps if d in sys.modules]]))
''')
    report = None
except interpreters.RunFailedError as e:
    report = str(e).split("REPORT", 1)[1]
finally:
    interpreters.destroy(interp)
print(json.dumps(report))
""", ()

BLOCKED = ["copy", "numpy", "pandas", "seaborn", "IPython.display", "matplotlib", "sklearn.tree",
           "statsmodels.nonparametric.smoothers_lowess", "vexo.workflow.plots"]

# The import is tried with each dependency broken in turn, then with all of them intact.
SCRIPTS["broken dependencies"] = """
import importlib, json, sys, traceback, types
name = "vexo.workflow.interpret_api"
results = {}

def attempt(label):
    try:
        importlib.import_module(name)
    except BaseException as e:
        results[label] = {
            "type": type(e).__name__, "message": str(e),
            "init entry": "init vexo.workflow.interpret_api" in "".join(traceback.format_exception(e)),
            "left behind": name in sys.modules,
        }
    else:
        results[label] = None

class Broken(Exception):
    pass

class BreaksSeaborn:
    def find_spec(self, fullname, path=None, target=None):
        if fullname == "seaborn":
            raise Broken("seaborn is broken")

sys.meta_path.insert(0, BreaksSeaborn())
attempt("raising seaborn")
del sys.meta_path[0]

for dep in %r:
    saved = sys.modules.get(dep)
    sys.modules[dep] = None
    attempt(dep)
    if saved is None:
        del sys.modules[dep]
    else:
        sys.modules[dep] = saved

import builtins
for builtin in ("round", "staticmethod"):
    saved = getattr(builtins, builtin)
    delattr(builtins, builtin)
    attempt("no builtin " + builtin)
    setattr(builtins, builtin, saved)

import vexo.workflow.plots as plots
for missing in ("PlotHBar", "scale_plot_ticks"):
    fake = types.ModuleType(plots.__name__)
    fake.__dict__.update({k: v for k, v in vars(plots).items() if k != missing})
    sys.modules[plots.__name__] = fake
    attempt("plots without " + missing)
    sys.modules[plots.__name__] = plots

module = importlib.import_module(name)
results["intact"] = {
    "PlotHBar": module.PlotHBar is plots.PlotHBar,
    "sns": module.sns is sys.modules["seaborn"],
    "classes": [module.InterpretAPI.__name__, module.InterpretGraph.__name__],
}
print(json.dumps(results))
""" % BLOCKED, ()

SCRIPTS["failed execution outside the import system"] = """
import importlib, importlib.util, json, sys
name = "vexo.workflow.interpret_api"
spec = importlib.util.find_spec(name)
module = importlib.util.module_from_spec(spec)
sys.modules["seaborn"] = None
try:
    spec.loader.exec_module(module)
except ImportError:
    pass
del sys.modules["seaborn"]
left_behind = sys.modules.get(name) is module
imported = importlib.import_module(name)
print(json.dumps([left_behind, hasattr(imported, "InterpretAPI")]))
""", ()

# The build's major.minor against the running interpreter's, read from sys.version at import.
VERSION_CHECK = """
import json, sys, traceback, warnings
real = sys.version
sys.version = %r + real[real.index(" "):]
with warnings.catch_warnings(record=True) as caught:
    if not sys.warnoptions:
        warnings.simplefilter("always", RuntimeWarning)
    try:
        import vexo.workflow.interpret_api
        error = None
    except RuntimeWarning as e:
        error = [str(e), "init vexo.workflow.interpret_api" in "".join(traceback.format_exception(e))]
sys.version = real
if error is not None:
    import vexo.workflow.interpret_api
print(json.dumps({
    "warnings": [[w.category.__name__, str(w.message)] for w in caught if "compiletime" in str(w.message)],
    "error": error,
    "works": vexo.workflow.interpret_api.InterpretAPI.__name__ == "InterpretAPI",
}))
"""
SCRIPTS["version 3.1"] = VERSION_CHECK % "3.1.5", ()
SCRIPTS["running version"] = VERSION_CHECK % sys.version.split(" ")[0], ("-W", "error::RuntimeWarning")
SCRIPTS["version 3.1, warnings as errors"] = VERSION_CHECK % "3.1.5", ("-W", "error::RuntimeWarning")


class FreshInterpreters:
    """Runs all SCRIPTS at once: each spends its time importing the module's dependencies."""

    def __init__(self):
        self.running = {
            name: subprocess.Popen([sys.executable, *options, "-c", textwrap.dedent(script)],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            for name, (script, options) in SCRIPTS.items()}

    def __getitem__(self, name):
        out, err = self.running[name].communicate(timeout=120)
        assert self.running[name].returncode == 0, err
        return json.loads(out.splitlines()[-1])

    def close(self):
        for process in self.running.values():
            process.communicate(timeout=120)


@pytest.fixture(scope="module")
def fresh():
    interpreters = FreshInterpreters()
    yield interpreters
    interpreters.close()


def test_module_is_created_with_the_attributes_that_the_import_provides(fresh):
    result = fresh["module objects"]
    common = {"__name__": NAME, "__doc__": None, "__spec__": None, "file": True}
    assert result["bare"] == dict(common, __package__=None, __loader__=None)
    assert result["full"] == dict(common, __package__="vexo.workflow", __loader__="the loader", __path__=["here"])
    assert result["broken"] == "parent is broken"


def test_executing_into_another_module_object_is_refused(fresh):
    result = {k: v for k, v in fresh["module objects"].items() if k not in ("bare", "full", "broken")}
    assert result == {
        "distinct": True,
        "error": "Module 'interpret_api' has already been imported. Re-initialisation is not supported.",
        "m1 works": True,
        "m2 empty": True,
        "imported is m1": True,
    }


def test_sub_interpreter_is_refused_before_any_dependency_is_imported(fresh):
    assert fresh["sub-interpreter"] == repr([
        "Interpreter change detected - this module can only be loaded into one interpreter per process.", []])


def test_dependency_exception_fails_the_import_unchanged(fresh):
    assert fresh["broken dependencies"]["raising seaborn"] == {
        "type": "Broken", "message": "seaborn is broken", "init entry": True, "left behind": False}


@pytest.mark.parametrize("dep", BLOCKED)
def test_missing_dependency_fails_the_import_with_its_import_error(fresh, dep):
    assert fresh["broken dependencies"][dep] == {
        "type": "ModuleNotFoundError", "message": f"import of {dep} halted; None in sys.modules",
        "init entry": True, "left behind": False}


@pytest.mark.parametrize("missing", ["PlotHBar", "scale_plot_ticks"])
def test_missing_plot_component_fails_the_import(fresh, missing):
    failure = fresh["broken dependencies"]["plots without " + missing]
    assert failure["type"] == "ImportError"
    assert failure["message"].startswith(f"cannot import name '{missing}' from 'vexo.workflow.plots'")
    assert failure["init entry"] and not failure["left behind"]


@pytest.mark.parametrize("builtin", ["round", "staticmethod"])
def test_missing_builtin_fails_the_import(fresh, builtin):
    assert fresh["broken dependencies"]["no builtin " + builtin] == {
        "type": "NameError", "message": f"name '{builtin}' is not defined", "init entry": True,
        "left behind": False}


def test_import_succeeds_once_the_dependencies_are_back(fresh):
    assert fresh["broken dependencies"]["intact"] == {
        "PlotHBar": True, "sns": True, "classes": ["InterpretAPI", "InterpretGraph"]}


def test_failed_execution_leaves_no_module_behind(fresh):
    assert fresh["failed execution outside the import system"] == [False, True]


RUNNING = f"{sys.version_info.major}.{sys.version_info.minor}"
MISMATCH = (f"compiletime version {RUNNING} of module 'vexo.workflow.interpret_api' "
            "does not match runtime version 3.1")


def test_version_mismatch_warns_and_the_import_goes_on(fresh):
    # 3.1 against 3.11: equal in their first three characters, yet another version
    assert fresh["version 3.1"] == {"warnings": [["RuntimeWarning", MISMATCH]], "error": None, "works": True}


def test_running_version_does_not_warn(fresh):
    assert fresh["running version"] == {"warnings": [], "error": None, "works": True}


def test_version_warning_as_error_fails_the_import_and_leaves_it_retryable(fresh):
    assert fresh["version 3.1, warnings as errors"] == {"warnings": [], "error": [MISMATCH, True], "works": True}
