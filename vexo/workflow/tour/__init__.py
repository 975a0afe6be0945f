"""A tour of every explanation: fit every model family on a table and draw every view of every
model into a gallery of PNG files with an ``index.html``.

    vexo-tour                                    # scikit-learn's diabetes data (regression)
    vexo-tour --data breast_cancer               # its breast cancer data (classification)
    vexo-tour --csv houses.csv --target price    # a table of your own
    vexo-tour --csv churn.csv --target churned --task classification --rows 500 --out churn
    vexo-tour --csv penguins.csv --target species --task classification --class Gentoo

Also ``python -m vexo.workflow.tour``. A CSV file may be separated by commas, semicolons or
tabs, in UTF-8, cp1252 or latin-1. Mistakes in the command (a missing file, an unknown column,
a target that does not suit the task) end it with one line on standard error and exit status
2. What the experiment did to the table (rows dropped, columns left out or renamed) is printed
before fitting and shown in the gallery. A family that fails to fit, and a view that refuses a
model or raises, are shown in the gallery with their message; the other families go on.
"""
import argparse
import codecs
import contextlib
import csv
import html
import io
import os
import sys
import textwrap
import time
import warnings
from collections import namedtuple

import numpy as np
import pandas as pd

PROG = "vexo-tour"
DATASETS = {"diabetes": "regression", "breast_cancer": "classification"}
TASKS = ("regression", "classification")
SUMMARY_ROWS = 30
# Twice matplotlib's screen resolution: the gallery shows the figures at half their pixel
# size, where tick labels stay sharp when the grid scales them down.
DPI = 180
NO_COEFFICIENTS = "This model has no coefficients"
# How much of a CSV file decides its encoding's first guess and its separator.
SNIFF_BYTES = 64 * 1024
SNIFF_CHARS = 16 * 1024
SEPARATORS = {",": "comma", ";": "semicolon", "\t": "tab"}
ENCODINGS = ("utf-8-sig", "cp1252", "latin-1")

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

# One family in the gallery: its entries, or, when it could not be fitted or explained, the
# step that failed and the error ("ValueError: ...").
Section = namedtuple("Section", "model estimator entries failed_step error")


class UsageError(Exception):
    """A mistake in the command: reported in one line, exit status 2."""


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError("%s (see %s --help)" % (message, self.prog))


def help_texts():
    """The description and the examples of ``--help``, from the module's docstring: its first
    sentence, then the commands and the paragraph after them as they are written."""
    lines = __doc__.strip("\n").splitlines()
    first = next(k for k, line in enumerate(lines) if not line.strip())
    description = textwrap.fill(" ".join(line.strip() for line in lines[:first]), 79)
    epilog = "examples:\n" + "\n".join(lines[first + 1:])
    return description.replace("``", ""), epilog.replace("``", "")


def parse_args(argv):
    description, epilog = help_texts()
    parser = Parser(prog=PROG, description=description, epilog=epilog,
                    formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--data", choices=sorted(DATASETS),
                        help="a data set of scikit-learn (default diabetes)")
    parser.add_argument("--csv", metavar="FILE", help="a table of your own, as CSV")
    parser.add_argument("--target", metavar="COLUMN", help="the column to predict (with --csv)")
    parser.add_argument("--task", choices=TASKS,
                        help="regression (default for --csv) or classification (a target of "
                             "two or more classes)")
    parser.add_argument("--class", metavar="LABEL", dest="positive_class",
                        help="with classification: the class explained against the rest "
                             "(default the positive one of two, else the most frequent)")
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
    if args.positive_class is not None and args.task != "classification":
        raise UsageError("--class is for a classification target; the task is %s" % args.task)
    return args


# Data ------------------------------------------------------------------------------------

