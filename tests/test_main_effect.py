"""main_effect adapts each family's entry into a record; plot_main_effect draws it or a profile."""
import copy
import types

import matplotlib.pyplot as plt
import numpy as np
import pytest

from effect_doubles import EffectExperiment, llm_explainer, records, shows, ticks  # noqa: F401
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph


def ebm(feature_type, mapping=None):
    entry = {"fidx": [1], "predict_func": lambda X: np.column_stack([X, X.sum(axis=1)]), "nested": [[1.0]]}
    return types.SimpleNamespace(
        main_effect_={"bmi": entry}, n_features_in_=3, min_value_=[9, -2.0, 9], max_value_=[9, 3.0, 9],
        estimator=types.SimpleNamespace(feature_types=["continuous", feature_type, "continuous"],
                                        preprocessor_=types.SimpleNamespace(col_mapping_=[None, mapping])))


ENTRY = {"type": "continuous", "feature_type": "categorical", "nested": [[1.0]]}
LLM_KEYS = "feature_id n_features nllms_top sample_idx_by_llms x all_weights feature_names feature_names_full"


@pytest.mark.parametrize("class_name, model_type, explainer, entry, feature_type", [
    ("ExplainableBoostingRegressor", "ebm", lambda: ebm("ordinal"), lambda x: x.main_effect_["bmi"], "ordinal"),
    ("ExplainableBoostingClassifier", "ebm", lambda: ebm("categorical", {2: "c", "0": "a", 1.5: "b"}),
     lambda x: x.main_effect_["bmi"], "categorical"),
    ("GAMINetClassifier", "gami", lambda: {"bmi": copy.deepcopy(ENTRY)}, lambda x: x["bmi"], "continuous"),
    ("GAMRegressor", "gam", lambda: {"effect": {"bmi": copy.deepcopy(ENTRY)}}, lambda x: x["effect"]["bmi"],
     "categorical"),
    ("ReluDNNClassifier", "reludnn", llm_explainer, None, None),
])
@pytest.mark.parametrize("original_scale", [False, "yes"])
def test_record_of_each_family(records, class_name, model_type, explainer, entry, feature_type, original_scale):
    x = explainer()
    before = entry and copy.deepcopy(entry(x))
    experiment = EffectExperiment(class_name, x)
    InterpretAPI(experiment, "m").main_effect("body_mass_index_kg_m2" if entry is None else "bmi",
                                              original_scale=original_scale, figsize=(3, 2))
    [(record, kwargs)] = records
    value = record["value"]
    assert kwargs == {"figsize": (3, 2)} and list(record.items())[:4] + list(record.items())[5:] == [
        ("key", "main_effect"), ("model", "m"), ("model_type", model_type), ("input", {"feature": value["feature"]}),
        ("scaler", experiment.to_original if original_scale else None)]
    assert experiment.calls == [("get_interpret", "m")]
    if entry is None:  # the truncated name, at its 1-based position, and the explainer's own arrays
        assert list(value) == ["feature", *LLM_KEYS.split(), "feature_importance"]
        assert (value["feature"], value["feature_id"]) == ("body_mass_", 2)
        assert all(value[key] is getattr(x, key) for key in ("sample_idx_by_llms", "x", "feature_importance"))
        return
    grid = {"ordinal": ["xgrid", "ygrid"], "categorical": ["categories"]}[feature_type] if model_type == "ebm" else []
    assert list(value) == ["feature", "feature_type", *grid, "output"] and value["feature_type"] == feature_type
    value["output"]["nested"][0].append(2.0)  # a deep copy
    assert entry(x) == before and value["output"]["nested"] == [[1.0, 2.0]]
    if "xgrid" in value:  # a 100-point grid along the feature; the double hands back X and its row sums
        X = value["ygrid"][:, :3]
        assert X.shape == (100, 3) and not X[:, [0, 2]].any() and (X[:, 1] == value["xgrid"]).all()
        assert (value["xgrid"][0], value["xgrid"][-1]) == (-2.0, 3.0)
    if "categories" in value:  # the mapping's keys as floats, in its order
        assert value["categories"].dtype == float and value["categories"].tolist() == [2.0, 0.0, 1.5]


D = {"names": [0.0, 1.0], "scores": [3.0]}
VALUE = {"feature": "f", "categories": 8, "xgrid": 9, "ygrid": 10, "output": {
    "importance": 1, "feature_importance": 2, "values": 3, "inputs": 4, "outputs": 5, "density": D,
    "input_ticks": 6, "input_labels": 7}}
DENSITY = dict(density_names=D["names"], scores=D["scores"])


