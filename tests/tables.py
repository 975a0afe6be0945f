"""Experiments that several test files read, fitted once per session."""
import functools


@functools.lru_cache(maxsize=None)
def bundled(name):
    """The tour's experiment of a bundled data set with every family fitted."""
    from vexo.workflow import tour

    args = tour.parse_args(["--data", name])
    _, frame, target = tour.load_table(args)
    experiment = tour.make_experiment(frame, target, args.task, args.seed)
    for family in tour.model_families():
        experiment.register(family, family)
    return experiment
