"""Every view of every family on both bundled tables, read as a reader reads a figure, and wrapped titles."""
import contextlib
import hashlib
import io

import matplotlib.pyplot as plt
import pytest

import tables
from reading import problems
from vexo.workflow import look, tour
from vexo.workflow.figures import capture
from vexo.workflow.interpret_api import InterpretAPI
from vexo.workflow.plots.text import _fit_title

# Views of the ReLU network whose axes have no x label, and why: the module draws them with
# fixed calls. The pair plot names its panels by column titles and row labels, as a scatter
# matrix does; the profile in model scale has its density strip drawn from a bare array.
UNLABELLED = {("reludnn", "interaction"), ("reludnn", "main-effect")}


def unlabelled_axes(figure):
    """Axes that show data but say nowhere what their x axis is (hidden tick labels: a labelled one shares it)."""
    bars = {getattr(a.colorbar, "ax", None) for ax in figure.axes for a in list(ax.images) + list(ax.collections)}
    missing = []
    for ax in figure.axes:
        if ax in bars or not (ax.get_visible() and ax.axison and (ax.lines or ax.patches or ax.collections
                                                                   or ax.images)) or ax.get_xlabel().strip():
            continue
        shown = [t for t in ax.get_xticklabels() if t.get_visible() and t.get_text()]
        if shown or not any(o.get_xlabel().strip() for o in ax.get_shared_x_axes().get_siblings(ax) if o is not ax):
            missing.append(ax.get_title() or "untitled axes")
    return missing


LONG_NAMES = {"age": "age of the primary account holder at the application (years)",
              "income_per_household": "household income before tax in thousands of US dollars",
              "income_per_capita_usd": "income per capita of the household's region in US dollars",
              "colour": "colour of the application form that the holder handed in",
              "noise": "a measurement of the form that carries no signal whatsoever",
              "y": "defaulted on the loan within the first twelve months of its term"}


def long_named():
    """The tour's experiment of a table whose names of features, target and classes are each a line long."""
    from conftest import make_frame
    frame = make_frame("classification", n=200).replace({"y": {"yes": "went into default within its first year",
                                                                "no": "paid back on time"}})
    experiment = tour.make_experiment(frame.rename(columns=LONG_NAMES), LONG_NAMES["y"], "classification", 0)
    for family in tour.model_families():
        experiment.register(family, family)
    return experiment


@pytest.fixture(scope="module", params=["diabetes", "breast_cancer", "long names"])
def gallery(request):
    """{(family, view slug): [figures]} of every view of every family on a bundled table, and
    on one of long names."""
    experiment, drawn = long_named() if request.param == "long names" else tables.bundled(request.param), {}
    with look.context():
        for family in tour.model_families():
            api, choices = InterpretAPI(experiment, family), tour.choose(experiment, family)
            for view in tour.VIEWS:
                with capture() as figures, tour.displayed_tables(), contextlib.redirect_stdout(io.StringIO()):
                    try:
                        api.model_interpret(show=view.show, **view.arguments(choices))
                    except TypeError as refused:  # the documented answer of a model without coefficients
                        assert view.show == "glm_coef", refused
                if figures:
                    drawn[family, view.slug] = figures
    yield drawn
    for figures in drawn.values():
        for figure in figures:
            plt.close(figure)


def test_every_view_reads_cleanly_and_no_family_repeats_another(gallery):
    found, seen = [], {}
    for (family, slug), figures in sorted(gallery.items()):
        for k, figure in enumerate(figures):
            where = "%s %s #%d: " % (family, slug, k)
            found += [where + p for p in problems(figure, inside=True)]
            if (family, slug) not in UNLABELLED:
                found += [where + "no x label on %r" % title for title in unlabelled_axes(figure)]
            found += [where + "a word alone under %r" % t.get_text() for t in titles(figure) if orphaned(t.get_text())]
            png = io.BytesIO()
            figure.savefig(png, format="png", dpi=40)
            seen.setdefault((slug, k, hashlib.sha1(png.getvalue()).hexdigest()), []).append(family)
    assert not found, "\n".join(found)
    assert not {key: families for key, families in seen.items() if len(families) > 1}


def orphaned(text):
    """Whether a wrapped text leaves one word alone on its last line under a line of several."""
    lines = [line.strip() for line in text.split("\n")]
    return len(lines) > 1 and " " not in lines[-1] and " " in lines[-2]


def titles(figure):
    return [t for ax in figure.axes for t in (ax.title, ax._left_title, ax._right_title) if t.get_text()] + \
        ([figure._suptitle] if figure._suptitle is not None and figure._suptitle.get_text() else [])


TITLE = "Interaction Effect of mean concave points x worst fractal dimension (Importance: 9.817%)"


@pytest.mark.parametrize("width", [3.0, 4.5, 6.0, 8.0, 10.0])
@pytest.mark.parametrize("title", [TITLE, "Main Effect of a rather long feature name of a table (Importance: 19.38%)",
                                   "Sample 41: logit of P(malignant) = 7.912, intercept plus effects"])
def test_titles_wrap_into_lines_of_even_length_inside_the_figure(title, width):
    figure, ax = plt.subplots(figsize=(width, 3))
    _fit_title(figure, ax, title)
    text = ax.title.get_text()
    lines = text.split("\n")
    assert " ".join(text.split()) == title and not orphaned(text)
    assert len(lines) == 1 or min(map(len, lines)) >= 0.5 * max(map(len, lines)), lines
    box = ax.title.get_window_extent(figure.canvas.get_renderer())
    assert box.x0 >= 0 and box.x1 <= figure.bbox.width
