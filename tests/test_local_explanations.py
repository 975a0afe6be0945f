"""One sample explained: ei_local relabels each term's values, fi_local rounds the feature values
(in original units on request, labels kept); both draw signed bars, fi_local stems when given."""
import numpy as np
import pytest

from vexo.workflow.interpret_api import InterpretGraph

TERMS = ["a", "AB", "c x d", "Intercept", "e"]
INTERCEPT = [7.5]


@pytest.fixture
def local(api, experiment_double):
    """Serves a local result to ei_local and fi_local; keeps what they asked and what the pipeline
    converted into 'original units': the value plus 1, or the label "blue" for colour."""
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
