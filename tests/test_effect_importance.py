"""ei and coef: effects as bars, local linear models as parallel coordinates, one group of coefficients."""
import matplotlib.pyplot as plt
import numpy as np
import pytest

from effect_doubles import shows  # noqa: F401 (a fixture)
from vexo.workflow.interpret_api import InterpretGraph
from vexo.workflow.plots import Title

EFFECTS = {"type": "effect", "value": (["a", "b", "c", "d"], [0.1, 0.2, 0.3, 0.4])}
COEFFICIENTS = {"type": "coefficient", "feature_hier": np.array(["Numeric", "colour", "Numeric", "Numeric"]),
                "feature_names": ["age", "colour=red", "income", "noise"], "importance": [1.0, 2.0, 3.0, 4.0]}


@pytest.mark.parametrize("view, args, plot, key, passed", [
    ("ei", (), "plot_ei", "ei", ((), {"figsize": (8, 6)})),
    ("coef", (), "plot_coef", "glm_coef", (("Numeric",), {"figsize": (8, 6)})),
    ("coef", ("colour", (3, 2)), "plot_coef", "glm_coef", (("colour",), {"figsize": (3, 2)})),
])
def test_views_hand_their_plot_the_experiments_result_untouched(api, monkeypatch, view, args, plot, key, passed):
    value, asked, seen = dict(EFFECTS), [], []
    api.experiment.interpret_ei = lambda model, /: asked.append(model) or value
    monkeypatch.setattr(InterpretGraph, plot, staticmethod(lambda *a, **k: seen.append((a, k))))
    assert getattr(api, view)(*args) is None and asked == ["model"]
    [((record, *rest), kwargs)] = seen
    assert (tuple(rest), kwargs) == passed and value == EFFECTS
    assert list(record.items()) == [("key", key), ("model", "model"), ("input", None), ("value", value)]


PER_UNIT = dict(COEFFICIENTS, importance=[0.1, 2.0, 0.3, 4.0],
                titles={"Numeric": Title("Model Coefficients", "change of y per unit", "numeric features")})


@pytest.mark.parametrize("result, original_scale, drawn", [
    (dict(COEFFICIENTS, original_scale=PER_UNIT), True, PER_UNIT),
    (dict(COEFFICIENTS, original_scale=PER_UNIT), False, "given"),
    (COEFFICIENTS, True, "given"),  # no coefficients per unit: those over the range
    (EFFECTS, True, "given"), (None, True, "given"),
])
def test_coefficients_per_unit_where_asked_and_the_experiment_has_them(api, monkeypatch, result, original_scale, drawn):
    api.experiment.interpret_ei = lambda model, /: result
    seen = []
    monkeypatch.setattr(InterpretGraph, "plot_coef", staticmethod(lambda record, *a, **k: seen.append(record["value"])))
    api.model_interpret(show="glm_coef", uni_feature="Numeric", original_scale=original_scale)
    assert seen == [result if drawn == "given" else drawn]


# the experiment's title of a group it names, with its subtitle; "Model Coefficients" otherwise
@pytest.mark.parametrize("value, group, max_show, names, heights, subtitle", [
    (EFFECTS, None, 10, ["a", "b", "c", "d"], [0.1, 0.2, 0.3, 0.4], None),
    (EFFECTS, None, 3, ["b", "c", "d"], [0.2, 0.3, 0.4], None), (EFFECTS, None, -1, ["b", "c", "d"], [0.2, 0.3, 0.4], None),
    (COEFFICIENTS, "Numeric", 2, ["income", "noise"], [3.0, 4.0], None),
    (COEFFICIENTS, "colour", 10, ["colour=red"], [2.0], None), (COEFFICIENTS, None, 10, [], [], None),
    (PER_UNIT, "Numeric", 10, ["age", "income", "noise"], [0.1, 0.3, 4.0], "numeric features"),
    (PER_UNIT, "colour", 10, ["colour=red"], [2.0], None), (PER_UNIT, ["Numeric"], 2, ["income", "noise"], [0.3, 4.0], None)])
def test_the_tail_of_the_effects_or_of_one_titled_group_of_coefficients(plot_calls, value, group, max_show, names, heights,
                                                                        subtitle):
    if value is EFFECTS:
        InterpretGraph.plot_ei({"value": value}, max_show, (4, 4))
    else:
        InterpretGraph.plot_coef({"value": value}, group, max_show, (4, 4))
    [(_, kwargs)] = plot_calls.of("plot")
    assert list(kwargs["X"]) == names and list(kwargs["height"]) == heights and kwargs["figsize"] == (4, 4)
    assert kwargs["title"] == ("Effect Importance" if value is EFFECTS else "Model Coefficients") and len(kwargs) == 4
    assert getattr(kwargs["title"], "subtitle", None) == subtitle


@pytest.mark.parametrize("n_features, ystd, figsize", [(25, (1.0, 0.0, 2.0, -1.0), (5, 4)), (12, (0.5, 1.0), None),
                                                       (4, (0.0, 0.0, 0.0), None)])
def test_parallel_coordinates_of_the_models_with_spread_over_the_most_important_features(
        shows, n_features, ystd, figsize):
    rng = np.random.default_rng(1)
    value = {"type": "llm", "ystd_llms": np.array(ystd), "all_bias_weight": rng.normal(size=(len(ystd), 1 + n_features)),
             "feature_importance": rng.permutation(n_features) * 1.0, "n_features": n_features,
             "feature_names": [f"f{j}" for j in range(n_features)]}
    InterpretGraph.plot_ei({"value": value}, figsize=figsize)
    if max(ystd) <= 0:  # no model with spread: nothing drawn, yet shown
        assert shows == [[]]
        return
    assert len(shows) == 2 and len(plt.get_fignums()) == 1
    [axes], top = plt.gcf().axes, np.argsort(value["feature_importance"])[::-1][:10]
    zero, *lines = axes.get_lines()
    assert (zero.get_linestyle(), zero.get_color(), list(zero.get_ydata())) == ("--", "black", [0, 0])
    spread = value["all_bias_weight"][np.array(ystd) > 0]
    assert [line.get_ydata().tolist() for line in lines] == spread[:, top + 1].tolist()
    assert [t.get_text() for t in axes.get_xticklabels()] == [f"f{j}" for j in top]
    assert (axes.get_title(), axes.get_ylabel()) == ("Parallel Coordinate Plot of LLM Coefficients", "coefficient")
    assert tuple(plt.gcf().get_size_inches()) == tuple(figsize or plt.rcParams["figure.figsize"])
    value["coefficient_label"] = "change of y over the feature's training range"
    InterpretGraph.plot_ei({"value": value}, figsize=figsize)
    assert plt.gca().get_ylabel() == value["coefficient_label"]
