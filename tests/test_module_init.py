"""Initialisation of the module: once per process, with its dependencies bound as module globals."""
import pytest

from conftest import fresh_interpreters

SCRIPTS = {
    # Executing into a second module object, then importing in a sub-interpreter, which must be
    # refused before any dependency is imported; last, two threads race to make a method's signature
    # (making it lets the other run): both must get the one stored first.
    "once per process": """
import _xxsubinterpreters as interpreters, importlib.util, inspect, json, threading, time
module_spec = importlib.util.find_spec("vexo.workflow.interpret_api")
first, second = importlib.util.module_from_spec(module_spec), importlib.util.module_from_spec(module_spec)
module_spec.loader.exec_module(first)
try:
    module_spec.loader.exec_module(second)
except RuntimeError as e:
    results = [str(e), hasattr(second, "InterpretAPI"), importlib.import_module(module_spec.name) is first]
try:
    interpreters.run_string(interpreters.create(), '''if True:
        import sys
        try:
            import vexo.workflow.interpret_api
        except ImportError as e:
            deps = [d for d in ("numpy", "pandas", "seaborn", "matplotlib", "vexo.workflow.plots") if d in sys.modules]
            raise RuntimeError("REPORT" + repr([str(e), deps]))''')
except interpreters.RunFailedError as e:
    results.append(str(e).split("REPORT", 1)[1])
real, got = inspect.Signature, []
inspect.Signature = lambda *args, **kwargs: time.sleep(0.05) or real(*args, **kwargs)
threads = [threading.Thread(target=lambda: got.append(first.InterpretGraph.plot_fi.__signature__)) for _ in "ab"]
[t.start() for t in threads] + [t.join() for t in threads]
print(json.dumps(results + [got[0] is got[1] is first.InterpretGraph.plot_fi.__signature__]))
""",
    # The module created again from its spec, and imported again with every reference to it
    # dropped, a hundred times each: the one module, its reference count unchanged, still working.
    "created again": """
import gc, importlib, importlib.util, json, sys
import vexo.workflow
name = "vexo.workflow.interpret_api"
module = importlib.import_module(name)
before = sys.getrefcount(module)
same = all(importlib.util.module_from_spec(module.__spec__) is module for _ in range(100))
gc.collect()
counts, ids = [sys.getrefcount(module) - before], {id(module)}
del module
for _ in range(100):
    del sys.modules[name], vexo.workflow.interpret_api
    gc.collect()
    ids.add(id(importlib.import_module(name)))
print(json.dumps([same, counts, len(ids), sys.modules[name].InterpretGraph.plot_fi.__name__]))
""",
    # A dependency that raises fails the import with its own exception and leaves no module; the
    # import with everything intact then succeeds.
    "broken dependency": """
import importlib, json, sys, traceback
def find_spec(fullname, path=None, target=None):
    if fullname == "seaborn":
        raise LookupError("seaborn is broken")
sys.meta_path.insert(0, type("BreaksSeaborn", (), {"find_spec": staticmethod(find_spec)}))
try:
    importlib.import_module("vexo.workflow.interpret_api")
except Exception as e:
    failure = [type(e).__name__, str(e), "vexo.workflow.interpret_api" in sys.modules,
               "init vexo.workflow.interpret_api" in "".join(traceback.format_exception(type(e), e, e.__traceback__))]
del sys.meta_path[0]
print(json.dumps(failure + [importlib.import_module("vexo.workflow.interpret_api").PlotHBar.__name__]))
""",
}


@pytest.fixture(scope="module")
def fresh(tmp_path_factory):
    yield from fresh_interpreters(SCRIPTS, tmp_path_factory.mktemp("fresh"), timeout=120)


@pytest.mark.parametrize("script, findings", [
    ("once per process", [
        "Module 'interpret_api' has already been imported. Re-initialisation is not supported.", False, True,
        repr(["Interpreter change detected - this module can only be loaded into one interpreter per process.", []]),
        True]),
    ("created again", [True, [0], 1, "plot_fi"]),
    ("broken dependency", ["LookupError", "seaborn is broken", False, True, "PlotHBar"]),
])
def test_in_a_fresh_interpreter(fresh, script, findings):
    assert fresh(script) == findings
