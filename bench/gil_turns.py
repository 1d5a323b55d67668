#!/usr/bin/env python3
"""Turns a Python thread gets while velmar works, against its turns when the
process is idle.

The thread sleeps 1 ms and counts a turn each time it wakes. It counts its
turns per second with the process idle, then inside the calls while the main
thread calls, again and again, textgrids2data over a corpus of small files
and textgrid2data on the large file (dropping a result, which the interpreter
does with the lock held, is left out). The goal: at least 80% of the idle
rate during each.

On a machine busy with other work, run it as `chrt -f 50 python ...`: the
sleeper then raises itself above the rest of the process, and the figure
shows what the lock costs it, not what the other processes do.

    python bench/gil_turns.py [--files 2000] [--items 150000] [--seconds 2]
"""

import argparse
import os
import tempfile
import threading
import time
from pathlib import Path

import velmar
from batch import write_corpus
from common import goal_line
from peers import write_sample


def raise_above_process():
    """Under a real-time policy (chrt), this thread goes above the others."""
    policy = os.sched_getscheduler(0)
    if policy in (os.SCHED_FIFO, os.SCHED_RR):
        priority = os.sched_getparam(0).sched_priority
        os.sched_setscheduler(0, policy, os.sched_param(min(priority + 10, 99)))


def turns_while(action, seconds):
    """Turns per second of a 1 ms sleeper inside the calls of `action`, made
    again and again for `seconds`, and the number of calls."""
    turns = 0
    running = True

    def sleeper():
        nonlocal turns
        raise_above_process()
        while running:
            time.sleep(0.001)
            turns += 1

    thread = threading.Thread(target=sleeper)
    thread.start()
    calls, inside, counted = 0, 0.0, 0
    deadline = time.perf_counter() + seconds
    while time.perf_counter() < deadline:
        started, turns_before = time.perf_counter(), turns
        result = action()
        counted += turns - turns_before
        inside += time.perf_counter() - started
        del result
        calls += 1
    running = False
    thread.join()
    return counted / inside, calls


def run(paths, large, seconds=2.0):
    """Prints the turns and returns the goal lines: during textgrids2data over
    `paths` and textgrid2data on `large`."""
    idle, _ = turns_while(lambda: time.sleep(0.01), seconds)
    print(f"idle: {idle:.0f} turns a second")
    cases = {
        f"textgrids2data, {len(paths)} files": lambda: velmar.textgrids2data(paths, False, "long"),
        "textgrid2data, large file": lambda: velmar.textgrid2data(str(large), False, "long"),
    }
    goals = []
    for name, action in cases.items():
        turns, calls = turns_while(action, seconds)
        print(f"{name}: {turns:.0f} turns a second over {calls} calls")
        goals.append(goal_line(f"other thread's turns, {name}", 100.0 * turns / idle, 80.0,
                               unit="%"))
        print(goals[-1])
    return goals


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=2000, help="files in the batch")
    parser.add_argument("--items", type=int, default=150_000, help="items in the large file")
    parser.add_argument("--seconds", type=float, default=2.0, help="wall time of each count")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as workdir:
        directory = Path(workdir)
        (directory / "corpus").mkdir()
        paths = write_corpus(directory / "corpus", args.files)
        large, _, _ = write_sample(directory, "large", args.items)
        run(paths, large, args.seconds)


if __name__ == "__main__":
    main()