@pytest.mark.parametrize("model_type, feature_type, keywords", [
    ("ebm", "categorical", dict(importance=1, categories=8, height=3, **DENSITY)),
    ("ebm", "ordinal", dict(importance=1, **DENSITY, xgrid=9, ygrid=10)),
    ("gami", "categorical", dict(importance=1, categories=4, height=5, **DENSITY, xticks=6, xticks_label=7)),
    ("gami", "continuous", dict(importance=1, **DENSITY, xgrid=4, ygrid=5)),
    ("gam", "categorical", dict(importance=2, categories=4, height=5, density_names=4, scores=D["scores"])),
    ("gam", "continuous", dict(importance=2, **DENSITY, xgrid=4, ygrid=5)),
    ("gami", "ordinal", None), ("others", "categorical", None), ("others", None, "Not supported\n"),
])
def test_effect_plot_gets_the_family_fields_in_order(plot_calls, capsys, model_type, feature_type, keywords):
    value = None if feature_type is None else dict(VALUE, feature_type=feature_type)
    assert InterpretGraph.plot_main_effect({"scaler": "S", "model_type": model_type, "value": value},
                                           figsize="F") is None
    if isinstance(keywords, str):  # no value: a refusal, before any plot object
        assert capsys.readouterr().out == keywords and plot_calls == []
        return
    assert plot_calls[0] == ("PlotEffect", "__init__", (), {"feature": "f"})
    drawn = plot_calls.of("plot")
    assert drawn == ([] if keywords is None else [((feature_type,), dict(keywords, figsize="F", scaler="S"))])


def profile(llms, feature_id=1, scaler=None, figsize=(8, 6)):
    value = dict(feature="age", feature_id=feature_id, feature_names=["age", "bmi", "colour"],
                 feature_names_full=["age full", "bmi full", "colour full"],
                 **{k: getattr(llms, k) for k in (LLM_KEYS.split()[1:6] + ["feature_importance"])})
    InterpretGraph.plot_main_effect({"scaler": scaler, "model_type": "reludnn", "value": value}, figsize=figsize)
    upper, lower = plt.gcf().axes
    return upper, lower, upper.get_lines()[:-1]  # the last line is the zero line


def test_profile_draws_one_centred_line_per_model_over_a_shared_axis(plot_calls, shows, ticks):
    llms = llm_explainer()
    llms.x[llms.sample_idx_by_llms[2], 0] = 0.5  # no spread along the feature: left out, as is the last
    upper, lower, lines = profile(llms, figsize=(5, 4))  # model, which stands for one sample
    assert plot_calls == [("PlotEffect", "__init__", (), {"feature": "age"})] and ticks == []
    assert len(shows) == 2 and tuple(plt.gcf().get_size_inches()) == (5, 4)
    assert len(lines) == 4 and not lower.get_lines()  # the samples' distribution, not one density per model
    # wrapped to the height of its axes
    assert " ".join(upper.get_ylabel().split()) == "effect (each model's part, centred)" and upper.get_legend() is not None
    for line, k in zip(lines, [0, 1, 3, 4]):
        assert line.get_xdata().tolist() == sorted(llms.x[llms.sample_idx_by_llms[k], 0])
        assert np.allclose(np.diff(line.get_ydata()) / np.diff(line.get_xdata()), llms.all_weights[k, 0])
        assert abs(line.get_ydata().mean()) < 1e-12
    assert upper.get_title() == "LLM Feature Importance of age: 12.35%"
    assert upper.get_shared_x_axes().joined(upper, lower)
    # at most 30 models, rounded as Python rounds, ticks in original units when given a scaler
    llms = llm_explainer(nllms=40, counts=[3] * 40)
    llms.nllms_top, llms.feature_importance = 100, np.array([0.0, 0.125, 0.0])
    upper, lower, lines = profile(llms, feature_id=np.int64(2), scaler=len)
    assert len(lines) == 30 and upper.get_title().endswith("bmi: 0.12%")
    assert ticks == [{"ax": lower, "feature": "bmi full", "scaler": len, "axis": 0}]


@pytest.mark.parametrize("column, bars", [
    (lambda rng, n: rng.normal(40, 9, n), 20),                       # numbers: 20 bins over their range
    (lambda rng, n: rng.integers(0, 5, n).astype(float), 5),          # codes: one bar centred on each
])
def test_density_strip_is_a_histogram_within_the_datas_range(plot_calls, shows, column, bars):
    llms = llm_explainer(nllms=2, counts=[300, 100])
    values = column(np.random.default_rng(1), 400)
    llms.x[:, 0] = values
    _, lower, _ = profile(llms)
    drawn = sorted(lower.patches, key=lambda p: p.get_x())
    lefts = np.array([p.get_x() for p in drawn])
    rights = lefts + np.array([p.get_width() for p in drawn])
    assert len(drawn) == bars and sum(p.get_height() for p in drawn) == pytest.approx(1.0)
    if bars == 20:  # the bins end at the data's ends, and so does the axis, up to its margins
        assert (lefts[0], rights[-1]) == pytest.approx((values.min(), values.max()))
    else:  # each value's bar centred on it
        assert np.allclose((lefts + rights) / 2, np.unique(values))
    # the axis holds the bars and their margins, no tail beyond
    lo, hi = lower.get_xlim()
    reach = 0.1 * (rights[-1] - lefts[0])
    assert lefts[0] - reach < lo <= lefts[0] and rights[-1] <= hi < rights[-1] + reach
    assert lower.get_ylabel() == "share of samples" and lower.get_xlabel().startswith("age full")


@pytest.mark.parametrize("feature_id, figsize, message", [
    (4, (8, 6), r"^feature_id must within the range of \[1, 3\]\.$"),
    (1, [8, 6], r"^Argument 'figsize' has incorrect type \(expected tuple, got list\)$"),
])
def test_the_profiles_own_checks(shows, feature_id, figsize, message):
    with pytest.raises((ValueError, TypeError), match=message):
        profile(llm_explainer(), feature_id, figsize=figsize)
    assert shows == []
