"""The tour of a table past one process's memory, on a Dask LocalCluster: ``bench_tables.py``'s
cases "dask-1e6" and "dask-1e7" (10 numeric columns, 1,000,000 and 10,000,000 rows).

The table is written once as a folder of Parquet files, a million rows each, into the
temporary folder (kept for the next run: writing 10,000,000 rows takes a minute); a cluster of
2 worker processes of 4 GiB each is started for each case, and the tour runs in a fresh
interpreter against its scheduler, as ``vexo-tour --parquet DIR --scheduler ADDRESS`` would.
The client's peak is that interpreter's; each worker's peak its own process's, read from it
at the end.
"""
import os
import resource
import tempfile

CASES = {"dask-1e6": 10 ** 6, "dask-1e7": 10 ** 7}
PART_ROWS = 10 ** 6
WORKERS, WORKER_MEMORY = 2, "4GiB"


def parquet_table(rows, task, synthetic):
    """The folder of the table's Parquet parts, written where it is not yet."""
    folder = os.path.join(tempfile.gettempdir(), "vexo-bench-%d-%s" % (rows, task))
    done = os.path.join(folder, "_complete")
    if not os.path.exists(done):
        os.makedirs(folder, exist_ok=True)
        for k in range(0, rows, PART_ROWS):
            part = synthetic(min(PART_ROWS, rows - k), 10, task, seed=k // PART_ROWS)
            part.to_parquet(os.path.join(folder, "part-%03d.parquet" % (k // PART_ROWS)),
                            index=False)
        open(done, "w").close()
    return folder


def _peak_gib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 2 ** 20


def with_cluster(tour):
    """``tour(scheduler address)`` on a fresh LocalCluster; returns its result and the largest
    peak memory (GiB) of the workers."""
    import distributed

    with distributed.LocalCluster(n_workers=WORKERS, threads_per_worker=1, processes=True,
                                  memory_limit=WORKER_MEMORY, host="127.0.0.1",
                                  dashboard_address="127.0.0.1:0") as cluster, \
            distributed.Client(cluster) as client:
        result = tour(cluster.scheduler_address)
        peaks = client.run(_peak_gib)
    return result, max(peaks.values())
