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


def make_frame(task="regression", n=300, seed=0):
    """Rows whose target depends on age, both incomes and colour, and not at all on noise.
    The two income columns share their first 10 characters."""
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
    """An experiment of each task with the models "glm", "tree" and "relu" registered."""
    from vexo.workflow.experiment import Experiment

    exp = Experiment(make_frame(request.param), "y", task=request.param)
    exp.register("glm", "glm")
    exp.register("tree", "tree", max_depth=4)
    exp.register("relu", "reludnn", hidden_layer_sizes=(8, 8))
    return exp
