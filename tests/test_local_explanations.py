"""One sample explained: ei_local relabels term values, fi_local rounds feature values; both draw bars."""
import re

import numpy as np
import pytest
from matplotlib.patches import Rectangle

from vexo.workflow.figures import capture
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph
from vexo.workflow.plots.bars import number_text

TERMS = ["a", "AB", "c x d", "Intercept", "e"]
INTERCEPT = [7.5]


@pytest.fixture
def local(api, experiment_double):
    """Serves a local result; records what was asked and converted ('original units': value + 1, colour "blue")."""
    def transform(name, values):
        serve.converted.append((name, values.dtype, values.tolist()))
        return np.array(["blue"]) if name == "colour" else values + 1, "numeric"

    def serve(result):
        experiment_double.interpret_local_effect = experiment_double.interpret_local_fi = (
            lambda **kwargs: serve.asked.append(kwargs) or result)
        return result
    experiment_double.inter_effect_trunc_dict = {"model": {"old x one": "AB", "a x b": "AB", "z x y": "Z"}}
    api.pipeline.transform_to_orignial_scale = transform
    serve.asked, serve.converted = [], []
    return serve


@pytest.mark.parametrize("original_scale, labels, converted", [
    (False, ["0.1235", "0.1235 x 2.0", "1.0 x 2.0", INTERCEPT, "3"], []),
    (True, [1.123456, "1.123456 x 3.0", "2.0 x 3.0", INTERCEPT, 4.0],
     [("a", [[0.123456]]), ("a", [0.123456]), ("b", [2.0]), ("c", [1.0]), ("d", [2.0]), ("e", [[3.0]])]),
])
def test_term_values_are_relabelled_in_place(api, local, plot_calls, original_scale, labels, converted):
    result = local({"x": list(TERMS), "value": [[0.123456], [0.123456, 2.0], [1.0, 2.0], INTERCEPT, [3]],
                    "y": [0.5, -0.2, 0.1, 1.0, -0.3], "title": "Sample 4", "extra": "kept"})
    assert api.ei_local(4, original_scale=original_scale, figsize=(3, 3)) is None
    assert local.asked == [{"model": "model", "sample_index": 4}]
    value = result["value"]
    assert type(value) is np.ndarray and value.dtype == object and value.tolist() == labels
    assert value[3] is INTERCEPT and all(isinstance(v, float if original_scale else str) for v in value[[0, 4]])
    assert [(name, v) for name, dtype, v in local.converted if dtype == float] == converted
    assert sorted(result) == ["extra", "title", "value", "x", "y"] and result["x"] == TERMS
    [(_, kwargs)] = plot_calls.of("plot")
    assert kwargs.pop("value").tolist() == labels and kwargs == {
        "X": TERMS, "height": result["y"], "title": "Sample 4", "mid_center": True, "pos_color": "#e74c3c",
        "neg_color": "#27ae60", "figsize": (3, 3)}


def test_each_value_is_converted_after_the_method_and_numpy_are_looked_up(api, local, plot_calls, monkeypatch):
    from vexo.workflow import interpret_api
    seen = []
    logged = lambda name, value: seen.append(name) or value  # noqa: E731
    monkeypatch.setattr(interpret_api, "np", type("Numpy", (), {"__getattr__": lambda _, a: logged("np." + a, getattr(np, a))})())
    api.pipeline = type("Pipeline", (), {"__getattr__": lambda _, a: logged(a, lambda name, v: (v, "numeric"))})()
    local({"x": ["a", "c x d"], "value": [[0.5], [1.0, 2.0]], "y": [0.5, 0.1], "title": ""})
    api.ei_local(4, original_scale=True)
    start = seen.index("transform_to_orignial_scale")
    assert seen[start:start + 6] == ["transform_to_orignial_scale", "np.array"] * 3


@pytest.mark.parametrize("x, original_scale, values, dtype", [
    (["age", "colour", "noise"], False, [0.1235, 2.0, 3.0], float),
    (["age", "colour", "noise"], True, [1.1235, "blue", 4.0], object),
])
def test_feature_values_are_rounded_and_labels_kept(api, local, plot_calls, x, original_scale, values, dtype):
    result = local({"x": x, "y": np.array([0.5, -1.0, 0.25]), "value": [0.123456, 2, 3.00004], "title": "S"})
    record = api.fi_local(7, centered="c", return_data=True, original_scale=original_scale)
    assert local.asked == [{"model": "model", "sample_index": 7, "centered": "c"}]
    assert list(record.items()) == [("key", "local_fi"), ("model", "model"), ("input", {"idx": 7}), ("value", result)]
    assert result["value"].tolist() == values and result["value"].dtype == dtype and len(result) == 4
    assert [(name, v) for name, _, v in local.converted] == (
        list(zip(x, [[0.123456], [2.0], [3.00004]])) if original_scale else [])
    assert plot_calls.of("plot")[0][1]["value"].tolist() == values


