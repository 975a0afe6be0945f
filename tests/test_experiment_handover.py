"""What the experiment hands the views to print: values back in the data's units without float
noise, display names that read as abbreviations, titles that say what their value axis
measures, two-valued features as levels and the spread of every family's local parts."""

import re
import warnings

import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import pytest
from sklearn.datasets import load_breast_cancer

from vexo.workflow.experiment.features import undo_scaling
from vexo.workflow.experiment.dataset import abbreviate, truncate_names
from vexo.workflow.experiment import Experiment
from vexo.workflow.plots import PlotHBar

api = pytest.importorskip("vexo.workflow.interpret_api")


def noisy_frame(n=90, seed=4):
    """Columns whose unscaling is noisy in binary (the ranges of breast-cancer radii and
    concavities), a column of whole numbers and a date."""
    rng = np.random.default_rng(seed)
    radius = np.round(rng.uniform(6.981, 28.11, n), 4)
    radius[:2] = [6.981, 28.11]
    radius[2] = 27.6074
    concavity = np.round(rng.uniform(0.0, 0.4268, n), 5)
    concavity[3] = 0.1043
    age = rng.integers(19, 80, n)
    day = pd.Timestamp("2020-01-01") + pd.to_timedelta(rng.integers(0, 300, n), unit="D")
    y = radius / 10 + 5 * concavity + age / 50 + rng.normal(0, 0.1, n)
    return pd.DataFrame({"radius": radius, "concavity": concavity, "age": age, "day": day,
                         "y": y})


@pytest.fixture(scope="module")
def noisy():
    exp = Experiment(noisy_frame(), "y")
    exp.register("tree", "tree", max_depth=4, min_samples_leaf=2)
    return exp


def test_unscaled_values_are_the_decimals_of_the_table(noisy):
    pipeline, ds = noisy.registered_pipeline["tree"], noisy.dataset
    X = pipeline.transform(ds.data)
    for j, name in enumerate(["radius", "concavity"]):
        back, kind = pipeline.transform_to_orignial_scale(name, X[:, j])
        assert kind == "numeric"
        assert [repr(float(v)) for v in back] == [repr(float(v)) for v in ds.data[name]]
    assert str(pipeline.transform_to_orignial_scale("radius", X[[2], 0])[0][0]) == "27.6074"
    # whole numbers come back whole, what lies between them as a decimal
    ages, _ = pipeline.transform_to_orignial_scale("age", X[:, 2])
    assert ages.dtype.kind == "i" and list(ages) == list(ds.data["age"])
    between = pipeline.transform_to_orignial_scale("age", (X[:2, 2] + X[2:4, 2]) / 2)[0]
    assert list(between) == list((ds.data["age"].to_numpy()[:2] + ds.data["age"][2:4]) / 2)
    days, _ = pipeline.transform_to_orignial_scale("day", X[:, 3])
    assert list(days) == list(ds.data["day"])
    # the shape of what is given is kept
    assert pipeline.transform_to_orignial_scale("radius", X[:6, :1].reshape(2, 3))[0].shape \
        == (2, 3)


@pytest.mark.parametrize("minimum, span", [(-1e6, 2e6), (1e-9, 3e-9), (-0.2, 0.1), (1e17, 1e16)])
def test_undoing_the_scaling_keeps_the_decimals_whatever_the_magnitudes(minimum, span):
    rng = np.random.default_rng(0)
    digits = 6 - int(np.floor(np.log10(abs(minimum) + span)))
    values = np.round(minimum + span * rng.uniform(size=200), digits)
    back = undo_scaling((values - minimum) / span, minimum, span)
    assert [repr(float(v)) for v in back] == [repr(float(v)) for v in values + 0.0]
    # distinct values stay distinct and in order: a grid across the range is still a scale
    grid = undo_scaling(np.linspace(0, 1, 257), minimum, span)
    assert (np.diff(grid) > 0).all()


def test_a_random_looking_value_comes_back_to_a_millionth_of_the_range():
    assert [str(v) for v in undo_scaling([0.41380622587, 0.0, 1.0], -1.0, 3.0)] \
        == ["0.241419", "-1.0", "2.0"]


