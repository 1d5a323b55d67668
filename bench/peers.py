#!/usr/bin/env python3
"""Read and write times of velmar against the Python TextGrid libraries.

Generates TextGrid files (long layout, as Praat writes them) in a temporary
directory and, in one run, times on the same files:

  read   velmar.textgrid2data, velmar.textgrid2vectors, praatio, textgrid, tgt,
         and orjson.loads and json.loads of the same data as JSON, file read
         included (the practical floor for turning text into Python objects);
  write  velmar.data2textgrid from plain data (long layout), json.dumps and
         orjson.dumps + file write, praatio building its objects from the same
         plain data and saving them, and each peer saving the document it has
         just read (its best case: building its objects is not counted).

Each figure is the median of --runs runs, taken in turns (one run of every
contestant per round); the ratio is time / velmar's time. The large file's
goals are printed as `goal` lines. With --cpu the figures are processor time
of the whole process (all threads) instead of wall time.
Peers that are not installed are reported and skipped.

    python bench/peers.py [--items 150000] [--small 2000] [--runs 5] [--cpu]
"""

import argparse
import array
import json
import os
import tempfile
from functools import partial
from pathlib import Path

import velmar
from common import goal_line, item_count, make_data, median_times, ratio

# Peers that no goal names stop repeating once their runs took this long.
PEER_BUDGET_SECONDS = 10.0


# --- the file as Praat writes it ----------------------------------------------

def number(x):
    return "%.15g" % x


def praat_long_text(tmin, tmax, tiers):
    """The long layout as Praat writes it on Linux (LF, trailing spaces)."""
    out = ['File type = "ooTextFile"', 'Object class = "TextGrid"', "",
           f"xmin = {number(tmin)} ", f"xmax = {number(tmax)} ", "tiers? <exists> ",
           f"size = {len(tiers)} ", "item []: "]
    for t, (name, is_interval, items) in enumerate(tiers, 1):
        out += [f"    item [{t}]:",
                f'        class = "{"IntervalTier" if is_interval else "TextTier"}" ',
                f'        name = "{name}" ', f"        xmin = {number(tmin)} ",
                f"        xmax = {number(tmax)} "]
        if is_interval:
            out.append(f"        intervals: size = {len(items)} ")
            for i, (a, b, label) in enumerate(items, 1):
                out += [f"        intervals [{i}]:", f"            xmin = {number(a)} ",
                        f"            xmax = {number(b)} ", f'            text = "{label}" ']
        else:
            out.append(f"        points: size = {len(items)} ")
            for i, (a, _, label) in enumerate(items, 1):
                out += [f"        points [{i}]:", f"            number = {number(a)} ",
                        f'            mark = "{label}" ']
    return "\n".join(out) + "\n"


def write_sample(directory, label, items):
    """The generated file and the same data as JSON; returns both paths and the data."""
    data = make_data(items)
    path = directory / f"{label}.TextGrid"
    path.write_text(praat_long_text(*data), encoding="utf-8")
    json_path = directory / f"{label}.json"
    json_path.write_text(json.dumps(list(data)), encoding="utf-8")
    return path, json_path, data


# --- the contestants ----------------------------------------------------------

def read_praatio(path):
    from praatio import textgrid
    return textgrid.openTextgrid(str(path), includeEmptyIntervals=True, reportingMode="silence")


def write_praatio(document, path):
    document.save(str(path), format="long_textgrid", includeBlankSpaces=True,
                  reportingMode="silence")


def build_and_write_praatio(data, path):
    """praatio's way from plain data to a file: its tier objects, then save."""
    from praatio import textgrid
    tmin, tmax, tiers = data
    document = textgrid.Textgrid(tmin, tmax)
    for name, is_interval, items in tiers:
        if is_interval:
            tier = textgrid.IntervalTier(name, items, tmin, tmax)
        else:
            tier = textgrid.PointTier(name, [(time, label) for time, _, label in items],
                                      tmin, tmax)
        document.addTier(tier, reportingMode="silence")
    write_praatio(document, path)


def read_textgrid_lib(path):
    import textgrid
    return textgrid.TextGrid.fromFile(str(path))


def write_textgrid_lib(document, path):
    document.write(str(path))


def read_tgt(path):
    import tgt
    return tgt.io.read_textgrid(str(path), include_empty_intervals=True)


def write_tgt(document, path):
    import tgt
    tgt.io.write_to_file(document, str(path), format="long")


def read_orjson(json_path):
    import orjson
    return orjson.loads(json_path.read_bytes())


def write_orjson(data, path):
    import orjson
    path.write_bytes(orjson.dumps(data))


PEERS = [("praatio", read_praatio, write_praatio),
         ("textgrid", read_textgrid_lib, write_textgrid_lib),
         ("tgt", read_tgt, write_tgt)]
# The peers a goal is measured against run every round, whatever they cost.
GOAL_PEERS = {"tgt", "praatio build + save"}


def budgets(names):
    return {name: PEER_BUDGET_SECONDS for name in names if name not in GOAL_PEERS}


OBJECTS_ONLY = "textgrid2data objects only"


