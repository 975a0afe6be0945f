"""One sample explained: ei_local relabels the values of each effect term (in original units on
request) and plot_ei_local draws signed bars; fi_local rounds the sample's feature values (in
original units on request, labels kept) and plot_fi_local draws bars, or stems when the experiment
gives the two extra series."""
import matplotlib.pyplot as plt
import numpy as np
import pytest
from matplotlib.colors import to_hex

from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph

TERMS = ["a", "AB", "c x d", "Intercept", "e"]
INTERCEPT = [7.5]


def plus_one(pipeline_calls, parts=None):
    """A back-transformation into 'original units' that adds 1, or labels the feature "colour"."""
    def transform(name, values):
        pipeline_calls.append((name, values.dtype, values.tolist()))
        t = np.array(["blue"]) if name == "colour" else values + 1
        return (t, "numeric") if parts is None else parts(t)
    return transform


@pytest.fixture
def local(api, experiment_double, monkeypatch):
    """Serves the given local results to ei_local and fi_local; returns what was asked and converted."""
    asked, converted = [], []
    experiment_double.inter_effect_trunc_dict = {"model": {"old x one": "AB", "a x b": "AB", "z x y": "Z"}}
    api.pipeline.transform_to_orignial_scale = plus_one(converted)

    def serve(result):
        experiment_double.interpret_local_effect = lambda **kwargs: asked.append(kwargs) or result
        experiment_double.interpret_local_fi = lambda **kwargs: asked.append(kwargs) or result
        return result
    serve.asked, serve.converted = asked, converted
    return serve


def effects():
    return {"x": list(TERMS), "value": [[0.123456], [0.123456, 2.0], [1.0, 2.0], INTERCEPT, [3]],
            "y": [0.5, -0.2, 0.1, 1.0, -0.3], "title": "Sample 4", "extra": "kept"}


@pytest.mark.parametrize("original_scale, labels, converted", [
    (False, ["0.1235", "0.1235 x 2.0", "1.0 x 2.0", INTERCEPT, "3"], []),
    (True, [1.123456, "1.123456 x 3.0", "2.0 x 3.0", INTERCEPT, 4.0],
     [("a", [[0.123456]]), ("a", [0.123456]), ("b", [2.0]), ("c", [1.0]), ("d", [2.0]), ("e", [[3.0]])]),
])
def test_term_values_are_relabelled_in_place(api, local, plot_calls, original_scale, labels, converted):
    result = local(effects())
    assert api.ei_local(4, original_scale=original_scale, figsize=(3, 3)) is None
    assert local.asked == [{"model": "model", "sample_index": 4}]
    value = result["value"]
    assert type(value) is np.ndarray and value.dtype == object and value.tolist() == labels
    assert value[3] is INTERCEPT and all(isinstance(v, float if original_scale else str) for v in value[[0, 4]])
    assert [(name, values) for name, dtype, values in local.converted] == converted
    assert all(dtype == np.float64 for _, dtype, _ in local.converted)
    assert sorted(result) == ["extra", "title", "value", "x", "y"] and result["x"] == TERMS
    [(_, kwargs)] = plot_calls.of("plot")
    assert kwargs.pop("value").tolist() == labels and kwargs == {
        "X": TERMS, "height": result["y"], "title": "Sample 4", "mid_center": True, "pos_color": "#e74c3c",
        "neg_color": "#27ae60", "figsize": (3, 3)}


@pytest.mark.parametrize("x, parts, message", [
    (["AB"], lambda t: (t,), "need more than 1 value to unpack"),
    (["AB"], lambda t: iter(()), "need more than 0 values to unpack"),
    (["AB"], lambda t: iter([t, 1, 2]), "too many values to unpack (expected 2)"),
    (["a x b x c"], None, "too many values to unpack (expected 2)"),
    (["ab"], None, "need more than 1 value to unpack"),
])
def test_unpacking_a_transformation_or_an_interaction_name(api, local, plot_calls, x, parts, message):
    api.pipeline.transform_to_orignial_scale = plus_one([], parts)
    result = local({"x": x, "value": [[0.5, 1.0]], "y": [1.0], "title": ""})
    with pytest.raises(ValueError) as raised:
        api.ei_local(0, original_scale=True)
    assert str(raised.value) == message and result["value"] == [[0.5, 1.0]] and plot_calls == []


def test_no_local_effects_are_refused_with_the_sample_recorded(api, local, monkeypatch, plot_calls, capsys):
    local(None)
    api.ei_local("row 3", original_scale=True)
    assert capsys.readouterr().out == "Not supported\n" and plot_calls == [] and local.converted == []
    seen = []
    monkeypatch.setattr(InterpretGraph, "plot_ei_local", staticmethod(lambda r, **k: seen.append(r)))
    api.ei_local("row 3", original_scale=True)
    assert seen == [{"key": "local_ei", "model": "model", "input": {"idx": "row 3"}, "value": None}]


