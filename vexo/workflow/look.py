"""The package's one look for figures, as a matplotlib style sheet.

In a notebook: ``plt.style.use("vexo.workflow.look")``, or ``vexo.workflow.look.use()``.
"""
import os

import matplotlib
import matplotlib.pyplot as plt

STYLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "look.mplstyle")


def font_families():
    """The font families that the look draws with, before any fallback."""
    with plt.style.context(STYLE):
        return list(matplotlib.rcParams["font.family"])


def use():
    """Apply the look to every figure drawn from now on."""
    plt.style.use(STYLE)


def context():
    """A context manager that applies the look to the figures drawn inside it."""
    return plt.style.context(STYLE)
