"""The gallery's comparison of the families, at its top: do the models tell the same story?
Every fitted model's importance ranks side by side, and the effect of the features that they
rank highest drawn for all of them on one axis, beside the table of their scores.
"""
from .command import one_line
from .views import Entry, View, drawn

# The features whose effects the comparison draws, at most: the first of the importance
# comparison's rows (the highest by their mean rank across the models).
TOP_FEATURES = 5
# The comparison's steps on the progress bar: the importance and each feature's effects.
STEPS = 1 + TOP_FEATURES
IMPORTANCE = View("importance", lambda c: "Importance in each model",
                  "compare_importance", lambda c: {})


def effect_view(k):
    return View("effect-%d" % k, lambda feature: "Effect of %s in each model" % feature,
                "compare_effects", lambda feature: {"feature": feature})


def compare_families(experiment, sections, out, progress):
    """Draw the comparison of the families that were fitted and explained into ``out``: its
    entries, the importance comparison's first; none where no family was."""
    models = [section.model for section in sections if not section.error]
    if not models:
        return []
    ranked = []

    def importance():
        ranked.extend(experiment.compare_importance(models)["features"][:TOP_FEATURES])

    with progress.step("importance"):
        entries = [entry(IMPORTANCE, None, importance, out)]
    for k, feature in enumerate(ranked, 1):
        with progress.step("effect of %s" % one_line(feature)):
            entries.append(entry(effect_view(k), feature, lambda: experiment.compare_effects(
                feature, models), out))
    return entries


def entry(view, choice, draw, out):
    files, printed, error = drawn(draw, out, "compare-" + view.slug)
    return Entry(view, view.title(choice), files, None, printed, error)
