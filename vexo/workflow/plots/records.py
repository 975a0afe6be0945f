"""The records that the experiment's comparisons hand to the figures, checked whole before a
figure is made; and what the comparison figures share: the note under them, and their titles and
labels fitted before what is placed by measure.
"""
from collections.abc import Mapping

import numpy as np
from matplotlib.colors import is_color_like

from .style import MUTED, NOTE_SIZE, _items
from .text import _fit_axis_label, _fit_title, _measured, _wrap_into


def _record(record, keys):
    if not isinstance(record, Mapping):
        raise ValueError("the record must be a dict, got %s" % type(record).__name__)
    missing = [k for k in keys if k not in record]
    if missing:
        raise ValueError("the record lacks %s" % ", ".join(repr(k) for k in missing))


def _text(name, value):
    if not isinstance(value, str):
        raise ValueError("%s must be a text, got %r" % (name, value))
    return value


def _flag(name, value):
    if not isinstance(value, (bool, np.bool_)):
        raise ValueError("%s must be True or False, got %r" % (name, value))
    return bool(value)


def _color(name, value):
    if not is_color_like(value):
        raise ValueError("%s must be a colour, got %r" % (name, value))
    return value


def _texts(name, values):
    texts = [_text("each entry of %s" % name, v) for v in _items(name, values)]
    if not texts:
        raise ValueError("%s must hold one entry at least" % name)
    return texts


def _note(fig, text):
    """The note, small, under the lowest axes' x label and as wide as the axes (so that the layout
    makes room for it, and a legend under the axes goes under it)."""
    if not text:
        return
    ax = fig.axes[-1]
    note = ax.annotate(text, xy=(0, 0), xycoords=("axes fraction", ax.xaxis.label), xytext=(0, -8),
                       textcoords="offset points", ha="left", va="top", fontsize=NOTE_SIZE, color=MUTED,
                       annotation_clip=False, gid="note")
    # measured out of the layout: at its full length it would squeeze the axes to nothing
    note.set_in_layout(False)
    renderer = _measured(fig)
    _wrap_into(note, text, ax.get_window_extent(renderer).width,
               lambda: note.get_window_extent(renderer).width)
    note.set_in_layout(True)


def _fitted(fig):
    """Titles and axis labels fitted as the figure will show them, for what is placed by measure."""
    for ax in fig.axes:
        _fit_title(fig, ax)
        _fit_axis_label(fig, ax, ax.xaxis)
        _fit_axis_label(fig, ax, ax.yaxis)
