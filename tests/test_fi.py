"""plot_fi draws the tail of the table as bars (what fi hands it: test_call_order.py)."""
import numpy as np
import pytest

from vexo.workflow.interpret_api import InterpretGraph

NAMES, HEIGHTS = ["a", "b", "c", "d", "e"], [0.1, 0.2, 0.3, 0.4, 0.5]
TITLE, FIGSIZE = object(), object()  # passed through unchanged, so compared by identity


@pytest.mark.parametrize("max_show, shown", [(10, 5), (4, 4), (1, 1), (0, 5), (-2, 3)])  # 0: a slice from -0
def test_plot_fi_shows_the_tail_of_at_most_max_show_features(plot_calls, max_show, shown):
    value = {"feature_names": NAMES, "importance": np.array(HEIGHTS), "title": TITLE}
    assert InterpretGraph.plot_fi({"value": value}, max_show, FIGSIZE) is None
    [(args, kwargs)] = plot_calls.of("plot")
    height = kwargs.pop("height")
    assert (args, kwargs) == ((), {"X": NAMES[5 - shown:], "title": TITLE, "figsize": FIGSIZE})
    assert type(height) is np.ndarray and height.tolist() == HEIGHTS[5 - shown:]  # sliced, not copied to a list
