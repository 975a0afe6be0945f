"""The table that the tour explains: a data set of scikit-learn, or a CSV file read whatever its
separator and encoding, checked against the task and sampled.
"""
import codecs
import csv
import os

import numpy as np
import pandas as pd

from ..experiment.target import MIN_CLASS_ROWS, most_frequent, target_classes
from ..experiment.features import is_number_column
from ..experiment.identifiers import row_numbers, row_numbers_text
from ..experiment.models import sampling
from .command import UsageError, one_line


# How much of a CSV file decides its encoding's first guess and its separator.
SNIFF_BYTES = 64 * 1024
SNIFF_CHARS = 16 * 1024
SEPARATORS = {",": "comma", ";": "semicolon", "\t": "tab"}
ENCODINGS = ("utf-8-sig", "cp1252", "latin-1")
# Rows of each class that a --rows sample holds at least: twice what the experiment needs.
SAMPLE_CLASS_ROWS = 2 * MIN_CLASS_ROWS


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
        frame = sample_table(without_row_numbers(frame, target, notes), target, args, notes)
    return name, frame, target


def without_row_numbers(frame, target, notes=None):
    """The table without its columns of row numbers, told on all its rows: a sample's row
    numbers no longer fill their range, and the experiment would keep them as a feature."""
    found = {}
    for name, column in frame.items():
        if name != target and is_number_column(column):
            found[name] = row_numbers(column.to_numpy(dtype=float))
    dropped = [name for name, numbers in found.items() if numbers]
    if notes is not None:
        notes.extend("column %r %s: left out" % (name, row_numbers_text(found[name]))
                     for name in dropped)
    return frame.drop(columns=dropped) if dropped else frame


def sample_table(frame, target, args, notes=None):
    """``--rows`` rows of the table drawn with the seed. Those of a classification keep the class
    that the experiment explains and the rest: where the draw holds fewer than
    ``SAMPLE_CLASS_ROWS`` rows of either (fewer than all, for a class of fewer), it takes the
    rows it lacks (with a line in ``notes``); the models are fitted on the sample as it is, so
    it keeps the classes' shares otherwise."""
    if args.task == "classification":
        column = frame[target]
        explained = args.positive_class
        if explained is None:
            # of two classes either one parts them; of more the experiment explains the most
            # frequent (the first in sorted order of those that tie), as it does here
            explained = most_frequent(*target_classes(column.dropna()))[0]
        labels = (column == explained).to_numpy()
        rows, shifted = sampling.draw(len(frame), args.rows, np.random.RandomState(args.seed),
                                      labels, SAMPLE_CLASS_ROWS)
        if shifted:
            if notes is not None:
                notes.append("the sample of %d rows holds %d rows of %r and %d of the other "
                             "classes: rows of the rarer were added, as the plain draw held fewer "
                             "than %d" % (args.rows, labels[rows].sum(), explained,
                                          (~labels[rows]).sum(), SAMPLE_CLASS_ROWS))
            return frame.iloc[rows].reset_index(drop=True)
    # the draw that the sample of a seed has always been
    return frame.sample(n=args.rows, random_state=args.seed).reset_index(drop=True)


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
    return frame, how_read(os.path.basename(path), separator, decimal_comma, encoding)


def how_read(name, separator, decimal_comma, encoding):
    """A line on how a CSV table was read; None for comma-separated UTF-8."""
    said = []
    if separator != ",":
        said.append("%s-separated" % SEPARATORS[separator])
    if decimal_comma:
        said.append("with decimal commas")
    if encoding != "utf-8-sig":
        said.append("in %s" % encoding if encoding == "utf-16" else
                    "in %s (it is not UTF-8)" % encoding)
    return "read %s as %s" % (name, ", ".join(said)) if said else None


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
