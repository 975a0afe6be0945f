"""Text in the plots: numbers at four significant digits kept apart, and titles, labels and
wrapped lines fitted into the room that the figure gives them.
"""
import re

import numpy as np
from matplotlib import ticker

from ..names import SEPARATOR as PAIR, parts
from .style import SMALLEST, TITLE_SIZE


def _fmt(v, digits=4):
    """A number at `digits` significant digits without float noise (whole numbers stay whole);
    a text of numbers joined by " x " has each number so rounded; any other text as it is."""
    if isinstance(v, np.ndarray) and v.ndim == 0:
        v = v.item()
    if v is None:
        return ""
    if isinstance(v, (str, bytes)):
        text = v.decode() if isinstance(v, bytes) else v
        numbers = parts(text)
        if all(_NUMBER.match(p) for p in numbers):
            return PAIR.join(_fmt(float(p), digits) for p in numbers)
        return text
    if isinstance(v, (bool, np.bool_)):
        return str(bool(v))
    if isinstance(v, (int, np.integer)):
        return str(int(v))
    if isinstance(v, (float, np.floating)):
        v = float(v)
        if not np.isfinite(v):
            return str(v)
        if v == 0:
            return "0"
        if v == round(v) and abs(v) < 1e9:
            return str(int(round(v)))
        if abs(v) >= 1e9 or abs(v) < 1e-4:
            return "%.*g" % (digits, v)
        return np.format_float_positional(v, precision=digits, fractional=False, trim="-")
    if np.ndim(v) > 0:
        return PAIR.join(_fmt(x, digits) for x in np.ravel(np.asarray(v, dtype=object)))
    return str(v)


_NUMBER = re.compile(r"^\s*[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?\s*$")


def _distinct(values, digits=4):
    """Labels of the numbers at `digits` significant digits, more where fewer would make two of
    them read the same."""
    values = [float(v) for v in values]
    for d in range(digits, 13):
        labels = [_fmt(v, d) for v in values]
        if len(set(labels)) == len(set(values)):
            return labels
    return labels


class _TickFormatter(ticker.Formatter):
    """Tick labels at four significant digits, as many more as keep neighbours apart, with a
    true minus sign."""

    def __call__(self, x, pos=None):
        return _fmt(x).replace("-", "\u2212")

    def format_ticks(self, values):
        return [s.replace("-", "\u2212") for s in _distinct(values)]


# The most of one text that a figure draws: a name or a label of a whole paragraph (a header
# cell of 100 KB) is cut there, with "…", rather than wrapped into a page of lines.
LONGEST_TEXT = 300
ELLIPSIS = "…"
# What separates the words of a name: a shortened name ends before one of them.
SEPARATOR = re.compile(r"[\s_\-./,;:()\[\]{}'\"]")
WORD = re.compile(r"[^\s_\-./,;:()\[\]{}'\"]+")


def word_ends(text, limit):
    """The positions, up to ``limit``, at which a word of the text ends and a separator begins
    (never 0), in order."""
    return [m.start() for m in SEPARATOR.finditer(text, 0, limit + 1)
            if m.start() > 0 and not SEPARATOR.match(text, m.start() - 1)]


def shorten(text, width):
    """The text as it is if it has at most ``width`` characters (blanks at its ends dropped);
    else its leading whole words that fit and "…" ("mean concave…"), or, where its first word
    alone is too long, that word cut and "…"."""
    text = text.strip()
    if len(text) <= width:
        return text
    room = width - len(ELLIPSIS)
    if room < 1:
        return text[:width]
    ends = word_ends(text, room)
    return text[:ends[-1] if ends else room] + ELLIPSIS


def _wrap(text, width):
    """Break a text into lines of at most about `width` characters at its blanks, as even as
    their number allows: a title that takes two lines takes two halves, not a line and a word.
    Words stay whole; only a name longer than a line breaks (``_pieces``). A text longer than
    ``LONGEST_TEXT`` is cut there."""
    width = max(int(width), 8)
    text = str(text)
    if len(text) > LONGEST_TEXT:
        text = shorten(text, LONGEST_TEXT)
    lines = []
    for para in text.split("\n"):
        tokens = []  # (text, glue before it)
        for word in para.split(" "):
            if not word:
                continue
            tokens.extend((p, " " if k == 0 else "") for k, p in enumerate(_pieces(word, width)))
        lines.extend(_balanced(tokens, width))
    return "\n".join(lines)


def _filled(tokens, width):
    """The tokens in lines of at most `width` characters, each line as full as it goes."""
    lines, line = [], ""
    for token, glue in tokens:
        if line and len(line) + len(glue) + len(token) > width:
            lines.append(line)
            line = token
        else:
            line = line + glue + token if line else token
    return lines + [line]


