#!/usr/bin/env python3
"""Batch reading of a corpus of small TextGrid files.

Generates a corpus (default 2,000 files of 43 to 340 items, long layout as
Praat writes it) in a temporary directory and times, on the same files:

  velmar.textgrids2data, velmar.textgrids2vectors and velmar.textgrids2arrow
  over the whole list;
  a Python loop of velmar.textgrid2data and of velmar.textgrid2vectors;
  a Python loop of each peer's reader (praatio, textgrid, tgt), if installed.

Given read_bench (--read-bench, as goals.py does), it also prints the least
work of the batch: the objects alone, plus one thread's loading and the
yardstick parse of the same files, spread over every core; and the floor of
the Arrow read, which makes no objects: the loading and the library's parse
spread over every core.

Each figure is the median of --runs runs taken in turns (praatio and textgrid
stop early once their runs take long); the ratio is time / textgrids2data's
time. The goals are printed as `goal` lines.

    python bench/batch.py [--files 2000] [--runs 5] [--cpu] [--read-bench PATH]
"""

import argparse
import os
import random
import re
import subprocess
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


CORPUS_COSTS = {"load_text of each": "load", "parse of each, one pass": "parse",
                "least line-by-line reading of each": "yardstick"}


def corpus_costs(read_bench, paths):
    """One thread's processor seconds for loading `paths`, parsing them and the
    yardstick parse (read_bench --corpus), or None without read_bench."""
    if not read_bench or not Path(read_bench).exists():
        return None
    done = subprocess.run([str(read_bench), "--corpus", *paths], capture_output=True, text=True)
    costs = {}
    for line in done.stdout.splitlines():
        if found := re.match(r"\s+(.+?)\s{2,}.*cpu\s+([\d.]+) ms$", line):
            if found[1] in CORPUS_COSTS:
                costs[CORPUS_COSTS[found[1]]] = float(found[2]) / 1e3
    return costs if len(costs) == len(CORPUS_COSTS) else None


def print_least_work(times, costs, goal):
    """What the batch costs at the least: the objects, on the one thread that
    may make them, and reading at the yardstick's pace, all spread over every
    core (label strs and the hand-over not counted), against the time the goal
    against tgt leaves."""
    objects, peer = times.get("textgrids2data objects only"), times.get("loop of tgt")
    if costs is None or not all(isinstance(figures, tuple) for figures in (objects, peer)):
        return
    cores = len(os.sched_getaffinity(0))
    least = objects[1] + costs["load"] + costs["yardstick"]
    ours = objects[1] + costs["load"] + costs["parse"]
    print(f"  least work: objects {objects[1] * 1e3:.1f} + loading {costs['load'] * 1e3:.1f} + "
          f"yardstick parse {costs['yardstick'] * 1e3:.1f} ms of processor time, "
          f"{least / cores * 1e3:.1f} ms on {cores} cores ({ours / cores * 1e3:.1f} ms with "
          f"velmar's parse, {costs['parse'] * 1e3:.1f} ms); the goal against tgt leaves "
          f"{peer[0] / goal * 1e3:.1f} ms")


def print_arrow_floor(times, costs, goal):
    """The Arrow read against its floor, the loading and the library's parse of
    the files spread over every core, and against the time the goal against
    tgt leaves it."""
    arrow, peer = times.get("velmar textgrids2arrow"), times.get("loop of tgt")
    if costs is None or not isinstance(arrow, tuple):
        return
    cores = len(os.sched_getaffinity(0))
    floor = (costs["load"] + costs["parse"]) / cores
    left = f"; the goal against tgt leaves {peer[0] / goal * 1e3:.1f} ms" if isinstance(
        peer, tuple) else ""
    print(f"  textgrids2arrow: {arrow[0] * 1e3:.1f} ms ({arrow[1] * 1e3:.1f} ms of processor "
          f"time); its floor, loading and parse on {cores} cores: {floor * 1e3:.1f} ms{left}")


def run(paths, runs, figure=0, read_bench=None):
    """Prints the figures; returns the goal lines."""
    size_mb = sum(os.path.getsize(p) for p in paths) / 1e6
    rows = velmar.textgrids2vectors(paths, True, "auto")[0].size
    print(f"\nbatch: {len(paths)} files, {rows} items, {size_mb:.1f} MB, "
          f"{os.cpu_count()} logical processors, median of {runs}")
    reads = {
        "velmar textgrids2data": lambda: velmar.textgrids2data(paths, True, "auto"),
        "velmar textgrids2vectors": lambda: velmar.textgrids2vectors(paths, True, "auto"),
        "velmar textgrids2arrow": lambda: velmar.textgrids2arrow(paths, True, "auto"),
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
    costs = corpus_costs(read_bench, paths)
    print_least_work(times, costs, 50)
    print_arrow_floor(times, costs, 80)
    return [
        goal_line("textgrids2data vs a loop of textgrid2data",
                  ratio(times, "loop of textgrid2data", "velmar textgrids2data", figure), 1.9),
        goal_line("textgrids2data vs a loop of tgt",
                  ratio(times, "loop of tgt", "velmar textgrids2data", figure), 50),
        goal_line("textgrids2arrow vs textgrids2data",
                  ratio(times, "velmar textgrids2data", "velmar textgrids2arrow", figure), 2),
        goal_line("textgrids2arrow vs a loop of tgt",
                  ratio(times, "loop of tgt", "velmar textgrids2arrow", figure), 80),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=2_000)
    parser.add_argument("--runs", type=int, default=5, help="runs per figure (median counts)")
    parser.add_argument("--cpu", action="store_true",
                        help="measure processor time of all threads instead of wall time")
    parser.add_argument("--read-bench", type=Path,
                        help="read_bench of the build, for the least work of the batch")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="velmar-batch-") as tmp:
        goals = run(write_corpus(Path(tmp), args.files), args.runs, 1 if args.cpu else 0,
                    args.read_bench)
    print()
    print("\n".join(goals))


if __name__ == "__main__":
    main()
