"""Many files written at once: each as its single-file call writes it, one
failure stopping no other, invalid arguments refused before any write."""

import os
import random

import numpy as np
import pytest

import velmar

from conftest import SAMPLE_DATA

GOOD = (SAMPLE_DATA[2], SAMPLE_DATA[0], SAMPLE_DATA[1])
OVERLAPPING = ([("w", True, [(0.0, 2.0, "a"), (1.0, 3.0, "b")])], None, None)


def single_outcome(write, *arguments):
    try:
        write(*arguments)
        return None
    except OSError as error:
        return str(error)


def listing(directory):
    return sorted(os.listdir(directory))


@pytest.mark.parametrize("layout", ["long", "short"])
def test_each_document_is_written_or_reported_as_data2textgrid_would(tmp_path, layout):
    batch, single = tmp_path / "batch", tmp_path / "single"
    for directory in (batch, single):
        directory.mkdir()
        (directory / "taken").mkdir()  # a directory where a file should go
    documents = [GOOD, OVERLAPPING, GOOD, GOOD, GOOD]
    names = ["a", "b", "missing/c", "taken", "e"]
    entries = velmar.data2textgrids(documents, [str(batch / n) for n in names], layout)
    expected = [single_outcome(velmar.data2textgrid, *document, str(single / n), layout)
                for document, n in zip(documents, names)]
    assert entries == [e and e.replace(str(single), str(batch)) for e in expected]
    assert [e is None for e in entries] == [True, False, False, False, True]
    assert listing(batch) == listing(single) == ["a", "e", "taken"]  # nothing partial
    assert (batch / "a").read_bytes() == (single / "a").read_bytes()


def corpus(directory, count, seed=3):
    """Files of intervals and points; those of a single point cannot be written
    back with bounds fitted to their rows (the point's tier would have none)."""
    rng = random.Random(seed)
    documents = []
    for _ in range(count):
        bounds = sorted(rng.sample(range(1, 1000), rng.randint(2, 8)))
        intervals = [(a / 100, b / 100, rng.choice(["", "wörld", 'a "b"']))
                     for a, b in zip([0] + bounds[:-1], bounds)]
        points = [(t / 100, t / 100, "p") for t in sorted(rng.sample(bounds, rng.randint(1, 2)))]
        tiers = [("words", True, intervals), ("marks", False, points)]
        documents.append((tiers, 0.0, bounds[-1] / 100))
    paths = [str(directory / f"{k}.TextGrid") for k in range(count)]
    assert velmar.data2textgrids(documents, paths, "short") == [None] * count
    return paths


def test_columns_of_a_corpus_are_written_as_a_loop_of_vectors2textgrid_writes_them(tmp_path):
    paths = corpus(tmp_path, 40)
    tmins, tmaxs, labels, names, flags, ids = velmar.textgrids2vectors(paths, True, "auto")
    (tmp_path / "batch").mkdir()
    (tmp_path / "loop").mkdir()
    count = len(paths) + 1  # the last file has no rows
    outputs = [str(tmp_path / "batch" / f"{k}.TextGrid") for k in range(count)]
    entries = velmar.vectors2textgrids(tmins, tmaxs, labels, names, flags, ids, outputs, "long")
    for k in range(count):
        rows = np.flatnonzero(ids == k)
        loop_path = str(tmp_path / "loop" / f"{k}.TextGrid")
        expected = single_outcome(
            velmar.vectors2textgrid, tmins[rows], tmaxs[rows], [labels[r] for r in rows],
            [names[r] for r in rows], flags[rows], None, None, loop_path, "long")
        assert entries[k] == (expected and expected.replace(loop_path, outputs[k]))
        if expected is None:
            assert open(outputs[k], "rb").read() == open(loop_path, "rb").read()
    assert listing(tmp_path / "batch") == listing(tmp_path / "loop")
    assert None in entries and any(entries)


ROWS = ([0.0, 1.0], [1.0, 2.0], ["a", "b"], ["t", "t"], [True, True], [0, 1])


@pytest.mark.parametrize("change, error", [
    ({5: [0, 2]}, ValueError),        # a file id past the output files
    ({5: [0]}, ValueError),           # columns of different lengths
    ({2: ["a", 3]}, TypeError),
    ({5: [0, -1]}, ValueError),
    ({6: "ab"}, TypeError),           # output_files must not be a str
])
def test_invalid_columns_raise_before_any_file_is_written(tmp_path, change, error):
    arguments = list(ROWS) + [[str(tmp_path / "x"), str(tmp_path / "y")], "long"]
    for index, value in change.items():
        arguments[index] = value
    with pytest.raises(error):
        velmar.vectors2textgrids(*arguments)
    assert listing(tmp_path) == []


@pytest.mark.parametrize("documents, error", [
    ([GOOD], ValueError),                  # one document for two files
    ([GOOD, (SAMPLE_DATA[2], 0.0)], ValueError),
    ([GOOD, ("tiers", None, None)], TypeError),
])
def test_invalid_documents_raise_before_any_file_is_written(tmp_path, documents, error):
    with pytest.raises(error):
        velmar.data2textgrids(documents, [str(tmp_path / "x"), str(tmp_path / "y")], "long")
    assert listing(tmp_path) == []
