"""A tour of every explanation: fit every model family on a table and draw every view of every
model into a gallery of PNG files with an ``index.html``.

    vexo-tour                                    # scikit-learn's diabetes data (regression)
    vexo-tour --data breast_cancer               # its breast cancer data (classification)
    vexo-tour --csv houses.csv --target price    # a table of your own
    vexo-tour --csv churn.csv --target churned --task classification --rows 500 --out churn
    vexo-tour --csv penguins.csv --target species --task classification --class Gentoo
    vexo-tour --csv 'data/part-*.csv' --target price --workers 4   # on a Dask cluster of 4
    vexo-tour --parquet sales/ --target churned --task classification \\
              --scheduler tcp://dask-host:8786                   # on a running Dask cluster

Also ``python -m vexo.workflow.tour``. A CSV file may be separated by commas, semicolons or
tabs, in UTF-8, cp1252 or latin-1. Mistakes in the command (a missing file, an unknown column,
a target that does not suit the task) end it with one line on standard error and exit status
2. What the experiment did to the table (rows dropped, columns left out or renamed) is printed
before fitting and shown in the gallery, which opens with a comparison of the families: their
scores on the test split beside a baseline's that ignores the features, their importance ranks
side by side, and the effects of the features they rank highest in every model on one axis. A
family that fails to fit, and a view that refuses a model or raises, are shown in the gallery
with their message; the other families go on.

The gallery is drawn in a folder of its own and moved into the ``--out`` folder only when it is
complete. An existing folder is used only when it is empty or an earlier gallery of the tour
(which its file ``.vexo-tour`` marks), and is refused otherwise, before the fitting; Ctrl-C
(exit status 130) leaves the earlier gallery or none.

A table past one machine's memory is read on Dask (``pip install 'vexo-interpret[dask]'``): a
quoted pattern of CSV files, read the way the first one is, or Parquet files. It runs on the
cluster of ``--scheduler``, or on ``--workers`` processes started here and stopped at the end
(2 by default); the dashboard's address is printed, and the progress names each step on the
cluster. What must see every row runs on the workers; the models are fitted on a sample, so
``--rows`` is refused there. A scheduler that cannot be reached, or whose workers run other
versions of this package or of Dask, ends the command with one line and exit status 2.
"""
import contextlib
import os
import sys
import time
import warnings
from collections import namedtuple

from . import cluster, compare, interrupt, sources
from .command import PROG, UsageError, one_line, parse_args, say
from .folder import GalleryFolder, default_out
from .gallery import write_gallery
from .progress import DaskSteps, Progress
from .table import load_table
from .views import VIEWS, Section, as_refusal, choose, estimator_name, run_view
# the rest of the tour's parts, by the names it has always had
from .command import DATASETS, TASKS, Parser, help_texts  # noqa: F401
from .gallery import SUMMARY_ROWS, entry_html, page_template, refused  # noqa: F401
from .table import (ENCODINGS, SEPARATORS, SNIFF_BYTES, SNIFF_CHARS, check_target,  # noqa: F401
                    class_label, has_decimal_commas, read_csv, sniff_separator, text_encoding)
from .views import (DPI, NO_COEFFICIENTS, Choices, Entry, View, displayed_tables,  # noqa: F401
                    split_pair)


def model_families():
    """The families that the experiment can fit, in its own order."""
    from ..experiment.families import FAMILIES, Family

    return [family for family in FAMILIES if family != Family.name]


def make_experiment(frame, target, task, seed=0, positive_class=None, notes=None, run=None):
    """The experiment of the table; a table that it refuses is a mistake in the command. A list
    given as ``notes`` gets the warnings of setting it up (a script that no font has) as lines;
    ``run`` computes the Dask steps of a table on a cluster (``cluster.Reporter``)."""
    from .. import look
    from ..experiment import Experiment
    from ..fonts import fallbacks_for, texts_of

    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            experiment = Experiment(frame, target, task=task, random_state=seed,
                                    positive_class=positive_class, run=run)
            # said before the views draw: names that no installed font can draw
            fallbacks_for(texts_of(experiment.dataset), look.font_families())
        except ValueError as error:
            raise UsageError(one_line(error))
    if notes is not None:
        from ..fonts import MissingGlyphsWarning

        notes.extend(one_line(w.message) for w in caught
                     if issubclass(w.category, MissingGlyphsWarning))
    return experiment


# The command's words for what the experiment's notes say in Python's: its option for the class
# explained, and a power written as a reader of any language reads it.
NOTE_WORDS = {"positive_class": "--class", "2**53": "2^53"}


def command_notes(experiment):
    """The experiment's notes in the words of the command."""
    from ..experiment.notes import Note

    return [note.worded(NOTE_WORDS) if isinstance(note, Note) else note
            for note in experiment.notes]


