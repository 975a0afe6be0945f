"""The plots' look in numbers (colours and sizes read from the package's style sheet), the
title that carries what its chart measures, and the checks of every plot's inputs: a bad call
is refused before a figure is made, so it never leaves half a figure behind.
"""
from collections import namedtuple

import numpy as np
from matplotlib import rc_params_from_file
from matplotlib.colors import rgb_to_hsv, to_rgb

from .. import look


_SHEET = rc_params_from_file(look.STYLE, use_default_template=False)

INK = _SHEET["text.color"]
MUTED = _SHEET["xtick.color"]
SPINE = _SHEET["axes.edgecolor"]
GRID = _SHEET["grid.color"]
BAR = _SHEET["axes.prop_cycle"].by_key()["color"][0]
DENSITY = "#a9bbd8"
BASELINE = "#9a9a9a"
# Signs: vermilion pushes up, blue pushes down (the ends of the diverging maps), a pair that
# readers who cannot tell red from green still tell apart.
POS = "#d55e00"
NEG = "#0072b2"
CMAP = _SHEET["image.cmap"]

TITLE_SIZE = float(_SHEET["axes.titlesize"])
LABEL_SIZE = float(_SHEET["axes.labelsize"])
TICK_SIZE = float(_SHEET["xtick.labelsize"])
NOTE_SIZE = float(_SHEET["legend.fontsize"])
SMALLEST = 4.0

# the name the experiment gives the intercept among the terms of a local explanation
INTERCEPT = "Intercept"
# value-axis words for the fixed titles of the module's own views
AXIS_WORDS = {"effect importance": "importance: share of the mean absolute effect",
              "model coefficients": "coefficient"}
# the fixed titles whose bars are shares of a whole, read as percentages (as the importance of
# the local linear models is)
SHARES = {"effect importance"}
# Each model family in one colour wherever models are compared, told apart by readers who cannot
# tell red from green (Okabe and Ito's palette); models of other families, or a second model of
# one family, take the spare colours in turn.
FAMILY_COLORS = {"glm": "#0072b2", "tree": "#d55e00", "reludnn": "#cc79a7", "ebm": "#009e73",
                 "gam": "#e69f00", "gami": "#56b4e9"}
SPARE_COLORS = ("#000000", "#8c6d31", "#7f7f7f", "#6b4c9a", "#9c9ede", "#bd9e39")


def model_colors(families):
    """A colour for each of the models, given in order as {model name: family name}: its
    family's, else the next spare one, so that the same model keeps its colour in every
    comparison of the same models."""
    colors, taken, spare = {}, set(), 0
    for model, family in families.items():
        color = FAMILY_COLORS.get(family)
        if color is None or color in taken:
            color = SPARE_COLORS[spare % len(SPARE_COLORS)]
            spare += 1
        taken.add(color)
        colors[model] = color
    return colors


# what the stems across a sample's bars are, and their two ends
STEMS = "the feature's contribution over the training rows"
LOW_STEM = "5th percentile"
HIGH_STEM = "95th percentile"


class Sum(namedtuple("Sum", "total baseline count kind")):
    """What the parts of one sample's chart add up to: ``total`` (the response its title
    shows) is ``baseline`` (the intercept, or the training mean, which the title names) plus
    all ``count`` parts (``kind``: "features" or "terms"), of which the chart may show only
    some."""

    def rest(self, shown):
        """The sum of the parts not among the ``shown`` ones; 0 where it is only the rounding
        of the subtraction (parts that are all 0 must not read "+5.551e-17")."""
        shown = np.asarray(shown, dtype=float)
        rest = self.total - self.baseline - float(np.sum(shown))
        scale = abs(self.total) + abs(self.baseline) + float(np.abs(shown).sum())
        return 0.0 if abs(rest) <= 1e-12 * scale else rest


class Title(str):
    """A chart title that also says what the chart measures.

    It is a ``str`` in every way (it passes through the views unchanged). ``axis_label`` is the
    label a bar chart puts under its value axis, e.g. "drop in R²"; ``subtitle`` what part of
    a whole the chart shows ("numeric features"); ``adds_up`` a ``Sum``: what one sample's
    parts add up to, so that the chart can show the parts it leaves out as one; ``labelled``:
    the bars' lengths are written beside them (coefficients that differ by orders of
    magnitude, whose small bars no axis reads).
    """

    def __new__(cls, text, axis_label=None, subtitle=None, adds_up=None, labelled=False):
        self = super().__new__(cls, text)
        self.axis_label = axis_label
        self.subtitle = subtitle
        self.adds_up = adds_up
        self.labelled = labelled
        return self

    def __reduce__(self):
        return (Title, (str(self), self.axis_label, self.subtitle, self.adds_up, self.labelled))


