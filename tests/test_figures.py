"""capture() hands over and closes the figures of its block; the style sheet by name or module."""

import matplotlib.pyplot as plt
import pytest

from vexo.workflow import look
from vexo.workflow.figures import capture
from vexo.workflow.plots import Title


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


def test_dollars_in_names_are_drawn_as_written():
    from vexo.workflow.plots import PlotHBar

    # a plot of the package drawn outside any style, as in a notebook; it draws in the look
    dollars = ["Income ($) - Rent ($)", "cost $", "a$b x c$", "$5 or more"]
    with capture() as figures:
        PlotHBar().plot(X=dollars, height=[1.0, 2.0, 3.0, 4.0], title="Costs of $ and $$")
    figures[0].canvas.draw()
    texts = figures[0].findobj(lambda a: hasattr(a, "get_parse_math"))
    assert {t.get_text() for t in texts} >= set(dollars)
    assert not [t for t in texts if t._preprocess_math(t.get_text())[1]]  # none read as a formula


def test_a_name_of_a_whole_paragraph_is_cut_and_broken_into_a_few_lines():
    from vexo.workflow.plots import PlotHBar

    words = " ".join(["income"] * 20_000)
    with capture() as figures:
        PlotHBar().plot(X=[words, "b" * 100_000], height=[1.0, 2.0],
                        title=Title("t" * 100_000, axis_label="drop in " + words))
    figure = figures[0]
    figure.canvas.draw()
    drawn = figure.get_tightbbox()  # in inches
    assert drawn.width < 3 * figure.get_figwidth() and drawn.height < 3 * figure.get_figheight()
    assert max(len(t.get_text()) for t in figure.findobj(lambda a: hasattr(a, "get_text"))) < 400
