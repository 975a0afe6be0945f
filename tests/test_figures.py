"""capture(): the figures drawn inside the block are handed over and closed, plt.show comes back
however the block ends, and the views behave as they do outside it."""

import matplotlib.pyplot as plt
import pytest

from vexo.workflow.figures import capture


def test_shown_and_unshown_figures_are_returned_in_order_and_closed():
    earlier = plt.figure()
    with capture() as figures:
        first = plt.figure()
        plt.show()
        second = plt.figure()
        plt.show()
        plt.show()  # nothing new: nothing collected twice
        third = plt.figure()  # never shown
    assert figures == [first, second, third]
    assert plt.get_fignums() == [earlier.number]


def test_show_is_restored_after_an_exception_and_the_figures_are_closed():
    show = plt.show
    with pytest.raises(KeyError):
        with capture() as figures:
            plt.figure()
            plt.show()
            plt.figure()
            raise KeyError("inside")
    assert plt.show is show
    assert len(figures) == 2 and not plt.get_fignums()


def test_a_view_draws_into_the_capture_and_keeps_its_result_and_refusals(experiment, capsys):
    api = pytest.importorskip("vexo.workflow.interpret_api")
    view = api.InterpretAPI(experiment, "glm")
    with capture() as figures:
        table = view.model_interpret(show="global_fi", return_data=True)
        refused = view.model_interpret(show="llm_pc")
    assert sorted(table) == ["feature_names", "importance"] and refused is None
    assert capsys.readouterr().out.splitlines() == ["Not supported"]
    assert len(figures) == 1 and not plt.get_fignums()
    bars = figures[0].axes[0].patches
    assert len(bars) == min(10, len(table["feature_names"]))
