"""The views of the gallery: what each draws for a model, the feature, pair and sample that they
show, and one view's call through the dispatcher with its figures saved as PNG files.
"""
import contextlib
import io
import os
from collections import namedtuple

import pandas as pd

from .. import interpret_api
from ..names import split_pair
from .command import one_line
from .folder import write_whole


# Twice matplotlib's screen resolution: the gallery shows the figures at half their pixel
# size, where tick labels stay sharp when the grid scales them down.
DPI = 180
NO_COEFFICIENTS = "This model has no coefficients"

# One view of the gallery: its file and anchor name, its title from the tour's choices for the
# model (feature, pair, sample), its show value and its arguments to the dispatcher made from
# those choices, and the method that it reaches there (None for the comparison's views).
View = namedtuple("View", "slug title show arguments method", defaults=(None,))
# What the gallery draws of each method that a show value of the dispatcher reaches, as
# (slug, title, show, method, in original units, arguments of its own). Values are shown in the
# data's own units wherever a view can show them so.
PAGES = (
    ("importance", lambda c: "Feature importance", "global_fi", "fi", False, {}),
    ("effect-importance", lambda c: "Effect importance", "global_ei", "ei", False, {}),
    ("coefficients", lambda c: "Coefficients of the numeric features", "glm_coef", "coef", False,
     {"uni_feature": "Numeric"}),
    ("coefficients-original", lambda c: "Coefficients of the numeric features per unit", "glm_coef",
     "coef", True, {"uni_feature": "Numeric"}),
    ("main-effect", lambda c: "Main effect of %s" % c.feature, "global_effect_plot", "main_effect",
     False, {}),
    ("main-effect-original", lambda c: "Main effect of %s in original units" % c.feature,
     "global_effect_plot", "main_effect", True, {}),
    ("interaction", lambda c: "Interaction of %s and %s" % c.pair, "global_effect_plot",
     "interaction_effect", True, {}),
    ("local-importance", lambda c: "Feature contributions to sample %d" % c.sample, "local_fi",
     "fi_local", True, {}),
    ("local-effects", lambda c: "Effect contributions to sample %d" % c.sample, "local_ei",
     "ei_local", True, {}),
    ("llm-summary", lambda c: "Local linear models", "llm_summary", "llm_df", False, {}),
    ("llm-violin", lambda c: "Coefficients of the local linear models", "llm_violin", "llm_violin",
     False, {}),
    ("llm-parallel", lambda c: "Local linear models in parallel coordinates", "llm_pc", "ei", False,
     {}),
    ("tree", lambda c: "Decision tree", "tree_global", "get_tree", True, {}),
    ("tree-path", lambda c: "Decision path of sample %d" % c.sample, "tree_local", "get_local_tree",
     True, {}),
)
# The dispatcher's arguments that the tour's choices give.
CHOSEN = {"uni_feature": lambda c: c.feature, "bi_features": lambda c: c.pair_names,
          "sample_id": lambda c: c.sample}


def _view(slug, title, show, method, original, own):
    """The view of a page, given the arguments that the dispatcher's table says its method reads:
    the chosen ones, the page's own, and the original units where the page asks for them."""
    read = dict(dict(interpret_api.SHOWS)[show])[method]

    def arguments(choices):
        given = {name: CHOSEN[name](choices) for name in read if name in CHOSEN}
        given.update(own)
        if original and "original_scale" in read:
            given["original_scale"] = True
        return given

    return View(slug, title, show, arguments, method)


VIEWS = tuple(_view(*page) for page in PAGES)
# The pair by its full names, and by the display names that the interaction view takes.
Choices = namedtuple("Choices", "feature pair pair_names sample")
# What one view call gave: figures saved as files, a table, printed lines, or an error.
Entry = namedtuple("Entry", "view title files table printed error")
# One family in the gallery: its entries and its scores on the test split (``Scores``), or,
# when it could not be fitted or explained, the step that failed and the error
# ("ValueError: ...").
Section = namedtuple("Section", "model estimator entries failed_step error scores",
                     defaults=(None,))