# Display names ----------------------------------------------------------------------------

def reads_as(shown, name):
    """Whether ``shown`` keeps the start of the name's first word and every character of it
    comes from the name in order (blanks and an abbreviated pair separator aside)."""
    shown = re.sub(r"~\d+$", "", shown).replace("×", "x")
    letters = iter(name)
    return shown[:1] == name.strip()[:1] and all(
        c == " " or any(c == n for n in letters) for c in shown)


@pytest.mark.parametrize("width", [10, 15])
def test_breast_cancer_names_read_as_distinct_abbreviations(width):
    names = list(load_breast_cancer().feature_names)
    shown = truncate_names(names, width)
    assert list(shown) == names
    assert len(set(shown.values())) == len(names)
    assert all(len(s) <= width for s in shown.values())
    assert all(reads_as(shown[n], n) for n in names), shown
    assert not [s for s in shown.values() if "~" in s]
    # every word that survives starts as a word of the name does
    for name, s in shown.items():
        starts = {w[0] for w in name.split()}
        assert {w[0] for w in s.split()} <= starts
    # names that fit stay whole
    assert shown["mean area"] == "mean area"
    assert truncate_names(names, width) == shown


def test_near_duplicates_stay_apart_after_abbreviation_and_suffix():
    names = ["religious", "religious ", " religious", "mean con~1", "mean concavity",
             "mean concave points", "mean concave pointy", "sensor_reading_12",
             "sensor_reading_13", "a_x_b_and_more", "xylophone x", "x_ray_reading_value"]
    for width in (10, 15):
        shown = truncate_names(names, width)
        told_apart = [" ".join(s.split()) for s in shown.values()]
        assert len(set(told_apart)) == len(names), shown
        assert shown["religious"] == "religious" and shown["mean con~1"] == "mean con~1"
        assert all(len(s) <= width and s == s.strip() for s in shown.values())
        assert not [s for s in shown.values()
                    if " x " in s or s.endswith(" x") or s.startswith("x ")]
        assert shown["sensor_reading_12"].endswith("12")
        assert shown["sensor_reading_13"].endswith("13")
        assert all(reads_as(shown[n], n) for n in names if n.strip() != "religious"), shown


def test_abbreviations_drop_vowels_before_cutting_and_keep_acronyms():
    assert abbreviate("mean compactness", 12) == "mean cmpctns"
    assert abbreviate("worst compactness", 15) == "worst cmpctns"
    assert abbreviate("BMI_at_baseline", 10) == "BMI at bsl"
    assert abbreviate("perimeter error", 10) == "prmtr err"
    assert len(abbreviate("a b c d e f g h", 5)) == 5


# Titles -------------------------------------------------------------------------------------

def significant_digits(title):
    numbers = re.findall(r"(?<![\w(])-?\d+\.?\d*(?:e[-+]\d+)?", title)
    return [len(n.lstrip("-").split("e")[0].replace(".", "").lstrip("0")) for n in numbers
            if not re.fullmatch(r"-?\d+", n)]


def test_titles_carry_the_label_of_their_value_axis(experiment, monkeypatch):
    exp = experiment
    classification = exp.task == "classification"
    fi = exp.interpret_fi("glm")["title"]
    assert fi.axis_label == ("drop in ROC AUC" if classification else "drop in R²")
    assert fi.startswith("Permutation Importance")

    if classification:
        expected = {"glm": "contribution to the logit of yes", "relu":
                    "contribution to the logit of yes", "tree": "contribution to P(yes)",
                    "ebm": "contribution to the logit of yes"}
    else:
        expected = dict.fromkeys(["glm", "relu", "tree", "ebm"],
                                 "contribution to the prediction of y")
    for model, label in expected.items():
        for row in (0, 5, 41):
            title = exp.interpret_local_fi(model, row)["title"]
            assert title.axis_label == label and title.startswith("Sample %d: " % row)
            assert all(d <= 4 for d in significant_digits(title)), title
    for model in ("ebm", "gam", "gami"):
        title = exp.interpret_local_effect(model, 3)["title"]
        assert title.axis_label == expected["ebm"]
        assert title.endswith("intercept plus effects")
        assert "Intercept" in exp.interpret_local_effect(model, 3)["x"]

    # the views hand the title on as it is
    seen = []
    monkeypatch.setattr(PlotHBar, "plot", lambda self, **kw: seen.append(kw["title"]))
    monkeypatch.setattr(PlotHBar, "plot_stem", lambda self, **kw: seen.append(kw["title"]))
    view = api.InterpretAPI(exp, "tree")
    view.fi()
    view.fi_local(7)
    assert [t.axis_label for t in seen] == [fi.axis_label, expected["tree"]]