def _balanced(tokens, width):
    """The tokens in as few lines as `width` allows, each about as long as the others: the
    narrowest width that needs no more lines; a last line of one word under a line of several
    takes that line's last word too."""
    lines = _filled(tokens, width)
    if len(lines) < 2:
        return lines
    for narrower in range(-(-sum(len(g) + len(t) for t, g in tokens) // len(lines)), width):
        even = _filled(tokens, narrower)
        if len(even) == len(lines):
            lines = even
            break
    last, above = lines[-1], lines[-2]
    if " " not in last and " " in above:
        moved = above.rsplit(" ", 1)
        if len(moved[1]) + 1 + len(last) <= width:
            lines[-2:] = [moved[0], moved[1] + " " + last]
    return lines


def _pieces(word, width):
    """The pieces of a word between which a line may break: after an underscore or a slash in a
    word longer than a line, and anywhere in a piece of more than three lines."""
    if len(word) <= width:
        return [word]
    pieces = [p for p in re.split(r"(?<=[_/])", word) if p]
    return [p[k:k + step] for p in pieces for step in [width if len(p) > 3 * width else len(p)]
            for k in range(0, len(p), step)]


def _chars_across(fig, fontsize, share=1.0):
    return fig.get_figwidth() * 72.0 * share / (0.6 * fontsize)


def _measured(fig):
    """The figure's renderer, with the layout and every text placed as the figure now stands:
    drawn again (without rendering) only if something changed since the last draw."""
    if fig.stale:
        fig.draw_without_rendering()
    return fig.canvas.get_renderer()


def _wrap_into(label, text, room, length):
    """Set the text on the label, wrapped at blanks into lines as long as fit in `room` (as the
    callable `length` measures the label, in pixels); the line width in characters it took."""
    width = len(text)
    for _ in range(12):
        label.set_text(_wrap(text, width))
        used = length()
        if used <= room or width <= 8:
            break
        width = max(8, min(width - 1, int(width * room / used)))
    return width


def _fit_title(fig, ax, text=None):
    """Wrap the title (`text`, by default the present one) so that, centred over its axes, it
    stays inside the figure; a word too long for any line makes the type smaller instead."""
    text = ax.title.get_text() if text is None else text
    if ax.title.get_fontsize() != TITLE_SIZE:
        ax.title.set_fontsize(TITLE_SIZE)
    if not text:
        return
    renderer = _measured(fig)
    box = ax.get_window_extent(renderer)
    centre = (box.x0 + box.x1) / 2.0
    room = 2.0 * min(centre, fig.bbox.width - centre) - 8.0
    width = _wrap_into(ax.title, text, room, lambda: ax.title.get_window_extent(renderer).width)
    # a small figure takes a smaller title rather than one of many lines
    while ((ax.title.get_window_extent(renderer).width > room or ax.title.get_text().count("\n") > 1)
           and ax.title.get_fontsize() > SMALLEST + 5):
        ax.title.set_fontsize(ax.title.get_fontsize() - 0.5)
        width = int(width * 1.04) + 1
        ax.title.set_text(_wrap(text, width))
        if ax.title.get_window_extent(renderer).width > room:
            width = max(8, int(width / 1.04) - 1)
            ax.title.set_text(_wrap(text, width))


def _fit_axis_label(fig, ax, axis):
    """Wrap the axis label (at blanks) and, if need be, shrink it to the length of its axes."""
    label = axis.label
    text = label.get_text()
    if not text or not label.get_visible():
        return
    renderer = _measured(fig)
    box = ax.get_window_extent(renderer)
    vertical = axis is ax.yaxis
    room = (box.height if vertical else box.width) + 4.0
    flat = text.replace("\n", " ")

    def length():
        ext = label.get_window_extent(renderer)
        return ext.height if vertical else ext.width

    _wrap_into(label, flat, room, length)
    while length() > room and label.get_fontsize() > SMALLEST + 2:
        label.set_fontsize(label.get_fontsize() - 0.5)


def _fit_overlong_labels(fig):
    """Each axis label that passes the length of its axes fitted to it (``_fit_axis_label``);
    one that fits keeps its own line breaks."""
    renderer = _measured(fig)
    for ax in fig.axes:
        box = ax.get_window_extent(renderer)
        for axis, room, side in ((ax.xaxis, box.width, "width"), (ax.yaxis, box.height, "height")):
            if getattr(axis.label.get_window_extent(renderer), side) > room + 4.0:
                _fit_axis_label(fig, ax, axis)


def _importance_title(prefix, name, importance):
    """An effect's title with its importance, its share of the model's effects, as a percentage
    like the effect importance's axis (0.1938 reads 19.38%)."""
    text = prefix + " of " + name if name else prefix
    if importance is not None:
        text += " (Importance: %s%%)" % _fmt(float(importance) * 100.0)
    return text
