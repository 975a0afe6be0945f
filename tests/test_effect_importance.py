"""ei and coef: effects as bars, local linear models as parallel coordinates, one group of coefficients."""
import matplotlib.pyplot as plt
import numpy as np
import pytest

from vexo.workflow import interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph

EFFECTS = {"type": "effect", "value": (["a", "b", "c", "d"], [0.1, 0.2, 0.3, 0.4])}
COEFFICIENTS = {"type": "coefficient", "feature_hier": np.array(["Numeric", "colour", "Numeric", "Numeric"]),
                "feature_names": ["age", "colour=red", "income", "noise"], "importance": [1.0, 2.0, 3.0, 4.0]}


@pytest.fixture
def plt_calls(monkeypatch):
    """plt replaced by a recorder of (function, args, kwargs)."""
    calls = []
    monkeypatch.setattr(interpret_api, "plt", type("Plt", (), {"__getattr__": lambda self, name: (
        lambda *args, **kwargs: calls.append((name, args, kwargs)))})())
    return calls


def llms(n_features=4, ystd=(1.0, 0.0, 2.0)):
    rng = np.random.default_rng(1)
    return {"type": "llm", "ystd_llms": np.array(ystd), "all_bias_weight": rng.normal(size=(len(ystd), 1 + n_features)),
            "feature_importance": rng.permutation(n_features) * 1.0, "n_features": n_features,
            "feature_names": [f"f{j}" for j in range(n_features)]}


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


@pytest.mark.parametrize("plot, value", [
    ("plot_ei", None), ("plot_ei", {"type": "coefficient"}),
    ("plot_coef", EFFECTS), ("plot_coef", llms()), ("plot_coef", {"type": np.str_("effect")}),
])
def test_results_that_a_plot_does_not_draw_are_refused(plot_calls, plt_calls, capsys, plot, value):
    assert getattr(InterpretGraph, plot)({"value": value}) is None
    assert capsys.readouterr().out == "Not supported\n" and plot_calls == plt_calls == []


@pytest.mark.parametrize("max_show, shown", [(10, 4), (3, 3), (0, 4), (-1, 3)])
def test_effects_are_the_tail_of_the_list(plot_calls, max_show, shown):
    InterpretGraph.plot_ei({"value": EFFECTS}, max_show, (4, 4))
    names, heights = EFFECTS["value"]
    assert plot_calls.of("plot") == [((), {"X": names[4 - shown:], "height": heights[4 - shown:],
                                           "title": "Effect Importance", "figsize": (4, 4)})]


@pytest.mark.parametrize("group, max_show, names, heights", [
    ("Numeric", 10, ["age", "income", "noise"], [1.0, 3.0, 4.0]), ("Numeric", 2, ["income", "noise"], [3.0, 4.0]),
    ("colour", 10, ["colour=red"], [2.0]), ("nothing", 10, [], []), (None, 10, [], []),
])
def test_coefficients_of_one_group(plot_calls, group, max_show, names, heights):
    InterpretGraph.plot_coef({"value": COEFFICIENTS}, group, max_show)
    [(_, kwargs)] = plot_calls.of("plot")
    assert kwargs["X"].tolist() == names and kwargs["height"].tolist() == heights
    assert (kwargs["title"], kwargs["figsize"]) == ("Model Coefficients", (8, 6))


def test_parallel_coordinates_of_the_models_with_spread_over_the_most_important_features(plt_calls):
    value = llms(n_features=25, ystd=(1.0, 0.0, 2.0, -1.0))
    InterpretGraph.plot_ei({"value": value}, figsize=(5, 4))
    assert [name for name, _, _ in plt_calls] == ["figure", "axhline", "plot", "xticks", "title", "xticks",
                                                  "tight_layout", "show", "show"]
    top = np.argsort(value["feature_importance"])[::-1][:10]
    np.testing.assert_array_equal(plt_calls[2][1][0], value["all_bias_weight"][[0, 2]][:, top + 1].T)
    ticks, labels = plt_calls[3][1]
    assert ticks.tolist() == list(range(10)) and labels.tolist() == [f"f{j}" for j in top]
    assert [call[1:] for call in plt_calls[:2] + plt_calls[4:6]] == [
        ((), {"figsize": (5, 4)}), ((0,), {"linestyle": "--", "color": "black"}),
        (("Parallel Coordinate Plot of LLM Coefficients",), {"fontsize": 15}), ((), {"rotation": 90})]


def test_no_model_with_spread_draws_nothing_but_still_shows(plt_calls):
    InterpretGraph.plot_ei({"value": llms(ystd=(0.0, 0.0, 0.0))})
    assert plt_calls == [("show", (), {})]


@pytest.mark.parametrize("figsize, given", [([8, 6], "list"), ("8x6", "str")])
def test_parallel_coordinates_take_a_tuple_figsize_or_none(plt_calls, figsize, given):
    with pytest.raises(TypeError) as raised:
        InterpretGraph.plot_ei({"value": llms()}, figsize=figsize)
    assert str(raised.value) == f"Argument 'figsize' has incorrect type (expected tuple, got {given})"
    InterpretGraph.plot_ei({"value": llms()}, figsize=None)
    assert plt_calls[0] == ("figure", (), {"figsize": None})


@pytest.mark.parametrize("plot, record, error", [
    ("plot_ei", {}, KeyError), ("plot_ei", {"value": 3}, TypeError), ("plot_ei", {"value": {"type": "llm"}}, KeyError),
    ("plot_ei", {"value": {"type": "effect", "value": 5}}, TypeError),
    ("plot_coef", {"value": {"type": "coefficient"}}, KeyError), ("plot_coef", [], TypeError),
])
def test_junk_records_raise(plot_calls, plot, record, error):
    with pytest.raises(error):
        getattr(InterpretGraph, plot)(record)


def test_parallel_coordinates_on_matplotlib(experiment_double, tmp_path):
    value = llms(n_features=12, ystd=(1.0, 0.5, 0.0, 2.0))
    experiment_double.interpret_ei = lambda model, /: value
    InterpretAPI(experiment_double, "model").model_interpret(show="llm_pc", figsize=(7, 5))
    figure = plt.gcf()
    figure.savefig(tmp_path / "pc.png")
    [axes] = figure.axes
    top = np.argsort(value["feature_importance"])[::-1][:10]
    assert [t.get_text() for t in axes.get_xticklabels()] == [f"f{j}" for j in top]
    assert {t.get_rotation() for t in axes.get_xticklabels()} == {90.0}
    assert tuple(figure.get_size_inches()) == (7, 5)
    assert axes.get_title() == "Parallel Coordinate Plot of LLM Coefficients"
    assert len(axes.get_lines()) == 1 + 3  # the zero line and one line per model with spread
