"""examples/dask_corpus.py on a LocalCluster of two worker processes."""

import os
import subprocess
import sys

import pytest

import velmar

from conftest import ROOT, module_environment, write_corpus

for name in ("dask", "distributed", "pyarrow.parquet"):
    pytest.importorskip(name, reason=f"{name} is not installed (the cluster example needs it)")

import pyarrow.parquet as pq  # noqa: E402

EXAMPLES = ROOT / "examples"


def batch_call_rows(paths):
    tmins, tmaxs, labels, tiers, kinds, ids = velmar.textgrids2vectors(paths, True, "auto")
    return {"file": [paths[i] for i in ids], "tier": tiers, "is_interval": kinds.tolist(),
            "tmin": tmins.tolist(), "tmax": tmaxs.tolist(), "label": labels}


def run_example(corpus, out, batch, cwd):
    # Bounded: the cluster starts, runs a few tasks and stops well within this.
    return subprocess.run(
        [sys.executable, str(EXAMPLES / "dask_corpus.py"), str(corpus), str(out),
         "--workers", "2", "--batch", str(batch)],
        cwd=cwd, env=module_environment(), capture_output=True, text=True, timeout=240)


def test_a_second_run_replaces_the_dataset_and_counts_files_without_rows(tmp_path):
    corpus = tmp_path / "corpus"
    paths = write_corpus(corpus, 150)
    (corpus / "part0" / "corrupt.TextGrid").write_text("garbage\n")
    paths = sorted(paths + [str(corpus / "part0" / "corrupt.TextGrid")])
    first = run_example(corpus, tmp_path / "dataset", 40, tmp_path)
    assert first.returncode == 1, first.stderr
    assert len(list((tmp_path / "dataset").glob("part-*.parquet"))) == 4

    # Fewer, larger parts, from relative paths: none of the first run's is left.
    second = run_example("corpus", "dataset", 100, tmp_path)
    expected = batch_call_rows(paths)
    assert pq.read_table(tmp_path / "dataset").to_pydict() == expected
    assert sorted(os.listdir(tmp_path / "dataset")) == ["part-00000.parquet", "part-00001.parquet"]
    assert second.stdout == (f"{len(paths)} files, {len(paths) - 1} with rows, 1 without "
                             f"(unreadable, invalid or empty); {len(expected['label'])} rows "
                             "in dataset\n")
    assert second.returncode == 1


def test_relative_paths_reach_workers_that_run_in_another_folder(tmp_path, monkeypatch):
    from distributed import Client, LocalCluster

    paths = write_corpus(tmp_path / "corpus", 30)
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    monkeypatch.chdir(tmp_path)
    monkeypatch.syspath_prepend(str(EXAMPLES))
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(
        [module_environment()["PYTHONPATH"], str(EXAMPLES)]))
    import dask_corpus

    relative = [os.path.relpath(path, tmp_path) for path in paths]
    with LocalCluster(n_workers=1, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        client.run(os.chdir, str(elsewhere))
        rows, without_rows = dask_corpus.corpus_to_parquet(relative, "dataset", batch=10)
    assert (rows, without_rows) == (len(batch_call_rows(paths)["label"]), 0)
    assert pq.read_table(tmp_path / "dataset").to_pydict() == batch_call_rows(paths)
    assert list(elsewhere.iterdir()) == []


LONG_TASK = """
import sys, time
sys.path.insert(0, {examples!r})
import velmar
from distributed import Client, LocalCluster
from dask_corpus import write_part

paths = [{tiny!r}] * 20_000
velmar.set_num_threads(1)
started = time.perf_counter()
velmar.textgrids2vectors(paths, False, "auto")
# Files enough for about 8 s on the worker's one thread.
paths *= max(1, int(8 / (time.perf_counter() - started)))
with Client(LocalCluster(n_workers=1, threads_per_worker=1, dashboard_address=None)) as client:
    started = time.perf_counter()
    rows, _ = client.submit(write_part, paths, {target!r}, False).result()
    print(rows, time.perf_counter() - started)
    client.cluster.close()
"""


def test_a_long_task_leaves_the_worker_responsive(tmp_path):
    tiny = str(tmp_path / "tiny.TextGrid")
    velmar.data2textgrid([("w", True, [(0.0, 1.0, "a")])], None, None, tiny, "short")
    code = LONG_TASK.format(examples=str(ROOT / "examples"), tiny=tiny,
                            target=str(tmp_path / "part.parquet"))
    result = subprocess.run([sys.executable, "-c", code], env=module_environment(),
                            capture_output=True, text=True, timeout=240)
    assert result.returncode == 0, result.stderr
    rows, seconds = result.stdout.split()
    assert int(rows) >= 20_000 and float(seconds) >= 5
    # Dask warns of an event loop held up for 3 s and more.
    assert "unresponsive" not in result.stderr
