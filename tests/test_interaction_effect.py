"""interaction_effect resolves the pair into a record; plot_interaction_effect draws or refuses it."""
import types

import matplotlib.pyplot as plt
import numpy as np
import pytest

from effect_doubles import EffectExperiment, llm_explainer, records, shows, ticks  # noqa: F401
from vexo.workflow import interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph


def ebm_explainer():
    def predict(X):
        predicted.append(X)
        return 1000 * X[:, 2] + X[:, 0]

    predicted = []
    return types.SimpleNamespace(
        predicted=predicted, interaction_={"key ab": {"fidx": [2, 0], "predict_func": predict, "importance": 0.7}},
        min_value_=[-1.0, 9, 0.0, 9], max_value_=[1.0, 9, 5.0, 9], n_features_in_=4)


def interaction(class_name, explainer, *features, pairs=("a x b",), pair_names=None, **kwargs):
    experiment = EffectExperiment(class_name, explainer, pairs, pair_names or {"key ab": "a x b"})
    InterpretAPI(experiment, "m").interaction_effect(*features, **kwargs)
    return experiment


def test_boosting_machine_is_evaluated_on_a_100_by_100_grid(records):
    explainer = ebm_explainer()
    interaction("ExplainableBoostingRegressor", explainer, "a", "b", figsize=(3, 2))
    [(record, kwargs)] = records
    value = record["value"]
    assert kwargs == {"figsize": (3, 2)} and (record["model_type"], record["input"], record["scaler"]) == (
        "ebm", {"feature_combine": "key ab"}, None)
    assert value["importance"] == 0.7
    assert value["extent"] == [0.0, 5.0, -1.0, 1.0]  # the first feature's bounds first
    [X] = explainer.predicted
    assert X.shape == (10000, 4) and not X[:, [1, 3]].any()
    # column 2 holds the first feature, along each row; column 0 the second, descending down the rows
    assert (X[:, 2].reshape(100, 100) == np.linspace(0, 5, 100)[None, :]).all()
    assert (X[:, 0].reshape(100, 100) == np.linspace(-1, 1, 100)[::-1, None]).all()
    assert (value["ygrid"] == (1000 * X[:, 2] + X[:, 0]).reshape(100, 100)).all()


@pytest.mark.parametrize("pairs, chosen", [
    (["a x b"], "key ab"), (["b x a"], "key ba"), (["b x a", "a x b"], "key ab"), (["a x c"], None)])
def test_pair_is_found_in_either_order_first_as_given(records, capsys, pairs, chosen):
    explainer = {"key ab": {"outputs": [[1.0]]}, "key ba": {}}
    experiment = interaction("GAMINetRegressor", explainer, "a", "b", pairs=pairs,
                             pair_names={"key ab": "a x b", "key ba": "b x a"}, original_scale=True)
    if chosen is None:
        assert capsys.readouterr().out == "No this interaction effect\n" and records == []
        assert experiment.calls == [("get_interpret", "m")]
        return
    [(record, _)] = records
    assert record["input"] == {"feature_combine": chosen} and record["scaler"] is experiment.to_original
    if chosen == "key ab":  # a deep copy of the explainer's own entry
        record["value"]["outputs"][0].append(2.0)
        assert explainer["key ab"] == {"outputs": [[1.0]]} and record["value"]["outputs"] == [[1.0, 2.0]]


def test_later_pair_names_win_and_a_relu_network_translates_the_names(records, capsys):
    interaction("GAMINetClassifier", {"key new": {}}, "b", "a", pair_names={"key old": "a x b", "key new": "a x b"})
    llms = llm_explainer()
    interaction("ReluDNNRegressor", llms, "body_mass_index", "age_of_the_pers", pairs=())
    assert interaction("ExplainableBoostingRegressor", None, "None", "b").calls == []  # refused before asking
    assert capsys.readouterr().out == "No interaction effect\n"
    (gami, _), (relu, _) = records
    assert gami["input"] == {"feature_combine": "key new"} and gami["model_type"] == "gami"
    assert relu["model_type"] == "reludnn" and relu["input"] == {"feature0": "body_mass_", "feature1": "age_of_the"}
    value = relu["value"]
    assert value["feature_idx"] == [2, 1] and value["feature_names_full"][0] == "age_of_the_person"
    assert all(value[k] is getattr(llms, k) for k in ("all_bias_weight", "all_weights", "center_llms", "count_llms",
                                                       "all_biases", "feature_names"))


# plot_interaction_effect ---------------------------------------------------------------------

@pytest.mark.parametrize("model_type, value, pair, printed", [
    ("ebm", {"ygrid": "Y", "extent": "E", "importance": "I"}, {"feature_combine": "P"}, ""),
    ("gami", {"outputs": "Y", "axis_extent": "E", "importance": "I"}, {"feature_combine": "P"}, ""),
    ("ebm", None, "P", "Not supported\n"), ("ebm", {}, {"feature_combine": "None"}, "No interaction effect\n"),
    ("others", {}, {}, "")])  # a missing pair name is passed over
