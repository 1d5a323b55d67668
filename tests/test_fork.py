"""A process forked after the parent used the worker pool must be able to use it
too: its first parallel call starts workers of its own instead of waiting for
the parent's, which fork() did not copy. A child that hangs is killed at a
deadline and fails the test."""

import pytest

from conftest import python_output

# Run in a fresh interpreter, so the parent is the one that used every parallel
# path, and nothing else in it has forked before.
SCRIPT = """
import multiprocessing, os, signal, time, warnings
import velmar

# Forking a threaded process is exactly what is under test.
warnings.simplefilter("ignore", DeprecationWarning)
DEADLINE = 60
P = len(os.sched_getaffinity(0))
directory = {directory!r}
# A tier of 10 x P items or more is mapped and written on the pool; so are
# batches of that many files; a file of 1 MB or more is read in pieces.
small = [("words", True, [(i, i + 1, f"w{{i}}") for i in range(10 * P + 20)])]
big = os.path.join(directory, "big.TextGrid")
velmar.data2textgrid([("t", True, [(i, i + 1, "x" * 40) for i in range(30000)])],
                     None, None, big, "long")

def every_parallel_path(tag):
    out = os.path.join(directory, f"{{tag}}.TextGrid")
    velmar.data2textgrid(small, None, None, out, "short")
    velmar.vectors2textgrid(*velmar.textgrid2vectors(out, True, "short"), None, None, out, "long")
    files = [out] * (10 * P + 1)
    rows = [len(velmar.textgrids2data(files, True, "auto")),
            len(velmar.textgrids2vectors(files, True, "auto")[0]),
            len(velmar.textgrid2data(big, True, "long")[2][0][2]),
            len(velmar.textgrid2vectors(big, True, "long")[0])]
    return rows

expected = every_parallel_path("parent")

def by_os_fork():
    child = os.fork()
    if child == 0:
        signal.alarm(DEADLINE)  # ends the child even if this script is gone
        try:
            os._exit(0 if every_parallel_path("child") == expected else 1)
        except BaseException:
            os._exit(2)
    deadline = time.monotonic() + DEADLINE
    while time.monotonic() < deadline:
        done, status = os.waitpid(child, os.WNOHANG)
        if done:
            return "exit %d" % os.waitstatus_to_exitcode(status)
        time.sleep(0.01)
    os.kill(child, signal.SIGKILL)
    os.waitpid(child, 0)
    return "hung"

def by_fork_pool():
    with multiprocessing.get_context("fork").Pool(2) as pool:  # terminated on leaving
        try:
            results = pool.map_async(every_parallel_path, ["a", "b", "c", "d"]).get(DEADLINE)
        except multiprocessing.TimeoutError:
            return "hung"
    return "exit 0" if results == [expected] * 4 else "wrong results"

print({how}())
"""


@pytest.mark.parametrize("how", ["by_os_fork", "by_fork_pool"])
def test_child_of_fork_uses_the_pool(how, tmp_path):
    assert python_output(SCRIPT.format(how=how, directory=str(tmp_path))).split() == ["exit", "0"]
