"""Fixtures and helpers shared by the test files."""

import os
import subprocess
import sys
import textwrap

import pytest

import velmar

CREATE = "Failed to create TextGrid because: "


def write_error(path, code):
    """The error of a write to `path` that the system refused with `code`."""
    return CREATE + f"cannot write {path}: {os.strerror(code)} (os error {code})"


def read_prefix(path):
    return f"Failed to read TextGrid file {path} because: "


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
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(velmar.__file__)))
    return [sys.executable, "-c", textwrap.dedent(code)], env


def run_python(code, cwd=None):
    command, env = python_command(code)
    return subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True, timeout=120)


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