def objects_only(files):
    """A call that builds what textgrids2data(files) returns from columns read
    beforehand, with the module's calls and sharing (bench/object_floor.cpp),
    each distinct label made once: the calling thread's share of the read,
    which no parse can take off it. None where that extension is not built (it
    comes with the build tree only)."""
    try:
        import _object_floor
    except ImportError:
        return None
    documents = velmar.textgrids2data(files, True, "auto")
    shapes = [(tmin, tmax, [(name, is_interval, len(items)) for name, is_interval, items in tiers])
              for tmin, tmax, tiers in documents]
    tmins, tmaxs, labels = velmar.textgrids2vectors(files, True, "auto")[:3]
    numbers = {}
    label_numbers = array.array("q", (numbers.setdefault(label, len(numbers)) for label in labels))
    distinct = [label.encode("utf-8") for label in numbers]
    del labels

    def build():
        return _object_floor.build(shapes, tmins, tmaxs, distinct, label_numbers)

    if build() != documents:
        raise SystemExit("object_floor built something else than velmar reads")
    return build


def read_times(path, json_path, runs):
    reads = {
        "velmar textgrid2data": lambda: velmar.textgrid2data(str(path), True, "auto"),
        "velmar textgrid2vectors": lambda: velmar.textgrid2vectors(str(path), True, "auto"),
        "orjson.loads": lambda: read_orjson(json_path),
        "json.loads": lambda: json.loads(json_path.read_text(encoding="utf-8")),
    }
    if build_objects := objects_only([str(path)]):
        reads[OBJECTS_ONLY] = build_objects
    for name, read, _ in PEERS:
        reads[name] = partial(read, path)
    return median_times(reads, runs, budgets(reads))


def write_times(path, data, out_dir, runs):
    tmin, tmax, tiers = data
    writes = {
        "velmar data2textgrid": lambda: velmar.data2textgrid(
            tiers, tmin, tmax, str(out_dir / "velmar.TextGrid"), "long"),
        "json.dumps + write": lambda: (out_dir / "floor.json").write_text(
            json.dumps([tmin, tmax, tiers]), encoding="utf-8"),
        "orjson.dumps + write": lambda: write_orjson([tmin, tmax, tiers],
                                                     out_dir / "floor-orjson.json"),
        "praatio build + save": lambda: build_and_write_praatio(
            data, out_dir / "praatio-built.TextGrid"),
    }
    for name, read, write in PEERS:
        try:
            document = read(path)
        except Exception:
            continue  # the read table already says why
        writes[f"{name} save only"] = partial(write, document, out_dir / f"{name}.TextGrid")
    return median_times(writes, runs, budgets(writes))


def print_table(title, times, reference, figure=0):
    """Times and each one's ratio to `reference`'s."""
    print(f"  {title:<28}{'median':>12}{'ratio':>10}")
    for name, times_ in times.items():
        if isinstance(times_, str):
            print(f"  {name:<28}{times_:>12}")
            continue
        value = ratio(times, name, reference, figure)
        shown = f"{value:9.1f}x" if isinstance(value, float) else ""
        print(f"  {name:<28}{times_[figure] * 1e3:>9.2f} ms{shown:>10}")


def print_objects_only(times, objects, whole, peer, goal, figure):
    """The caller's share (`objects`) of the call `whole`, against the time the
    goal against `peer` leaves the whole call: on an interpreter with a GIL one
    thread at a time makes objects."""
    if any(isinstance(times.get(name, "not run"), str) for name in (objects, whole, peer)):
        return
    print(f"  {whole.removeprefix('velmar ')}'s objects alone: {times[objects][figure] * 1e3:.2f} "
          f"ms of its {times[whole][figure] * 1e3:.2f} ms; the goal against {peer} needs "
          f"{times[peer][figure] * 1e3 / goal:.2f} ms in all")


def run_case(label, path, json_path, data, runs, figure=0):
    """Prints the read and write tables; returns the goal lines of the large file."""
    out_dir = path.parent / f"{label}-out"
    out_dir.mkdir(exist_ok=True)
    print(f"\n{label}: {item_count(data[2])} items in {len(data[2])} tiers, "
          f"{path.stat().st_size / 1e6:.1f} MB long layout, median of {runs}")
    reads = read_times(path, json_path, runs)
    print_table("read", reads, "velmar textgrid2data", figure)
    print_objects_only(reads, OBJECTS_ONLY, "velmar textgrid2data", "orjson.loads", 2.5, figure)
    writes = write_times(path, data, out_dir, runs)
    print_table("write", writes, "velmar data2textgrid", figure)
    return [
        goal_line("textgrid2data vs orjson.loads, large file",
                  ratio(reads, "orjson.loads", "velmar textgrid2data", figure), 2.5),
        goal_line("textgrid2data vs tgt, large file",
                  ratio(reads, "tgt", "velmar textgrid2data", figure), 35),
        goal_line("data2textgrid long vs praatio build + save",
                  ratio(writes, "praatio build + save", "velmar data2textgrid", figure), 30),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--items", type=int, default=150_000, help="items in the large file")
    parser.add_argument("--small", type=int, default=2_000,
                        help="items in the small file (0: none)")
    parser.add_argument("--runs", type=int, default=5, help="runs per figure (median counts)")
    parser.add_argument("--cpu", action="store_true",
                        help="measure processor time of all threads instead of wall time")
    args = parser.parse_args()
    figure = 1 if args.cpu else 0
    print(f"velmar vs. peers, {os.cpu_count()} logical processors, "
          f"{'processor' if args.cpu else 'wall'} time")
    with tempfile.TemporaryDirectory(prefix="velmar-peers-") as tmp:
        workdir = Path(tmp)
        if args.small:
            run_case("small", *write_sample(workdir, "small", args.small),
                     max(args.runs, 21), figure)
        goals = run_case("large", *write_sample(workdir, "large", args.items), args.runs, figure)
    print()
    print("\n".join(goals))


if __name__ == "__main__":
    main()
