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
