#!/usr/bin/env python3
"""textgrid2vectors against textgrid2data on one large file, and the way back.

Writes a long-layout TextGrid of about --items items (words, phones and a point
tier) and prints, best of --runs:

  read    textgrid2data, textgrid2vectors, and their ratio (goal: >= 2)
  write   data2textgrid, vectors2textgrid from the columns just read
  memory  resident size before and after --rounds rounds of textgrid2vectors
          whose arrays and views are dropped (should stay flat)

    python bench/vectors.py [--items 150000] [--runs 7] [--rounds 50]
"""

import argparse
import gc
import os
import random
import tempfile
import time

import velmar


def make_tiers(items, seed=11):
    rng = random.Random(seed)
    vocabulary = ["".join(rng.choice("abcdefghiklmnoprstuwy") for _ in range(rng.randint(2, 9)))
                  for _ in range(400)]
    phones_count = items * 6 // 10
    phones, words, tones = [], [], []
    t = 0.0
    for i in range(phones_count):
        d = round(rng.uniform(0.03, 0.15), 3)
        phones.append((t, round(t + d, 3), rng.choice(("AA", "B", "SH", "IY", "ŋ", "ə", ""))))
        if i % 3 == 0:
            words.append([t, t, rng.choice(vocabulary)])
        words[-1][1] = round(t + d, 3)
        t = round(t + d, 3)
    words = [tuple(w) for w in words]
    room = items - len(phones) - len(words)
    step = t / max(room, 1)
    tones = [(round(k * step, 4), round(k * step, 4), "H*") for k in range(max(room, 0))]
    return t, [("words", True, words), ("phones", True, phones), ("tones", False, tones)]


def best(function, runs):
    """Best wall time and best CPU time of all threads (the latter is steadier on
    a busy machine)."""
    wall, cpu = [], []
    for _ in range(runs):
        gc.collect()
        start, start_cpu = time.perf_counter(), time.process_time()
        result = function()
        wall.append(time.perf_counter() - start)
        cpu.append(time.process_time() - start_cpu)
        del result
    return min(wall), min(cpu)


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
        end, tiers = make_tiers(args.items)
        velmar.data2textgrid(tiers, 0.0, end, source, "long")
        rows = sum(len(items) for _, _, items in tiers)
        print(f"file: {rows} items, {os.path.getsize(source) / 2**20:.1f} MiB, long layout")

        data_time = best(lambda: velmar.textgrid2data(source, False, "long"), args.runs)
        vectors_time = best(lambda: velmar.textgrid2vectors(source, False, "long"), args.runs)
        show("read", "textgrid2data", data_time)
        show("read", "textgrid2vectors", vectors_time, data_time, " (goal >= 2)")

        data = velmar.textgrid2data(source, False, "long")
        vectors = velmar.textgrid2vectors(source, False, "long")
        out = os.path.join(directory, "out.TextGrid")
        write_data = best(lambda: velmar.data2textgrid(data[2], data[0], data[1], out, "long"),
                          args.runs)
        write_vectors = best(lambda: velmar.vectors2textgrid(*vectors, 0.0, end, out, "long"),
                             args.runs)
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