def load_table(args, notes=None):
    """(name, frame, target) of the chosen data, sampled to ``--rows`` rows. A list given as
    ``notes`` gets a line on how a CSV file was read when it is not plain comma-separated
    UTF-8. A ``--class`` label is turned into the target column's value."""
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
        frame, how = read_csv(args.csv)
        if how and notes is not None:
            notes.append(how)
        name, target = os.path.basename(args.csv), args.target
        if target not in frame.columns:
            raise UsageError("no column %r in %s; its columns are %s"
                             % (target, args.csv, ", ".join(map(str, frame.columns))))
        if len(frame) == 0:
            raise UsageError("%s: the file has no rows" % args.csv)
        check_target(frame[target], target, args.task)
    if args.positive_class is not None:
        args.positive_class = class_label(frame[target], args.positive_class, target)
    if args.rows is not None and args.rows < len(frame):
        frame = frame.sample(n=args.rows, random_state=args.seed).reset_index(drop=True)
    return name, frame, target


def read_csv(path):
    """The table of a CSV file and a line on how it was read (None for comma-separated UTF-8):
    the separator is sniffed among comma, semicolon and tab, and a file that is not UTF-8 is
    read as cp1252, else latin-1."""
    if not os.path.isfile(path):
        raise UsageError("no such file: %s" % path)
    try:
        encoding = text_encoding(path)
        separator = sniff_separator(path, encoding)
        frame = pd.read_csv(path, sep=separator, encoding=encoding)
        decimal_comma = separator == ";" and has_decimal_commas(frame)
        if decimal_comma:
            frame = pd.read_csv(path, sep=separator, encoding=encoding, decimal=",")
    except (OSError, ValueError, UnicodeError, csv.Error) as error:
        raise UsageError("cannot read %s as CSV: %s" % (path, one_line(error)))
    said = []
    if separator != ",":
        said.append("%s-separated" % SEPARATORS[separator])
    if decimal_comma:
        said.append("with decimal commas")
    if encoding != "utf-8-sig":
        said.append("in %s" % encoding if encoding == "utf-16" else
                    "in %s (it is not UTF-8)" % encoding)
    return frame, ("read %s as %s" % (os.path.basename(path), ", ".join(said)) if said else None)


def text_encoding(path):
    """The first of ``ENCODINGS`` that decodes the whole file (UTF-16 when it starts with its
    byte-order mark); a file with NUL bytes otherwise is no text."""
    with open(path, "rb") as handle:
        head = handle.read(SNIFF_BYTES)
    if head.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)):
        return "utf-16"
    if b"\x00" in head:
        raise UsageError("cannot read %s as CSV: it is not a text file" % path)
    for encoding in ENCODINGS:
        decoder = codecs.getincrementaldecoder(encoding)()
        try:
            with open(path, "rb") as handle:
                for block in iter(lambda: handle.read(1 << 20), b""):
                    decoder.decode(block)
            decoder.decode(b"", final=True)
            return encoding
        except UnicodeDecodeError:
            continue
    return ENCODINGS[-1]


def sniff_separator(path, encoding):
    """Comma, semicolon or tab, as the first lines of the file have it."""
    with open(path, encoding=encoding, newline="") as handle:
        sample = handle.read(SNIFF_CHARS)
    if len(sample) == SNIFF_CHARS and "\n" in sample:
        sample = sample[:sample.rindex("\n")]
    header = sample.split("\n", 1)[0]
    try:
        separator = csv.Sniffer().sniff(sample, delimiters="".join(SEPARATORS)).delimiter
    except csv.Error:
        separator = None
    if separator not in SEPARATORS or separator not in header:
        # one column, or a guess that the header contradicts: the header's most frequent one
        counts = {sep: header.count(sep) for sep in SEPARATORS}
        separator = max(counts, key=lambda sep: counts[sep]) if any(counts.values()) else ","
    return separator


def has_decimal_commas(frame):
    """Whether some text column holds numbers written with a decimal comma ("3,25")."""
    for name in frame.columns:
        column = frame[name]
        if pd.api.types.is_numeric_dtype(column):
            continue
        values = column.dropna().astype(str).str.strip()
        if len(values) and values.str.fullmatch(r"[-+]?\d*,?\d+").all() \
                and values.str.contains(",").any():
            return True
    return False


def check_target(column, target, task):
    if task == "regression":
        if not pd.api.types.is_numeric_dtype(column) or pd.api.types.is_bool_dtype(column):
            raise UsageError("column %r is not numeric, so it cannot be a regression target; "
                             "add --task classification for a target of classes" % target)
    else:
        classes = column.dropna().nunique()
        if classes < 2:
            raise UsageError("column %r takes %s; a classification target needs at least 2 "
                             "classes" % (target, "a single value" if classes else "no values"))