def _hue_class(color):
    """"red", "green" or None for a colour of neither hue (greys included)."""
    hue, saturation, _ = rgb_to_hsv(to_rgb(color))
    if saturation < 0.25:
        return None
    if hue < 1 / 12 or hue > 11 / 12:
        return "red"
    if 1 / 6 < hue < 1 / 2:
        return "green"
    return None


def _safe_signs(pos_color, neg_color):
    """The colours of the two signs; a red and green pair, which a red-green colour-blind
    reader sees as one colour, becomes the look's pair (the red's sign vermilion)."""
    kinds = {_hue_class(pos_color), _hue_class(neg_color)}
    if kinds != {"red", "green"}:
        return pos_color, neg_color
    return (POS, NEG) if _hue_class(pos_color) == "red" else (NEG, POS)


# ---------------------------------------------------------------- checking inputs

def _figsize(figsize):
    if figsize is None:
        return (8.0, 6.0)
    try:
        w, h = (float(v) for v in figsize)
    except (TypeError, ValueError):
        raise ValueError("figsize must be two numbers (width, height) in inches, got %r" % (figsize,))
    if not (np.isfinite(w) and np.isfinite(h) and w > 0 and h > 0):
        raise ValueError("figsize must be two positive numbers, got %r" % (figsize,))
    return (w, h)


def _items(name, values):
    """The entries of a sequence argument as a list, one per bar or category."""
    if values is None:
        raise ValueError("%s is required" % name)
    if hasattr(values, "to_numpy"):
        values = values.to_numpy()
    try:
        if isinstance(values, (str, bytes)):
            raise TypeError
        len(values)
    except TypeError:
        raise ValueError("%s must be a sequence, got %r" % (name, values)) from None
    return list(values)


def _floats(name, values):
    """The values (a table's or a series' own array) as a float array of any shape."""
    if values is None:
        raise ValueError("%s is required" % name)
    if isinstance(values, (str, bytes)):
        raise ValueError("%s must hold numbers, got %r" % (name, values))
    if hasattr(values, "to_numpy"):
        values = values.to_numpy()
    try:
        return np.asarray(values, dtype=float)
    except (TypeError, ValueError):
        raise ValueError("%s must hold numbers only" % name) from None


def _finite(name, arr):
    if not np.all(np.isfinite(arr)):
        raise ValueError("%s holds NaN or infinite values" % name)
    return arr


def _numbers(name, values):
    """A finite one-dimensional float array; an (n, 1) or (1, n) array counts as a vector."""
    arr = _floats(name, values)
    if arr.ndim == 0:
        raise ValueError("%s must be a sequence of numbers, got %r" % (name, values))
    if arr.ndim > 1:
        if sum(d > 1 for d in arr.shape) > 1:
            raise ValueError("%s must be one-dimensional, got shape %s" % (name, arr.shape))
        arr = arr.ravel()
    return _finite(name, arr)


def _table(name, values, shape):
    """A finite float array of the given shape (rows, columns)."""
    table = _floats(name, values)
    if table.shape != shape:
        raise ValueError("%s must be a table of %d rows and %d columns, got shape %s"
                         % ((name,) + tuple(shape) + (table.shape,)))
    return _finite(name, table)


def _number(name, value):
    if value is None:
        return None
    try:
        arr = np.asarray(value, dtype=float)
    except (TypeError, ValueError):
        raise ValueError("%s must be a number, got %r" % (name, value)) from None
    if arr.size != 1 or not np.isfinite(arr).all():
        raise ValueError("%s must be one finite number, got %r" % (name, value))
    return float(arr.ravel()[0])


def _same_length(**named):
    lengths = {k: len(v) for k, v in named.items() if v is not None}
    if len(set(lengths.values())) > 1:
        listed = ", ".join("%s has %d" % kv for kv in lengths.items())
        raise ValueError("one entry per bar is needed, but " + listed)


def _is_number(v):
    return isinstance(v, (int, float, np.integer, np.floating)) and not isinstance(v, (bool, np.bool_))
