"""The tour on Dask: tables of many files read as one, the cluster reached and checked, and the
progress of its steps."""

import argparse
import io
import socket
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest

distributed = pytest.importorskip("distributed")

from vexo.workflow import tour  # noqa: E402
from vexo.workflow.tour import cluster, progress, sources, table  # noqa: E402


def mixed_table(rows=60):
    rng = np.random.RandomState(0)
    return pd.DataFrame({"count": rng.randint(0, 9, rows), "price": rng.rand(rows).round(3),
                         "colour": rng.choice(["red", "green", "blue"], rows), "target": rng.rand(rows).round(2)})


def csv_parts(frame, folder, **written):
    for k, part in enumerate(np.array_split(np.arange(len(frame)), 3)):
        frame.iloc[part].to_csv(folder / ("part-%d.csv" % k), index=False, **written)
    return table.read_csv(str(folder / "part-0.csv"))[1], str(folder / "part-*.csv")


def parquet_folder(frame, folder, **written):
    (folder / "table").mkdir()
    for k, part in enumerate(np.array_split(np.arange(len(frame)), 3)):
        frame.iloc[part].to_parquet(folder / "table" / ("p%d.parquet" % k))
    return None, str(folder / "table")


@pytest.mark.parametrize("write, option, written", [
    (csv_parts, "--csv", {}),
    (csv_parts, "--csv", dict(sep=";", decimal=",")),
    (parquet_folder, "--parquet", {}),
])
def test_parts_and_parquet_folders_read_as_the_whole_table(dask_client, tmp_path, write, option, written):
    frame, notes = mixed_table(), []
    how, path = write(frame, tmp_path, **written)
    args = tour.parse_args([option, path, "--target", "target"])
    assert sources.on_dask(args)
    name, read, target = sources.load_table(args, notes)
    assert notes == ([how.replace("part-0.csv", "part-0.csv and 2 more files")] if how else [])
    pd.testing.assert_frame_equal(read.compute().reset_index(drop=True), frame, check_dtype=False)
    assert [read[column].dtype.kind for column in ("count", "price", "target")] == ["i", "f", "f"]


@pytest.mark.parametrize("argv, said", [
    (["--csv", "{tmp}/none-*.csv", "--target", "y"], "no file matches {tmp}/none-*.csv"),
    (["--parquet", "{tmp}/missing", "--target", "y"], "no such file or folder: {tmp}/missing"),
    (["--csv", "{tmp}/missing.csv", "--target", "y", "--workers", "1"], "no such file: {tmp}/missing.csv"),
    (["--parquet", "{tmp}", "--csv", "a.csv", "--target", "y"], "give either --csv or --parquet"),
    (["--data", "diabetes", "--workers", "0"], "--workers must be a positive number, got 0"),
    (["--scheduler", "tcp://h:1", "--workers", "2"], "give either --scheduler or --workers"),
    (["--parquet", "{tmp}", "--target", "y", "--rows", "5"], "--rows is for one CSV file"),
    (["--workers", "1", "--worker-memory", "lots"], "--worker-memory must be a size"),
    (["--data", "diabetes", "--scheduler", "tcp://127.0.0.1:{port}"],
     "cannot reach the Dask scheduler at tcp://127.0.0.1:{port}: "),
])
def test_mistakes_in_the_dask_options_end_with_one_line(tmp_path, monkeypatch, capsys, argv, said):
    monkeypatch.setattr(cluster, "CONNECT_SECONDS", 1)
    with socket.socket() as probe:  # a port that nothing listens on
        probe.bind(("127.0.0.1", 0))
        where = dict(tmp=tmp_path, port=probe.getsockname()[1])
    status = tour.main([word.format(**where) for word in argv])
    err = capsys.readouterr().err
    assert status == 2 and len(err.splitlines()) == 1
    assert err.startswith("vexo-tour: error: " + said.format(**where))


def test_one_csv_file_is_read_by_pandas_without_importing_dask(tmp_path):
    mixed_table().to_csv(tmp_path / "one.csv", index=False)
    code = ("import sys\nfrom vexo.workflow import tour\n"
            "args = tour.parse_args(['--csv', %r, '--target', 'target'])\n"
            "assert not tour.sources.on_dask(args)\ntour.load_table(args)\n"
            "print(sorted(m for m in sys.modules if m.split('.')[0] in ('dask', 'distributed')))"
            % str(tmp_path / "o*.csv"))
    # from another folder: the package that the suite tests, not a checkout's sources without the module
    ran = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True, cwd=tmp_path)
    assert ran.stdout == "[]\n"


@pytest.mark.parametrize("reported, refused", [
    ({}, None),
    ({"dask": "2020.1.0"}, "runs dask {dask}; this tour runs dask 2020.1.0"),
    ({"vexo-interpret": None, "distributed": "1.0"},
     "runs vexo-interpret {vexo-interpret}, distributed {distributed}; this tour runs "
     "vexo-interpret (not installed), distributed 1.0"),
])
def test_workers_of_other_versions_are_refused_naming_them(dask_client, monkeypatch, capsys, reported, refused):
    here = {name: cluster.installed(name) for name in cluster.PACKAGES}
    monkeypatch.setattr(cluster, "installed", lambda name: reported.get(name, here[name]))
    args = argparse.Namespace(scheduler=dask_client.scheduler.address)
    if refused is None:
        with cluster.connect(args) as connected:
            assert connected.scheduler_info()["workers"]
        assert capsys.readouterr().out.startswith("Dask dashboard: http://")
    else:
        with pytest.raises(tour.UsageError, match="^the Dask worker tcp://127.0.0.1:"):
            with cluster.connect(args):
                pass
        with pytest.raises(tour.UsageError) as raised:
            cluster.check_versions(dask_client)
        assert str(raised.value).endswith(refused.format(**{n: v or "(not installed)" for n, v in here.items()}))


def in_family(log):
    steps = progress.Progress(["glm"], "lines", log)
    steps.start("glm")
    return steps


@pytest.mark.parametrize("reporter, said", [
    (lambda log: progress.DaskSteps("lines", log), "vexo-tour: statistics: 6 parts in "),
    (in_family, "vexo-tour: glm: statistics: 6 parts in "),
])
def test_a_step_tells_its_share_done_up_to_all_its_partitions(dask_client, reporter, said):
    import dask.dataframe as dd

    frame = dd.from_pandas(mixed_table(), npartitions=5)
    told, log = [], io.StringIO()
    steps = reporter(log)

    class Recorded:
        def dask_step(self, name, done, total):
            told.append((name, done, total))
            steps.dask_step(name, done, total)

    sums, rows = cluster.run_step(dask_client, "statistics", [frame.sum(numeric_only=True), frame.map_partitions(len)],
                                  Recorded())
    assert told == [("statistics", done, 6) for done in range(7)]
    assert rows.sum() == 60 and sums["count"] == mixed_table()["count"].sum()
    assert log.getvalue().startswith(said) and len(log.getvalue().splitlines()) == 1
    # a reduction's parts count in its share done; only its result comes back
    from dask import delayed

    parts = [delayed(len)(part) for part in frame.to_delayed()]
    assert cluster.run_step(dask_client, "rows", [delayed(sum)(parts)], Recorded(), parts) == [60]
    assert told[-1] == ("rows", 6, 6)