def class_label(column, label, target):
    """The value of the target column that the ``--class`` text names: "2" is 2 in a column of
    numbers."""
    values = list(pd.unique(column.dropna()))
    found = [v for v in values if str(v) == label]
    if not found and pd.api.types.is_numeric_dtype(column):
        try:
            number = float(label)
        except ValueError:
            number = None
        found = [v for v in values if number is not None and v == number]
    if not found:
        found = [v for v in values if str(v).lower() == label.lower()]
    if len(found) != 1:
        shown = sorted(map(str, values))
        raise UsageError("--class %s is not a class of column %r; its classes are %s%s" % (
            label, target, ", ".join(shown[:10]), ", ..." if len(shown) > 10 else ""))
    value = found[0]
    return value.item() if isinstance(value, np.generic) else value


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
    from . import interpret_api

    tables = []
    shown = interpret_api.display
    interpret_api.display = lambda obj, *args, **kwargs: tables.append(obj)
    try:
        yield tables
    finally:
        interpret_api.display = shown


def run_view(api, model, view, choices, out):
    """Call one view through the dispatcher in the package's look; save its figures as PNG
    files in ``out``."""
    from . import look
    from .figures import capture

    printed = io.StringIO()
    files, error = [], None
    with look.context():
        with capture() as figures, displayed_tables() as tables, \
                contextlib.redirect_stdout(printed):
            try:
                api.model_interpret(show=view.show, **view.arguments(choices))
            except Exception as raised:  # shown in the gallery, and in the exit status
                error = "%s: %s" % (type(raised).__name__, one_line(raised))
        # saved in the look too: some of it (the saved figure's colours) applies when drawing
        for k, figure in enumerate(figures, 1):
            name = "%s-%s%s.png" % (model, view.slug, "" if k == 1 else "-%d" % k)
            try:
                figure.savefig(os.path.join(out, name), dpi=DPI, bbox_inches="tight")
            except Exception as raised:  # a figure that cannot be rendered is the view's error
                error = error or "%s: %s" % (type(raised).__name__, one_line(raised))
                continue
            files.append(name)
    table = next((t for t in tables if isinstance(t, pd.DataFrame)), None)
    return Entry(view, view.title(choices), files, table, printed.getvalue().strip(), error)


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


def make_experiment(frame, target, task, seed=0, positive_class=None, notes=None):
    """The experiment of the table; a table that it refuses is a mistake in the command. A list
    given as ``notes`` gets the warnings of setting it up (a script that no font has) as lines."""
    from .experiment import Experiment

    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            experiment = Experiment(frame, target, task=task, random_state=seed,
                                    positive_class=positive_class)
        except ValueError as error:
            raise UsageError(one_line(error))
    if notes is not None:
        from .fonts import MissingGlyphsWarning

        notes.extend(one_line(w.message) for w in caught
                     if issubclass(w.category, MissingGlyphsWarning))
    return experiment


