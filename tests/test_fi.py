"""Feature importance: fi asks the experiment, builds the "fi" record and has plot_fi draw the tail of
the table as horizontal bars; on request it hands the table back without its title."""
import matplotlib.pyplot as plt
import numpy as np
import pytest

from conftest import ExperimentDouble
from vexo.workflow import interpret_api, plots
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph

NAMES = ["a", "b", "c", "d", "e"]
HEIGHTS = [0.1, 0.2, 0.3, 0.4, 0.5]


def table(n=len(NAMES), **extra):
    return {"feature_names": NAMES[:n], "importance": HEIGHTS[:n], "title": "Importance", **extra}


def record(value):
    return {"key": "fi", "model": "model", "input": None, "value": value}


@pytest.fixture
def served(experiment_double, monkeypatch):
    """Makes the experiment hand out the given table itself; returns a setter."""
    def serve(value):
        def interpret_fi(model):
            experiment_double.calls.append(("interpret_fi", (model,), {}))
            return value
        monkeypatch.setattr(experiment_double, "interpret_fi", interpret_fi)
        return value
    return serve


def test_fi_asks_the_experiment_for_the_models_table(api, experiment_double, plot_calls):
    api.fi()
    assert experiment_double.calls == [("interpret_fi", ("model",), {})]


def test_fi_draws_the_table_as_bars(api, plot_calls):
    names, heights = ["age", "income", "colour", "noise"], [0.1, 0.2, 0.3, 0.4]
    assert api.fi() is None
    assert plot_calls == [
        ("PlotHBar", "__init__", (), {}),
        ("PlotHBar", "plot", (), {"X": names, "height": heights, "title": "Feature importance", "figsize": (8, 6)}),
    ]


def test_fi_hands_plot_fi_its_record(api, served, monkeypatch):
    value = served(table())
    seen = []
    monkeypatch.setattr(InterpretGraph, "plot_fi", staticmethod(lambda *args, **kwargs: seen.append((args, kwargs))))
    api.fi(figsize=(2, 3))
    [((interpret_result,), kwargs)] = seen
    assert kwargs == {"figsize": (2, 3)}  # max_show keeps its default
    assert type(interpret_result) is dict
    assert list(interpret_result) == ["key", "model", "input", "value"]
    assert interpret_result["key"] == "fi"
    assert interpret_result["model"] is api.model
    assert interpret_result["input"] is None
    assert interpret_result["value"] is value


def test_fi_reads_experiment_and_model_from_the_object_at_each_call(api, plot_calls):
    other = ExperimentDouble({"other": "GAMINetRegressor"}, computed=["other"])
    api.experiment, api.model = other, "other"
    api.fi()
    assert other.calls == [("interpret_fi", ("other",), {})]


def test_record_carries_any_model_identifier(plot_calls):
    model = ("m", 1)
    experiment = ExperimentDouble({model: "GAMINetRegressor"}, computed=[model])
    InterpretAPI(experiment, model).fi()
    assert experiment.calls == [("interpret_fi", (model,), {})]


@pytest.mark.parametrize("return_data", [False, 0, "", None, []])
def test_fi_without_return_data_leaves_the_table_alone(api, served, plot_calls, return_data):
    value = served(table(extra="kept"))
    assert api.fi(return_data=return_data) is None
    assert value == table(extra="kept")


@pytest.mark.parametrize("return_data", [True, 1, "yes", [0]])
def test_fi_returns_the_experiments_table_without_its_title(api, served, plot_calls, return_data):
    value = served(table(extra="kept"))
    out = api.fi(return_data=return_data)
    assert out is value
    assert list(out.items()) == [("feature_names", NAMES), ("importance", HEIGHTS), ("extra", "kept")]
    assert plot_calls.of("plot")[0][1]["title"] == "Importance"  # drawn before the title was taken


def test_each_call_gets_a_fresh_table(api, plot_calls):
    first = api.fi(return_data=True)
    second = api.fi(return_data=True)
    assert first == second and first is not second
    assert [kwargs["title"] for _, kwargs in plot_calls.of("plot")] == ["Feature importance"] * 2


def test_dispatcher_returns_the_table_of_fi(api, plot_calls):
    out = api.model_interpret(show="global_fi", return_data=True)
    assert out == {"feature_names": ["age", "income", "colour", "noise"], "importance": [0.1, 0.2, 0.3, 0.4]}
    assert api.model_interpret(show="global_fi") is None


@pytest.mark.parametrize("figsize", [(8, 6), (3, 4), [1, 2], "any object"])
def test_figure_size_is_passed_through_unchanged(api, plot_calls, figsize):
    api.fi(figsize=figsize)
    assert plot_calls.of("plot")[0][1]["figsize"] is figsize


def test_title_is_the_experiments_own_object(api, served, plot_calls):
    title = object()
    served(dict(table(), title=title))
    api.fi()
    assert plot_calls.of("plot")[0][1]["title"] is title


