"""The tables that the tour reads on Dask: the CSV files that a pattern matches, read as one table
the way that the tour reads one CSV file, and Parquet files. Dask is imported only here, and only
on that path: one CSV file or a data set of scikit-learn alone is read by pandas as always.
"""
import csv
import glob
import os

import pandas as pd

from . import table
from .command import UsageError, one_line

# Rows of each of the first parts that decide the columns' types and the decimal mark: a column
# of whole numbers in one part and of decimals in another is read as decimals in all.
HEAD_ROWS = 1000
HEAD_FILES = 16
# Classes of a classification target fetched to check it and the --class label.
MAX_CLASSES = 1000
# Partitions of a data set of scikit-learn handed to the cluster.
DATA_PARTITIONS = 2


def on_dask(args):
    """Whether the command runs on Dask: with --parquet, --scheduler or --workers, or a pattern
    that matches several CSV files. Sets ``args.files``, the CSV files to read (a pattern that
    matches one file is that file, on the pandas path unless a cluster is named). The files are
    checked to be there."""
    args.files = None
    if args.csv is not None:
        args.files = [args.csv]
        if not os.path.isfile(args.csv) and glob.has_magic(args.csv):
            args.files = sorted(path for path in glob.glob(args.csv, recursive=True)
                                if os.path.isfile(path))
            if not args.files:
                raise UsageError("no file matches %s" % args.csv)
    dask = args.parquet is not None or args.scheduler is not None or args.workers is not None \
        or (args.files is not None and len(args.files) > 1)
    if not dask:
        if args.files is not None:
            args.csv = args.files[0]
        return False
    if args.rows is not None:
        raise UsageError("--rows is for one CSV file or --data; on Dask the models are fitted "
                         "on a sample that the experiment draws")
    # before a cluster is started for them
    if args.files is not None and not os.path.isfile(args.files[0]):
        raise UsageError("no such file: %s" % args.files[0])
    if args.parquet is not None and not os.path.exists(args.parquet):
        raise UsageError("no such file or folder: %s" % args.parquet)
    return True


def load_table(args, notes=None):
    """(name, dask frame, target) of the chosen data, as ``table.load_table`` gives the pandas
    frame. The checks that need no pass over the table are made here (the target is a column;
    a regression's is numeric), and a classification's classes are fetched to check them and
    the ``--class`` label; the experiment checks the rest."""
    import dask.dataframe as dd

    if args.parquet is not None:
        frame, source = read_parquet(args.parquet), args.parquet
        name = os.path.basename(os.path.normpath(args.parquet))
    elif args.csv is not None:
        frame, how = read_csv(args.files)
        if how and notes is not None:
            notes.append(how)
        name, source = os.path.basename(args.csv), args.csv
    else:
        name, pandas_frame, target = table.load_table(args, notes)
        return name, dd.from_pandas(pandas_frame, npartitions=DATA_PARTITIONS), target
    target = args.target
    if target not in frame.columns:
        raise UsageError("no column %r in %s; its columns are %s"
                         % (target, source, ", ".join(map(str, frame.columns))))
    if args.task == "regression":
        table.check_target(pd.Series([], dtype=frame[target].dtype), target, args.task)
    else:
        # gathered on one worker, as a tree of partial results: no shuffle
        classes = frame[target].dropna().drop_duplicates(split_out=1) \
            .head(MAX_CLASSES + 1, npartitions=-1, compute=False).compute()
        table.check_target(classes, target, args.task)
        if args.positive_class is not None:
            args.positive_class = table.class_label(classes, args.positive_class, target)
    return name, frame, target


def read_csv(files):
    """The dask frame of the CSV files and a line on how they were read (None for
    comma-separated UTF-8): the separator, the encoding and the decimal mark are the first
    file's, as ``table.read_csv`` finds them; the types of the columns, those of the first rows
    of the first files together."""
    import dask.dataframe as dd

    first = files[0]
    try:
        encoding = table.text_encoding(first)
        separator = table.sniff_separator(first, encoding)
        heads = [pd.read_csv(path, sep=separator, encoding=encoding, nrows=HEAD_ROWS)
                 for path in files[:HEAD_FILES]]
        decimal_comma = separator == ";" and any(map(table.has_decimal_commas, heads))
        if decimal_comma:
            heads = [pd.read_csv(path, sep=separator, encoding=encoding, nrows=HEAD_ROWS,
                                 decimal=",") for path in files[:HEAD_FILES]]
        for path, head in zip(files, heads):
            if list(head.columns) != list(heads[0].columns):
                raise UsageError("%s has the columns %s, unlike %s" % (
                    path, ", ".join(map(str, head.columns)), first))
        types = pd.concat(heads, ignore_index=True).dtypes.to_dict()
        # a byte offset into UTF-16 text may fall inside a character: one partition per file
        frame = dd.read_csv(files, sep=separator, encoding=encoding, dtype=types,
                            decimal="," if decimal_comma else ".",
                            blocksize=None if encoding == "utf-16" else "default")
    except (OSError, ValueError, UnicodeError, csv.Error) as error:
        raise UsageError("cannot read %s as CSV: %s" % (first, one_line(error)))
    name = os.path.basename(first) if len(files) == 1 else \
        "%s and %d more files" % (os.path.basename(first), len(files) - 1)
    return frame, table.how_read(name, separator, decimal_comma, encoding)


def read_parquet(path):
    """The dask frame of a Parquet file or of a folder of them."""
    import dask.dataframe as dd

    try:
        return dd.read_parquet(path)
    except (OSError, ValueError, TypeError) as error:
        raise UsageError("cannot read %s as Parquet: %s" % (path, one_line(error)))
