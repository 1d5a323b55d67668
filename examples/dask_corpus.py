"""Read a whole TextGrid corpus on a Dask cluster into one Parquet dataset.

    python examples/dask_corpus.py CORPUS_DIR OUT_DIR [--scheduler ADDRESS]
                                   [--workers N] [--batch N] [--lenient]

Every task hands a batch of paths (a few thousand) to velmar.textgrids2arrow,
which reads them on all cores of its worker into an Arrow table, and writes one
part of the dataset OUT_DIR/part-NNNNN.parquet with the columns file, tier,
is_interval, tmin, tmax, label. Read the whole dataset back with
pyarrow.parquet.read_table(OUT_DIR) or any Parquet reader.

Without --scheduler the script starts a LocalCluster of N worker processes on
this machine; with --scheduler tcp://HOST:8786 the same graph runs on that
cluster, whose workers need velmar, pyarrow and the corpus and OUT_DIR at the
same paths (a shared file system). Paths go to the workers absolute, so the
workers' own folder does not matter. A run replaces the dataset a previous run
left in OUT_DIR, once all of its parts are written. Files that cannot be read,
or that fail validation unless --lenient, contribute no rows; the summary counts
them and the exit status is then 1.
"""

import argparse
import shutil
import sys
import tempfile
from pathlib import Path

import dask
import pyarrow as pa
import pyarrow.compute as pc
import pyarrow.parquet as pq
from distributed import Client, LocalCluster, get_worker

import velmar

SCHEMA = pa.schema([("file", pa.string()), ("tier", pa.string()), ("is_interval", pa.bool_()),
                    ("tmin", pa.float64()), ("tmax", pa.float64()), ("label", pa.string())])
PART = "part-*.parquet"


def corpus_paths(root: str) -> list[str]:
    return sorted(str(path) for path in Path(root).absolute().rglob("*.TextGrid"))


def batch_table(paths: list[str], strict: bool) -> tuple[pa.Table, int]:
    """The batch's rows, and how many of its files gave none."""
    # Arrow columns straight from the reader, no Python object per row.
    table = pa.table(velmar.textgrids2arrow(paths, strict, "auto"))
    # A row's file index is its file's position in paths.
    file_ids = table.column("file").combine_chunks().indices
    with_rows = pc.count_distinct(file_ids).as_py()
    # Plain strings, not dictionaries: the parts of one dataset share a schema.
    return table.cast(SCHEMA), len(paths) - with_rows


def write_part(paths: list[str], target: str, strict: bool) -> tuple[int, int]:
    """Runs on a worker: one batch of files into one part of the dataset; returns
    its rows and the files that gave none."""
    # As many reading threads as the worker was given, not one per core of
    # the machine: the worker's other processes need theirs.
    velmar.set_num_threads(get_worker().state.nthreads)
    table, without_rows = batch_table(paths, strict)
    pq.write_table(table, target)
    return table.num_rows, without_rows


def corpus_to_parquet(paths: list[str], out_dir: str, batch: int = 2000,
                      strict: bool = True) -> tuple[int, int]:
    """Writes the dataset on whatever cluster the current Dask client points at,
    replacing the parts of an earlier run; returns the number of rows and the
    number of files that gave none."""
    out = Path(out_dir).absolute()
    out.mkdir(parents=True, exist_ok=True)
    strangers = [path.name for path in out.iterdir()
                 if not path.match(PART) and not path.name.startswith((".", "_"))]
    if strangers:
        raise ValueError(f"{out} holds files that are not parts of a dataset: {strangers[:3]}")
    paths = [str(Path(path).absolute()) for path in paths]
    # Parts are written into a hidden folder, which Parquet readers skip, and
    # replace the earlier run's only once every task has succeeded.
    staging = Path(tempfile.mkdtemp(prefix=".incoming-", dir=out))
    try:
        parts = [dask.delayed(write_part)(paths[start:start + batch],
                                          str(staging / f"part-{start // batch:05d}.parquet"),
                                          strict)
                 for start in range(0, len(paths), batch)]
        counts = dask.compute(*parts)
        for old in out.glob(PART):
            old.unlink()
        for new in staging.glob(PART):
            new.rename(out / new.name)
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    return sum(rows for rows, _ in counts), sum(without for _, without in counts)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("corpus")
    parser.add_argument("out_dir")
    parser.add_argument("--scheduler", help="address of a running scheduler, tcp://HOST:PORT")
    parser.add_argument("--workers", type=int, default=2, help="local worker processes")
    parser.add_argument("--batch", type=int, default=2000, help="files per task")
    parser.add_argument("--lenient", action="store_true", help="read without validation")
    arguments = parser.parse_args()

    paths = corpus_paths(arguments.corpus)
    if not paths:
        parser.error(f"no *.TextGrid files in {arguments.corpus}")
    if arguments.scheduler:
        client = Client(arguments.scheduler)
    else:
        client = Client(LocalCluster(n_workers=arguments.workers, threads_per_worker=1,
                                     dashboard_address=None))
    with client:
        try:
            rows, without_rows = corpus_to_parquet(paths, arguments.out_dir, arguments.batch,
                                                   not arguments.lenient)
        except ValueError as error:
            parser.error(str(error))
        finally:
            if not arguments.scheduler:
                client.cluster.close()
    print(f"{len(paths)} files, {len(paths) - without_rows} with rows, {without_rows} without "
          f"(unreadable, invalid or empty); {rows} rows in {arguments.out_dir}")
    return 1 if without_rows else 0


if __name__ == "__main__":
    sys.exit(main())