def choose(experiment, model):
    """The feature, the pair and the sample that the views of a model show: the model's most
    important feature, its strongest interaction term (else its two most important features)
    and the first test row. The pair comes by its full names, for the captions, and by the
    display names that the interaction view takes."""
    dataset = experiment.dataset
    ranked = experiment.interpret_fi(model)["feature_names"]
    terms = experiment.act_inter_lis.get(model) or []
    if terms:
        # the model's terms come by their display names, as effect importance ranks them
        # (least important first); the table maps full names to them
        full_of = {shown: full for full, shown
                   in experiment.inter_effect_trunc_dict.get(model, {}).items()}
        effects = experiment.interpret_ei(model) or {}
        order = list(effects["value"][0]) if effects.get("type") == "effect" else []
        strongest = max(terms, key=lambda t: order.index(t) if t in order else -1)
        full = full_of.get(strongest, strongest)
        pair = split_pair(full, dataset.feature_names) or split_pair(full)
    else:
        pair = (ranked[-1], ranked[-2] if len(ranked) > 1 else ranked[-1])
    names = tuple(dataset.truncated_columns_dict_15.get(f, f) for f in pair)
    return Choices(ranked[-1], pair, names, int(dataset.test_index[0]))


@contextlib.contextmanager
def displayed_tables():
    """Collect what the views display (the summary tables) instead of showing it."""
    from .. import interpret_api

    tables = []
    shown = interpret_api.display
    interpret_api.display = lambda obj, *args, **kwargs: tables.append(obj)
    try:
        yield tables
    finally:
        interpret_api.display = shown


def drawn(draw, out, stem):
    """Run ``draw()`` in the package's look and save the figures that it shows as PNG files in
    ``out``, named after ``stem``: (file names, what it printed, its error or None)."""
    from .. import look
    from ..figures import capture

    printed = io.StringIO()
    files, error = [], None
    with look.context():
        with capture() as figures, contextlib.redirect_stdout(printed):
            try:
                draw()
            except Exception as raised:  # shown in the gallery, and in the exit status
                error = "%s: %s" % (type(raised).__name__, one_line(raised))
        # saved in the look too: some of it (the saved figure's colours) applies when drawing
        for k, figure in enumerate(figures, 1):
            name = "%s%s.png" % (stem, "" if k == 1 else "-%d" % k)
            try:
                write_whole(os.path.join(out, name), lambda part: figure.savefig(
                    part, format="png", dpi=DPI, bbox_inches="tight"))
            except Exception as raised:  # a figure that cannot be rendered is the view's error
                error = error or "%s: %s" % (type(raised).__name__, one_line(raised))
                continue
            files.append(name)
    return files, printed.getvalue().strip(), error


def run_view(api, model, view, choices, out):
    """Call one view through the dispatcher in the package's look; save its figures as PNG
    files in ``out``."""
    with displayed_tables() as tables:
        files, printed, error = drawn(
            lambda: api.model_interpret(show=view.show, **view.arguments(choices)), out,
            "%s-%s" % (model, view.slug))
    table = next((t for t in tables if isinstance(t, pd.DataFrame)), None)
    return Entry(view, view.title(choices), files, table, printed, error)


def as_refusal(experiment, model, entry):
    """The entry, or, for the coefficients of a model that has none, that model's refusal. The
    view fails there with the interpreter's TypeError (it subscripts the model's missing
    coefficient result); any other error stays an error."""
    if (entry.view.method != "coef" or entry.files
            or not (entry.error or "").startswith("TypeError: ")):
        return entry
    try:
        result = experiment.interpret_ei(model)
    except Exception:  # the error that the view met, then
        return entry
    if result is not None:
        return entry
    return entry._replace(error=None, printed=NO_COEFFICIENTS)


def estimator_name(experiment, model):
    """The class of the model's estimator; a pipeline of preparation and model is named after its
    model."""
    try:
        estimator = experiment.registered_pipeline[model].estimator
    except Exception:  # not fitted
        return ""
    return type(getattr(estimator, "steps", [(None, estimator)])[-1][1]).__name__
