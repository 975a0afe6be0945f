"""Every view of every family, drawn on both bundled data sets as the tour draws them, read as
a reader reads a figure: no text on top of another, no float noise, no number broken across
lines, axes that say what they show, and no family that merely repeats another's figure."""
import contextlib
import hashlib
import io
import re

import matplotlib
import matplotlib.pyplot as plt
import numpy as np
import pytest
from matplotlib.text import Text

from vexo.workflow import look, tour
from vexo.workflow.figures import capture
from vexo.workflow.interpret_api import InterpretAPI

# A run of six 0s or 9s after a decimal point is the trace of binary arithmetic, not data.
NOISE = re.compile(r"\d\.\d*(?:0{6,}|9{6,})\d")
# A number cut by a line break: at its decimal point, inside its decimals, or after its sign.
# (Digits on both sides of a break are not enough: a tree's "node #3" line may be followed by
# a feature named "2009".)
SPLIT_NUMBER = re.compile(r"\d[.,]\n\d|\d\n[.,]\d|\.\d+\n\d|[\u2212-]\n\d")

# Views of the ReLU network whose axes have no x label, and why: the module draws them with
# fixed calls. The pair plot names its panels by column titles and row labels, as a scatter
# matrix does; the violins and the parallel coordinates name the coefficients on the axis
# itself; the profile in model scale has its density strip drawn from a bare array.
UNLABELLED = {
    ("reludnn", "interaction"), ("reludnn", "llm-violin"), ("reludnn", "llm-parallel"),
    ("reludnn", "main-effect"),
}


def drawn_texts(figure):
    """(text, box) of every text that a render of the figure actually draws; a text in a box
    (a tree's node) is measured by its box."""
    drawn = []
    original = Text.draw

    def draw(self, renderer):
        original(self, renderer)
        if self.get_visible() and self.get_text().strip() and self.get_alpha() != 0:
            patch = self.get_bbox_patch()
            box = (patch.get_window_extent(renderer) if patch is not None
                   else self.get_window_extent(renderer))
            drawn.append((self, box))

    Text.draw = draw
    try:
        figure.draw_without_rendering()
    finally:
        Text.draw = original
    return drawn


def overlaps(drawn, tolerance=1.0):
    found = []
    for i, (a, box_a) in enumerate(drawn):
        for b, box_b in drawn[i + 1:]:
            width = min(box_a.x1, box_b.x1) - max(box_a.x0, box_b.x0)
            height = min(box_a.y1, box_b.y1) - max(box_a.y0, box_b.y0)
            if width > tolerance and height > tolerance:
                found.append((a.get_text(), b.get_text()))
    return found


def shows_data(ax):
    return ax.get_visible() and ax.axison and bool(ax.lines or ax.patches or ax.collections
                                                    or ax.images)


def unlabelled_axes(figure):
    """Axes that show data but say nowhere what their x axis is. An axes whose x tick labels
    are hidden shares its x axis with a labelled one below it."""
    colorbars = {getattr(im.colorbar, "ax", None) for ax in figure.axes for im in ax.images}
    colorbars |= {getattr(c.colorbar, "ax", None) for ax in figure.axes for c in ax.collections}
    missing = []
    for ax in figure.axes:
        if ax in colorbars or not shows_data(ax) or ax.get_xlabel().strip():
            continue
        shown = [t for t in ax.get_xticklabels() if t.get_visible() and t.get_text()]
        if not shown and any(other.get_xlabel().strip() for other in ax.get_shared_x_axes()
                             .get_siblings(ax) if other is not ax):
            continue
        missing.append(ax.get_title() or "untitled axes")
    return missing


def fingerprint(figure):
    buffer = io.BytesIO()
    figure.savefig(buffer, format="png", dpi=40)
    return hashlib.sha1(buffer.getvalue()).hexdigest()


def draw_gallery(argv):
    """{(family, view slug): [figures]} of every view of every family on the table that the
    tour's command line ``argv`` names."""
    args = tour.parse_args(argv)
    _, frame, target = tour.load_table(args)
    experiment = tour.make_experiment(frame, target, args.task, seed=args.seed,
                                      positive_class=args.positive_class)
    gallery = {}
    with look.context():
        for family in tour.model_families():
            experiment.register(family, family)
            api = InterpretAPI(experiment, family)
            choices = tour.choose(experiment, family)
            for view in tour.VIEWS:
                with capture() as figures, tour.displayed_tables(), \
                        contextlib.redirect_stdout(io.StringIO()):
                    try:
                        api.model_interpret(show=view.show, **view.arguments(choices))
                    except TypeError as refused:
                        # the documented answer of a model without coefficients
                        assert view.show == "glm_coef", refused
                if figures:
                    gallery[family, view.slug] = figures
    return gallery


@pytest.fixture(scope="module", params=["diabetes", "breast_cancer"])
def gallery(request):
    assert matplotlib.get_backend().lower() == "agg"
    drawn = draw_gallery(["--data", request.param])
    yield drawn
    for figures in drawn.values():
        for figure in figures:
            plt.close(figure)


def test_every_view_reads_cleanly(gallery):
    problems = []
    for (family, slug), figures in sorted(gallery.items()):
        for k, figure in enumerate(figures):
            where = "%s %s #%d" % (family, slug, k)
            drawn = drawn_texts(figure)
            assert drawn, where + " draws no text at all"
            for a, b in overlaps(drawn):
                problems.append("%s: %r covers %r" % (where, a, b))
            for text, _ in drawn:
                content = text.get_text()
                if NOISE.search(content):
                    problems.append("%s: float noise in %r" % (where, content))
                if SPLIT_NUMBER.search(content):
                    problems.append("%s: a number broken across lines in %r" % (where, content))
            if (family, slug) not in UNLABELLED:
                for title in unlabelled_axes(figure):
                    problems.append("%s: no x label on %r" % (where, title))
    assert not problems, "\n".join(problems)


def test_no_family_repeats_another(gallery):
    seen = {}
    for (family, slug), figures in sorted(gallery.items()):
        for k, figure in enumerate(figures):
            seen.setdefault((slug, k, fingerprint(figure)), []).append(family)
    repeated = {key: families for key, families in seen.items() if len(families) > 1}
    assert not repeated, repeated


def test_the_checks_see_what_they_look_for():
    fig, ax = plt.subplots(figsize=(3, 2))
    ax.plot([0, 1], [0, 1])
    ax.text(0.5, 0.5, "27.607400000000002")
    ax.text(0.5, 0.5, "Importance: 0.\n06825")
    drawn = drawn_texts(fig)
    contents = [t.get_text() for t, _ in drawn]
    assert any(NOISE.search(c) for c in contents)
    assert any(SPLIT_NUMBER.search(c) for c in contents)
    assert overlaps(drawn)
    assert unlabelled_axes(fig) == ["untitled axes"]
    ax.set_xlabel("x")
    assert unlabelled_axes(fig) == []
    assert not NOISE.search("0.1043 x 0.02461") and not SPLIT_NUMBER.search("Importance:\n0.06825")
    assert not SPLIT_NUMBER.search("node #3\n2009 <= 1.317")
    assert all(SPLIT_NUMBER.search(s) for s in ("0.068\n25", "\u2212\n3.5", "12\n.5"))
    plt.close(fig)
