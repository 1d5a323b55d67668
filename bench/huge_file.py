#!/usr/bin/env python3
"""Peak memory of reading one huge TextGrid (goal: below three times its size).

Generates a long-layout TextGrid of about --gb gigabytes (phones, words and a
point tier) in a temporary directory, reads it with textgrid2data and with
textgrid2vectors, each in a fresh child process, and prints the child's peak
resident size (VmHWM, i.e. ru_maxrss of the process alone), and the peak the
interpreter had before the call, against the file size. The file is deleted at the end. If the machine cannot
hold the file three times over besides what generating it takes, a smaller
file is used and the script says so.

    python bench/huge_file.py [--gb 1.0] [--file-type long|short]
"""

import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

GB = 1 << 30
# Generating holds the columns and the rendered text; each reading child may
# take up to three times the file: leave room for both and the page cache.
MEMORY_NEEDED_PER_BYTE = 4.5


def available_memory():
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            if line.startswith("MemAvailable:"):
                return int(line.split()[1]) * 1024
    return None


def columns(items, seed=11):
    """About `items` rows: phones (70 %), words over them (25 %), tones (5 %)."""
    import numpy as np

    from common import PHONES, TONES

    rng = np.random.default_rng(seed)
    n_phones, n_words = items * 70 // 100, items * 25 // 100
    n_tones = items - n_phones - n_words
    phone_ends = np.round(np.cumsum(rng.uniform(0.03, 0.16, n_phones)), 4)
    phone_starts = np.concatenate(([0.0], phone_ends[:-1]))
    cuts = np.sort(rng.choice(np.arange(1, n_phones - 1), n_words - 1, replace=False))
    word_ends = np.concatenate((phone_ends[cuts - 1], phone_ends[-1:]))
    word_starts = np.concatenate(([0.0], word_ends[:-1]))
    tone_times = np.sort(rng.choice(phone_ends, n_tones, replace=False))
    vocabulary = ["w" + str(i) for i in range(5000)]
    labels = ([PHONES[i] for i in rng.integers(0, len(PHONES), n_phones)]
              + [vocabulary[i] for i in rng.integers(0, len(vocabulary), n_words)]
              + [TONES[i] for i in rng.integers(0, len(TONES), n_tones)])
    tier_names = ["phones"] * n_phones + ["words"] * n_words + ["tones"] * n_tones
    is_intervals = np.concatenate((np.ones(n_phones + n_words, bool), np.zeros(n_tones, bool)))
    return (np.concatenate((phone_starts, word_starts, tone_times)),
            np.concatenate((phone_ends, word_ends, tone_times)),
            labels, tier_names, is_intervals)


def generate(path, size, file_type):
    import velmar

    # Bytes per row depend on the layout and labels: measure on a sample.
    sample_items = 200_000
    velmar.vectors2textgrid(*columns(sample_items), None, None, path, file_type)
    items = int(size / (os.path.getsize(path) / sample_items))
    velmar.vectors2textgrid(*columns(items), None, None, path, file_type)
    return items


def peak_resident():
    """The process's peak resident size. ru_maxrss would do, but Linux carries
    the parent's peak into it across fork and exec; VmHWM starts afresh."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def child(function_name, path):
    """Runs in the child: one read, then the peak resident size."""
    import velmar

    start = peak_resident()
    began = time.perf_counter()
    result = getattr(velmar, function_name)(path, True, "auto")
    seconds = time.perf_counter() - began
    peak = peak_resident()
    rows = len(result[0]) if function_name == "textgrid2vectors" else sum(
        len(items) for _, _, items in result[2])
    print(json.dumps({"start": start, "peak": peak, "seconds": seconds, "rows": rows}))


def measure(function_name, path):
    output = subprocess.run([sys.executable, __file__, "--child", function_name, path],
                            check=True, capture_output=True, text=True).stdout
    return json.loads(output)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gb", type=float, default=1.0)
    parser.add_argument("--file-type", default="long", choices=("long", "short"))
    parser.add_argument("--child", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(*args.child)
        return

    size = int(args.gb * GB)
    available = available_memory()
    print(f"memory available: {available / GB:.1f} GB" if available else "memory available: unknown")
    if available and size * MEMORY_NEEDED_PER_BYTE > available:
        size = int(available / MEMORY_NEEDED_PER_BYTE)
        print(f"NOTE: {args.gb:.2f} GB x {MEMORY_NEEDED_PER_BYTE} does not fit; "
              f"using {size / GB:.2f} GB instead")
    with tempfile.TemporaryDirectory(prefix="velmar-huge-") as directory:
        path = os.path.join(directory, "huge.TextGrid")
        began = time.perf_counter()
        items = generate(path, size, args.file_type)
        file_size = os.path.getsize(path)
        print(f"file: {args.file_type} layout, {items} items, {file_size / GB:.3f} GB "
              f"(generated in {time.perf_counter() - began:.0f} s)")
        for function_name in ("textgrid2data", "textgrid2vectors"):
            figures = measure(function_name, path)
            ratio = figures["peak"] / file_size
            print(f"{function_name:17} peak {figures['peak'] / 2**20:7.0f} MB "
                  f"(interpreter before the call {figures['start'] / 2**20:.0f} MB)  "
                  f"= {ratio:.2f} x file size  [goal < 3: {'met' if ratio < 3 else 'MISSED'}]  "
                  f"{figures['rows']} rows in {figures['seconds']:.1f} s")


if __name__ == "__main__":
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    main()
