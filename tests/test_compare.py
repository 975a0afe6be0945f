"""Comparing the families: one feature's effect in every model, and importance ranks side by
side, on tables whose effects are known."""
import numpy as np
import pandas as pd
import pytest

from vexo.workflow.experiment import Experiment, compare
from vexo.workflow.figures import capture

FAMILIES = ("glm", "tree", "reludnn", "ebm", "gam", "gami")


def known_table(n=600, seed=0, correlated=False):
    """y rises linearly in x1 (0 to 10), steps by 8 where x2 passes 0.5, is 3 higher at the level "b" of c;
    x3 is noise (or, ``correlated``, x1 with a little noise)."""
    rng = np.random.RandomState(seed)
    x1, x2 = rng.uniform(0, 10, n), rng.uniform(0, 1, n)
    x3 = x1 + rng.normal(scale=0.5, size=n) if correlated else rng.normal(size=n)
    c = rng.choice(["a", "b", "c"], n)
    y = 2 * x1 + 8 * (x2 > 0.5) + np.where(c == "b", 3, 0) + rng.normal(scale=0.5, size=n)
    return pd.DataFrame({"x1": x1, "x2": x2, "x3": x3, "c": c, "y": y})


def fitted(frame, families=FAMILIES, **options):
    exp = Experiment(frame, "y", **options)
    for family in families:
        exp.register(family, family)
    return exp


@pytest.fixture(scope="module")
def known():
    return fitted(known_table())


def test_every_family_tells_the_known_effects_on_one_centred_axis(known):
    train = known.dataset.data.iloc[known.dataset.train_index]
    x1 = known.compare_effects("x1", plot=False)
    assert list(x1["curves"]) == list(FAMILIES) and all(x1["reads"].values())
    assert x1["x"][0] == pytest.approx(train["x1"].min()) and x1["x"][-1] <= 10
    for model, curve in x1["curves"].items():
        # rises with x1, by about 2 per unit over the range
        assert np.corrcoef(x1["x"], curve)[0, 1] > 0.95, model
        assert 14 < curve[-1] - curve[0] < 24, model
    # the step of x2 at 0.5: the additive models and the tree rise most there, and those that
    # can draw a step draw it
    x2 = known.compare_effects("x2", plot=False)
    for model in ("tree", "ebm", "gam", "gami"):
        curve = x2["curves"][model]
        k = int(np.argmax(np.diff(curve)))
        assert 0.45 <= x2["x"][k + 1] and x2["x"][k] <= 0.55, (model, x2["x"][k])
        if model in ("tree", "ebm"):
            assert curve[k + 1] - curve[k] > 0.6 * (curve.max() - curve.min()), model
    for model in FAMILIES:
        curve = x2["curves"][model]
        assert curve[x2["x"] > 0.6].mean() - curve[x2["x"] < 0.4].mean() > 5, model
    # a category: one point per level, "b" above the others in every model
    c = known.compare_effects("c", plot=False)
    assert c["categorical"] and c["x"] == ["a", "b", "c"]
    for model, curve in c["curves"].items():
        assert len(curve) == 3 and np.argmax(curve) == 1, model
    # every curve's mean over the training rows is 0
    for record, values in ((x1, train["x1"]), (x2, train["x2"]), (c, None)):
        for model, curve in record["curves"].items():
            centre = record["density"]["shares"] @ curve if values is None else np.interp(values, record["x"], curve).mean()
            assert abs(centre) < 1e-6 * (1 + np.abs(curve).max()), model
    assert x1["methods"]["tree"] == compare.PD and x1["methods"]["ebm"] == "main effect"


def test_a_model_that_leaves_the_feature_out_draws_it_flat_and_each_keeps_its_colour_in_either_scale(known):
    known.register("stump", "tree", replace=True, max_depth=1)
    known.register("gam of x1", "gam", replace=True, features=[0])
    record = known.compare_effects("x2", models=["stump", "gam of x1", "glm"], plot=False)
    assert list(record["curves"]) == ["stump", "gam of x1", "glm"]
    assert record["reads"] == {"stump": False, "gam of x1": False, "glm": True}
    assert not np.any(record["curves"]["stump"]) and not np.any(record["curves"]["gam of x1"])
    assert record["colors"]["stump"] != record["colors"]["gam of x1"]
    # each model keeps its colour whichever models are compared; in model scale, over the training
    # range from 0 to 1, the curves stand over the rows' distribution there
    scaled = known.compare_effects("x1", models=["glm"], original_scale=False, plot=False)
    assert scaled["colors"]["glm"] == record["colors"]["glm"]
    x, density = scaled["x"], scaled["density"]
    assert [x[0], x[-1], density["edges"][0], density["edges"][-1], density["shares"].sum()] == pytest.approx([0, 1, 0, 1, 1])
    assert "x1 as the models see it: its training range from 0 to 1." in scaled["note"]


