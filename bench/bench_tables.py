"""The whole tour on large tables: its time and peak memory, and where the time goes.

Each table is written as CSV and toured by ``python -m vexo.workflow.tour --csv ...`` in a
fresh interpreter, every family and every view, as a user would run it. The table printed at
the end has one row per table: rows, columns, seconds from start to the written gallery, the
peak resident memory of that process, and per family the seconds of fitting plus choosing
what to show (the permutation importance) plus drawing its views.

    python bench/bench_tables.py                   # wide, long and digits
    python bench/bench_tables.py --case wide --task classification
    python bench/bench_tables.py --rows 20000 --columns 30

The tables: "wide", 100 numeric columns and 100,000 rows; "long", 10 numeric columns and
1,000,000 rows; "digits", scikit-learn's 8x8 digits as a regression on the digit (64 pixel
columns, of which the tour leaves out those that are constant in the training split, and 1,797
rows). The synthetic tables have smooth main effects,
one interaction and noise; the classification target is their sign.
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

from bench_tour import machine  # the same line about the machine

CASES = {"wide": (100000, 100), "long": (1000000, 10), "digits": (None, None)}


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


def child(csv, task, out, timings):
    """Run the tour in this process, timing each family's fit, choices and views."""
    import collections
    import functools

    from vexo.workflow import experiment as experiment_module
    from vexo.workflow import tour

    spent = collections.OrderedDict()

    def timed(owner, name, family_of):
        original = getattr(owner, name, None)
        if original is None:
            return

        @functools.wraps(original)
        def wrapper(*args, **kwargs):
            start = time.perf_counter()
            try:
                return original(*args, **kwargs)
            finally:
                family = family_of(args, kwargs)
                spent[family] = spent.get(family, 0.0) + time.perf_counter() - start

        setattr(owner, name, wrapper)

    # register(self, name, family, ...), choose(experiment, model), run_view(api, model, ...)
    timed(experiment_module.Experiment, "register", lambda a, k: a[1])
    timed(tour, "choose", lambda a, k: a[1])
    timed(tour, "run_view", lambda a, k: a[1])
    status = tour.main(["--csv", csv, "--target", "y", "--task", task, "--out", out])
    with open(timings, "w") as handle:
        json.dump(spent, handle)
    return status


def run(frame, task, folder, name):
    csv = os.path.join(folder, name + ".csv")
    frame.to_csv(csv, index=False)
    timings = os.path.join(folder, name + ".json")
    command = [sys.executable, os.path.abspath(__file__), "--child", csv, "--task", task,
               "--out", os.path.join(folder, name), "--timings", timings]
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
    parser.add_argument("--case", choices=sorted(CASES), action="append",
                        help="a table to tour (repeatable; default all three)")
    parser.add_argument("--rows", type=int, help="a synthetic table of this many rows ...")
    parser.add_argument("--columns", type=int, help="... and this many columns instead")
    parser.add_argument("--task", choices=("regression", "classification"),
                        default="regression")
    parser.add_argument("--keep", metavar="DIR", help="write the tables and galleries here")
    parser.add_argument("--child", metavar="CSV", help=argparse.SUPPRESS)
    parser.add_argument("--out", help=argparse.SUPPRESS)
    parser.add_argument("--timings", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        sys.exit(child(args.child, args.task, args.out, args.timings))

    if args.rows or args.columns:
        cases = [("%dx%d" % (args.rows or 10000, args.columns or 10),
                  lambda: synthetic(args.rows or 10000, args.columns or 10, args.task))]
    else:
        cases = [(case, (lambda case=case: digits(args.task) if case == "digits"
                         else synthetic(*CASES[case], task=args.task)))
                 for case in (args.case or ["wide", "long", "digits"])]
    print(machine())
    results = []
    with tempfile.TemporaryDirectory() as scratch:
        folder = args.keep or scratch
        os.makedirs(folder, exist_ok=True)
        for name, make in cases:
            frame = make()
            seconds, peak, families = run(frame, args.task, folder, name)
            row = {"table": name, "rows": len(frame), "columns": frame.shape[1] - 1,
                   "seconds": seconds, "peak GiB": peak}
            row.update(("%s s" % family, spent) for family, spent in families.items())
            results.append(row)
            print("%s: %d rows, %d columns, %.0f s, peak %.2f GiB" % (
                name, len(frame), frame.shape[1] - 1, seconds, peak), flush=True)
    print()
    print("%s tables:" % args.task)
    print(pd.DataFrame(results).to_string(index=False, float_format="%.1f"))


if __name__ == "__main__":
    main()
