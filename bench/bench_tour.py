"""Where the time of the tour goes: for every view of every family on the tour's default data,
the milliseconds spent in the experiment, in the module's own work and in drawing on Agg.

Each view is called once through ``model_interpret`` on a freshly fitted experiment, as the tour
calls it. The call is split by what the module calls directly: experiment code (the
``vexo.workflow`` modules other than ``plots``), the plotting libraries (matplotlib, seaborn,
``plots``, scikit-learn's ``plot_tree``, statsmodels' ``lowess``), and the rest, which is the
module's own work (its compiled code and what it asks of numpy and pandas). The shares are
measured under cProfile on a second, identical experiment and applied to the unprofiled time;
"render" is writing the view's figures as PNG, which is where Agg draws, and is part of "drawing".

    python bench/bench_tour.py [--data breast_cancer] [--rows N]
"""
import argparse
import cProfile
import io
import os
import platform
import pstats
import sys
import time
import warnings

import matplotlib

matplotlib.use("Agg")

import pandas as pd  # noqa: E402

from vexo.workflow import tour  # noqa: E402
from vexo.workflow.figures import capture  # noqa: E402
from vexo.workflow.interpret_api import InterpretAPI  # noqa: E402

# What the module calls of scikit-learn directly is plot_tree (behind a parameter check).
PLOTTING = ("matplotlib", "seaborn", os.path.join("vexo", "workflow", "plots") + os.sep,
            "sklearn" + os.sep, "statsmodels")
EXPERIMENT = os.path.join("vexo", "workflow") + os.sep


def kind(filename):
    if any(part in filename for part in PLOTTING):
        return "drawing"
    if EXPERIMENT in filename:
        return "experiment"
    return "module"


def dispatch(api, show, arguments):
    # The module's compiled functions leave no trace in the profile: what they call shows as
    # called from here.
    return api.model_interpret(show=show, **arguments)


def shares(profile):
    """Seconds of the dispatcher's call by kind of what it called directly."""
    stats = pstats.Stats(profile).stats
    [entry] = [key for key in stats if key[2] == "dispatch" and key[0] == __file__]
    total = stats[entry][3]
    parts = {"experiment": 0.0, "drawing": 0.0}
    for (filename, _, _), (_, _, _, _, callers) in stats.items():
        if entry in callers and kind(filename) in parts:
            parts[kind(filename)] += callers[entry][3]
    parts["module"] = total - parts["experiment"] - parts["drawing"]
    return parts, total


def render(figures):
    start = time.perf_counter()
    for figure in figures:
        figure.savefig(io.BytesIO(), format="png", dpi=90, bbox_inches="tight")
    return time.perf_counter() - start


def quietly(call):
    """The figures of the call and what came of it: "drawn", the refusal, or the error."""
    outcome = "drawn"
    with warnings.catch_warnings(), capture() as figures:
        warnings.simplefilter("ignore")
        sys.stdout, stdout = io.StringIO(), sys.stdout
        try:
            call()
        except Exception as error:
            outcome = "raised %s" % type(error).__name__
        finally:
            sys.stdout, printed = stdout, sys.stdout.getvalue().strip()
    if not figures and outcome == "drawn":
        # a refusal is one line; a table displayed in a console is printed whole
        outcome = printed if len(printed.splitlines()) == 1 else "table" if printed else "nothing"
    return figures, outcome


def machine():
    model = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as info:
            model = next(line.split(":", 1)[1].strip() for line in info
                         if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    return "%s, %d cores, Python %s, matplotlib %s (Agg)" % (
        model, os.cpu_count(), platform.python_version(), matplotlib.__version__)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", choices=sorted(tour.DATASETS), default="diabetes")
    parser.add_argument("--rows", type=int)
    args = parser.parse_args()
    options = tour.parse_args(["--data", args.data] + (["--rows", str(args.rows)] if args.rows else []))
    name, frame, target = tour.load_table(options)
    timed, profiled = (tour.make_experiment(frame, target, options.task) for _ in range(2))

    rows = []
    for family in tour.model_families():
        start = time.perf_counter()
        quietly(lambda: timed.register(family, family))
        fit = time.perf_counter() - start
        quietly(lambda: profiled.register(family, family))
        rows.append((family, "(fit)", fit * 1e3, 0.0, 0.0, 0.0, fit * 1e3, "fitted"))
        apis = InterpretAPI(timed, family), InterpretAPI(profiled, family)
        # the permutation importance that picks the feature, pair and sample for every view
        start = time.perf_counter()
        choices = tour.choose(timed, family)
        chosen = time.perf_counter() - start
        tour.choose(profiled, family)
        rows.append((family, "(importance)", chosen * 1e3, 0.0, 0.0, 0.0, chosen * 1e3, "computed"))
        for view in tour.VIEWS:
            arguments = view.arguments(choices)
            start = time.perf_counter()
            figures, outcome = quietly(lambda: apis[0].model_interpret(show=view.show,
                                                                       **arguments))
            seconds = time.perf_counter() - start
            drawn = render(figures)
            profile = cProfile.Profile()
            quietly(lambda: profile.runcall(dispatch, apis[1], view.show, arguments))
            parts, total = shares(profile)
            scale = seconds / total if total else 0.0
            rows.append((family, view.slug, parts["experiment"] * scale * 1e3,
                         parts["module"] * scale * 1e3, (parts["drawing"] * scale + drawn) * 1e3,
                         drawn * 1e3, (seconds + drawn) * 1e3, outcome))
    table = pd.DataFrame(rows, columns=["family", "view", "experiment ms", "module ms",
                                        "drawing ms", "of which render ms", "total ms", "result"])
    print("%s data, %d rows; %s" % (name, len(frame), machine()))
    print(table.to_string(index=False, float_format="%.1f"))
    # per family, fitting and the importance that picks the choices included
    columns = ["experiment ms", "module ms", "drawing ms", "total ms"]
    families = table.groupby("family", sort=False)[columns].sum()
    families["figures"] = table[table["result"] == "drawn"].groupby("family", sort=False).size()
    families.loc["all"] = families.sum()
    print()
    print(families.to_string(float_format="%.0f"))


if __name__ == "__main__":
    main()