def test_a_correlated_feature_is_probed_by_accumulated_local_effects():
    exp = fitted(known_table(correlated=True), ("tree", "reludnn", "glm"))
    x1, x2 = exp.compare_effects("x1", plot=False), exp.compare_effects("x2", plot=False)
    assert x1["methods"] == {"tree": compare.ALE, "reludnn": compare.ALE, "glm": "coefficient \u00d7 feature"}
    assert x2["methods"]["tree"] == compare.PD
    # the effect of x1 alone, not of x3 that goes with it: the glm's slope, roughly
    rise = {m: c[-1] - c[0] for m, c in x1["curves"].items()}
    assert rise["reludnn"] == pytest.approx(rise["glm"], rel=0.35)
    # a feature that others make up: a linear model's coefficient of it is said to be shared
    frame = known_table()
    frame["x3"] = frame["x1"] + frame["x2"]
    exp = fitted(frame, ["glm"])
    assert "the other features make up x3 linearly" in exp.compare_effects("x3", plot=False)["note"]
    assert "linearly" not in exp.compare_effects("c", plot=False)["note"]


def test_a_classifier_of_probabilities_is_shown_as_a_finite_logit():
    frame = known_table()
    frame["y"] = np.where(frame.pop("y") > 14, "yes", "no")
    record = fitted(frame, ("tree", "glm"), task="classification").compare_effects("x1", plot=False)
    assert record["axis_label"] == "effect on the logit of P(yes)"
    for model, curve in record["curves"].items():
        assert np.all(np.isfinite(curve)) and curve[-1] - curve[0] > 2, model


def test_importance_ranks_are_each_models_own_and_disagreements_are_marked(known, monkeypatch):
    record = known.compare_importance(models=list(FAMILIES), plot=False)
    assert record["models"] == list(FAMILIES) and record["n_features"] == 4
    for m, model in enumerate(FAMILIES):
        own = known.interpret_fi(model)
        by_rank = [f for _, f in sorted(zip(record["rank"][:, m], record["features"]))]
        assert by_rank == own["feature_names"][::-1], model
        values = dict(zip(own["feature_names"], own["importance"]))
        assert list(record["importance"][:, m]) == [values[f] for f in record["features"]]
    assert record["scores"][0] == "R\u00b2 %.3f" % known.scores("glm")["r2"].model
    assert record["features"][0] == "x1" and record["disagree"] == []

    # two models that read the features in opposite orders
    names = ["f%02d" % k for k in range(12)]
    orders = {"glm": names, "tree": names[::-1]}
    real = known.interpret_fi
    monkeypatch.setattr(known.dataset, "feature_names", names)
    monkeypatch.setattr(known, "interpret_fi", lambda model: dict(
        real(model), feature_names=orders[model], importance=np.arange(12.0)))
    record = known.compare_importance(models=["glm", "tree"], plot=False)
    spread = np.abs(record["rank"][:, 0] - record["rank"][:, 1])
    assert len(record["disagree"]) == compare.MARKED
    marked = np.isin(record["features"], record["disagree"])
    assert spread[marked].min() >= spread[~marked].max()


def test_comparisons_refuse_what_they_cannot_compare_and_draw_one_figure_each(known):
    with pytest.raises(KeyError, match="'x9' is not a feature"):
        known.compare_effects("x9", plot=False)
    with pytest.raises(KeyError, match="no model is registered as 'nope'"):
        known.compare_importance(models=["glm", "nope"], plot=False)
    with pytest.raises(ValueError, match="no models to compare"):
        known.compare_effects("x1", models=[], plot=False)
    with capture() as figures:
        effects = known.compare_effects("c", models=["glm", "ebm"])
        importance = known.compare_importance(models=["glm", "ebm"])
    assert len(figures) == 2
    # a notebook shows the records in a line, not as their arrays
    assert repr(effects).startswith("<Comparison, effect of 'c' in 2 models: glm (coeff")
    assert repr(importance).startswith("<Comparison, importance of 4 of 4 features in 2 models")
