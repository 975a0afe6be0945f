"""The package's one look for figures, as a matplotlib style sheet.

In a notebook: ``plt.style.use("vexo.workflow.look")``, or ``vexo.workflow.look.use()``.
"""
import contextlib
import os

import matplotlib
import matplotlib.pyplot as plt

STYLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "look.mplstyle")
# Run on each figure that pyplot makes in the look: its texts get the fonts that have their
# characters (names in any script) when it is measured or drawn.
FONTS_HOOK = "vexo.workflow.fonts:dress_when_drawn"


def _hooks():
    hooks = list(matplotlib.rcParams.get("figure.hooks", []))
    return {"figure.hooks": hooks + [FONTS_HOOK]} if FONTS_HOOK not in hooks else {}


def font_families():
    """The font families that the look draws with, before any fallback."""
    with plt.style.context(STYLE):
        return list(matplotlib.rcParams["font.family"])


def use():
    """Apply the look to every figure drawn from now on."""
    plt.style.use(STYLE)
    matplotlib.rcParams.update(_hooks())


@contextlib.contextmanager
def context():
    """A context manager that applies the look to the figures drawn inside it."""
    with plt.style.context(STYLE), matplotlib.rc_context(_hooks()):
        yield
