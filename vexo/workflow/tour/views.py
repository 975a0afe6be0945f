"""The views of the gallery: what each draws for a model, the feature, pair and sample that they
show, and one view's call through the dispatcher with its figures saved as PNG files.
"""
import contextlib
import io
import os
from collections import namedtuple

import pandas as pd

from .command import one_line
from .folder import write_whole


# Twice matplotlib's screen resolution: the gallery shows the figures at half their pixel
# size, where tick labels stay sharp when the grid scales them down.
DPI = 180
NO_COEFFICIENTS = "This model has no coefficients"

# One view of the gallery: its file and anchor name, its title and the dispatcher's arguments,
# made from the tour's choices for the model (feature, pair, sample). Values are shown in the
# data's own units wherever a view can show them so.
View = namedtuple("View", "slug title show arguments")
VIEWS = (
    View("importance", lambda c: "Feature importance", "global_fi", lambda c: {}),
    View("effect-importance", lambda c: "Effect importance", "global_ei", lambda c: {}),
    View("coefficients", lambda c: "Coefficients of the numeric features", "glm_coef",
         lambda c: {"uni_feature": "Numeric"}),
    View("coefficients-original", lambda c: "Coefficients of the numeric features per unit",
         "glm_coef", lambda c: {"uni_feature": "Numeric", "original_scale": True}),
    View("main-effect", lambda c: "Main effect of %s" % c.feature, "global_effect_plot",
         lambda c: {"uni_feature": c.feature}),
    View("main-effect-original", lambda c: "Main effect of %s in original units" % c.feature,
         "global_effect_plot", lambda c: {"uni_feature": c.feature, "original_scale": True}),
    View("interaction", lambda c: "Interaction of %s and %s" % c.pair, "global_effect_plot",
         lambda c: {"bi_features": c.pair_names, "original_scale": True}),
    View("local-importance", lambda c: "Feature contributions to sample %d" % c.sample,
         "local_fi", lambda c: {"sample_id": c.sample, "original_scale": True}),
    View("local-effects", lambda c: "Effect contributions to sample %d" % c.sample, "local_ei",
         lambda c: {"sample_id": c.sample, "original_scale": True}),
    View("llm-summary", lambda c: "Local linear models", "llm_summary", lambda c: {}),
    View("llm-violin", lambda c: "Coefficients of the local linear models", "llm_violin",
         lambda c: {}),
    View("llm-parallel", lambda c: "Local linear models in parallel coordinates", "llm_pc",
         lambda c: {}),
    View("tree", lambda c: "Decision tree", "tree_global", lambda c: {"original_scale": True}),
    View("tree-path", lambda c: "Decision path of sample %d" % c.sample, "tree_local",
         lambda c: {"sample_id": c.sample, "original_scale": True}),
)
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
        pair = split_pair(full, dataset.feature_names) or tuple(full.split(" x ", 1))
    else:
        pair = (ranked[-1], ranked[-2] if len(ranked) > 1 else ranked[-1])
    names = tuple(dataset.truncated_columns_dict_15.get(f, f) for f in pair)
    return Choices(ranked[-1], pair, names, int(dataset.test_index[0]))


def split_pair(term, features):
    """The two features whose names joined by " x " make the term, or None. A name may hold
    " x " itself, so the term is matched against the names rather than split."""
    names = set(features)
    for first in features:
        if term.startswith(first + " x ") and term[len(first) + 3:] in names:
            return first, term[len(first) + 3:]
    return None


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
    if (entry.view.show != "glm_coef" or entry.files
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
