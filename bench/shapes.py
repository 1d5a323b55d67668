#!/usr/bin/env python3
"""The large file of peers.py as other writers shape it, each read with
textgrid2data and textgrid2vectors next to the file as Praat writes it with
round times (`plain`):

  tabs      indented with tabs, as forced aligners write
  digits17  times of 16 and 17 significant digits, as Praat writes the ones
            it computed
  points    every tier a point tier ("number = ..." lines)
  utf16     saved as UTF-16, as Praat 6 saves any text beyond ASCII
  short     the short layout

and calls on a file of one interval: what a call costs besides its rows.
Each figure is the median of --runs runs taken in turns.

    python bench/shapes.py [--items 150000] [--runs 5]
"""

import argparse
import codecs
import random
import re
import statistics
import tempfile
import timeit
from pathlib import Path

import velmar
from common import make_data, median_times
from peers import praat_long_text

CALLS_ON_TINY_FILE = 2000


def nudged(data, seed=5):
    """Every boundary moved off its round value by up to a millisecond."""
    rng = random.Random(seed)
    moved = {}

    def move(t):
        if t not in moved:
            moved[t] = t + rng.uniform(-1e-3, 1e-3) if t > 0.01 else t
        return moved[t]

    tmin, tmax, tiers = data
    return tmin, move(tmax), [(name, is_interval, [(move(a), move(b), label)
                                                    for a, b, label in items])
                              for name, is_interval, items in tiers]


def write_shapes(directory, items):
    data = make_data(items)
    tmin, tmax, tiers = data
    plain = praat_long_text(*data)
    paths = {name: directory / f"{name}.TextGrid" for name in
             ("plain", "tabs", "digits17", "points", "utf16", "short")}
    paths["plain"].write_text(plain, encoding="utf-8")
    paths["tabs"].write_text(
        re.sub(r"^( +)", lambda m: "\t" * (len(m[1]) // 4), plain, flags=re.M), encoding="utf-8")
    moved_min, moved_max, moved = nudged(data)
    velmar.data2textgrid(moved, moved_min, moved_max, str(paths["digits17"]), "long")
    points = [(name, False, [(a, a, label) for a, _, label in rows]) for name, _, rows in tiers]
    velmar.data2textgrid(points, tmin, tmax, str(paths["points"]), "long")
    paths["utf16"].write_bytes(codecs.BOM_UTF16_BE + plain.encode("utf-16-be"))
    velmar.data2textgrid(tiers, tmin, tmax, str(paths["short"]), "short")
    return paths


def read_figures(paths, runs):
    actions = {}
    for name, path in paths.items():
        for function in ("textgrid2data", "textgrid2vectors"):
            actions[(name, function)] = (
                lambda read=getattr(velmar, function), source=str(path): read(source, True, "auto"))
    times = median_times(actions, runs)
    print(f"  {'shape':<10}{'MB':>7}{'textgrid2data':>18}{'textgrid2vectors':>20}")
    for name, path in paths.items():
        cells = []
        for function in ("textgrid2data", "textgrid2vectors"):
            wall, plain = times[(name, function)][0], times[("plain", function)][0]
            cells.append(f"{wall * 1e3:7.2f} ms {wall / plain:4.2f}x")
        print(f"  {name:<10}{path.stat().st_size / 1e6:>7.1f}{cells[0]:>18}{cells[1]:>20}")


def tiny_file_figures(directory, runs):
    path = str(directory / "tiny.TextGrid")
    velmar.data2textgrid([("words", True, [(0.0, 1.0, "a")])], 0.0, 1.0, path, "long")
    for function in ("textgrid2data", "textgrid2vectors"):
        read = getattr(velmar, function)
        seconds = statistics.median(timeit.repeat(
            lambda: read(path, True, "auto"), number=CALLS_ON_TINY_FILE, repeat=runs))
        print(f"  {function} of a file of one interval: "
              f"{seconds / CALLS_ON_TINY_FILE * 1e6:.1f} us a call")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--items", type=int, default=150_000)
    parser.add_argument("--runs", type=int, default=5, help="runs per figure (median counts)")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="velmar-shapes-") as name:
        directory = Path(name)
        print(f"\nshapes: {args.items} items, median of {args.runs}; ratios to plain")
        read_figures(write_shapes(directory, args.items), args.runs)
        tiny_file_figures(directory, args.runs)


if __name__ == "__main__":
    main()
