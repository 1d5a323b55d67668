#!/usr/bin/env python3
"""textgrid2vectors against orjson.loads and textgrid2data on one large file,
and the way back.

Writes a long-layout TextGrid of about --items items as Praat writes it (words,
syllables, phones and a point tier; the file bench/peers.py times) and the same
data as JSON, then prints, median of --runs runs taken in turns:

  read    textgrid2data, textgrid2vectors, orjson.loads and json.loads of the
          JSON (file read included); textgrid2vectors held to one processor,
          and the bound that sets on all of them; the goal line
  write   data2textgrid, vectors2textgrid from the columns just read
  utf-16  both reads of the same file saved as UTF-16, as Praat 6 saves text
          beyond ASCII, against the UTF-8 file
  memory  resident size before and after --rounds rounds of textgrid2vectors
          whose arrays and views are dropped (should stay flat)

    python bench/vectors.py [--items 150000] [--runs 5] [--rounds 50] [--cpu]
"""

import argparse
import codecs
import gc
import json
import os
import tempfile
from pathlib import Path

import velmar
from common import goal_line, item_count, median_times, ratio
from peers import print_table, read_orjson, write_sample


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def on_one_processor(action):
    """`action` with the calling thread allowed one processor: velmar then does
    all of a call's work there, in one pass, with nothing side by side."""
    def pinned():
        allowed = os.sched_getaffinity(0)
        os.sched_setaffinity(0, {min(allowed)})
        try:
            return action()
        finally:
            os.sched_setaffinity(0, allowed)
    return pinned


def print_bound(reads, one_core, figure):
    """About the least wall time textgrid2vectors can take on this machine's
    processors: one processor's work spread evenly over all of them (read side
    by side, the same call takes about as much processor time in all), next
    to the time the goal needs."""
    names = (one_core, "velmar textgrid2vectors", "orjson.loads")
    if any(isinstance(reads.get(name, "not run"), str) for name in names):
        return
    cores = len(os.sched_getaffinity(0))
    alone, side_by_side = reads[one_core][1], reads["velmar textgrid2vectors"][1]
    print(f"  processor time of textgrid2vectors: {alone * 1e3:.2f} ms on one core, "
          f"{side_by_side * 1e3:.2f} ms on {cores}")
    print(f"  bound on {cores} processors: {alone * 1e3 / cores:.2f} ms "
          f"(processor time on one, spread evenly); the goal needs "
          f"{reads['orjson.loads'][figure] * 1e3 / 4:.2f} ms")


def read_goal(path, json_path, runs, figure):
    source = str(path)

    def vectors():
        return velmar.textgrid2vectors(source, True, "auto")

    actions = {
        "velmar textgrid2vectors": vectors,
        "velmar textgrid2data": lambda: velmar.textgrid2data(source, True, "auto"),
        "orjson.loads": lambda: read_orjson(json_path),
        "json.loads": lambda: json.loads(json_path.read_text(encoding="utf-8")),
    }
    one_core = "textgrid2vectors, 1 core"
    if hasattr(os, "sched_setaffinity"):
        actions[one_core] = on_one_processor(vectors)
    reads = median_times(actions, runs)
    print_table("read", reads, "velmar textgrid2vectors", figure)
    value = ratio(reads, "velmar textgrid2data", "velmar textgrid2vectors", figure)
    if isinstance(value, float):
        print(f"  textgrid2vectors vs textgrid2data: {value:.2f}x")
    print_bound(reads, one_core, figure)
    return goal_line("textgrid2vectors vs orjson.loads, large file",
                     ratio(reads, "orjson.loads", "velmar textgrid2vectors", figure), 4)


def write_figures(path, runs, figure):
    source = str(path)
    data = velmar.textgrid2data(source, False, "auto")
    vectors = velmar.textgrid2vectors(source, False, "auto")
    out = str(path.parent / "vectors-out.TextGrid")
    writes = median_times({
        "velmar data2textgrid": lambda: velmar.data2textgrid(
            data[2], data[0], data[1], out, "long"),
        "velmar vectors2textgrid": lambda: velmar.vectors2textgrid(
            *vectors, data[0], data[1], out, "long"),
    }, runs)
    print_table("write", writes, "velmar data2textgrid", figure)


def utf16_figures(path, runs, figure):
    utf16 = path.with_name("large-utf16.TextGrid")
    utf16.write_bytes(codecs.BOM_UTF16_BE + path.read_text(encoding="utf-8").encode("utf-16-be"))
    reads = {}
    for function in ("textgrid2data", "textgrid2vectors"):
        for name, source in (("UTF-8", str(path)), ("UTF-16", str(utf16))):
            reads[f"{function}, {name}"] = (
                lambda read=getattr(velmar, function), source=source: read(source, True, "auto"))
    print_table("utf-16", median_times(reads, runs), "textgrid2data, UTF-8", figure)
    utf16.unlink()


def memory_flat(path, rounds):
    source = str(path)
    for _ in range(3):
        velmar.textgrid2vectors(source, False, "auto")
    gc.collect()
    before = rss()
    for _ in range(rounds):
        tmins, tmaxs, labels, names, flags = velmar.textgrid2vectors(source, False, "auto")
        views = [tmins[::3], tmaxs[1:], flags.reshape(-1, 1)]
        del tmins, tmaxs, flags, labels, names
        views.clear()
    gc.collect()
    after = rss()
    print(f"  memory, {rounds} rounds: RSS {before / 2**20:.1f} -> {after / 2**20:.1f} MiB "
          f"({(after - before) / 2**20:+.1f} MiB)")


def run(path, json_path, data, runs, rounds, figure=0):
    """Prints the figures; returns the goal line."""
    print(f"\nvectors: {item_count(data[2])} items, {path.stat().st_size / 1e6:.1f} MB "
          f"long layout, median of {runs}")
    goal = read_goal(path, json_path, runs, figure)
    write_figures(path, runs, figure)
    utf16_figures(path, runs, figure)
    memory_flat(path, rounds)
    return goal


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--items", type=int, default=150_000)
    parser.add_argument("--runs", type=int, default=5, help="runs per figure (median counts)")
    parser.add_argument("--rounds", type=int, default=50)
    parser.add_argument("--cpu", action="store_true",
                        help="measure processor time of all threads instead of wall time")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="velmar-vectors-") as directory:
        sample = write_sample(Path(directory), "large", args.items)
        goal = run(*sample, args.runs, args.rounds, 1 if args.cpu else 0)
    print()
    print(goal)


if __name__ == "__main__":
    main()
