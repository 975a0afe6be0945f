"""Effect importance and coefficients: ei and coef ask the experiment for the same result; plot_ei
draws effects as bars and local linear models as parallel coordinates, plot_coef one group of a
linear model's coefficients."""
import matplotlib.pyplot as plt
import numpy as np
import pytest

from vexo.workflow import interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph

EFFECTS = {"type": "effect", "value": (["a", "b", "c", "d"], [0.1, 0.2, 0.3, 0.4])}
COEFFICIENTS = {"type": "coefficient", "feature_hier": np.array(["Numeric", "colour", "Numeric", "Numeric"]),
                "feature_names": ["age", "colour=red", "income", "noise"], "importance": [1.0, 2.0, 3.0, 4.0]}


class Recorder:
    """Stands for a module (plt): every function called on it is written into `calls`."""

    def __init__(self):
        self.calls = []

    def __getattr__(self, name):
        return lambda *args, **kwargs: self.calls.append((name, args, kwargs))


def llms(n_features=4, ystd=(1.0, 0.0, 2.0)):
    rng = np.random.default_rng(1)
    return {"type": "llm", "ystd_llms": np.array(ystd), "all_bias_weight": rng.normal(size=(len(ystd), 1 + n_features)),
            "feature_importance": rng.permutation(n_features).astype(float), "n_features": n_features,
            "feature_names": [f"f{j}" for j in range(n_features)]}


@pytest.fixture
def serve(experiment_double, monkeypatch):
    def interpret_ei(model, /):
        experiment_double.calls.append(("interpret_ei", model))
        return serve.value

    monkeypatch.setattr(experiment_double, "interpret_ei", interpret_ei, raising=False)
    serve = lambda value: setattr(serve, "value", value)  # noqa: E731
    return serve


@pytest.mark.parametrize("view, args, plot, key, passed", [
    ("ei", (), "plot_ei", "ei", ((), {"figsize": (8, 6)})),
    ("coef", ("colour", (3, 2)), "plot_coef", "glm_coef", (("colour",), {"figsize": (3, 2)})),
    ("coef", (), "plot_coef", "glm_coef", (("Numeric",), {"figsize": (8, 6)})),
])
def test_views_hand_their_plot_the_experiments_result_untouched(api, experiment_double, serve, monkeypatch, view, args,
                                                                 plot, key, passed):
    value = dict(EFFECTS)
    serve(value)
    seen = []
    monkeypatch.setattr(InterpretGraph, plot, staticmethod(lambda *a, **k: seen.append((a, k))))
    assert getattr(api, view)(*args) is None
    [((record, *rest), kwargs)] = seen
    assert (tuple(rest), kwargs) == passed
    assert list(record.items()) == [("key", key), ("model", "model"), ("input", None), ("value", value)]
    assert record["value"] is value and value == EFFECTS
    assert experiment_double.calls == [("interpret_ei", "model")]


@pytest.mark.parametrize("estimator, show, drawn", [
    ("ExplainableBoostingRegressor", "global_ei", True), ("GAMINetClassifier", "global_ei", True),
    ("GAMINetClassifier", "llm_pc", False), ("ReluDNNClassifier", "global_ei", False),
])
def test_effects_of_additive_models_are_reached_through_the_dispatcher(plot_calls, capsys, estimator, show, drawn):
    from conftest import ExperimentDouble

    experiment = ExperimentDouble({"m": estimator})
    experiment.interpret_ei = lambda model, /: EFFECTS
    InterpretAPI(experiment, "m").model_interpret(show=show, figsize=(2, 3))
    assert bool(plot_calls.of("plot")) == drawn and capsys.readouterr().out == ("" if drawn else "Not supported\n")


@pytest.mark.parametrize("plot, value", [
    ("plot_ei", None), ("plot_ei", {"type": "coefficient"}),
    ("plot_coef", EFFECTS), ("plot_coef", llms()), ("plot_coef", {"type": np.str_("effect")}),
])
def test_results_that_a_plot_does_not_draw_are_refused(plot_calls, monkeypatch, capsys, plot, value):
    monkeypatch.setattr(interpret_api, "plt", Recorder())
    assert getattr(InterpretGraph, plot)({"value": value}) is None
    assert capsys.readouterr().out == "Not supported\n" and plot_calls == []
    assert interpret_api.plt.calls == []


