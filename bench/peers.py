#!/usr/bin/env python3
"""Read and write times of velmar against the Python TextGrid libraries.

Generates TextGrid files (long layout, as Praat writes them) in a temporary
directory and, in one run, times on the same files:

  read   velmar.textgrid2data, velmar.textgrid2vectors, praatio, textgrid, tgt,
         and json.loads of the same data as JSON (the practical floor for turning
         text into Python objects);
  write  velmar.data2textgrid from plain data, json.dumps + file write, and each
         peer saving the document it has just read (its best case: building its
         objects from plain data is not counted).

Each figure is the best of several runs; the ratio is time / velmar's time.
With --cpu the figures are processor time of the whole process (all threads)
instead of wall time, which keeps them steady on a busy machine.
Peers that are not installed are reported and skipped.

    python bench/peers.py [--items 150000] [--small 2000] [--runs 5] [--cpu]
"""

import argparse
import json
import os
import tempfile
from pathlib import Path

import velmar
from common import best_times, item_count, make_data

PEER_BUDGET_SECONDS = 20.0  # stop repeating a peer once its runs take this long
figure = 0  # which of best_times' figures counts: 0 wall, 1 processor time


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


# --- timing -------------------------------------------------------------------

def attempt(action, runs, budget=None):
    """A time in seconds, or a short text saying why there is none."""
    try:
        return best_times(action, runs, budget)[figure]
    except ImportError:
        return "not installed"
    except NotImplementedError:
        return "n/a"
    except BaseException as error:  # PanicException derives from BaseException
        if isinstance(error, KeyboardInterrupt):
            raise
        return f"n/a ({type(error).__name__})"


# --- the contestants ----------------------------------------------------------

def read_praatio(path):
    from praatio import textgrid
    return textgrid.openTextgrid(str(path), includeEmptyIntervals=True, reportingMode="silence")


def write_praatio(document, path):
    document.save(str(path), format="long_textgrid", includeBlankSpaces=True,
                  reportingMode="silence")


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


PEERS = [("praatio", read_praatio, write_praatio),
         ("textgrid", read_textgrid_lib, write_textgrid_lib),
         ("tgt", read_tgt, write_tgt)]


def measure(path, data, json_path, out_dir, runs):
    tmin, tmax, tiers = data
    reads, writes = [], []
    reads.append(("velmar textgrid2data",
                  attempt(lambda: velmar.textgrid2data(str(path), True, "auto"), runs)))
    reads.append(("velmar textgrid2vectors",
                  attempt(lambda: velmar.textgrid2vectors(str(path), True, "auto"), runs)))
    reads.append(("json.loads (floor)",
                  attempt(lambda: json.loads(json_path.read_text(encoding="utf-8")), runs)))
    writes.append(("velmar data2textgrid",
                   attempt(lambda: velmar.data2textgrid(tiers, tmin, tmax,
                                                        str(out_dir / "velmar.TextGrid"),
                                                        "long"), runs)))
    writes.append(("json.dumps + write (floor)",
                   attempt(lambda: (out_dir / "floor.json").write_text(
                       json.dumps([tmin, tmax, tiers]), encoding="utf-8"), runs)))
    for name, read, write in PEERS:
        reads.append((name, attempt(lambda: read(path), runs, PEER_BUDGET_SECONDS)))
        try:
            document = read(path)
        except ImportError:
            writes.append((name, "not installed"))
            continue
        except Exception as error:
            writes.append((name, f"n/a ({type(error).__name__})"))
            continue
        target = out_dir / f"{name}.TextGrid"
        writes.append((name, attempt(lambda: write(document, target), runs,
                                     PEER_BUDGET_SECONDS)))
    return reads, writes


def print_table(title, rows):
    reference = rows[0][1]
    print(f"  {title:<28}{'time':>12}{'ratio':>10}")
    for name, figure in rows:
        if isinstance(figure, str):
            print(f"  {name:<28}{figure:>12}")
            continue
        ratio = (f"{figure / reference:9.1f}x" if isinstance(reference, float) else "")
        print(f"  {name:<28}{figure * 1e3:>9.2f} ms{ratio:>10}")


def run_case(label, items, runs, workdir):
    data = make_data(items)
    path = workdir / f"{label}.TextGrid"
    path.write_text(praat_long_text(*data), encoding="utf-8")
    json_path = workdir / f"{label}.json"
    json_path.write_text(json.dumps(list(data)), encoding="utf-8")
    out_dir = workdir / f"{label}-out"
    out_dir.mkdir()
    size_mb = path.stat().st_size / 1e6
    print(f"\n{label}: {item_count(data[2])} items in {len(data[2])} tiers, "
          f"{size_mb:.1f} MB long layout, best of {runs}")
    reads, writes = measure(path, data, json_path, out_dir, runs)
    print_table("read", reads)
    print_table("write", writes)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--items", type=int, default=150_000, help="items in the large file")
    parser.add_argument("--small", type=int, default=2_000,
                        help="items in the small file (0: none)")
    parser.add_argument("--runs", type=int, default=5, help="runs per figure (best counts)")
    parser.add_argument("--cpu", action="store_true",
                        help="measure processor time of all threads instead of wall time")
    args = parser.parse_args()
    global figure
    figure = 1 if args.cpu else 0
    print(f"velmar vs. peers, {os.cpu_count()} logical processors, "
          f"{'processor' if args.cpu else 'wall'} time")
    with tempfile.TemporaryDirectory(prefix="velmar-peers-") as tmp:
        workdir = Path(tmp)
        if args.small:
            run_case("small", args.small, max(args.runs, 20), workdir)
        run_case("large", args.items, args.runs, workdir)


if __name__ == "__main__":
    main()
