"""textgrids2data / textgrids2vectors: many files in one call, in input order,
with empty entries for files that cannot be read."""

import os

import numpy as np
import pytest

import velmar

from conftest import LONG_TEXTGRID, panic_type

EMPTY_ENTRY = (0.0, 0.0, [])


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """Paths by kind: good files in both layouts, a missing one, an invalid one
    and one whose tier is large enough to be mapped on the worker pool."""
    directory = tmp_path_factory.mktemp("batch")
    paths = {"missing": str(directory / "missing.TextGrid")}

    def store(name, data, file_type, tmin=None, tmax=None):
        paths[name] = str(directory / f"{name}.TextGrid")
        velmar.data2textgrid(data, tmin, tmax, paths[name], file_type)

    store("two_rows", [("words", True, [(0.0, 0.5, "a"), (0.5, 1.0, '"b"')])], "long")
    store("one_row", [("marks", False, [(0.25, 0.25, "x")])], "short", 0.0, 2.0)
    big = [(float(i), i + 1.0, f"w{i % 37}") for i in range(40 * (os.cpu_count() or 1) + 5)]
    store("large", [("phones", True, big), ("marks", False, [(0.5, 0.5, "m")])], "long",
          0.0, big[-1][1])
    invalid = directory / "invalid.TextGrid"
    invalid.write_text(LONG_TEXTGRID.replace("xmax = 2.5\n            text",
                                               "xmax = 0.5\n            text"), encoding="utf-8")
    paths["invalid"] = str(invalid)
    return paths


def single_data(path, strict, file_type="auto"):
    try:
        return velmar.textgrid2data(path, strict, file_type)
    except OSError:
        return EMPTY_ENTRY


def single_rows(path, strict):
    try:
        tmins, tmaxs, labels, names, flags = velmar.textgrid2vectors(path, strict, "auto")
    except OSError:
        return []
    return list(zip(tmins.tolist(), tmaxs.tolist(), labels, names, flags.tolist()))


def batch_rows(result):
    tmins, tmaxs, labels, names, flags, ids = result
    return list(zip(ids.tolist(), tmins.tolist(), tmaxs.tolist(), labels, names, flags.tolist()))


def test_empty_list_reads_nothing_even_with_an_unknown_file_type():
    for file_type in ("auto", "LONG"):
        assert velmar.textgrids2data([], True, file_type) == []
        result = velmar.textgrids2vectors([], True, file_type)
        assert [len(column) for column in result] == [0] * 6
        assert [column.dtype for column in result if isinstance(column, np.ndarray)] == [
            np.float64, np.float64, np.bool_, np.uint32]


@pytest.mark.parametrize("file_type", ["auto", "long"])
def test_missing_file_gives_an_empty_entry_and_file_ids_stay_positions(corpus, file_type):
    files = [corpus["two_rows"], corpus["missing"], corpus["large"] if file_type == "long"
             else corpus["one_row"]]
    data = velmar.textgrids2data(files, True, file_type)
    assert data == [single_data(files[0], True), EMPTY_ENTRY, single_data(files[2], True)]
    ids = velmar.textgrids2vectors(files, True, file_type)[5]
    assert ids.dtype == np.uint32
    assert ids.tolist() == [0, 0] + [2] * len(single_rows(files[2], True))


def test_three_files_give_the_documented_rows(corpus):
    files = [corpus["two_rows"], corpus["missing"], corpus["one_row"]]
    assert batch_rows(velmar.textgrids2vectors(files, True, "auto")) == [
        (0, 0.0, 0.5, "a", "words", True), (0, 0.5, 1.0, '"b"', "words", True),
        (2, 0.25, 0.25, "x", "marks", False)]
    assert velmar.textgrids2data(files, True, "auto") == [
        (0.0, 1.0, [("words", True, [(0.0, 0.5, "a"), (0.5, 1.0, '"b"')])]),
        EMPTY_ENTRY,
        (0.0, 2.0, [("marks", False, [(0.25, 0.25, "x")])])]


@pytest.mark.parametrize("count", [1, 10 * (os.cpu_count() or 1) + 3])
@pytest.mark.parametrize("function", [velmar.textgrids2data, velmar.textgrids2vectors])
def test_unknown_file_type_fails_the_whole_batch(corpus, function, count):
    with pytest.raises(panic_type(), match="^Unknown file type: LONG$"):
        function([corpus["two_rows"]] * count, True, "LONG")


def test_invalid_file_is_empty_only_when_strict(corpus):
    assert velmar.textgrids2data([corpus["invalid"]], True, "auto") == [EMPTY_ENTRY]
    lenient = velmar.textgrids2data([corpus["invalid"]], False, "auto")
    assert lenient == [single_data(corpus["invalid"], False)] and lenient[0][2]


# One file is read on the calling thread, more go to the pool; both must equal
# reading each file on its own, in order.
@pytest.mark.parametrize("per_processor", [0, 1, 10, 23])
@pytest.mark.parametrize("strict", [True, False])
def test_batch_equals_each_file_read_alone(corpus, per_processor, strict):
    kinds = ["two_rows", "missing", "one_row", "invalid", "large", "two_rows"]
    count = per_processor * (os.cpu_count() or 1) + 1
    files = [corpus[kinds[i * 5 % len(kinds)]] for i in range(count)]
    assert velmar.textgrids2data(files, strict, "auto") == [single_data(f, strict) for f in files]
    expected_rows = [(file_id,) + row for file_id, f in enumerate(files)
                     for row in single_rows(f, strict)]
    assert batch_rows(velmar.textgrids2vectors(files, strict, "auto")) == expected_rows


def test_batch_columns_are_handed_over_arrays(corpus):
    result = velmar.textgrids2vectors([corpus["large"]] * 3, True, "auto")
    for column in (result[0], result[1], result[4], result[5]):
        assert column.flags.writeable and column.flags.c_contiguous
        assert not column.flags.owndata
        assert type(column.base).__name__ == "PySliceContainer"
    assert isinstance(result[2], list) and isinstance(result[3], list)


def test_files_may_be_any_sequence_of_str(corpus):
    files = (corpus["one_row"], corpus["two_rows"])
    assert velmar.textgrids2data(files, True, "auto") == velmar.textgrids2data(
        np.array(files), True, "auto") == [single_data(f, True) for f in files]