@pytest.mark.parametrize("stems, max_show, shown", [(False, 10, 3), (False, 0, 3), (False, -1, 2), (True, 2, 2)])
def test_bars_or_stems_of_the_last_max_show_features(plot_calls, stems, max_show, shown):
    v = {"x": ["a", "b", "c"], "y": [1, -2, 3], "value": [4, 5, 6], "title": "T"}
    v.update({"stem0": [0, 1, 2], "stem1": [3, 4, 5]} if stems else {})
    InterpretGraph.plot_fi_local({"value": v}, max_show, (2, 2))
    [(_, kwargs)] = plot_calls.of("plot_stem" if stems else "plot")
    cut = {key: v[name][3 - shown:] for key, name in [("X", "x"), ("height", "y"), ("value", "value")]}
    cut.update({"stem_value0": v["stem0"][3 - shown:], "stem_value1": v["stem1"][3 - shown:]} if stems else {})
    rest = {"title": "T", "mid_center": True, "pos_color": "#e74c3c", "neg_color": "#27ae60", "figsize": (2, 2)}
    assert kwargs == {**cut, **rest}


# One sample's chart as a reader adds it up ---------------------------------------------------

def _number(text):
    return float(text.replace("\u2212", "-"))


def read_sum(figure):
    """(the drawn bars plus the baseline, the prediction, the labels), the numbers as the title prints them."""
    ax = figure.axes[0]
    title = ax.get_title().replace("\n", " ")
    found = re.fullmatch(r"Sample \d+: .*\s(\S+) = .*\s(\S+)\s\+\s(effects|contributions)", title)
    assert found, title
    widths = [p.get_width() for p in ax.patches if isinstance(p, Rectangle)]
    names = [t.get_text().replace("\n", " ").replace("\u00a0", " ") for t in ax.get_yticklabels()]
    return sum(widths) + _number(found[2]), _number(found[1]), names


# what each family's contributions start from, as the title names it
BASELINES = {"glm": "training mean", "tree": "training mean", "relu": "its linear model at the mean",
             "ebm": "training mean", "gam": "training mean", "gami": "training mean", "knn": "mean over training rows"}


@pytest.mark.parametrize("model", list(BASELINES))
@pytest.mark.parametrize("max_show", [10, 3])
def test_one_samples_bars_add_up_to_its_prediction_from_the_named_baseline(experiment, model, max_show):
    exp = experiment
    api, row = InterpretAPI(exp, model), int(exp.dataset.test_index[1])
    with capture() as drawn:
        record = api.fi_local(row, return_data=True, original_scale=True)
        InterpretGraph.plot_fi_local(record, max_show=max_show)
        if exp.interpret_local_effect(model, row) is not None:
            api.ei_local(row, original_scale=True)
            InterpretGraph.plot_ei_local({"value": exp.interpret_local_effect(model, row)}, max_show=max_show)
    figures = drawn[1::2] if max_show == 3 else drawn[0::2]
    assert " = %s\u00a0" % BASELINES[model] in record["value"]["title"]
    for figure in figures:
        total, prediction, names = read_sum(figure)
        # both numbers of the title are printed to 4 significant digits
        assert total == pytest.approx(prediction, abs=1e-3 * (abs(total) + abs(prediction)) + 1e-9)
        assert "Intercept" not in " ".join(names)
    # the rest as one row, counted; the sample's values with the features' names, in original units
    v = record["value"]
    _, _, names = read_sum(drawn[1 if max_show == 3 else 0])
    others = len(v["x"]) - min(max_show, len(v["x"]))
    assert names[0] == "+ %d other features" % others if others else not names[0].startswith("+")
    pipeline, top = exp.registered_pipeline[model], v["x"][-1]
    value = pipeline.transform_to_orignial_scale(top, exp.model_inputs(model, [row])[:, [exp.dataset.feature_names.index(top)]].ravel())[0][0]
    assert names[-1] == "%s = %s" % (top, number_text(value if isinstance(value, str) else round(float(value), 4)))