class Progress:
    """Where the tour's time goes. On a terminal a bar that names the step it is in (fitting,
    explaining, importance, each view) and stays at 100% when the tour is done; elsewhere (a
    log, a pipe) one line per family, with how far the tour is, as a bar's redraws would fill a
    log with hundreds of lines."""

    STEPS = ("fitting", "explaining", "importance")

    def __init__(self, families, mode=True, stream=None):
        from tqdm import tqdm

        self.stream = stream or sys.stderr
        if mode is True:
            isatty = getattr(self.stream, "isatty", None)
            mode = "bar" if isatty is not None and isatty() else "lines"
        self.mode = mode
        self.families = len(families)
        self.per_family = len(self.STEPS) + len(VIEWS)
        self.bar = tqdm(total=self.families * self.per_family, disable=mode != "bar",
                        unit="step", desc=PROG, leave=True, file=self.stream)
        self.family, self.times, self.done, self.finished = None, {}, 0, 0

    def start(self, family):
        self.family, self.times, self.done = family, {}, 0

    @contextlib.contextmanager
    def step(self, what):
        self.bar.set_postfix_str("%s: %s" % (self.family, what))
        start = time.perf_counter()
        try:
            yield
        finally:
            kind = what if what in self.STEPS else "views"
            self.times[kind] = self.times.get(kind, 0.0) + time.perf_counter() - start
            self.bar.update()
            self.done += 1

    def finish(self, section):
        """Close the family's share of the bar, and say in one line how it went."""
        self.bar.update(self.per_family - self.done)
        self.finished += 1
        seconds = self.times
        if section.error:
            line = "%s failed while %s after %.1f s: %s" % (
                section.model, section.failed_step, sum(seconds.values()), section.error)
        elif self.mode != "lines":
            return
        else:
            errors = sum(1 for entry in section.entries if entry.error)
            line = "%s fitted in %.1f s, explained in %.1f s, importance in %.1f s, " \
                   "%d views in %.1f s%s" % (
                       section.model, seconds.get("fitting", 0),
                       seconds.get("explaining", 0), seconds.get("importance", 0),
                       len(section.entries), seconds.get("views", 0),
                       " (%d raised)" % errors if errors else "")
        if self.mode == "bar":
            self.bar.write("%s: %s" % (PROG, line), file=self.stream)
        elif self.mode:
            # how far the tour is, ending at 100% with the last family
            print("%s: [%d%%] %s" % (PROG, 100 * self.finished // max(self.families, 1), line),
                  file=self.stream, flush=True)

    def close(self):
        """End the bar; when every family is through, it is left at 100%."""
        if self.finished == self.families:
            self.bar.set_postfix_str("done", refresh=False)
        self.bar.close()


def estimator_name(experiment, model):
    """The class of the model's estimator; a pipeline of preparation and model is named after its
    model."""
    try:
        estimator = experiment.registered_pipeline[model].estimator
    except Exception:  # not fitted
        return ""
    return type(getattr(estimator, "steps", [(None, estimator)])[-1][1]).__name__


def tour_family(experiment, family, out, progress):
    """Fit one family, explain it and draw its views: a ``Section``. Whatever fails on the way
    is the section's error; it never ends the tour."""
    from .interpret_api import InterpretAPI

    step, entries = "fitting", []
    try:
        with progress.step(step):
            experiment.register(family, family)
        step = "explaining"
        with progress.step(step):
            api = InterpretAPI(experiment, family)
        step = "importance"
        with progress.step(step):
            choices = choose(experiment, family)
    except Exception as raised:  # shown in the family's section
        return Section(family, estimator_name(experiment, family), [], step,
                       "%s: %s" % (type(raised).__name__, one_line(raised)))
    for view in VIEWS:
        with progress.step(view.slug):
            entries.append(as_refusal(experiment, family,
                                      run_view(api, family, view, choices, out)))
    return Section(family, estimator_name(experiment, family), entries, None, None)


def tour(experiment, out, progress=True):
    """Fit every family and draw every view into ``out``; returns the gallery's sections, one
    ``Section`` per family. ``progress``: True for a bar on a terminal and one line per family
    elsewhere (on standard error), "bar" or "lines" for either, False for nothing."""
    import matplotlib

    matplotlib.use("Agg")

    os.makedirs(out, exist_ok=True)
    families = model_families()
    report = Progress(families, progress)
    sections = []
    try:
        for family in families:
            report.start(family)
            sections.append(tour_family(experiment, family, out, report))
            report.finish(sections[-1])
    finally:
        report.close()
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
figure img { max-width: 100%; height: auto; border: 1px solid #eee; }
.table { overflow-x: auto; }
h3 { font-size: 1em; color: #5f5f5f; margin: 1.5em 0 0.5em; }
.refusals { display: flex; flex-wrap: wrap; gap: 0.5em; }
.refusals figure { background: #f6f6f6; padding: 0.3em 0.8em; font-size: 0.9em; }
.refusals figcaption { margin: 0; }
.refused { color: #5f5f5f; font-style: italic; margin: 0; }
.notes { color: #5f5f5f; margin-top: 0; }
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
        # "2x": the browser shows the PNG at half its pixel size, sharp on any screen
        parts.append('<a href="%s"><img src="%s" srcset="%s 2x" alt="%s"></a>' % (
            e(name), e(name), e(name), e("%s: %s" % (model, entry.title))))
    if entry.table is not None:
        table = entry.table
        if len(table) > SUMMARY_ROWS:
            parts.append("<p>The first %d of %d rows.</p>" % (SUMMARY_ROWS, len(table)))
            table = table.head(SUMMARY_ROWS)
        parts.append('<div class="table">%s</div>'
                     % table.to_html(border=0, float_format=lambda v: "%.4g" % v))
    if entry.error:
        parts.append('<p class="error">%s</p>' % e(entry.error))
    elif refused(entry):
        parts.append('<p class="refused">%s</p>' % e(entry.printed))
    if not parts:
        parts.append('<p class="refused">Nothing drawn.</p>')
    # trees and tables take a row of the grid of their own
    wide = (entry.files and entry.view.show in ("tree_global", "tree_local")
            or entry.table is not None)
    wide = ' class="wide"' if wide else ""
    return '<figure id="%s-%s"%s><figcaption>%s</figcaption>%s</figure>' % (
        e(model), e(entry.view.slug), wide, e(entry.title), "\n".join(parts))


def write_gallery(out, title, summary, sections, notes=()):
    e = html.escape
    body = ["<h1>%s</h1>" % e(title), "<p>%s</p>" % e(summary)]
    if notes:
        body.append('<ul class="notes">%s</ul>' % "".join("<li>%s</li>" % e(n) for n in notes))
    body.append("<nav>%s</nav>" % "".join('<a href="#%s">%s</a>' % (e(s.model), e(s.model))
                                          for s in sections))
    for model, estimator, entries, failed_step, error in sections:
        if error:
            failure = '<p class="error">Failed while %s: %s</p>' % (e(failed_step), e(error))
            body.append('<section id="%s"><h2>%s <small>%s</small></h2>%s</section>'
                        % (e(model), e(model), e(estimator), failure))
            continue
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
    reading, fonts = [], []
    try:
        args = parse_args(sys.argv[1:] if argv is None else argv)
        name, frame, target = load_table(args, reading)
        start = time.perf_counter()
        experiment = make_experiment(frame, target, args.task, args.seed, args.positive_class,
                                     fonts)
        out = args.out or default_out(name)
        try:
            os.makedirs(out, exist_ok=True)
        except OSError as error:
            raise UsageError("cannot make the folder %s: %s" % (out, error.strerror or error))
    except UsageError as error:
        print("%s: error: %s" % (PROG, error), file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("%s: interrupted" % PROG, file=sys.stderr)
        return 130
    # what was done to the table, before the minutes of fitting
    notes = reading + list(experiment.notes) + fonts
    for note in notes:
        print("Note: %s" % note, flush=True)
    try:
        with warnings.catch_warnings():
            # Warnings of the fits and plots would break the progress bar; the gallery shows
            # what each view gave.
            warnings.simplefilter("ignore")
            sections = tour(experiment, out)
    except KeyboardInterrupt:
        print("%s: interrupted" % PROG, file=sys.stderr)
        return 130
    seconds = time.perf_counter() - start
    fitted = [section for section in sections if not section.error]
    entries = [entry for section in fitted for entry in section.entries]
    figures = sum(len(entry.files) for entry in entries)
    failed = [entry for entry in entries if entry.error]
    summary = "%s: %d rows, target %r (%s); %d models fitted and %d figures drawn in %.0f s." % (
        name, len(frame), target, args.task, len(fitted), figures, seconds)
    try:
        path = write_gallery(out, "vexo tour of the %s data" % name, summary, sections, notes)
    except OSError as error:
        print("%s: error: cannot write the gallery in %s: %s"
              % (PROG, out, error.strerror or error), file=sys.stderr)
        return 1
    print(summary)
    if len(fitted) < len(sections):
        print("%d of the %d families failed to fit or explain; their errors are in the gallery."
              % (len(sections) - len(fitted), len(sections)))
    if failed:
        # Some views raise for some families by design (the coefficients of a model without
        # coefficients): the gallery shows the error where the figure would be.
        print("%d of the views raised an error, shown in the gallery." % len(failed))
    print("Gallery: %s" % os.path.abspath(path))
    return 0


if __name__ == "__main__":
    sys.exit(main())
