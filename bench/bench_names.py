"""What names of a user's table cost before anything is fitted: the display names of one very
long name and of thousands of names that shorten alike, and an experiment of a table whose
header cell is a whole paragraph (100 KB).

    python bench/bench_names.py

Each case runs three times; the table gives the fastest, in seconds.
"""
import time

import numpy as np
import pandas as pd

from bench_tour import machine  # the same line about the machine
from vexo.workflow.experiment import Experiment
from vexo.workflow.experiment.dataset import DISPLAY_WIDTH, truncate_names
from vexo.workflow.plots.text import shorten

LONG = "reading of sensor " * 5600  # about 100 KB


def experiment_of_a_long_header():
    rng = np.random.default_rng(0)
    frame = pd.DataFrame({LONG: rng.normal(size=500), "b": rng.normal(size=500)})
    Experiment(frame.assign(y=rng.normal(size=500)), "y")


CASES = [
    ("a 100 KB name, its display name and its longest text in a figure",
     lambda: [shorten(LONG, w) for w in (DISPLAY_WIDTH, 300)]),
    ("8,000 names of one shortened form, told apart by their last words",
     lambda: truncate_names(["sensor_reading_value_%05d" % i for i in range(8000)], DISPLAY_WIDTH)),
    ("8,000 names that differ in their middle words only",
     lambda: truncate_names(["sensor %05d reading value" % i for i in range(8000)], 12)),
    ("an experiment of a 100 KB header cell", experiment_of_a_long_header),
]


def fastest(run, repeats=3):
    times = []
    for _ in range(repeats):
        started = time.perf_counter()
        run()
        times.append(time.perf_counter() - started)
    return min(times)


def main():
    print(machine())
    rows = [(name, fastest(run)) for name, run in CASES]
    print(pd.DataFrame(rows, columns=["case", "seconds"]).to_string(index=False,
                                                                    float_format="%.3f"))


if __name__ == "__main__":
    main()
