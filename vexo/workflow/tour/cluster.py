"""The Dask cluster that the tour runs on: a running one that ``--scheduler`` names, or one of
``--workers`` processes started here and stopped at the end; checked to run the versions of
this package and of Dask that the tour runs; and the steps run on it with their share done told.
Dask is imported only when a cluster is asked for.
"""
import contextlib
import importlib.metadata
import importlib.util
import logging

from .command import UsageError, one_line, say

# Seconds that a scheduler has to answer, and then to have a worker.
CONNECT_SECONDS = 10
# Workers started when the table is read on Dask and no cluster is named.
LOCAL_WORKERS = 2
# What the client and every worker must run in the same version.
PACKAGES = ("vexo-interpret", "dask", "distributed")
INSTALL = "pip install 'vexo-interpret[dask]'"
# Loggers of a scheduler started here, in this process, whose warnings tell of its routine work
# (a shuffle started and ended) between the tour's lines.
SCHEDULER_CHATTER = ("distributed.shuffle",)


def installed(name):
    """The version of a package installed here; None when it is not."""
    try:
        return importlib.metadata.version(name)
    except importlib.metadata.PackageNotFoundError:
        return None


@contextlib.contextmanager
def connect(args):
    """A ``distributed.Client`` of the command's cluster, for the block: of ``--scheduler``, or of
    a ``LocalCluster`` of ``--workers`` (else 2) processes on the loopback, which is stopped with
    the client when the block ends, whatever ends it. The dashboard's address is said."""
    distributed = required()
    with contextlib.ExitStack() as stack:
        stack.enter_context(quiet(SCHEDULER_CHATTER))
        if args.scheduler is not None:
            client = stack.enter_context(reached(distributed, args.scheduler))
        else:
            cluster = stack.enter_context(local_cluster(distributed, args))
            client = stack.enter_context(distributed.Client(cluster))
        check_versions(client)
        link = client.dashboard_link
        if args.scheduler is None and importlib.util.find_spec("bokeh") is None:
            link += " (its pages need bokeh)"
        say("Dask dashboard: %s" % link)
        yield client


@contextlib.contextmanager
def quiet(names):
    """Only the errors of these loggers, for the block."""
    loggers = [logging.getLogger(name) for name in names]
    levels = [logger.level for logger in loggers]
    for logger in loggers:
        logger.setLevel(logging.ERROR)
    try:
        yield
    finally:
        for logger, level in zip(loggers, levels):
            logger.setLevel(level)


def required():
    """The module distributed, with dask's data frames; a one-line error without them."""
    try:
        import dask.dataframe  # noqa: F401
        import distributed
    except ImportError as error:
        raise UsageError("reading on Dask needs dask and distributed (%s): %s"
                         % (INSTALL, one_line(error)))
    return distributed


@contextlib.contextmanager
def reached(distributed, address):
    """The client of a running scheduler that has at least one worker."""
    try:
        client = distributed.Client(address, timeout=CONNECT_SECONDS, set_as_default=True)
    except (OSError, TimeoutError, ValueError) as error:
        raise UsageError("cannot reach the Dask scheduler at %s: %s" % (address, one_line(error)))
    with client:
        try:
            client.wait_for_workers(1, timeout=CONNECT_SECONDS)
        except TimeoutError:
            raise UsageError("the Dask scheduler at %s has no workers after %d s"
                             % (address, CONNECT_SECONDS)) from None
        yield client


def local_cluster(distributed, args):
    """A ``LocalCluster`` of single-threaded worker processes, reachable from this machine
    only."""
    memory = "auto"
    if args.worker_memory is not None:
        from dask.utils import parse_bytes

        try:
            memory = parse_bytes(args.worker_memory)
        except (ValueError, TypeError):
            memory = 0
        if memory <= 0:
            raise UsageError("--worker-memory must be a size, as 4GiB, got %r"
                             % args.worker_memory)
    return distributed.LocalCluster(
        n_workers=args.workers or LOCAL_WORKERS, processes=True, threads_per_worker=1,
        host="127.0.0.1", dashboard_address="127.0.0.1:0", memory_limit=memory)


def check_versions(client):
    """A one-line error when a worker runs another version of this package or of Dask than this
    process (the models and the table's pieces travel between them pickled)."""
    here = {name: installed(name) for name in PACKAGES}
    # a function of the standard library, which a worker without this package can unpickle
    there = {name: {worker: None if isinstance(version, Exception) else version
                    for worker, version in client.run(importlib.metadata.version, name,
                                                      on_error="return").items()}
             for name in PACKAGES}
    for worker in sorted(there[PACKAGES[0]]):
        differ = [name for name in PACKAGES if there[name][worker] != here[name]]
        if differ:
            raise UsageError("the Dask worker %s runs %s; this tour runs %s" % (
                worker, versions_text(differ, lambda name: there[name][worker]),
                versions_text(differ, here.get)))


def versions_text(names, version):
    return ", ".join("%s %s" % (name, version(name) or "(not installed)") for name in names)


def run_step(client, name, work, progress=None, watch=()):
    """The result of ``work``, a dask collection or a list of them, computed on the cluster as
    ``compute`` would; ``progress.dask_step(name, done, total)`` is told how many of its
    partitions are done, from 0 to all of them, counting those of ``watch`` too (the parts
    that a reduction in ``work`` merges: their results stay on the cluster). A worker lost on
    the way costs the time of recomputing its partitions."""
    from distributed import as_completed, futures_of

    many = isinstance(work, (list, tuple))
    work = list(work) if many else [work]
    persisted = client.persist(work + list(watch))
    futures = futures_of(persisted)
    tell = progress.dask_step if progress is not None else (lambda *told: None)
    tell(name, 0, len(futures))
    for done, _ in enumerate(as_completed(futures), 1):
        tell(name, done, len(futures))
    results = client.compute(persisted[:len(work)], sync=True)
    return results if many else results[0]


class Reporter:
    """What computes an experiment's Dask steps (``Experiment(run=...)``) on the client's cluster,
    telling ``target`` (a ``progress.DaskSteps``, then the tour's ``Progress`` once the families
    start) how far each step is."""

    def __init__(self, client, target):
        self.client, self.target = client, target

    def __call__(self, name, tasks, watch=()):
        return run_step(self.client, name, list(tasks), self.target, watch)
