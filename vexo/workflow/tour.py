"""A tour of every explanation: fit every model family on a table and draw every view of every
model into a gallery of PNG files with an ``index.html``.

    vexo-tour                                    # scikit-learn's diabetes data (regression)
    vexo-tour --data breast_cancer               # its breast cancer data (classification)
    vexo-tour --csv houses.csv --target price    # a table of your own
    vexo-tour --csv churn.csv --target churned --task classification --rows 500 --out churn

Also ``python -m vexo.workflow.tour``. Mistakes in the command (a missing file, an unknown
column, a target that does not suit the task) end it with one line on standard error and exit
status 2. A view that refuses a model, or raises, is shown in the gallery with its message.
"""
import argparse
import contextlib
import html
import io
import os
import sys
import time
import warnings
from collections import namedtuple

import numpy as np
import pandas as pd

PROG = "vexo-tour"
DATASETS = {"diabetes": "regression", "breast_cancer": "classification"}
TASKS = ("regression", "classification")
SUMMARY_ROWS = 30

# One view of the gallery: its file and anchor name, its title and the dispatcher's arguments,
# made from the tour's choices for the model (feature, pair, sample). Values are shown in the
# data's own units wherever a view can show them so.
View = namedtuple("View", "slug title show arguments")

VIEWS = (
    View("importance", lambda c: "Feature importance", "global_fi", lambda c: {}),
    View("effect-importance", lambda c: "Effect importance", "global_ei", lambda c: {}),
    View("coefficients", lambda c: "Coefficients of the numeric features", "glm_coef",
         lambda c: {"uni_feature": "Numeric"}),
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


class UsageError(Exception):
    """A mistake in the command: reported in one line, exit status 2."""


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError("%s (see %s --help)" % (message, self.prog))


def parse_args(argv):
    parser = Parser(prog=PROG, description=__doc__.splitlines()[0])
    parser.add_argument("--data", choices=sorted(DATASETS),
                        help="a data set of scikit-learn (default diabetes)")
    parser.add_argument("--csv", metavar="FILE", help="a table of your own, as CSV")
    parser.add_argument("--target", metavar="COLUMN", help="the column to predict (with --csv)")
    parser.add_argument("--task", choices=TASKS,
                        help="regression (default for --csv) or classification (a binary target)")
    parser.add_argument("--rows", metavar="N", type=int,
                        help="use a random sample of N rows")
    parser.add_argument("--out", metavar="DIR",
                        help="folder of the gallery (default a new folder here)")
    parser.add_argument("--seed", type=int, default=0,
                        help="seed of the sample, the split and the models (default 0)")
    args = parser.parse_args(argv)
    if args.csv is None:
        if args.target is not None:
            raise UsageError("--target names a column of --csv FILE")
        args.data = args.data or "diabetes"
        if args.task is not None and args.task != DATASETS[args.data]:
            raise UsageError("the %s data is for %s, not %s"
                             % (args.data, DATASETS[args.data], args.task))
        args.task = DATASETS[args.data]
    else:
        if args.data is not None:
            raise UsageError("give either --data or --csv, not both")
        if args.target is None:
            raise UsageError("--csv needs --target COLUMN")
        args.task = args.task or "regression"
    if args.rows is not None and args.rows < 1:
        raise UsageError("--rows must be a positive number, got %d" % args.rows)
    return args


# Data ------------------------------------------------------------------------------------

def load_table(args):
    """(name, frame, target) of the chosen data, sampled to ``--rows`` rows."""
    if args.csv is None:
        from sklearn import datasets

        loader = getattr(datasets, "load_" + args.data)
        # the diabetes features in their own units (years, kg/m2, ...), not standardised
        bunch = loader(as_frame=True, **({"scaled": False} if args.data == "diabetes" else {}))
        frame = bunch.frame
        if args.task == "classification":
            frame["target"] = np.asarray(bunch.target_names, dtype=object)[bunch.target]
        name, target = args.data.replace("_", " "), "target"
    else:
        if not os.path.isfile(args.csv):
            raise UsageError("no such file: %s" % args.csv)
        try:
            frame = pd.read_csv(args.csv)
        except (OSError, ValueError, UnicodeDecodeError) as error:
            raise UsageError("cannot read %s as CSV: %s" % (args.csv, one_line(error)))
        name, target = os.path.basename(args.csv), args.target
        if target not in frame.columns:
            raise UsageError("no column %r in %s; its columns are %s"
                             % (target, args.csv, ", ".join(map(str, frame.columns))))
        check_target(frame[target], target, args.task)
    if args.rows is not None and args.rows < len(frame):
        frame = frame.sample(n=args.rows, random_state=args.seed).reset_index(drop=True)
    return name, frame, target


def check_target(column, target, task):
    if task == "regression":
        if not pd.api.types.is_numeric_dtype(column) or pd.api.types.is_bool_dtype(column):
            raise UsageError("column %r is not numeric, so it cannot be a regression target; "
                             "add --task classification for a binary target" % target)
    else:
        classes = column.dropna().nunique()
        if classes != 2:
            raise UsageError("column %r has %d distinct values; a classification target has "
                             "exactly 2" % (target, classes))


def one_line(error):
    text = " ".join(str(error).split())
    return text or type(error).__name__


# Models ----------------------------------------------------------------------------------

def model_families():
    """The families that the experiment can fit, in its own order."""
    from .families import FAMILIES

    return [family for family in FAMILIES if family != "generic"]


def choose(experiment, model):
    """The feature, the pair and the sample that the views of a model show: the model's most
    important feature, its strongest interaction term (else its two most important features)
    and the first test row."""
    dataset = experiment.dataset
    ranked = experiment.interpret_fi(model)["feature_names"]
    terms = experiment.act_inter_lis.get(model) or []
    if terms:
        # effect importance ranks the terms by their display names, least important first
        display = experiment.inter_effect_trunc_dict.get(model, {})
        effects = experiment.interpret_ei(model) or {}
        order = list(effects["value"][0]) if effects.get("type") == "effect" else []
        strongest = max(terms, key=lambda t: order.index(display.get(t, t))
                        if display.get(t, t) in order else -1)
        features = dataset.feature_names
        pair = next(((f, g) for f in features for g in features if f + " x " + g == strongest),
                    tuple(strongest.split(" x ", 1)))
    else:
        pair = (ranked[-1], ranked[-2] if len(ranked) > 1 else ranked[-1])
    names = tuple(dataset.truncated_columns_dict_15.get(f, f) for f in pair)
    return Choices(ranked[-1], pair, names, int(dataset.test_index[0]))


@contextlib.contextmanager
def displayed_tables():
    """Collect what the views display (the summary tables) instead of showing it."""
    from . import interpret_api

    tables = []
    shown = interpret_api.display
    interpret_api.display = lambda obj, *args, **kwargs: tables.append(obj)
    try:
        yield tables
    finally:
        interpret_api.display = shown


def run_view(api, model, view, choices, out):
    """Call one view through the dispatcher; save its figures as PNG files in ``out``."""
    from .figures import capture

    printed = io.StringIO()
    files, error = [], None
    with capture() as figures, displayed_tables() as tables, \
            contextlib.redirect_stdout(printed):
        try:
            api.model_interpret(show=view.show, **view.arguments(choices))
        except Exception as raised:  # shown in the gallery, and in the exit status
            error = "%s: %s" % (type(raised).__name__, one_line(raised))
    for k, figure in enumerate(figures, 1):
        name = "%s-%s%s.png" % (model, view.slug, "" if k == 1 else "-%d" % k)
        figure.savefig(os.path.join(out, name), dpi=90, bbox_inches="tight")
        files.append(name)
    table = next((t for t in tables if isinstance(t, pd.DataFrame)), None)
    return Entry(view, view.title(choices), files, table, printed.getvalue().strip(), error)


def make_experiment(frame, target, task, seed=0):
    """The experiment of the table; a table that it refuses is a mistake in the command."""
    from .experiment import Experiment

    try:
        return Experiment(frame, target, task=task, random_state=seed)
    except ValueError as error:
        raise UsageError(one_line(error))


def tour(experiment, out, progress=True):
    """Fit every family and draw every view into ``out``; returns the gallery's sections:
    (model, estimator class name, entries) per model."""
    import matplotlib

    matplotlib.use("Agg")
    from tqdm import tqdm

    from .interpret_api import InterpretAPI

    os.makedirs(out, exist_ok=True)
    families = model_families()
    sections = []
    with tqdm(total=len(families) * (1 + len(VIEWS)), disable=not progress, unit="step",
              desc=PROG, leave=False) as bar:
        for family in families:
            bar.set_postfix_str("fitting %s" % family)
            experiment.register(family, family)
            api = InterpretAPI(experiment, family)
            bar.update()
            choices = choose(experiment, family)
            entries = []
            for view in VIEWS:
                bar.set_postfix_str("%s: %s" % (family, view.slug))
                entries.append(run_view(api, family, view, choices, out))
                bar.update()
            estimator = experiment.registered_pipeline[family].estimator
            # a pipeline of preparation and model is named after its model
            estimator = type(getattr(estimator, "steps", [(None, estimator)])[-1][1]).__name__
            sections.append((family, estimator, entries))
    return sections


# Gallery ---------------------------------------------------------------------------------

STYLE = """
body { font: 15px/1.4 system-ui, sans-serif; margin: 2em auto; max-width: 1500px; padding: 0 1em;
       color: #262626; }
h1 { font-size: 1.6em; margin-bottom: 0.2em; }
h2 small { font-weight: normal; color: #5f5f5f; }
nav a { margin-right: 1em; }
section { border-top: 1px solid #ddd; margin-top: 2em; }
.views { display: grid; grid-template-columns: repeat(auto-fill, minmax(440px, 1fr));
         gap: 1.5em; align-items: start; }
figure { margin: 0; }
figure.wide { grid-column: 1 / -1; }
figcaption { font-weight: 600; margin: 0.6em 0; }
figure img { max-width: 100%; border: 1px solid #eee; }
h3 { font-size: 1em; color: #5f5f5f; margin: 1.5em 0 0.5em; }
.refusals { display: flex; flex-wrap: wrap; gap: 0.5em; }
.refusals figure { background: #f6f6f6; padding: 0.3em 0.8em; font-size: 0.9em; }
.refusals figcaption { margin: 0; }
.refused { color: #5f5f5f; font-style: italic; margin: 0; }
.error { color: #b00020; font-family: monospace; background: #fdf0f2; padding: 0.6em 1em; margin: 0; }
table { border-collapse: collapse; font-size: 13px; }
th, td { padding: 2px 8px; border-bottom: 1px solid #eee; text-align: right; }
"""


def refused(entry):
    return bool(entry.printed) and not (entry.files or entry.error or entry.table is not None)


def entry_html(model, entry):
    e = html.escape
    parts = []
    for name in entry.files:
        parts.append('<a href="%s"><img src="%s" alt="%s"></a>' % (e(name), e(name), e(entry.title)))
    if entry.table is not None:
        table = entry.table
        if len(table) > SUMMARY_ROWS:
            parts.append("<p>The first %d of %d rows.</p>" % (SUMMARY_ROWS, len(table)))
            table = table.head(SUMMARY_ROWS)
        parts.append(table.to_html(border=0, float_format=lambda v: "%.4g" % v))
    if entry.error:
        parts.append('<p class="error">%s</p>' % e(entry.error))
    elif refused(entry):
        parts.append('<p class="refused">%s</p>' % e(entry.printed))
    if not parts:
        parts.append('<p class="refused">Nothing drawn.</p>')
    wide = ' class="wide"' if entry.files and entry.view.show in ("tree_global", "tree_local") else ""
    return '<figure id="%s-%s"%s><figcaption>%s</figcaption>%s</figure>' % (
        e(model), e(entry.view.slug), wide, e(entry.title), "\n".join(parts))


def write_gallery(out, title, summary, sections):
    e = html.escape
    body = ["<h1>%s</h1>" % e(title), "<p>%s</p>" % e(summary),
            "<nav>%s</nav>" % "".join('<a href="#%s">%s</a>' % (e(m), e(m)) for m, _, _ in sections)]
    for model, estimator, entries in sections:
        # What the model draws, then, compactly, the views that refuse it with their message.
        shown = [entry_html(model, entry) for entry in entries if not refused(entry)]
        refusals = [entry_html(model, entry) for entry in entries if refused(entry)]
        refusals = ('<h3>Views that refuse this model</h3><div class="refusals">%s</div>'
                    % "\n".join(refusals)) if refusals else ""
        body.append('<section id="%s"><h2>%s <small>%s</small></h2><div class="views">%s</div>'
                    '%s</section>' % (e(model), e(model), e(estimator), "\n".join(shown), refusals))
    page = ('<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8"><title>%s</title>'
            '<style>%s</style></head><body>\n%s\n</body></html>\n'
            % (e(title), STYLE, "\n".join(body)))
    path = os.path.join(out, "index.html")
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(page)
    return path


def default_out(name):
    base = "vexo-tour-%s-%s" % (name.replace(" ", "_").replace(".", "_"),
                                time.strftime("%Y%m%d-%H%M%S"))
    out, k = base, 1
    while os.path.exists(out):
        k += 1
        out = "%s-%d" % (base, k)
    return out


def main(argv=None):
    try:
        args = parse_args(sys.argv[1:] if argv is None else argv)
        name, frame, target = load_table(args)
        start = time.perf_counter()
        experiment = make_experiment(frame, target, args.task, args.seed)
        out = args.out or default_out(name)
        try:
            os.makedirs(out, exist_ok=True)
        except OSError as error:
            raise UsageError("cannot make the folder %s: %s" % (out, error.strerror or error))
    except UsageError as error:
        print("%s: error: %s" % (PROG, error), file=sys.stderr)
        return 2
    with warnings.catch_warnings():
        # Warnings of the fits and plots would break the progress bar; the gallery shows what
        # each view gave.
        warnings.simplefilter("ignore")
        sections = tour(experiment, out)
    seconds = time.perf_counter() - start
    entries = [entry for _, _, models in sections for entry in models]
    figures = sum(len(entry.files) for entry in entries)
    failed = [entry for entry in entries if entry.error]
    summary = "%s: %d rows, target %r (%s); %d models fitted and %d figures drawn in %.0f s." % (
        name, len(frame), target, args.task, len(sections), figures, seconds)
    path = write_gallery(out, "vexo tour of the %s data" % name, summary, sections)
    print(summary)
    if failed:
        # Some views raise for some families by design (the coefficients of a model without
        # coefficients): the gallery shows the error where the figure would be.
        print("%d of the views raised an error, shown in the gallery." % len(failed))
    print("Gallery: %s" % os.path.abspath(path))
    return 0


if __name__ == "__main__":
    sys.exit(main())
