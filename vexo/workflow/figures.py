"""The figures that the interpretation views draw, handed to the caller.

Every view draws its figure and shows it with ``plt.show()``; inside ``capture()`` the figures
are collected instead, so that they can be saved, restyled or embedded:

    from vexo.workflow.figures import capture

    with capture() as figures:
        api.model_interpret(show="global_fi")
    figures[0].savefig("importance.png")

The views behave as they always do (they print their refusals, return their results); only
``plt.show`` is replaced for the duration of the block, and restored however the block ends.
"""
from contextlib import contextmanager

import matplotlib.pyplot as plt

__all__ = ["capture"]


@contextmanager
def capture():
    """Collect the figures opened inside the block, in the order they were opened.

    Yields a list that fills as figures are shown (and, at the end of the block, with those
    opened and never shown). A collected figure is closed in pyplot, so it stays alive only as
    long as the caller keeps it and nothing is left open afterwards; figures that were open
    before the block are left alone.
    """
    before = set(plt.get_fignums())
    figures = []

    def collect(*args, **kwargs):
        for number in plt.get_fignums():
            if number not in before:
                figure = plt.figure(number)
                plt.close(figure)
                figures.append(figure)

    show = plt.show
    plt.show = collect
    try:
        yield figures
    finally:
        plt.show = show
        collect()
