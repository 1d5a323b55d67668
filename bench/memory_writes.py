#!/usr/bin/env python3
"""TextGrids in memory, and many written at once.

On a generated corpus (batch.py's: 2,000 files, long layout) and the large
generated file (peers.py's), times:

  velmar.vectors2textgrids writing every file from the columns
  textgrids2vectors returns, against a Python loop of vectors2textgrid over
  the same rows (each file's rows sliced from the columns) and a loop of
  praatio building and saving the same files;
  velmar.text2data on the large file's bytes, against textgrid2data on the file.

Each figure is the median of --runs runs taken in turns (praatio stops early
once its runs take long). The goals are printed as `goal` lines.

Every new file costs the file system its own work, which the batch cannot
spread: on an ext4 that has freed many inodes lately, the kernel's search for
a free inode (find_inode_bit, recently_deleted) took over half of a batch's
processor time, as much per file in the loop. TMPDIR=/dev/shm measures the
writers' own work on tmpfs.

    python bench/memory_writes.py [--files 2000] [--items 150000] [--runs 5] [--cpu]
"""

import argparse
import tempfile
from pathlib import Path

import numpy as np

import velmar
from batch import write_corpus
from common import goal_line, median_times, ratio
from peers import PEER_BUDGET_SECONDS, build_and_write_praatio, print_table, write_sample


class FreshOutputs:
    """For each call, the paths of the corpus's files in a directory of their
    own: the files are new, as an export's are. Replacing the files of the run
    before would time the disk instead (ext4 writes a file out before a rename
    over an existing one returns)."""

    def __init__(self, root, name, count):
        self.root, self.name, self.count, self.calls = root, name, count, 0

    def __call__(self):
        self.calls += 1
        directory = self.root / f"{self.name}{self.calls}"
        directory.mkdir()
        return [str(directory / f"{k:05d}.TextGrid") for k in range(self.count)]


def loop_of_vectors2textgrid(columns, fresh_outputs):
    """What a user writes without the batch: each file's rows sliced out and
    written on their own."""
    tmins, tmaxs, labels, tier_names, is_intervals, file_ids = columns

    def write_all():
        outputs = fresh_outputs()
        bounds = np.searchsorted(file_ids, np.arange(len(outputs) + 1))
        failed = []  # a file that cannot be built is the batch's entry, not the end
        for k, output in enumerate(outputs):
            a, b = bounds[k], bounds[k + 1]
            try:
                velmar.vectors2textgrid(tmins[a:b], tmaxs[a:b], labels[a:b], tier_names[a:b],
                                        is_intervals[a:b], None, None, output, "long")
            except OSError as error:
                failed.append(str(error))
        return failed
    return write_all


def run_writes(paths, runs, figure=0):
    """Prints the figures of writing the corpus; returns the goal lines."""
    columns = velmar.textgrids2vectors(paths, True, "auto")
    data = velmar.textgrids2data(paths, True, "auto")
    out = Path(paths[0]).parent.parent / "written"  # beside the corpus, on its file system
    out.mkdir(exist_ok=True)
    fresh = {name: FreshOutputs(out, name, len(paths)) for name in ("batch", "loop", "praatio")}
    print(f"\nwrite batch: {len(paths)} files, {columns[0].size} items, from the columns of "
          f"textgrids2vectors, long layout, new files, median of {runs}")
    writes = {
        "velmar vectors2textgrids": lambda: velmar.vectors2textgrids(
            *columns, fresh["batch"](), "long"),
        "loop of vectors2textgrid": loop_of_vectors2textgrid(columns, fresh["loop"]),
        "loop of praatio build + save": lambda: [
            build_and_write_praatio(document, output)
            for document, output in zip(data, fresh["praatio"]())],
    }
    times = median_times(writes, runs, {"loop of praatio build + save": PEER_BUDGET_SECONDS})
    print_table("write", times, "velmar vectors2textgrids", figure)
    return [
        goal_line("vectors2textgrids vs a loop of vectors2textgrid",
                  ratio(times, "loop of vectors2textgrid", "velmar vectors2textgrids", figure),
                  1.8),
        goal_line("vectors2textgrids vs a loop of praatio",
                  ratio(times, "loop of praatio build + save", "velmar vectors2textgrids",
                        figure), 50),
    ]


def run_text(path, runs, figure=0):
    """Prints the figures of reading the large file from memory; returns the goal line."""
    content = Path(path).read_bytes()
    print(f"\nread from memory: {len(content) / 1e6:.1f} MB long layout, median of {runs}")
    reads = {
        "velmar text2data (bytes)": lambda: velmar.text2data(content, True, "auto"),
        "velmar textgrid2data (file)": lambda: velmar.textgrid2data(str(path), True, "auto"),
        "velmar text2vectors (bytes)": lambda: velmar.text2vectors(content, True, "auto"),
        "velmar textgrid2vectors (file)": lambda: velmar.textgrid2vectors(str(path), True,
                                                                          "auto"),
    }
    times = median_times(reads, runs)
    print_table("read", times, "velmar text2data (bytes)", figure)
    return goal_line("text2data on bytes vs textgrid2data, large file",
                     ratio(times, "velmar textgrid2data (file)", "velmar text2data (bytes)",
                           figure), 1)


def run(paths, large_path, runs, figure=0):
    """Both parts on a written corpus and the large file; returns the goal lines."""
    return run_writes(paths, runs, figure) + [run_text(large_path, runs, figure)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=2_000)
    parser.add_argument("--items", type=int, default=150_000, help="items in the large file")
    parser.add_argument("--runs", type=int, default=5, help="runs per figure (median counts)")
    parser.add_argument("--cpu", action="store_true",
                        help="measure processor time of all threads instead of wall time")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="velmar-writes-") as tmp:
        workdir = Path(tmp)
        large_path = write_sample(workdir, "large", args.items)[0]
        corpus = workdir / "corpus"
        corpus.mkdir()
        goals = run(write_corpus(corpus, args.files), large_path, args.runs,
                    1 if args.cpu else 0)
    print()
    print("\n".join(goals))


if __name__ == "__main__":
    main()