def features(**extra):
    return {"x": ["age", "colour", "noise"], "y": np.array([0.5, -1.0, 0.25]),
            "value": [0.123456, 2, 3.00004], "title": "Sample 7", **extra}


@pytest.mark.parametrize("original_scale, values", [
    (False, [0.1235, 2.0, 3.0]),
    (True, [1.1235, "blue", 4.0]),
])
def test_feature_values_are_rounded_and_labels_kept(api, local, plot_calls, original_scale, values):
    result = local(features())
    record = api.fi_local(7, centered="c", return_data=True, original_scale=original_scale)
    assert local.asked == [{"model": "model", "sample_index": 7, "centered": "c"}]
    assert list(record.items()) == [("key", "local_fi"), ("model", "model"), ("input", {"idx": 7}), ("value", result)]
    assert result["value"].tolist() == values and sorted(result) == ["title", "value", "x", "y"]
    assert result["value"].dtype == (object if original_scale else float)
    expected = [("age", [0.123456]), ("colour", [2.0]), ("noise", [3.00004])] if original_scale else []
    assert [(name, v) for name, _, v in local.converted] == expected
    assert plot_calls.of("plot")[0][1]["value"].tolist() == values


def test_original_units_of_numbers_only_give_a_float_array(api, local, plot_calls):
    result = local(features(x=["age", "income", "noise"]))
    api.fi_local(7, original_scale=True)
    assert result["value"].dtype == float and result["value"].tolist() == [1.1235, 3.0, 4.0]


@pytest.mark.parametrize("extra, method, max_show, shown", [
    ({}, "plot", 10, 3), ({}, "plot", 2, 2), ({}, "plot", 0, 3), ({}, "plot", -1, 2),
    ({"stem0": [0, 1, 2], "stem1": [3, 4, 5]}, "plot_stem", 2, 2),
])
def test_bars_or_stems_of_the_last_max_show_features(plot_calls, extra, method, max_show, shown):
    v = features(**extra)
    assert InterpretGraph.plot_fi_local({"value": v}, max_show, (2, 2)) is None
    [(_, kwargs)] = plot_calls.of(method)
    stems = {"stem_value0": v["stem0"][3 - shown:], "stem_value1": v["stem1"][3 - shown:]} if extra else {}
    assert list(kwargs) == ["X", "height", "value", *stems, "title", "mid_center", "pos_color", "neg_color", "figsize"]
    assert kwargs["X"] == v["x"][3 - shown:] and kwargs["value"] == v["value"][3 - shown:]
    assert kwargs["height"].tolist() == v["y"][3 - shown:].tolist()
    assert {k: kwargs[k] for k in stems} == stems and kwargs["figsize"] == (2, 2)


@pytest.mark.parametrize("result, error", [
    (None, TypeError), ({"x": []}, KeyError), (features(value=["a", 1, 2]), ValueError),
    (features(note="a fifth entry"), KeyError),  # not four entries: the stem chart, without stems
])
def test_junk_local_results_raise(api, local, plot_calls, result, error):
    local(result)
    with pytest.raises(error):
        api.fi_local(0)


def test_junk_relabelling_input_raises(api, local, plot_calls):
    local({"x": ["a"], "value": 5, "y": [1.0], "title": ""})
    with pytest.raises(TypeError):
        api.ei_local(0)
    del api.experiment.inter_effect_trunc_dict["model"]
    local(effects())
    with pytest.raises(KeyError):
        api.ei_local(0)


def test_signed_bars_of_a_real_sample_in_original_units(experiment, tmp_path):
    record = InterpretAPI(experiment, "tree").fi_local(17, original_scale=True, return_data=True, figsize=(6, 4))
    figure = plt.gcf()
    figure.savefig(tmp_path / "fi_local.png")
    [axes] = figure.axes
    assert tuple(figure.get_size_inches()) == (6, 4)
    assert axes.get_title().replace("\n", " ") == record["value"]["title"]  # wrapped to the width
    v = record["value"]
    assert [t.get_text() for t in axes.get_yticklabels()] == v["x"]
    [bars] = axes.containers
    assert [to_hex(b.get_facecolor()) for b in bars] == ["#e74c3c" if h >= 0 else "#27ae60" for h in v["y"]]
    colour = v["value"][v["x"].index("colour")]
    assert colour in {"blue", "green", "red"} and {t.get_text() for t in axes.texts} >= {colour}
    raw = experiment.dataset.data.iloc[17]
    age = v["value"][v["x"].index("age")]
    assert age == round(float(raw["age"]), 4)


@pytest.mark.parametrize("plot, record, error", [
    ("plot_ei_local", {"value": {"value": 3}}, TypeError), ("plot_ei_local", {"value": {"value": []}}, KeyError),
    ("plot_fi_local", "text", TypeError), ("plot_fi_local", {"value": {"x": [], "y": [], "title": ""}}, KeyError),
])
def test_junk_records_raise(plot_calls, plot, record, error):
    with pytest.raises(error):
        getattr(InterpretGraph, plot)(record)