@pytest.mark.parametrize("max_show, shown", [(10, 4), (3, 3), (0, 4), (-1, 3)])
def test_effects_are_the_tail_of_the_list(plot_calls, max_show, shown):
    InterpretGraph.plot_ei({"value": EFFECTS}, max_show, (4, 4))
    names, heights = EFFECTS["value"]
    assert plot_calls.of("plot") == [((), {"X": names[4 - shown:], "height": heights[4 - shown:],
                                           "title": "Effect Importance", "figsize": (4, 4)})]


@pytest.mark.parametrize("group, max_show, names, heights", [
    ("Numeric", 10, ["age", "income", "noise"], [1.0, 3.0, 4.0]),
    ("Numeric", 2, ["income", "noise"], [3.0, 4.0]),
    ("colour", 10, ["colour=red"], [2.0]),
    ("nothing", 10, [], []),
    (None, 10, [], []),
])
def test_coefficients_of_one_group(plot_calls, group, max_show, names, heights):
    InterpretGraph.plot_coef({"value": COEFFICIENTS}, group, max_show)
    [(_, kwargs)] = plot_calls.of("plot")
    assert kwargs["X"].tolist() == names and kwargs["height"].tolist() == heights
    assert (kwargs["title"], kwargs["figsize"]) == ("Model Coefficients", (8, 6))


def test_coefficients_of_a_model_without_terms_fail_as_documented(api, serve, plot_calls):
    serve(None)
    with pytest.raises(TypeError, match="'NoneType' object is not subscriptable"):
        api.coef()
    assert plot_calls == []


def test_parallel_coordinates_draw_the_models_with_spread_over_the_most_important_features(monkeypatch):
    monkeypatch.setattr(interpret_api, "plt", Recorder())
    value = llms(n_features=25, ystd=(1.0, 0.0, 2.0, -1.0))
    InterpretGraph.plot_ei({"value": value}, figsize=(5, 4))
    calls = interpret_api.plt.calls
    assert [name for name, _, _ in calls] == ["figure", "axhline", "plot", "xticks", "title", "xticks", "tight_layout",
                                              "show", "show"]
    assert calls[0][1:] == ((), {"figsize": (5, 4)}) and calls[1][1:] == ((0,), {"linestyle": "--", "color": "black"})
    top = np.argsort(value["feature_importance"])[::-1][:10]
    np.testing.assert_array_equal(calls[2][1][0], value["all_bias_weight"][[0, 2]][:, top + 1].T)
    ticks, labels = calls[3][1]
    assert ticks.tolist() == list(range(10)) and labels.tolist() == [f"f{j}" for j in top]
    assert calls[4][1:] == (("Parallel Coordinate Plot of LLM Coefficients",), {"fontsize": 15})
    assert calls[5][1:] == ((), {"rotation": 90})


def test_no_model_with_spread_draws_nothing_but_still_shows(monkeypatch):
    monkeypatch.setattr(interpret_api, "plt", Recorder())
    InterpretGraph.plot_ei({"value": llms(ystd=(0.0, 0.0, 0.0))})
    assert interpret_api.plt.calls == [("show", (), {})]


@pytest.mark.parametrize("figsize, message", [
    ([8, 6], "Argument 'figsize' has incorrect type (expected tuple, got list)"),
    ("8x6", "Argument 'figsize' has incorrect type (expected tuple, got str)"),
])
def test_parallel_coordinates_take_a_tuple_figsize_only(monkeypatch, figsize, message):
    monkeypatch.setattr(interpret_api, "plt", Recorder())
    with pytest.raises(TypeError) as raised:
        InterpretGraph.plot_ei({"value": llms()}, figsize=figsize)
    assert str(raised.value) == message and interpret_api.plt.calls == []
    InterpretGraph.plot_ei({"value": llms()}, figsize=None)
    assert interpret_api.plt.calls[0] == ("figure", (), {"figsize": None})


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
    assert tuple(figure.get_size_inches()) == (7, 5)
    assert axes.get_title() == "Parallel Coordinate Plot of LLM Coefficients"
    top = np.argsort(value["feature_importance"])[::-1][:10]
    assert [t.get_text() for t in axes.get_xticklabels()] == [f"f{j}" for j in top]
    assert {t.get_rotation() for t in axes.get_xticklabels()} == {90.0}
    assert len(axes.get_lines()) == 1 + 3  # the zero line and one line per model with spread
