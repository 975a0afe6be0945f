"""The whole tour on large tables: its time and peak memory, and where the time goes.

Each table is written as CSV and toured by ``python -m vexo.workflow.tour --csv ...`` in a
fresh interpreter, every family and every view, as a user would run it. The first table printed
at the end has one row per table: rows, columns, seconds from start to the written gallery, the
peak resident memory of that process, the seconds of reading and of preparing the table, and
per family the seconds of its steps together; the second splits each family's time into the
steps that the tour's progress line names (fitting, scoring, explaining, importance, views).

    python bench/bench_tables.py                   # every table below
    python bench/bench_tables.py --case wide --task classification
    python bench/bench_tables.py --rows 20000 --columns 30

The tables: "wide", 100 numeric columns and 100,000 rows; "long", 10 numeric columns and
1,000,000 rows; "genes", 1,000 columns and 200 rows (a gene-expression table's shape);
"flights", 20 columns and 300,000 rows; "digits", scikit-learn's 8x8 digits as a regression on
the digit (64 pixel columns, of which the tour leaves out those that are constant in the
training split, and 1,797 rows). The synthetic tables carry their signal in x0, x1 and x2
(smooth main effects and one interaction), a weak share in every other column, and noise;
the classification target is their sign. "dask-1e6" and "dask-1e7" tour the long table's
shape at 1,000,000 and 10,000,000 rows from Parquet on a Dask cluster (``dask_case``), with the
workers' peak beside the client's; they run only when named:

    python bench/bench_tables.py --case long --case dask-1e6 --case dask-1e7
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import pandas as pd

import dask_case
from bench_tour import machine  # the same line about the machine

# (rows, columns) of the synthetic tables
CASES = {"wide": (100000, 100), "long": (1000000, 10), "genes": (200, 1000),
         "flights": (300000, 20), "digits": (None, None)}
STEPS = ("fitting", "scoring", "explaining", "importance", "views")


def synthetic(rows, columns, task, seed=0):
    rng = np.random.default_rng(seed)
    X = rng.normal(size=(rows, columns)).astype(np.float32)
    signal = np.sin(X[:, 0]) + X[:, 1 % columns] ** 2 / 2 + X[:, 0] * X[:, 2 % columns]
    signal += 0.3 * X[:, 3 % columns:].sum(axis=1) / np.sqrt(max(columns - 3, 1))
    frame = pd.DataFrame(X, columns=["x%d" % j for j in range(columns)])
    noisy = signal + rng.normal(size=rows)
    frame["y"] = noisy if task == "regression" else np.where(noisy > np.median(noisy), "yes", "no")
    return frame


def digits(task):
    from sklearn.datasets import load_digits

    frame = load_digits(as_frame=True).frame
    frame = frame.rename(columns={"target": "y"})
    if task == "classification":
        frame["y"] = np.where(frame["y"] % 2 == 1, "odd", "even")
    return frame


def child(source, task, out, timings, scheduler=None):
    """Run the tour in this process, timing reading the table, preparing it, and each family's
    steps as the progress line counts them (fitting, scoring, explaining, importance, views)."""
    import functools

    from vexo.workflow import tour
    from vexo.workflow.tour.progress import Progress

    spent = {"table": {}}

    def timed(name):
        original = getattr(tour, name)

        @functools.wraps(original)
        def wrapper(*args, **kwargs):
            start = time.perf_counter()
            try:
                return original(*args, **kwargs)
            finally:
                spent["table"][name] = time.perf_counter() - start

        setattr(tour, name, wrapper)

    timed("load_table")
    timed("make_experiment")
    finish = Progress.finish

    def finished(progress, section):
        spent[progress.family] = dict(progress.times)
        return finish(progress, section)

    Progress.finish = finished
    compared = Progress.compared

    def compared_all(progress, entries):
        # the comparison of the families, as one more row whose time is all "views"
        spent[progress.family] = dict(progress.times)
        return compared(progress, entries)

    Progress.compared = compared_all
    table = ["--csv", source] if scheduler is None else ["--parquet", source,
                                                         "--scheduler", scheduler]
    status = tour.main(table + ["--target", "y", "--task", task, "--out", out])
    with open(timings, "w") as handle:
        json.dump(spent, handle)
    return status


def run(frame, task, folder, name, scheduler=None):
    """Tour a frame written as CSV, or (with ``scheduler``) a folder of Parquet files."""
    if scheduler is None:
        source = os.path.join(folder, name + ".csv")
        frame.to_csv(source, index=False)
    else:
        source = frame
    timings = os.path.join(folder, name + ".json")
    command = [sys.executable, os.path.abspath(__file__), "--child", source, "--task", task,
               "--out", os.path.join(folder, name), "--timings", timings]
    command += ["--scheduler", scheduler] if scheduler else []
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    # wait4 gives this child's own resource use, not the largest of all children so far.
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    output = process.stdout.read().decode(errors="replace").strip()
    process.stdout.close()
    if not (os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0) or not os.path.exists(timings):
        raise SystemExit("the tour of %s failed (status %d):\n%s" % (name, status, output))
    with open(timings) as handle:
        families = json.load(handle)
    # ru_maxrss is in kilobytes on Linux, bytes on macOS
    peak = usage.ru_maxrss * (1 if sys.platform == "darwin" else 1024) / 2 ** 30
    return seconds, peak, families


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--case", choices=sorted(CASES) + sorted(dask_case.CASES),
                        action="append",
                        help="a table to tour (repeatable; default all)")
    parser.add_argument("--rows", type=int, help="a synthetic table of this many rows ...")
    parser.add_argument("--columns", type=int, help="... and this many columns instead")
    parser.add_argument("--task", choices=("regression", "classification"),
                        default="regression")
    parser.add_argument("--keep", metavar="DIR", help="write the tables and galleries here")
    parser.add_argument("--child", metavar="CSV", help=argparse.SUPPRESS)
    parser.add_argument("--out", help=argparse.SUPPRESS)
    parser.add_argument("--timings", help=argparse.SUPPRESS)
    parser.add_argument("--scheduler", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        sys.exit(child(args.child, args.task, args.out, args.timings, args.scheduler))

    if args.rows or args.columns:
        cases = [("%dx%d" % (args.rows or 10000, args.columns or 10),
                  lambda: synthetic(args.rows or 10000, args.columns or 10, args.task))]
    else:
        cases = [(case, (lambda case=case: digits(args.task) if case == "digits"
                         else synthetic(*CASES[case], task=args.task)))
                 for case in (args.case or list(CASES))]
    print(machine())
    results, steps = [], []
    with tempfile.TemporaryDirectory() as scratch:
        folder = args.keep or scratch
        os.makedirs(folder, exist_ok=True)
        for name, make in cases:
            workers = None
            if name in dask_case.CASES:
                rows = dask_case.CASES[name]
                parquet = dask_case.parquet_table(rows, args.task, synthetic)
                (seconds, peak, spent), workers = dask_case.with_cluster(
                    lambda address: run(parquet, args.task, folder, name, address))
                shape = (rows, 10)
            else:
                frame = make()
                seconds, peak, spent = run(frame, args.task, folder, name)
                shape = (len(frame), frame.shape[1] - 1)
            table = spent.pop("table")
            row = {"table": name, "rows": shape[0], "columns": shape[1],
                   "seconds": seconds, "peak GiB": peak, "workers' peak GiB": workers,
                   "reading": table.get("load_table", 0),
                   "preparing": table.get("make_experiment", 0)}
            row.update(("%s s" % family, sum(times.values())) for family, times in spent.items())
            results.append(row)
            for family, times in spent.items():
                steps.append(dict({"table": name, "family": family},
                                  **{step: times.get(step, 0.0) for step in STEPS}))
            print("%s: %d rows, %d columns, %.0f s, peak %.2f GiB%s" % (
                name, shape[0], shape[1], seconds, peak,
                "" if workers is None else ", workers' peak %.2f GiB" % workers), flush=True)
    print()
    print("%s tables (seconds; reading and preparing the table, then each family's steps):"
          % args.task)
    print(pd.DataFrame(results).to_string(index=False, float_format="%.1f"))
    print()
    print("where each family's time goes (seconds):")
    print(pd.DataFrame(steps).to_string(index=False, float_format="%.1f"))


if __name__ == "__main__":
    main()
