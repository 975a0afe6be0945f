"""The command line of the tour: its options, checked together, the one-line error that ends it
with exit status 2, and the one way that it prints a line of user text.
"""
import argparse
import sys
import textwrap


PROG = "vexo-tour"
# What the sample, the split and the models take as a seed.
SEEDS = 2 ** 32
DATASETS = {"diabetes": "regression", "breast_cancer": "classification"}
TASKS = ("regression", "classification")


class UsageError(Exception):
    """A mistake in the command: reported in one line, exit status 2."""


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError("%s (see %s --help)" % (message, self.prog))


def help_texts():
    """The description and the examples of ``--help``, from the package's docstring: its first
    sentence, then the commands and the paragraph after them as they are written."""
    lines = sys.modules[__package__].__doc__.strip("\n").splitlines()
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
    parser.add_argument("--csv", metavar="FILE",
                        help="a table of your own, as CSV; a quoted pattern ('data/part-*.csv') "
                             "reads the files that it matches as one table, on Dask")
    parser.add_argument("--parquet", metavar="PATH",
                        help="a table of your own, as a Parquet file or a folder of them, on Dask")
    parser.add_argument("--target", metavar="COLUMN",
                        help="the column to predict (with --csv or --parquet)")
    parser.add_argument("--task", choices=TASKS,
                        help="regression (default for --csv) or classification (a target of "
                             "two or more classes)")
    parser.add_argument("--class", metavar="LABEL", dest="positive_class",
                        help="with classification: the class explained against the rest "
                             "(default the positive one of two, else the most frequent)")
    parser.add_argument("--rows", metavar="N", type=int,
                        help="use a random sample of N rows (not on Dask, where the models are "
                             "fitted on a sample that the experiment draws)")
    parser.add_argument("--out", metavar="DIR",
                        help="folder of the gallery: a new or empty one, or an earlier gallery "
                             "(default a new folder here)")
    parser.add_argument("--seed", type=int, default=0,
                        help="seed of the sample, the split and the models (default 0)")
    dask = parser.add_argument_group(
        "a table past one machine's memory, on Dask",
        "a pattern of CSV files or --parquet without these start 2 workers here")
    dask.add_argument("--scheduler", metavar="ADDRESS",
                      help="run on the Dask cluster of this scheduler (tcp://host:8786)")
    dask.add_argument("--workers", metavar="N", type=int,
                      help="run on a Dask cluster of N worker processes started here")
    dask.add_argument("--worker-memory", metavar="SIZE",
                      help="the memory limit of each worker started here, as 4GiB (default "
                           "Dask's share of this machine's memory)")
    args = parser.parse_args(argv)
    if args.csv is not None and args.parquet is not None:
        raise UsageError("give either --csv or --parquet, not both")
    own = "--csv" if args.csv is not None else "--parquet" if args.parquet is not None else None
    if own is None:
        if args.target is not None:
            raise UsageError("--target names a column of --csv FILE or --parquet PATH")
        args.data = args.data or "diabetes"
        if args.task is not None and args.task != DATASETS[args.data]:
            raise UsageError("the %s data is for %s, not %s"
                             % (args.data, DATASETS[args.data], args.task))
        args.task = DATASETS[args.data]
    else:
        if args.data is not None:
            raise UsageError("give either --data or %s, not both" % own)
        if args.target is None:
            raise UsageError("%s needs --target COLUMN" % own)
        args.task = args.task or "regression"
    if args.rows is not None and args.rows < 1:
        raise UsageError("--rows must be a positive number, got %d" % args.rows)
    if not 0 <= args.seed < SEEDS:
        raise UsageError("--seed must be a whole number from 0 to %d, got %d"
                         % (SEEDS - 1, args.seed))
    check_cluster(args)
    if args.out == "":
        raise UsageError("--out needs a folder name")
    if args.positive_class is not None and args.task != "classification":
        raise UsageError("--class is for a classification target; the task is %s" % args.task)
    return args


def check_cluster(args):
    """The options of the Dask cluster, checked against each other."""
    if args.scheduler is not None and args.workers is not None:
        raise UsageError("give either --scheduler or --workers, not both")
    if args.scheduler is not None and args.worker_memory is not None:
        raise UsageError("--worker-memory is for the workers that --workers starts here")
    if args.scheduler == "":
        raise UsageError("--scheduler needs an address, as tcp://host:8786")
    if args.workers is not None and args.workers < 1:
        raise UsageError("--workers must be a positive number, got %d" % args.workers)


def one_line(text):
    """An error, a note or a line of output as one line that is safe on a terminal and in a file:
    runs of white space become one space, and the characters that a terminal would act on (a
    column named "\\x1b]0;...") or that a file cannot hold are written out as Python writes them,
    a byte of a file name that is not UTF-8 as that byte ("caf\\xe9.csv"). An error without a
    message is named by its class."""
    line = " ".join(str(text).split())
    if not line and isinstance(text, BaseException):
        return type(text).__name__
    if line.isprintable():
        return line
    return "".join(char if char.isprintable() else escaped(char) for char in line)


def escaped(char):
    code = ord(char)
    if 0xDC80 <= code <= 0xDCFF:
        # the surrogate that stands for an undecodable byte of a name (os.fsdecode)
        return "\\x%02x" % (code - 0xDC00)
    return repr(char)[1:-1]


def say(text, file=None):
    """Print ``text`` as ``one_line`` makes it; what the stream cannot encode (a Chinese name on a
    cp1252 console) is written out too, rather than ending the tour."""
    stream = file or sys.stdout
    line = one_line(text)
    encoding = getattr(stream, "encoding", None)
    if encoding:
        line = line.encode(encoding, "backslashreplace").decode(encoding)
    print(line, file=stream, flush=True)
