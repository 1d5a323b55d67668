"""examples/dask_corpus.py on a LocalCluster of two worker processes."""

import subprocess
import sys

import pytest

import velmar

from conftest import ROOT, module_environment, write_corpus

for name in ("dask", "distributed", "pyarrow.parquet"):
    pytest.importorskip(name, reason=f"{name} is not installed (the cluster example needs it)")

import pyarrow.parquet as pq  # noqa: E402


def test_dataset_from_the_cluster_equals_one_batch_call(tmp_path):
    corpus, out = tmp_path / "corpus", tmp_path / "dataset"
    paths = write_corpus(corpus, 150)
    (corpus / "part0" / "corrupt.TextGrid").write_text("garbage\n")
    paths = sorted(paths + [str(corpus / "part0" / "corrupt.TextGrid")])
    # Bounded: the cluster starts, runs four tasks and stops well within this.
    result = subprocess.run(
        [sys.executable, str(ROOT / "examples" / "dask_corpus.py"), str(corpus), str(out),
         "--workers", "2", "--batch", "40"],
        env=module_environment(), capture_output=True, text=True, timeout=240)
    assert result.returncode == 0, result.stderr

    tmins, tmaxs, labels, tiers, kinds, ids = velmar.textgrids2vectors(paths, True, "auto")
    assert len(list(out.glob("part-*.parquet"))) == 4
    assert pq.read_table(out).to_pydict() == {
        "file": [paths[i] for i in ids], "tier": tiers, "is_interval": kinds.tolist(),
        "tmin": tmins.tolist(), "tmax": tmaxs.tolist(), "label": labels}
    assert result.stdout == f"{len(paths)} files, {len(labels)} rows in {out}\n"


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
    rows = client.submit(write_part, paths, {target!r}, False).result()
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
