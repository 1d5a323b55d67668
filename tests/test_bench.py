"""The benchmarks still run against the module and measure what they claim."""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

import velmar

BENCH = Path(__file__).resolve().parent.parent / "bench"
GOAL = re.compile(r"goal  .+\)  (met|NOT met|no figure: .+)$")


def test_goal_entry_point_prints_every_goal(tmp_path):
    # A build directory without a build: the module under test is used, and
    # read_bench's two goals say they have no figure.
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(velmar.__file__)))
    done = subprocess.run(
        [sys.executable, str(BENCH / "goals.py"), "--no-build", "--build-dir", str(tmp_path),
         "--items", "300", "--files", "4", "--runs", "1"],
        env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    summary = done.stdout.split("== goals:")[1]
    goals = [line for line in summary.splitlines() if line.startswith("goal")]
    assert len(goals) == 17 and all(GOAL.match(line) for line in goals), summary


def test_praatio_builds_the_document_data2textgrid_writes(tmp_path):
    # The write goal counts praatio building its objects from the same data:
    # it must end in the same document, or the ratio compares different work.
    pytest.importorskip("praatio")
    sys.path.insert(0, str(BENCH))
    try:
        from common import make_data
        from peers import build_and_write_praatio
    finally:
        sys.path.remove(str(BENCH))
    data = make_data(400)
    build_and_write_praatio(data, tmp_path / "praatio.TextGrid")
    velmar.data2textgrid(data[2], data[0], data[1], str(tmp_path / "velmar.TextGrid"), "long")
    assert (velmar.textgrid2data(str(tmp_path / "praatio.TextGrid"), True, "auto")
            == velmar.textgrid2data(str(tmp_path / "velmar.TextGrid"), True, "auto"))


def test_shapes_hold_the_rows_of_the_plain_file(tmp_path):
    # shapes.py compares reads of one file in other shapes: each must hold the
    # same rows, or its ratios compare different work.
    sys.path.insert(0, str(BENCH))
    try:
        from shapes import write_shapes
    finally:
        sys.path.remove(str(BENCH))
    paths = write_shapes(tmp_path, 300)
    tiers = {name: velmar.textgrid2data(str(path), True, "auto")[2] for name, path in paths.items()}
    assert tiers["tabs"] == tiers["utf16"] == tiers["short"] == tiers["plain"]
    starts = [[(a, label) for a, _, label in rows] for _, _, rows in tiers["plain"]]
    assert [[(a, label) for a, _, label in rows] for _, _, rows in tiers["points"]] == starts
    moved = [[label for _, _, label in rows] for _, _, rows in tiers["digits17"]]
    assert moved == [[label for _, label in rows] for rows in starts]
    assert any(len(repr(a)) >= 17 for _, _, rows in tiers["digits17"] for a, _, _ in rows)


def test_every_route_to_a_dataframe_builds_the_same_one(tmp_path):
    # frames.py times routes to a pandas DataFrame: each must build the same
    # frame, or its ratios compare different work.
    pytest.importorskip("pandas")
    pytest.importorskip("pyarrow")
    sys.path.insert(0, str(BENCH))
    try:
        from batch import write_corpus
        from frames import routes
    finally:
        sys.path.remove(str(BENCH))
    frames = [route() for route in routes(write_corpus(tmp_path, 5)).values()]
    assert len(frames) >= 2
    for frame in frames[1:]:
        assert frame.equals(frames[0]), (frame.dtypes, frames[0].dtypes)
