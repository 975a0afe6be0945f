"""Wide and long tables: the families whose cost grows with the features use the features that
a screen ranks strongest, and the boosting machine a sample of the rows of a long table."""

import numpy as np
import pandas as pd
import pytest

from vexo.workflow.experiment import Experiment, additive_families, screen
from vexo.workflow.figures import capture
from vexo.workflow.interpret_api import InterpretAPI

SCREENED = ("ebm", "gam", "gami")


def wide(task="regression", n=400, columns=12, seed=0):
    """Signal in x0 (a curve), x1 (a U, which no correlation sees) and colour; noise else."""
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame(rng.normal(size=(n, columns)), columns=["x%d" % j for j in range(columns)])
    frame["colour"] = rng.choice(["red", "green", "blue"], n)
    frame["shade"] = rng.choice(["dark", "light"], n)  # a category of noise, screened out
    signal = np.sin(2 * frame["x0"]) + frame["x1"] ** 2 + frame["colour"].map({"red": 1.0, "green": 0.0, "blue": -1.0})
    noisy = signal + 0.3 * rng.normal(size=n)
    frame["y"] = noisy if task == "regression" else np.where(noisy > noisy.median(), "hi", "lo")
    return frame


@pytest.fixture
def few(monkeypatch):
    monkeypatch.setattr(screen, "SCREEN_FEATURES", 4)


@pytest.mark.parametrize("task", ["regression", "classification"])
def test_the_screen_keeps_the_features_that_carry_the_signal_says_so_and_fits_on_them_alone(few, task):
    experiment = Experiment(wide(task), "y", task=task)
    names, used = experiment.dataset.feature_names, list(experiment.screened)
    kept = [names[j] for j in used]
    assert {"x0", "x1", "colour"} <= set(kept) and len(kept) == 4 and "shade" not in kept
    note = experiment.notes[-1]
    assert note.startswith("ebm, gam and gami use the 4 of the 14 features") and "'x1'" in note
    assert "glm, tree and reludnn use every feature" in note
    y = experiment.dataset.encoded_target(experiment.dataset.train_index)
    for family in SCREENED + ("glm",):
        whole = experiment.register(family, family).estimator
        importance = experiment.interpret_fi(family)
        ranked = dict(zip(importance["feature_names"], importance["importance"]))
        if family == "glm":
            continue
        # the left-out features have neither a term nor an importance; the signal's do
        assert all(ranked[name] == 0 for name in names if name not in kept), family
        assert min(ranked["x0"], ranked["x1"], ranked["colour"]) > 0, family
        api = InterpretAPI(experiment, family)
        with capture() as figures:
            api.main_effect("x1")
        assert len(figures) == 1 and figures[0].axes[0].lines, family
        with pytest.raises(KeyError, match="'x5' has no main effect: the model leaves"):
            api.main_effect("x5")
        # the model is the model of the kept columns alone
        X = experiment.train_inputs(family)
        if family == "ebm":
            settings = {"feature_types": [whole.feature_types[j] for j in used], "exclude": None,
                        "feature_names": [whole.feature_names[j] for j in used], "monotone_constraints": None}
        else:
            settings = {"features": None, "categorical_features": [used.index(j) for j in whole.categorical_features
                                                                   if j in used]}
        alone = type(whole)(**dict(whole.get_params(), **settings)).fit(X[:, used], y)
        assert [tuple(used[j] for j in term) for term in alone.term_features_] == list(map(tuple, whole.term_features_))
        np.testing.assert_array_equal(whole.predict(X), alone.predict(X[:, used]))


def test_no_screen_up_to_its_width_and_every_feature_on_request(few):
    assert Experiment(wide(columns=2), "y").screened is None
    experiment = Experiment(wide(), "y")
    for family, every in (("ebm", {"exclude": None, "monotone_constraints": None}), ("gam", {"features": None})):
        model = experiment.register(family, family, **every).estimator
        assert {j for term in model.term_features_ for j in term} == set(range(14))


@pytest.mark.parametrize("task", ["regression", "classification"])
def test_the_boosting_machine_of_a_long_table_is_fitted_on_a_sample(monkeypatch, task):
    monkeypatch.setattr(additive_families, "EBM_ROWS", 100)
    experiment, seen = Experiment(wide(task, n=600, columns=3), "y", task=task), {}
    original = type(experiment.register("ebm", "ebm").estimator).fit

    def fit(self, X, y, sample_weight=None):
        seen.update(rows=len(X), classes=set(np.unique(y)))
        return original(self, X, y, sample_weight=sample_weight)

    monkeypatch.setattr(type(experiment.registered_pipeline["ebm"].estimator), "fit", fit)
    experiment.register("ebm", "ebm", replace=True)
    assert seen["rows"] == 100 and len(seen["classes"]) == (2 if task == "classification" else 100)
    # explained and scored on every training and test row
    assert experiment.interpret_single("ebm").main_effect_["x0"]["values"].shape[0] > 1


def test_of_equal_drops_the_features_that_the_model_reads_rank_first(few):
    # x0 parts the classes, and x1 repeats it: the other kept features are noise that no
    # shuffle of the test rows makes matter
    frame = wide("classification")
    frame["x1"] = frame["x0"] + 1e-6
    frame["y"] = np.where(frame["x0"] > 0, "hi", "lo")
    experiment = Experiment(frame, "y", task="classification")
    kept = {experiment.dataset.feature_names[j] for j in experiment.screened}
    experiment.register("ebm", "ebm")
    importance = experiment.interpret_fi("ebm")
    ranked = dict(zip(importance["feature_names"], importance["importance"]))
    assert sorted(ranked[name] for name in kept)[:2] == [0, 0]
    assert set(importance["feature_names"][-4:]) == kept