# Two-valued features ---------------------------------------------------------------------

@pytest.fixture(scope="module")
def coded():
    rng = np.random.default_rng(2)
    n = 160
    frame = pd.DataFrame({"sex": rng.choice([1, 2], n), "smoker": rng.choice([0.0, 1.0], n),
                          "grade": rng.choice([1, 2, 3], n), "bmi": rng.normal(26, 4, n)})
    frame["y"] = 3 * frame["sex"] - 2 * frame["smoker"] + frame["grade"] + frame["bmi"] / 4 \
        + rng.normal(0, 0.3, n)
    exp = Experiment(frame, "y")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        exp.register("ebm", "ebm", outer_bags=1, interactions=0, max_rounds=300)
    exp.register("gam", "gam", lam=1.0)
    exp.register("gami", "gami", interactions=[(0, 3)], lam=1.0)
    return exp


def test_two_valued_features_are_main_effects_at_their_levels(coded):
    exp = coded
    for model in ("ebm", "gam", "gami"):
        terms = exp._family(model).terms(exp, model)
        effect = exp.get_interpret(model)
        items = effect.main_effect_ if model == "ebm" else \
            effect["effect"] if model == "gam" else effect
        for j, name in ((0, "sex"), (1, "smoker"), (2, "grade")):
            at = np.zeros((2, 4))
            at[:, j] = [0.0, 1.0]
            model_says = terms.contributions(at)[:, terms.features.index((j,))]
            item = items[name]
            if model == "ebm":
                kind = effect.estimator.feature_types[j]
            else:
                kind = item["feature_type"] if model == "gam" else item["type"]
            if name == "grade":  # three values and more stay a curve
                assert kind == "continuous", model
                continue
            assert kind == "categorical", model
            if model == "ebm":
                # a value between the codes is the level it rounds up to
                between = np.zeros((3, 4))
                between[:, j] = [0.2, 0.5, 0.9]
                assert item["predict_func"](between) == pytest.approx(model_says[[0, 1, 1]])
                assert item["values"] == pytest.approx(model_says)
            else:
                assert list(item["inputs"]) == [0.0, 1.0]
                assert item["outputs"] == pytest.approx(model_says)
            share = (exp.dataset.data[name].iloc[exp.dataset.train_index] ==
                     exp.dataset.data[name].max()).mean()
            assert item["density"]["scores"] == pytest.approx([1 - share, share])
    assert exp.get_interpret("gami")["sex"]["input_labels"] == ["1", "2"]
    assert exp.get_interpret("gami")["smoker"]["input_labels"] == ["0", "1"]


def test_two_valued_features_are_drawn_at_their_labels(coded):
    for model in ("ebm", "gam", "gami"):
        api.InterpretAPI(coded, model).main_effect("sex", original_scale=True)
        fig = plt.gcf()
        ticks = [t.get_text() for t in fig.axes[-1].get_xticklabels() if t.get_text()]
        plt.close("all")
        assert ticks == ["1", "2"], model


def test_the_boosting_machines_curve_is_its_bins_scores(coded):
    exp = coded
    effect = exp.get_interpret("ebm")
    ebm = exp.registered_pipeline["ebm"].estimator
    item = effect.main_effect_["bmi"]
    grid = np.zeros((100, 4))
    grid[:, 3] = np.linspace(effect.min_value_[3], effect.max_value_[3], 100)
    curve = item["predict_func"](grid)
    cuts = np.asarray(ebm.bins_[3][0], dtype=float)
    bins = np.searchsorted(cuts, grid[:, 3], side="right")
    assert curve == pytest.approx(item["values"][bins])
    assert len(set(np.round(curve, 12))) < len(curve)
