import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as plt  # noqa: E402
import pytest  # noqa: E402


@pytest.fixture(autouse=True)
def _close_figures():
    yield
    plt.close("all")


# Experiments on data of a known structure, shared by tests/test_experiment*.py -----------

import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

COLOUR_EFFECT = {"blue": -1.0, "green": 0.0, "red": 1.0}

# What a view prints when it draws nothing by design.
REFUSALS = {"Not supported", "No interaction effect", "No this interaction effect"}


def make_frame(task="regression", n=300, seed=0):
    """Rows whose target follows age, both incomes (alike in their first 10 characters) and colour, not noise."""
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame({
        "age": rng.uniform(20, 70, n),
        "income_per_household": rng.normal(50, 10, n),
        "income_per_capita_usd": rng.normal(30, 5, n),
        "colour": pd.Categorical(rng.choice(list(COLOUR_EFFECT), n)),
        "noise": rng.normal(size=n),
    })
    signal = (0.1 * (frame["age"] - 45) + 0.1 * (frame["income_per_household"] - 50)
              + 0.1 * (frame["income_per_capita_usd"] - 30)
              + frame["colour"].map(COLOUR_EFFECT).astype(float))
    if task == "regression":
        frame["y"] = signal + rng.normal(0, 0.1, n)
    else:
        frame["y"] = np.where(signal + rng.logistic(0, 0.3, n) > 0, "yes", "no")
    return frame


@pytest.fixture(scope="session", params=["regression", "classification"])
def experiment(request):
    """An experiment of each task with a model of every family: glm, tree, relu, ebm, gam and gami; and
    knn, a user's own estimator of no family."""
    from sklearn.neighbors import KNeighborsClassifier, KNeighborsRegressor

    from vexo.workflow.experiment import Experiment

    exp = Experiment(make_frame(request.param), "y", task=request.param)
    exp.register("glm", "glm")
    exp.register("tree", "tree", max_depth=4)
    exp.register("relu", "reludnn", hidden_layer_sizes=(8, 8))
    # The views draw the pair of incomes; the data has no interaction for screening to find,
    # so the interaction families are given it.
    incomes = [(1, 2)]
    exp.register("ebm", "ebm", outer_bags=2, interactions=incomes)
    exp.register("gam", "gam")
    exp.register("gami", "gami", interactions=incomes)
    exp.register("knn", (KNeighborsRegressor if request.param == "regression" else KNeighborsClassifier)(10))
    return exp


# The experiment double of the interpretation tests ----------------------------------------
#
# InterpretAPI holds no experiment code: it asks an experiment, its pipeline and the pipeline's
# estimator for everything. ExperimentDouble serves fixed answers and writes every call made on it
# into `calls`, so a test can state exactly what was asked.

import types  # noqa: E402


def estimator_named(class_name):
    """Stands in for a fitted model; only its class name matters (it selects the model family)."""
    return type(class_name, (), {})()


class ExperimentDouble:
    """One model per entry of `estimators` (name to class name); those in `computed` are interpreted."""

    def __init__(self, estimators=None, computed=()):
        self.calls = []
        self.registered_pipeline = {model: types.SimpleNamespace(estimator=estimator_named(name))
                                    for model, name in (estimators or {"model": "ReluDNNRegressor"}).items()}
        self.interpret_result_dict = {model: object() for model in computed}

    def interpret_single(self, model, /):
        self.calls.append(("interpret_single", model))
        self.interpret_result_dict[model] = object()

    def interpret_fi(self, model, /):
        return {"feature_names": ["age", "income"], "importance": [0.1, 0.2], "title": "Importance"}


@pytest.fixture
def experiment_double():
    return ExperimentDouble()


@pytest.fixture
def api(experiment_double):
    from vexo.workflow.interpret_api import InterpretAPI

    api = InterpretAPI(experiment_double, "model")
    experiment_double.calls.clear()  # the constructor's own calls are tested on their own
    return api


class PlotCalls(list):
    """(class name, method, args, kwargs) per call of the substituted plot classes."""

    def of(self, method):
        return [(args, kwargs) for _, name, args, kwargs in self if name == method]


@pytest.fixture
def plot_calls(monkeypatch):
    from vexo.workflow import interpret_api

    calls = PlotCalls()
    for name in ("PlotHBar", "PlotEffect", "PlotHeatmap"):
        methods = {method: (lambda name, method: lambda self, *a, **k: calls.append((name, method, a, k)))(name, method)
                   for method in ("__init__", "plot", "plot_stem", "plot_interpret")}
        monkeypatch.setattr(interpret_api, name, type(name, (), methods))
    return calls


# Scripts in interpreters of their own -------------------------------------------------------

def fresh_interpreters(scripts, where, timeout=300):
    """Starts the scripts at once outside the checkout; yields a reader of the JSON line each prints last."""
    import json
    import subprocess
    import sys

    # the checkout's vexo has no compiled module: -P keeps it off sys.path in an instrumented run
    safe = ["-P"] if getattr(sys.flags, "safe_path", False) else []
    running = {name: subprocess.Popen([sys.executable, *safe, "-c", script], stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, text=True, cwd=where) for name, script in scripts.items()}

    def result(name):
        out, err = running[name].communicate(timeout=timeout)
        # A signal shows as a negative return code; a sanitizer's report as its text.
        assert running[name].returncode == 0 and "Sanitizer" not in err, err[-3000:]
        return json.loads(out.splitlines()[-1])

    yield result
    for process in running.values():
        process.kill()
        process.communicate()


# The tour's gallery, shared by the tests of its page and of the page in a browser ----------

@pytest.fixture(scope="session")
def tour_gallery(tmp_path_factory):
    """The tour on a sample of the breast cancer data: (status, standard output, folder, page,
    the tour's experiment). The folder holds only what the tour wrote: leave it so."""
    import contextlib
    import io

    pytest.importorskip("vexo.workflow.interpret_api")
    from vexo.workflow import tour

    out, made = tmp_path_factory.mktemp("tour") / "gallery", []
    make_experiment = tour.make_experiment
    tour.make_experiment = lambda *args, **kw: made.append(make_experiment(*args, **kw)) or made[0]
    printed = io.StringIO()
    try:
        with contextlib.redirect_stdout(printed), contextlib.redirect_stderr(io.StringIO()):
            status = tour.main(["--data", "breast_cancer", "--rows", "150", "--out", str(out)])
    finally:
        tour.make_experiment = make_experiment
    return status, printed.getvalue(), out, (out / "index.html").read_text(encoding="utf-8"), made[0]


@pytest.fixture(scope="session")
def dask_client():
    """A client of a LocalCluster of two worker processes on the loopback, for the session."""
    import argparse

    distributed = pytest.importorskip("distributed")
    from vexo.workflow.tour import cluster

    with cluster.local_cluster(distributed, argparse.Namespace(workers=2, worker_memory=None)) \
            as local, distributed.Client(local) as client:
        yield client
