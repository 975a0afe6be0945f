"""capture(): the figures drawn inside the block are handed over and closed, plt.show comes back
however the block ends. The package's style sheet is in force by its name or through its module."""

import matplotlib.pyplot as plt
import pytest

from vexo.workflow import look
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


def test_the_sheet_is_reachable_by_name_and_by_the_module():
    with plt.style.context("vexo.workflow.look"):
        by_name = dict(plt.rcParams)
    with look.context():
        by_module = dict(plt.rcParams)
    assert by_name == by_module and by_name != dict(plt.rcParamsDefault)
    with plt.style.context("default"):
        look.use()
        assert plt.rcParams["axes.titlesize"] == by_name["axes.titlesize"]
