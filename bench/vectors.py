#!/usr/bin/env python3
"""textgrid2vectors against textgrid2data on one large file, and the way back.

Writes a long-layout TextGrid of about --items items (words, syllables, phones
and a point tier) and prints, best of --runs:

  read    textgrid2data, textgrid2vectors, and their ratio (goal: >= 2)
  write   data2textgrid, vectors2textgrid from the columns just read
  memory  resident size before and after --rounds rounds of textgrid2vectors
          whose arrays and views are dropped (should stay flat)

    python bench/vectors.py [--items 150000] [--runs 7] [--rounds 50]
"""

import argparse
import gc
import os
import tempfile

import velmar
from common import best_times, item_count, make_data


def show(kind, name, figures, reference=None, goal=""):
    line = f"{kind:6} {name:17} {figures[0] * 1e3:8.1f} ms wall {figures[1] * 1e3:8.1f} ms cpu"
    if reference:
        line += (f"   ratio {reference[0] / figures[0]:.2f} wall, "
                 f"{reference[1] / figures[1]:.2f} cpu{goal}")
    print(line)


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--items", type=int, default=150_000)
    parser.add_argument("--runs", type=int, default=11)
    parser.add_argument("--rounds", type=int, default=50)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as directory:
        source = os.path.join(directory, "large.TextGrid")
        tmin, tmax, tiers = make_data(args.items)
        velmar.data2textgrid(tiers, tmin, tmax, source, "long")
        print(f"file: {item_count(tiers)} items, "
              f"{os.path.getsize(source) / 2**20:.1f} MiB, long layout")

        data_time = best_times(lambda: velmar.textgrid2data(source, False, "long"), args.runs)
        vectors_time = best_times(lambda: velmar.textgrid2vectors(source, False, "long"),
                                  args.runs)
        show("read", "textgrid2data", data_time)
        show("read", "textgrid2vectors", vectors_time, data_time, " (goal >= 2)")

        data = velmar.textgrid2data(source, False, "long")
        vectors = velmar.textgrid2vectors(source, False, "long")
        out = os.path.join(directory, "out.TextGrid")
        write_data = best_times(
            lambda: velmar.data2textgrid(data[2], data[0], data[1], out, "long"), args.runs)
        write_vectors = best_times(
            lambda: velmar.vectors2textgrid(*vectors, tmin, tmax, out, "long"), args.runs)
        show("write", "data2textgrid", write_data)
        show("write", "vectors2textgrid", write_vectors, write_data)
        del data, vectors

        for _ in range(3):
            velmar.textgrid2vectors(source, False, "long")
        gc.collect()
        before = rss()
        for _ in range(args.rounds):
            tmins, tmaxs, labels, names, flags = velmar.textgrid2vectors(source, False, "long")
            views = [tmins[::3], tmaxs[1:], flags.reshape(-1, 1)]
            del tmins, tmaxs, flags, labels, names
            views.clear()
        gc.collect()
        after = rss()
        print(f"memory {args.rounds} rounds: RSS {before / 2**20:.1f} -> {after / 2**20:.1f} MiB "
              f"({(after - before) / 2**20:+.1f} MiB)")


if __name__ == "__main__":
    main()
