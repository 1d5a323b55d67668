#!/usr/bin/env python3
"""Every performance goal measured in one run, one `goal` line each.

Builds the module and the native benchmarks for the interpreter running this
script (Release, into build/bench-<python tag>, e.g. build/bench-314) unless
--no-build, then, on files generated in a temporary directory, runs the large
file's read and write against orjson and the peers (peers.py), textgrid2vectors
(vectors.py), the extra memory of one read (memory.py), a label of megabytes
(long_label.py), the 2,000-file batch (batch.py, with textgrids2arrow) and its
time to a pandas DataFrame (frames.py), writing that batch and reading the
large file from memory (memory_writes.py), the other threads' turns during a
batch and a large read (gil_turns.py) and the native read throughput
(read_bench), and ends with all goal lines together under the interpreter,
machine and date.

    python3 bench/goals.py [--items 150000] [--files 2000] [--runs 5] [--read-mb 56]
                           [--no-build] [--build-dir DIR] [--cpu]

Quick check of the scripts: --items 3000 --files 50 --runs 3 --read-mb 4.
In the CPython 3.14 environment, after bench/setup-peers-314.sh:
    flock /tmp/cpython314.lock ../shared/tools/cpython314 run . python3 bench/goals.py
"""

import argparse
import datetime
import importlib.metadata
import os
import platform
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

BENCH = Path(__file__).resolve().parent
ROOT = BENCH.parent
PEER_DISTRIBUTIONS = ("orjson", "praatio", "TextGrid", "tgt", "numpy", "pyarrow", "pandas")


def build(build_dir):
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    steps = [["cmake", "-S", str(ROOT), "-B", str(build_dir), *generator,
              "-DCMAKE_BUILD_TYPE=Release", "-DVELMAR_BUILD_TESTS=OFF",
              f"-DPython_EXECUTABLE={sys.executable}"],
             ["cmake", "--build", str(build_dir), "-j", str(os.cpu_count() or 2)]]
    print(f"building into {build_dir} ...", flush=True)
    for step in steps:
        done = subprocess.run(step, capture_output=True, text=True)
        if done.returncode != 0:
            sys.exit(f"build failed: {' '.join(step)}\n{done.stdout}{done.stderr}")


def processor_model():
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown processor"


def version(distribution):
    try:
        return importlib.metadata.version(distribution)
    except importlib.metadata.PackageNotFoundError:
        return "missing"


def describe(velmar, figure):
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    load = ", ".join(f"{x:.1f}" for x in os.getloadavg())
    return (f"Python {platform.python_version()} on {platform.platform()}\n"
            f"{processor_model()}, {os.cpu_count()} logical processors "
            f"({len(os.sched_getaffinity(0))} usable), load {load}, {now}\n"
            f"velmar from {velmar.__file__}\n"
            + ", ".join(f"{name} {version(name)}" for name in PEER_DISTRIBUTIONS)
            + f"\nmedians, {'processor' if figure else 'wall'} time")


def native_goals(read_bench, megabytes):
    """Runs read_bench, echoing it; returns its goal lines."""
    from common import goal_line
    if not read_bench.exists():
        why = f"{read_bench} not built"
        return [goal_line("native read, long layout (read_bench)", why, 2, " GB/s"),
                goal_line("native read, short layout (read_bench)", why, 500, " MB/s")]
    print(flush=True)
    output = subprocess.run([str(read_bench), "--mb", str(megabytes)], capture_output=True,
                            text=True)
    print(output.stdout + output.stderr, end="")
    return [line for line in output.stdout.splitlines() if line.startswith("goal")]


def main():
    tag = "%d%d" % sys.version_info[:2]
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--items", type=int, default=150_000, help="items in the large file")
    parser.add_argument("--files", type=int, default=2_000, help="files in the batch")
    parser.add_argument("--runs", type=int, default=5, help="runs per figure (median counts)")
    parser.add_argument("--read-mb", type=int, default=56, help="size of read_bench's files")
    parser.add_argument("--build-dir", type=Path, default=ROOT / "build" / f"bench-{tag}")
    parser.add_argument("--no-build", action="store_true",
                        help="use the build directory as it is (or an installed velmar)")
    parser.add_argument("--cpu", action="store_true",
                        help="measure processor time of all threads instead of wall time")
    args = parser.parse_args()
    figure = 1 if args.cpu else 0
    if not args.no_build:
        build(args.build_dir)
    if (args.build_dir / "python" / "velmar").is_dir():
        sys.path.insert(0, str(args.build_dir / "python"))
    sys.path.insert(0, str(BENCH))

    import batch
    import frames
    import long_label
    import gil_turns
    import memory
    import memory_writes
    import peers
    import vectors
    import velmar

    print(describe(velmar, figure), flush=True)
    goals = []
    with tempfile.TemporaryDirectory(prefix="velmar-goals-") as tmp:
        workdir = Path(tmp)
        large = peers.write_sample(workdir, "large", args.items)
        small = peers.write_sample(workdir, "small", 300)
        goals += peers.run_case("large", *large, args.runs, figure)
        goals.append(vectors.run(*large, args.runs, 10, figure))
        goals.append(memory.run(*large[:2], *small[:2]))
        goals.append(long_label.run(args.runs))
        corpus = workdir / "corpus"
        corpus.mkdir()
        paths = batch.write_corpus(corpus, args.files)
        goals += batch.run(paths, args.runs, figure, args.build_dir / "bench" / "read_bench")
        frames.run(paths, args.runs, figure)
        goals += gil_turns.run(paths, large[0], seconds=0.4 * args.runs)
        goals += memory_writes.run(paths, large[0], args.runs, figure)
    goals += native_goals(args.build_dir / "bench" / "read_bench", args.read_mb)

    met = sum(line.endswith(")  met") for line in goals)
    print(f"\n== goals: {met} of {len(goals)} met\n{describe(velmar, figure)}")
    print("\n".join(goals))


if __name__ == "__main__":
    main()
