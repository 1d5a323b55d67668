#!/usr/bin/env python3
"""What declared counts and many tiers cost: memory and time figures, no goals
asserted.

  reserve   textgrid2data on --tiers tiers that each declare 4e9 intervals
            (none present): peak virtual and resident size of a fresh process
  batch     textgrids2data on a file of --batch-tiers such tiers and a good one
  slack     virtual size held by --results results of textgrid2vectors on a
            tiny file whose tier declares 4e9 items
  tiers     textgrid2vectors against textgrid2data on --many one-item tiers
            (the ratio should stay near 1 as the count grows)

    python bench/declared_counts.py [--tiers 500000] [--batch-tiers 60000]
                                    [--results 2000] [--many 80000,320000]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import textwrap

import velmar
from common import best_times

HEADER = ('File type = "ooTextFile"\nObject class = "TextGrid"\n\nxmin = 0\nxmax = 1\n'
          "tiers? <exists>\nsize = {size}\nitem []:\n")
TIER = ('    item [{n}]:\n        class = "IntervalTier"\n        name = "t{n}"\n'
        "        xmin = 0\n        xmax = 1\n        intervals: size = {size}\n")
ITEM = ('        intervals [1]:\n            xmin = 0\n            xmax = 1\n'
        '            text = "a"\n')


def write_tiers(path, tiers, declared, with_item=False):
    with open(path, "w") as out:
        out.write(HEADER.format(size=tiers))
        for n in range(1, tiers + 1):
            out.write(TIER.format(n=n, size=declared))
            if with_item:
                out.write(ITEM)


def in_child(code):
    """Runs code in a fresh interpreter importing the same velmar; what it printed."""
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(velmar.__file__)))
    prologue = textwrap.dedent("""
        import velmar
        def status(key):
            with open("/proc/self/status") as f:
                for line in f:
                    if line.startswith(key + ":"):
                        return int(line.split()[1]) // 1024
    """)
    done = subprocess.run([sys.executable, "-c", prologue + textwrap.dedent(code)],
                          env=env, capture_output=True, text=True, timeout=600)
    return (done.stdout + done.stderr).strip().splitlines()[-1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tiers", type=int, default=500_000)
    parser.add_argument("--batch-tiers", type=int, default=60_000)
    parser.add_argument("--results", type=int, default=2000)
    parser.add_argument("--many", default="80000,320000")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as directory:
        lying = os.path.join(directory, "lying.TextGrid")
        write_tiers(lying, args.tiers, 4_000_000_000)
        print(f"reserve  {args.tiers} tiers, {os.path.getsize(lying) / 2**20:.1f} MiB: " + in_child(f"""
            try:
                tiers = len(velmar.textgrid2data({lying!r}, False, "long")[2])
            except MemoryError:
                tiers = "MemoryError"
            print(f"tiers {{tiers}}, peak virtual {{status('VmPeak')}} MiB, "
                  f"peak resident {{status('VmHWM')}} MiB")
        """))

        bad = os.path.join(directory, "bad.TextGrid")
        good = os.path.join(directory, "good.TextGrid")
        write_tiers(bad, args.batch_tiers, 4_000_000_000)
        write_tiers(good, 2, 1, with_item=True)
        print(f"batch    {args.batch_tiers} lying tiers and a good file: " + in_child(f"""
            try:
                sizes = [len(d[2]) for d in velmar.textgrids2data([{bad!r}, {good!r}], False, "long")]
            except MemoryError:
                sizes = "MemoryError"
            print(f"tiers per entry {{sizes}}, peak virtual {{status('VmPeak')}} MiB")
        """))

        tiny = os.path.join(directory, "tiny.TextGrid")
        write_tiers(tiny, 1, 4_000_000_000, with_item=True)
        print(f"slack    {args.results} vector results of a {os.path.getsize(tiny)}-byte file: "
              + in_child(f"""
            velmar.textgrid2vectors({tiny!r}, False, "long")  # NumPy loaded first
            before = status('VmSize')
            kept = [velmar.textgrid2vectors({tiny!r}, False, "long") for _ in range({args.results})]
            print(f"virtual size grew {{status('VmSize') - before}} MiB")
        """))

        for many in (int(n) for n in args.many.split(",")):
            path = os.path.join(directory, f"many{many}.TextGrid")
            write_tiers(path, many, 1, with_item=True)
            runs = 3
            data = best_times(lambda: velmar.textgrid2data(path, False, "long"), runs)
            vectors = best_times(lambda: velmar.textgrid2vectors(path, False, "long"), runs)
            print(f"tiers    {many} one-item tiers: textgrid2data {data[0]:.3f} s, "
                  f"textgrid2vectors {vectors[0]:.3f} s, ratio {vectors[0] / data[0]:.2f}")


if __name__ == "__main__":
    main()