@pytest.mark.parametrize("max_show, shown", [
    (10, NAMES),
    (100, NAMES),
    (5, NAMES),
    (4, NAMES[-4:]),
    (1, NAMES[-1:]),
    (0, NAMES),  # a slice from minus zero is the whole list
    (-2, NAMES[2:]),  # drops from the front
    (-5, []),
])
def test_plot_fi_shows_the_tail_of_at_most_max_show_features(plot_calls, max_show, shown):
    assert InterpretGraph.plot_fi(record(table()), max_show=max_show) is None
    [(args, kwargs)] = plot_calls.of("plot")
    assert args == ()
    assert kwargs == {"X": shown, "height": HEIGHTS[len(NAMES) - len(shown):] if shown else [],
                      "title": "Importance", "figsize": (8, 6)}


def test_plot_fi_takes_every_parameter_by_position(plot_calls):
    InterpretGraph.plot_fi(record(table()), 2, (1, 2))
    assert plot_calls.of("plot") == [((), {"X": ["d", "e"], "height": [0.4, 0.5], "title": "Importance",
                                           "figsize": (1, 2)})]


@pytest.mark.parametrize("make", [tuple, np.array], ids=["tuple", "array"])
def test_plot_fi_slices_the_sequences_it_is_given(plot_calls, make):
    value = {"feature_names": make(NAMES), "importance": make(HEIGHTS), "title": "t"}
    InterpretGraph.plot_fi(record(value), max_show=3)
    [(_, kwargs)] = plot_calls.of("plot")
    assert type(kwargs["X"]) is type(value["feature_names"])
    assert list(kwargs["X"]) == NAMES[-3:] and list(kwargs["height"]) == HEIGHTS[-3:]


def test_plot_fi_makes_one_bar_plot_per_call(plot_calls):
    InterpretGraph.plot_fi(record(table()))
    InterpretGraph.plot_fi(record(table()))
    assert [name for _, name, _, _ in plot_calls] == ["__init__", "plot", "__init__", "plot"]


@pytest.mark.parametrize("return_data", [False, True])
@pytest.mark.parametrize("missing", ["feature_names", "importance", "title"])
def test_table_without_an_entry_fails_with_its_key_and_is_kept(api, served, plot_calls, missing, return_data):
    value = served({k: v for k, v in table().items() if k != missing})
    kept = dict(value)
    with pytest.raises(KeyError) as raised:
        api.fi(return_data=return_data)
    assert raised.value.args == (missing,)
    assert value == kept
    assert plot_calls.of("plot") == []


def test_experiment_exception_propagates_before_any_plot(api, experiment_double, plot_calls, monkeypatch):
    error = RuntimeError("no importance for this model")

    def interpret_fi(model):
        raise error

    monkeypatch.setattr(experiment_double, "interpret_fi", interpret_fi)
    with pytest.raises(RuntimeError) as raised:
        api.fi(return_data=True)
    assert raised.value is error
    assert plot_calls == []


@pytest.mark.parametrize("failing", ["__init__", "plot"])
def test_bar_plot_exception_propagates_and_the_title_stays(api, served, monkeypatch, failing):
    error = ValueError("cannot draw")

    class FailingHBar:
        def __init__(self):
            if failing == "__init__":
                raise error

        def plot(self, **kwargs):
            raise error

    monkeypatch.setattr(interpret_api, "PlotHBar", FailingHBar)
    value = served(table())
    with pytest.raises(ValueError) as raised:
        api.fi(return_data=True)
    assert raised.value is error
    assert value == table()


# --- drawn for real -------------------------------------------------------------------------------

def drawn_bars(figure):
    """(label, length) of every bar of the figure's one bar chart, from the bottom up."""
    [axes] = figure.axes
    [bars] = axes.containers
    labels = {round(float(y)): label.get_text() for y, label in zip(axes.get_yticks(), axes.get_yticklabels())}
    drawn = sorted((bar.get_y() + bar.get_height() / 2, bar.get_width()) for bar in bars)
    return [(labels[round(y)], float(width)) for y, width in drawn]


def titles(figure):
    [axes] = figure.axes
    found = {axes.get_title(loc) for loc in ("left", "center", "right")}
    if figure._suptitle is not None:
        found.add(figure._suptitle.get_text())
    return found - {""}


def test_fi_draws_the_last_ten_features_on_matplotlib(experiment_double):
    assert interpret_api.PlotHBar is plots.PlotHBar
    names = [f"feature {i}" for i in range(12)]
    importance = [float(i) for i in range(1, 13)]
    experiment_double.fi_table = {"feature_names": names, "importance": importance, "title": "What matters"}
    api = InterpretAPI(experiment_double, "model")

    out = api.fi(return_data=True, figsize=(5, 3))

    figure = plt.gcf()
    assert plt.get_fignums() == [figure.number]
    assert tuple(figure.get_size_inches()) == (5, 3)
    assert sorted(drawn_bars(figure)) == sorted(zip(names[-10:], importance[-10:]))
    assert titles(figure) == {"What matters"}
    assert out == {"feature_names": names, "importance": importance}
