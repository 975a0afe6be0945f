"""capture(): the figures drawn inside the block are handed over and closed, plt.show comes back
however the block ends, and the views behave as they do outside it."""

import matplotlib.pyplot as plt
import pytest

from vexo.workflow.figures import capture


def test_shown_and_unshown_figures_are_returned_in_order_and_closed_whatever_the_block_does():
    earlier, show = plt.figure(), plt.show
    with capture() as figures:
        first = plt.figure()
        plt.show()
        second = plt.figure()
        plt.show()
        plt.show()  # nothing new: nothing collected twice
        drawn = [first, second, plt.figure()]  # the last never shown
    assert figures == drawn and plt.get_fignums() == [earlier.number]
    with pytest.raises(KeyError), capture() as figures:
        plt.figure()
        plt.show()
        plt.figure()
        raise KeyError("inside")
    assert plt.show is show and len(figures) == 2 and plt.get_fignums() == [earlier.number]


def test_a_view_draws_into_the_capture_and_keeps_its_result_and_refusals(experiment, capsys):
    api = pytest.importorskip("vexo.workflow.interpret_api")
    view = api.InterpretAPI(experiment, "glm")
    with capture() as figures:
        table = view.model_interpret(show="global_fi", return_data=True)
        assert view.model_interpret(show="llm_pc") is None
    assert sorted(table) == ["feature_names", "importance"] and capsys.readouterr().out == "Not supported\n"
    assert len(figures) == 1 and not plt.get_fignums()
    assert len(figures[0].axes[0].patches) == min(10, len(table["feature_names"]))
