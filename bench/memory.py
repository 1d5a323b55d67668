#!/usr/bin/env python3
"""Extra memory of reading the large file into Python structures.

Writes the large long-layout file of bench/peers.py and the same data as JSON,
then, for each reader, starts a fresh interpreter that reads a small file once
(imports, worker pool and first-use caches are not counted), resets its peak
resident size, reads the large file and keeps the result, and reports how far
the peak rose above the resident size before that read. json.loads and
orjson.loads read the JSON file's text into the same nested lists (the text
they need counts too). textgrid2data's rise is the goal line.

    python bench/memory.py [--items 150000]
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path

import velmar
from common import goal_line
from peers import write_sample

MiB = 1 << 20

READERS = ("textgrid2data", "textgrid2vectors", "json.loads", "orjson.loads")

CHILD = """
import json, sys

def read(reader, path):
    if reader == 'json.loads':
        return json.loads(open(path, encoding='utf-8').read())
    if reader == 'orjson.loads':
        import orjson
        return orjson.loads(open(path, 'rb').read())
    import velmar
    return getattr(velmar, reader)(path, True, 'auto')

def status(field):
    with open('/proc/self/status') as lines:
        for line in lines:
            if line.startswith(field + ':'):
                return int(line.split()[1]) * 1024

reader, small, large = sys.argv[1:]
read(reader, small)
# Writing 5 to clear_refs starts the peak anew from the present size.
with open('/proc/self/clear_refs', 'w') as clear:
    clear.write('5')
before = status('VmRSS')
result = read(reader, large)
print(json.dumps({'before': before, 'peak': status('VmHWM')}))
"""


def rise(reader, small_path, large_path):
    """The peak resident size's rise in bytes, or a text saying why there is none."""
    package_dir = os.path.dirname(os.path.dirname(os.path.abspath(velmar.__file__)))
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [package_dir, env.get("PYTHONPATH")]))
    child = subprocess.run([sys.executable, "-c", CHILD, reader, str(small_path),
                            str(large_path)], capture_output=True, text=True, env=env)
    if child.returncode != 0:
        last = (child.stderr.strip().splitlines() or ["failed"])[-1]
        return "not installed" if "ModuleNotFoundError" in last else last
    figures = json.loads(child.stdout)
    return figures["peak"] - figures["before"]


def run(path, json_path, small, small_json):
    """Prints each reader's rise; returns the goal line."""
    print(f"\nmemory: peak resident size rise of one read in a fresh process, "
          f"{path.stat().st_size / 1e6:.1f} MB file")
    rises = {}
    for reader in READERS:
        on_json = reader.endswith(".loads")
        rises[reader] = rise(reader, small_json if on_json else small,
                             json_path if on_json else path)
        shown = (f"{rises[reader] / MiB:8.1f} MiB" if isinstance(rises[reader], int)
                 else rises[reader])
        print(f"  {reader:<28}{shown}")
    value = rises["textgrid2data"]
    return goal_line("extra memory of textgrid2data, large file",
                     value / MiB if isinstance(value, int) else value, 25, " MiB",
                     at_most=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--items", type=int, default=150_000, help="items in the large file")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="velmar-memory-") as tmp:
        workdir = Path(tmp)
        small = write_sample(workdir, "small", 300)
        large = write_sample(workdir, "large", args.items)
        goal = run(*large[:2], *small[:2])
    print()
    print(goal)


if __name__ == "__main__":
    main()
