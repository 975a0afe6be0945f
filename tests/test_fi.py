"""Feature importance: fi asks the experiment, builds the "fi" record and has plot_fi draw the tail of
the table as horizontal bars; on request it hands the table back without its title."""
import numpy as np
import pytest

from vexo.workflow.interpret_api import InterpretGraph

NAMES, HEIGHTS = ["a", "b", "c", "d", "e"], [0.1, 0.2, 0.3, 0.4, 0.5]
TITLE, FIGSIZE = object(), object()  # passed through unchanged, so compared by identity


@pytest.mark.parametrize("return_data", [False, None, True, [0]])
def test_fi_hands_plot_fi_its_record_and_returns_the_table_without_its_title_only_when_asked(
        api, monkeypatch, plot_calls, return_data):
    value, seen, real = dict(feature_names=NAMES, importance=HEIGHTS, title="T", x=1), [], InterpretGraph.plot_fi
    monkeypatch.setattr(api.experiment, "interpret_fi", lambda model, /: value)
    monkeypatch.setattr(InterpretGraph, "plot_fi", staticmethod(lambda *a, **k: seen.append((a, k)) or real(*a, **k)))
    out = api.fi(return_data=return_data, figsize=(2, 2))
    [((interpret_result,), kwargs)] = seen
    assert kwargs == {"figsize": (2, 2)} and type(interpret_result) is dict  # max_show keeps its default
    assert list(interpret_result.items()) == [("key", "fi"), ("model", "model"), ("input", None), ("value", value)]
    assert interpret_result["model"] is api.model and interpret_result["value"] is value
    assert plot_calls[0] == ("PlotHBar", "__init__", (), {}) and plot_calls.of("plot")[0][1]["title"] == "T"
    assert out is (value if return_data else None)  # the title taken after the drawing, from the same table
    assert list(value) == ["feature_names", "importance", "x"] if return_data else "title" in value


@pytest.mark.parametrize("max_show, shown", [(10, 5), (4, 4), (1, 1), (0, 5), (-2, 3)])  # 0: a slice from -0
def test_plot_fi_shows_the_tail_of_at_most_max_show_features(plot_calls, max_show, shown):
    value = {"feature_names": NAMES, "importance": np.array(HEIGHTS), "title": TITLE}
    assert InterpretGraph.plot_fi({"value": value}, max_show, FIGSIZE) is None
    [(args, kwargs)] = plot_calls.of("plot")
    height = kwargs.pop("height")
    assert (args, kwargs) == ((), {"X": NAMES[5 - shown:], "title": TITLE, "figsize": FIGSIZE})
    assert type(height) is np.ndarray and height.tolist() == HEIGHTS[5 - shown:]  # sliced, not copied to a list
