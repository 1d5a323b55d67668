#!/usr/bin/env python3
"""Batch reading of a corpus of small TextGrid files.

Generates a corpus (default 2,000 files of 43 to 340 items, long layout as
Praat writes it) in a temporary directory and times, on the same files:

  velmar.textgrids2data and velmar.textgrids2vectors over the whole list;
  a Python loop of velmar.textgrid2data and of velmar.textgrid2vectors;
  a Python loop of each peer's reader (praatio, textgrid, tgt), if installed.

Each figure is the median of --runs runs taken in turns (praatio and textgrid
stop early once their runs take long); the ratio is time / textgrids2data's
time. The goals are printed as `goal` lines.

    python bench/batch.py [--files 2000] [--runs 5] [--cpu]
"""

import argparse
import os
import random
import tempfile
from pathlib import Path

import velmar
from common import goal_line, make_data, median_times, ratio
from peers import (PEER_BUDGET_SECONDS, PEERS, objects_only, praat_long_text, print_objects_only,
                   print_table)


def write_corpus(directory, count, seed=11):
    """`count` files of 43 to 340 items each; returns their paths."""
    rng = random.Random(seed)
    paths = []
    for k in range(count):
        path = directory / f"utterance{k:05d}.TextGrid"
        path.write_text(praat_long_text(*make_data(rng.randint(43, 340), seed=k)),
                        encoding="utf-8")
        paths.append(str(path))
    return paths


def loop(read, paths):
    return lambda: [read(path) for path in paths]


def run(paths, runs, figure=0):
    """Prints the figures; returns the goal lines."""
    size_mb = sum(os.path.getsize(p) for p in paths) / 1e6
    rows = velmar.textgrids2vectors(paths, True, "auto")[0].size
    print(f"\nbatch: {len(paths)} files, {rows} items, {size_mb:.1f} MB, "
          f"{os.cpu_count()} logical processors, median of {runs}")
    reads = {
        "velmar textgrids2data": lambda: velmar.textgrids2data(paths, True, "auto"),
        "velmar textgrids2vectors": lambda: velmar.textgrids2vectors(paths, True, "auto"),
        "loop of textgrid2data": loop(lambda p: velmar.textgrid2data(p, True, "auto"), paths),
        "loop of textgrid2vectors": loop(lambda p: velmar.textgrid2vectors(p, True, "auto"),
                                         paths),
    }
    if build_objects := objects_only(paths):
        reads["textgrids2data objects only"] = build_objects
    for name, read, _ in PEERS:
        reads[f"loop of {name}"] = loop(read, paths)
    times = median_times(reads, runs, {f"loop of {name}": PEER_BUDGET_SECONDS
                                       for name, _, _ in PEERS if name != "tgt"})
    print_table("read", times, "velmar textgrids2data", figure)
    vectors = ratio(times, "loop of textgrid2vectors", "velmar textgrids2vectors", figure)
    if isinstance(vectors, float):
        print(f"  textgrids2vectors vs its loop: {vectors:.2f}x")
    print_objects_only(times, "textgrids2data objects only", "velmar textgrids2data",
                       "loop of tgt", 50, figure)
    return [
        goal_line("textgrids2data vs a loop of textgrid2data",
                  ratio(times, "loop of textgrid2data", "velmar textgrids2data", figure), 1.9),
        goal_line("textgrids2data vs a loop of tgt",
                  ratio(times, "loop of tgt", "velmar textgrids2data", figure), 50),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=2_000)
    parser.add_argument("--runs", type=int, default=5, help="runs per figure (median counts)")
    parser.add_argument("--cpu", action="store_true",
                        help="measure processor time of all threads instead of wall time")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="velmar-batch-") as tmp:
        goals = run(write_corpus(Path(tmp), args.files), args.runs, 1 if args.cpu else 0)
    print()
    print("\n".join(goals))


if __name__ == "__main__":
    main()