def tour_family(experiment, family, out, progress):
    """Fit one family, explain it and draw its views: a ``Section``. Whatever fails on the way
    is the section's error; it never ends the tour."""
    from ..interpret_api import InterpretAPI

    step, entries = "fitting", []
    try:
        with progress.step(step):
            experiment.register(family, family)
        step = "scoring"
        with progress.step(step):
            scores = experiment.scores(family)
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
    return Section(family, estimator_name(experiment, family), entries, None, None, scores)


# What the tour drew: one ``Section`` per family, and the entries of their comparison.
Tour = namedtuple("Tour", "sections comparison")


def tour(experiment, out, progress=True):
    """Fit every family and draw every view into ``out``, then compare the families; returns
    a ``Tour``: the gallery's sections, one ``Section`` per family, and the comparison's
    entries. ``progress``: True for a bar on a terminal and one line per family
    elsewhere (on standard error), "bar" or "lines" for either, False for nothing."""
    import matplotlib

    matplotlib.use("Agg")

    os.makedirs(out, exist_ok=True)
    families = model_families()
    report = Progress(families, progress, extra=compare.STEPS)
    steps = getattr(experiment.dataset, "run", None)
    if isinstance(steps, cluster.Reporter):
        # the Dask steps of the families (their scores, ...) show on the families' progress
        steps.target = report
    sections = []
    try:
        for family in families:
            report.start(family)
            sections.append(tour_family(experiment, family, out, report))
            report.finish(sections[-1])
        report.start("compare")
        comparison = compare.compare_families(experiment, sections, out, report)
        report.compared(comparison)
    finally:
        report.close()
    return Tour(sections, comparison)


def main(argv=None):
    """The command; its exit status: 0, 1 when the gallery cannot be written, 2 for a mistake in
    the command, the table or the folder, 130 for Ctrl-C."""
    folder = None
    try:
        with interrupt.watched():
            args = parse_args(sys.argv[1:] if argv is None else argv)
            dask = sources.on_dask(args)
            with cluster.connect(args) if dask else contextlib.nullcontext() as client:
                reading, fonts = [], []
                name, frame, target = (sources.load_table if dask else load_table)(args, reading)
                start = time.perf_counter()
                run = cluster.Reporter(client, DaskSteps()) if dask else None
                experiment = make_experiment(frame, target, args.task, args.seed,
                                             args.positive_class, fonts, run)
                rows = experiment.dataset.n_rows + experiment.dataset.dropped_rows
                folder = GalleryFolder(args.out or default_out(name))
                try:
                    folder.open()
                    return show(experiment, folder, reading + command_notes(experiment) + fonts,
                                "%s: %d rows, target %r (%s)" % (name, rows, target,
                                                                 args.task), name, start)
                finally:
                    folder.discard()
    except UsageError as error:
        say("%s: error: %s" % (PROG, error), sys.stderr)
        return 2
    except KeyboardInterrupt:
        say("%s: interrupted%s" % (PROG, "; " + folder.left() if folder else ""), sys.stderr)
        return 130


def show(experiment, folder, notes, table, name, start):
    """Tour the experiment into the folder, then say how it went."""
    # what was done to the table, before the minutes of fitting
    for note in notes:
        say("Note: %s" % note)
    with warnings.catch_warnings():
        # Warnings of the fits and plots would break the progress bar; the gallery shows
        # what each view gave.
        warnings.simplefilter("ignore")
        sections, comparison = tour(experiment, folder.path)
    seconds = time.perf_counter() - start
    fitted = [section for section in sections if not section.error]
    entries = [entry for section in fitted for entry in section.entries] + comparison
    figures = sum(len(entry.files) for entry in entries)
    failed = [entry for entry in entries if entry.error]
    summary = "%s; %d models fitted and %d figures drawn in %.0f s." % (
        table, len(fitted), figures, seconds)
    try:
        path = write_gallery(folder.path, "vexo tour of the %s data" % name, summary, sections,
                             notes, comparison)
        folder.commit()
    except OSError as error:
        say("%s: error: cannot write the gallery in %s: %s"
            % (PROG, folder.out, error.strerror or error), sys.stderr)
        return 1
    say(summary)
    for section in fitted:
        scores = section.scores
        say("Test score of %s%s: %s (baseline, %s: %s)" % (
            section.model, ", " + scores.explained if scores.explained else "",
            scores.model_text(), scores.baseline, scores.baseline_text()))
    if len(fitted) < len(sections):
        say("%d of the %d families failed to fit or explain; their errors are in the gallery."
            % (len(sections) - len(fitted), len(sections)))
    if failed:
        # Some views raise for some families by design (the coefficients of a model without
        # coefficients): the gallery shows the error where the figure would be.
        say("%d of the views raised an error, shown in the gallery." % len(failed))
    say("Gallery: %s" % os.path.abspath(os.path.join(folder.out, os.path.basename(path))))
    return 0
