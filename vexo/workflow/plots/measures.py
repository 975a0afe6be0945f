"""What an effect is measured on: effect values that say what they are effects on and where the
data lie, as the experiment hands them to the plots, and the words that name a feature's axis.
"""
import numpy as np


class EffectValues(np.ndarray):
    """The values of one effect (a main effect's curve or its levels' bars, a pair's surface),
    which also say what they measure, as a ``Title`` says of its chart's value axis.

    axis_label: what the values are effects on ("effect on the prediction of price");
    points: the data's rows in the term's features, in model scale ((n, 2) for a pair, its first
    feature in column 0), to show where the data lie; levels: per feature of the term, the
    values that it takes where it takes few (a category's codes, a 0/1 flag's two values), else
    None.

    It is an array in every way. Slices, reshapes and copies keep what it says; arithmetic
    gives plain arrays, since a value computed from an effect need not be that effect.
    """

    _SAYS = ("axis_label", "points", "levels")

    def __new__(cls, values, axis_label=None, points=None, levels=None):
        self = np.asarray(values, dtype=float).view(cls)
        self.axis_label = axis_label
        self.points = None if points is None else np.asarray(points, dtype=float)
        self.levels = None if levels is None else tuple(
            None if lv is None else np.asarray(lv, dtype=float) for lv in levels)
        return self

    def __array_finalize__(self, obj):
        for name in self._SAYS:
            setattr(self, name, getattr(obj, name, None))

    def __array_ufunc__(self, ufunc, method, *inputs, **kwargs):
        plain = [np.asarray(v) if isinstance(v, EffectValues) else v for v in inputs]
        if "out" in kwargs:
            kwargs["out"] = tuple(np.asarray(v) if isinstance(v, EffectValues) else v
                                  for v in kwargs["out"])
        return getattr(ufunc, method)(*plain, **kwargs)

    def __reduce__(self):
        rebuild, arguments, state = super().__reduce__()
        return rebuild, arguments, (state, tuple(getattr(self, name) for name in self._SAYS))

    def __setstate__(self, state):
        array_state, says = state
        super().__setstate__(array_state)
        for name, value in zip(self._SAYS, says):
            setattr(self, name, value)


def said(values, name):
    """What values say of themselves (an ``EffectValues`` attribute), or None."""
    return getattr(values, name, None) if isinstance(values, EffectValues) else None


def effect_label(*values):
    """The value axis of an effect: what the first of the values that says so is an effect on,
    else "Effect"."""
    for v in values:
        label = said(v, "axis_label")
        if label:
            return str(label)
    return "Effect"


def _unit_range(values):
    """Whether the values could be a feature scaled to [0, 1], as the pipeline hands them over."""
    values = np.asarray(values, dtype=float)
    return values.size > 0 and values.min() >= -1e-9 and values.max() <= 1 + 1e-9


def _scaled(name):
    return name + " (scaled to 0\u20131)" if name else "scaled to 0\u20131"
