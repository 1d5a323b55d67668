#!/usr/bin/env python3
"""Batch reading of a corpus of small TextGrid files.

Generates a corpus (default 2,000 files of 43 to 340 items, long layout as
Praat writes it) in a temporary directory and times, on the same files:

  velmar.textgrids2data and velmar.textgrids2vectors over the whole list;
  a Python loop of velmar.textgrid2data and of velmar.textgrid2vectors;
  a Python loop of each peer's reader (praatio, textgrid, tgt), if installed.

Each figure is the best of several runs (peers are stopped early once their runs
take long); the ratio is time / textgrids2data's time.

    python bench/batch.py [--files 2000] [--runs 7] [--cpu]
"""

import argparse
import os
import random
import tempfile
from pathlib import Path

import velmar
from common import make_data
from peers import PEERS, attempt, praat_long_text, print_table
import peers

PEER_BUDGET_SECONDS = 15.0


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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=2_000)
    parser.add_argument("--runs", type=int, default=7, help="runs per figure (best counts)")
    parser.add_argument("--cpu", action="store_true",
                        help="measure processor time of all threads instead of wall time")
    args = parser.parse_args()
    peers.figure = 1 if args.cpu else 0
    with tempfile.TemporaryDirectory(prefix="velmar-batch-") as tmp:
        paths = write_corpus(Path(tmp), args.files)
        size_mb = sum(os.path.getsize(p) for p in paths) / 1e6
        rows = velmar.textgrids2vectors(paths, True, "auto")[0].size
        print(f"{args.files} files, {rows} items, {size_mb:.1f} MB, "
              f"{os.cpu_count()} logical processors, "
              f"{'processor' if args.cpu else 'wall'} time, best of {args.runs}")
        runs = args.runs
        reads = [
            ("velmar textgrids2data",
             attempt(lambda: velmar.textgrids2data(paths, True, "auto"), runs)),
            ("velmar textgrids2vectors",
             attempt(lambda: velmar.textgrids2vectors(paths, True, "auto"), runs)),
            ("loop of textgrid2data",
             attempt(loop(lambda p: velmar.textgrid2data(p, True, "auto"), paths), runs)),
            ("loop of textgrid2vectors",
             attempt(loop(lambda p: velmar.textgrid2vectors(p, True, "auto"), paths), runs)),
        ]
        for name, read, _ in PEERS:
            reads.append((f"loop of {name}",
                          attempt(loop(read, paths), runs, PEER_BUDGET_SECONDS)))
        print_table("read", reads)
        times = {name: figure for name, figure in reads if isinstance(figure, float)}
        batch = times["velmar textgrids2data"]
        print(f"\n  textgrids2data vs its loop: {times['loop of textgrid2data'] / batch:.2f}x")
        vectors = times["velmar textgrids2vectors"]
        print(f"  textgrids2vectors vs its loop: "
              f"{times['loop of textgrid2vectors'] / vectors:.2f}x")
        peer_times = {name: times[f"loop of {name}"] for name, _, _ in PEERS
                      if f"loop of {name}" in times}
        if peer_times:
            fastest = min(peer_times, key=peer_times.get)
            print(f"  fastest peer ({fastest}) vs textgrids2data: "
                  f"{peer_times[fastest] / batch:.1f}x")


if __name__ == "__main__":
    main()
