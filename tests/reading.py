"""A figure read as a reader reads it: overlapping texts, float noise, broken numbers, texts outside it."""
import re

from matplotlib.text import Text

# A run of six 0s or 9s after a decimal point is the trace of binary arithmetic, not data.
NOISE = re.compile(r"\d\.\d*(?:0{6,}|9{6,})\d")
# A number cut by a line break: at its decimal point, inside its decimals, or after its sign.
# (Digits on both sides of a break are not enough: a tree's "node #3" line may be followed by
# a feature named "2009".)
SPLIT_NUMBER = re.compile(r"\d[.,]\n\d|\d\n[.,]\d|\.\d+\n\d|[\u2212-]\n\d")


def drawn_texts(figure):
    """(text, box) of every text that a render of the figure draws; a text in a box is measured by its box."""
    drawn, original = [], Text.draw

    def draw(self, renderer):
        original(self, renderer)
        if self.get_visible() and self.get_text().strip() and self.get_alpha() != 0:
            patch = self.get_bbox_patch()
            drawn.append((self, (patch or self).get_window_extent(renderer)))

    Text.draw = draw
    try:
        figure.draw_without_rendering()
    finally:
        Text.draw = original
    return drawn


def overlaps(drawn, tolerance=1.0):
    return [(a.get_text(), b.get_text()) for i, (a, box_a) in enumerate(drawn) for b, box_b in drawn[i + 1:]
            if min(box_a.x1, box_b.x1) - max(box_a.x0, box_b.x0) > tolerance
            and min(box_a.y1, box_b.y1) - max(box_a.y0, box_b.y0) > tolerance]


def problems(figure, inside=False):
    """What keeps the figure from reading cleanly; `inside`: every text within the figure too."""
    drawn = drawn_texts(figure)
    found = ["%r covers %r" % pair for pair in overlaps(drawn)]
    found += ["float noise in %r" % t.get_text() for t, _ in drawn if NOISE.search(t.get_text())]
    found += ["a number broken in %r" % t.get_text() for t, _ in drawn if SPLIT_NUMBER.search(t.get_text())]
    width, height = figure.bbox.width, figure.bbox.height
    found += ["%r leaves the figure" % t.get_text() for t, b in drawn if inside and not (
        b.x0 >= -1 and b.y0 >= -1 and b.x1 <= width + 1 and b.y1 <= height + 1)]
    return found if drawn else ["no text at all"]
