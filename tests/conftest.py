"""Fixtures and helpers shared by the test files."""

import os
import random
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import velmar

CREATE = "Failed to create TextGrid because: "
ROOT = Path(__file__).resolve().parent.parent


def write_error(path, code):
    """The error of a write to `path` that the system refused with `code`."""
    return CREATE + f"cannot write {path}: {os.strerror(code)} (os error {code})"


def read_prefix(path):
    return f"Failed to read TextGrid file {path} because: "


def exact(value):
    """Comparable form that tells floats apart by their bits (0.0 from -0.0)."""
    if isinstance(value, float):
        return float.hex(value)
    if isinstance(value, (tuple, list)):
        return type(value)(map(exact, value))
    return value


def panic_type():
    """The class of internal failures, provoked by an unknown reading file type."""
    try:
        velmar.textgrid2data(__file__, True, "LONG")
    except BaseException as error:  # noqa: B036 - the class under test derives from it
        return type(error)
    raise AssertionError("no internal failure")


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def python_command(code):
    """Arguments and environment to run code (dedented) in a fresh interpreter
    that imports the very module under test, wherever it was loaded from."""
    return [sys.executable, "-c", textwrap.dedent(code)], module_environment()


def run_python(code, cwd=None):
    command, env = python_command(code)
    return subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True, timeout=120)


def module_environment():
    """The environment in which a child process imports the very module under test."""
    return dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(velmar.__file__)))


def python_output(code, cwd=None):
    """What run_python printed; the child must succeed."""
    result = run_python(code, cwd)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


LONG_TEXTGRID = """File type = "ooTextFile"
Object class = "TextGrid"

xmin = 0
xmax = 2.5
tiers? <exists>
size = 2
item []:
    item [1]:
        class = "IntervalTier"
        name = "words"
        xmin = 0
        xmax = 2.5
        intervals: size = 2
        intervals [1]:
            xmin = 0
            xmax = 1
            text = "hello"
        intervals [2]:
            xmin = 1
            xmax = 2.5
            text = "wörld"
    item [2]:
        class = "TextTier"
        name = "marks"
        xmin = 0
        xmax = 2.5
        points: size = 1
        points [1]:
            number = 1.5
            mark = "p"
"""

SAMPLE_DATA = (
    0.0,
    2.5,
    [
        ("words", True, [(0.0, 1.0, "hello"), (1.0, 2.5, "wörld")]),
        ("marks", False, [(1.5, 1.5, "p")]),
    ],
)


@pytest.fixture
def textgrid_file(tmp_path):
    """A small long-layout TextGrid written by hand; SAMPLE_DATA is its content."""
    path = tmp_path / "sample.TextGrid"
    path.write_text(LONG_TEXTGRID, encoding="utf-8")
    return str(path)


@pytest.fixture
def out_file(tmp_path):
    return str(tmp_path / "out.TextGrid")


def write_corpus(directory, count, seed=0):
    """count valid TextGrids in two subdirectories of directory, in both layouts,
    with labels that need quoting in CSV; returns their paths, sorted."""
    rng = random.Random(seed)
    words = ["", "a", "wörld", "x, y", 'say "hi"', "日本", "two\nlines"]
    paths = []
    for index in range(count):
        path = Path(directory) / f"part{index % 2}" / f"f{index:04d}.TextGrid"
        path.parent.mkdir(parents=True, exist_ok=True)
        bounds = sorted(rng.sample(range(1, 1000), rng.randint(1, 8)))
        starts = [0] + bounds[:-1]
        intervals = [(a / 100, b / 100, rng.choice(words)) for a, b in zip(starts, bounds)]
        points = [(t / 100, t / 100, rng.choice(words)) for t in sorted(rng.sample(bounds, 1))]
        velmar.data2textgrid([("words", True, intervals), ("marks", False, points)], 0.0,
                             bounds[-1] / 100 + 1, str(path), ("long", "short")[index % 2])
        paths.append(str(path))
    return sorted(paths)