def test_heat_map_gets_the_pair_and_its_surface_or_a_refusal_is_printed(
        capsys, plot_calls, shows, model_type, value, pair, printed):
    record = {"scaler": "S", "model_type": model_type, "input": pair, "value": value}
    assert InterpretGraph.plot_interaction_effect(record, figsize="F") is None
    assert capsys.readouterr().out == printed and shows == []
    assert plot_calls == ([] if printed or model_type == "others" else [
        ("PlotHeatmap", "__init__", (), {"mesh_grid": 100, "feature_combine": "P"}),
        ("PlotHeatmap", "plot_interpret", (), {"mat_value": "Y", "extent": "E", "importance": "I", "figsize": "F",
                                               "scaler": "S"})])


def pair_record(llms, feature_idx, scaler=None, nllms_top=None):
    value = {k: getattr(llms, k) for k in ("count_llms", "all_bias_weight", "all_weights", "center_llms",
                                          "all_biases", "feature_names")}
    value.update(feature_idx=feature_idx, nllms_top=nllms_top or llms.nllms_top,
                 feature_names_full=["age full", "bmi full", "colour full"])
    return {"scaler": scaler, "model_type": "reludnn", "input": {"feature0": "x"}, "value": value}


def scatter_offsets(ax):
    [points] = ax.collections
    return points.get_offsets()


def test_pair_plot_of_two_features(shows, ticks, monkeypatch):
    llms = llm_explainer(counts=[3, 1, 2, 2, 1, 1])

    def lowess(endog, exog, frac, return_sorted=True):  # the trend: each response plus one half
        order = np.argsort(exog, kind="stable")
        return np.column_stack([exog[order], endog[order] + 0.5]) if return_sorted else endog + 0.5

    monkeypatch.setattr(interpret_api, "lowess", lowess)
    # the ticks of a bottom panel set its limits (a category's widen by half a level each side)
    monkeypatch.setattr(interpret_api, "scale_plot_ticks",
                        lambda **kw: ticks.append(kw) or kw["ax"].set_xlim(-7, 7 + len(ticks)))
    InterpretGraph.plot_interaction_effect(pair_record(llms, [1, 3], scaler=len), figsize=(6, 5))
    fig = plt.gcf()
    assert len(shows) == 2 and tuple(fig.get_size_inches()) == (6, 5) and len(fig.axes) == 4
    cnt, w, c = llms.count_llms, llms.all_weights, llms.center_llms
    (a, b), (d, e) = [fig.axes[:2], fig.axes[2:]]
    for diagonal, k in ((a, 0), (e, 2)):  # each weight against its centre, with its trend
        [trend] = [line for line in diagonal.get_lines() if line.get_color() == "red"]
        order = np.argsort(np.repeat(c[:, k], cnt), kind="stable")
        assert trend.get_xdata().tolist() == np.repeat(c[:, k], cnt)[order].tolist()
        assert trend.get_ydata().tolist() == (np.repeat(w[:, k], cnt)[order] + 0.5).tolist()
        assert scatter_offsets(diagonal).tolist() == np.column_stack([c[:, k], w[:, k]]).tolist()
    # off the diagonal: the residuals of the other weight's trend, without a trend of their own
    assert np.allclose(scatter_offsets(b)[:, 1], -0.5) and np.allclose(scatter_offsets(d)[:, 1], -0.5)
    assert [line.get_color() for line in b.get_lines()] == ["black"]
    assert np.allclose(a.collections[0].get_facecolors()[:, 3], cnt / 3)  # opacity by samples
    assert [ax.get_title() for ax in fig.axes] == ["age_of_the", "colour", "", ""]
    assert [ax.get_ylabel() for ax in fig.axes] == ["w(age_of_the)", "", "w(colour)", ""]
    assert d.get_ylim() == pytest.approx((-1.1 * abs(w[:, 2]).max(), 1.1 * abs(w[:, 2]).max()))  # by row
    assert ticks == [{"ax": d, "feature": "age full", "scaler": len, "axis": 0},
                     {"ax": e, "feature": "colour full", "scaler": len, "axis": 0}]
    assert a.get_xlim() == d.get_xlim() == (-7, 8) and b.get_xlim() == e.get_xlim() == (-7, 9)  # by column
    # every mark explained once, under the panels, with what a weight is of
    [legend] = fig.legends
    assert sorted(t.get_text().split(" ")[0] for t in legend.get_texts()) == ["a", "trend", "zero"]
    assert legend.get_title().get_text().replace("\n", " ").startswith(
        "w(f): the weight of feature f in a local linear model: its effect")
    assert all(legend.get_window_extent().y1 < ax.get_window_extent().y0 for ax in (d, e))
    assert 0 <= legend.get_window_extent().x0 and legend.get_window_extent().x1 <= fig.bbox.width


def test_pair_plot_puts_the_intercept_first_and_removes_it_from_the_callers_list(shows, ticks):
    InterpretGraph.plot_interaction_effect(pair_record(llm_explainer(), feature_idx := [2, 0], scaler=len, nllms_top=4))
    corner, intercepts, weights, diagonal = plt.gcf().axes
    assert feature_idx == [2] and [call["ax"] for call in ticks] == [diagonal]  # intercepts stay in model units
    assert (corner.get_title(), intercepts.get_title(), corner.get_ylabel(), weights.get_ylabel()) == (
        "+1", "body_mass_", "b0", "w(body_mass_)")
    assert len(scatter_offsets(intercepts)) == len(scatter_offsets(diagonal)) == 4  # the first nllms_top models
    assert not corner.collections and not weights.collections and len(corner.lines) > 3  # box plots
    # the corner draws no dots and no trend; the legend takes them from the panels that do
    assert len(plt.gcf().legends[0].get_texts()) == 3
