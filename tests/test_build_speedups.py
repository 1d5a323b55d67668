"""Results built with shared labels and times, the collector paused meanwhile,
and NumPy columns read from their memory: none of it may change a value, a
message or the collector's state."""

import gc
import math
import sys

import numpy as np
import pytest

import velmar


def tricky_labels():
    """Texts that differ in one byte at every position of every length up to 20
    (short texts are told apart by packed words), around the longest shared
    length, beyond it, non-ASCII, and more distinct texts than the label table
    holds, each repeated far apart."""
    labels = [""]
    for size in range(1, 21):
        base = "a" * size
        labels.append(base)
        labels += [base[:p] + "b" + base[p + 1:] for p in range(size)]
    labels += ["x" * 63 + "y", "x" * 64, "x" * 64 + "y", "x" * 65, "x" * 200 + "1", "x" * 200 + "2"]
    labels += ["é", "ŋə", "ə" * 8, "ə" * 9, "ŋ" * 40, "\u3000mid\u3000", "tab\there"]
    # Families of one length that share their first (or last) bytes, large
    # enough that some members meet in one table slot.
    for size in (7, 12, 16, 24):
        labels += ["p" * (size - 4) + f"{n:04}" for n in range(0, 10000, 3)]
        labels += [f"{n:04}" + "s" * (size - 4) for n in range(0, 10000, 3)]
    return labels + labels[::-1] + labels


def interval_items(labels, start=0.0):
    """Contiguous intervals whose ends sit one ulp away from some starts."""
    items, t = [], start
    for n, label in enumerate(labels):
        end = t + 0.01 * (1 + n % 3)
        items.append((t, end, label))
        t = math.nextafter(end, math.inf) if n % 5 == 0 else end
    return items


@pytest.fixture(scope="module")
def document(tmp_path_factory):
    labels = tricky_labels()
    words = interval_items(labels)
    points = [(t, t, label) for t, _, label in words[::7]]
    gap_tier = [(0.5, 1.0, "a"), (1.0 + 1e-9, 2.0, "a"), (2.0, 2.5, "b")]
    tmax = words[-1][1] + 1.0
    tiers = [("words", True, words), ("marks", False, points), ("gaps", True, gap_tier),
             ("words", True, words[:50])]
    path = tmp_path_factory.mktemp("speedups") / "tricky.TextGrid"
    velmar.data2textgrid(tiers, 0.0, tmax, str(path), "long")
    return str(path), (0.0, tmax, tiers)


def test_data_result_keeps_every_value(document):
    path, expected = document
    assert velmar.textgrid2data(path, True, "auto") == expected


def test_data_result_keeps_every_bit_of_neighbouring_times(document):
    path, (_, _, tiers) = document
    got = velmar.textgrid2data(path, True, "auto")[2]
    for (_, _, items), (_, _, expected) in zip(got, tiers):
        assert [(a.hex(), b.hex()) for a, b, _ in items] == \
            [(a.hex(), b.hex()) for a, b, _ in expected]


def test_vector_result_keeps_every_value(document):
    path, (_, _, tiers) = document
    tmins, tmaxs, labels, names, flags = velmar.textgrid2vectors(path, True, "auto")
    rows = [(a, b, label, name, flag) for name, flag, items in tiers for a, b, label in items]
    assert list(zip(tmins.tolist(), tmaxs.tolist(), labels, names, flags.tolist())) == rows


@pytest.mark.parametrize("enabled", [True, False], ids=["enabled", "disabled"])
@pytest.mark.parametrize("call", [
    lambda path: velmar.textgrid2data(path, True, "auto"),
    lambda path: velmar.textgrid2vectors(path, True, "auto"),
    lambda path: velmar.textgrid2data(path + ".missing", True, "auto"),
    lambda path: velmar.textgrid2data(path, "not a bool", "auto"),
], ids=["data", "vectors", "missing file", "bad argument"])
def test_collector_state_is_restored(document, enabled, call):
    was = gc.isenabled()
    try:
        gc.enable() if enabled else gc.disable()
        try:
            call(document[0])
        except (OSError, TypeError):
            pass
        assert gc.isenabled() is enabled
    finally:
        gc.enable() if was else gc.disable()


def test_built_result_survives_collection(document):
    result = velmar.textgrid2data(document[0], True, "auto")
    gc.collect()
    assert result == velmar.textgrid2data(document[0], True, "auto")


# -- vectors2textgrid with NumPy columns -----------------------------------------

TMINS = [0.0, 0.1, 0.30000000000000004, 1.0]
TMAXS = [0.1, 0.30000000000000004, 1.0, 2.5]
LABELS = ["a", "", "ŋ", "a"]
NAMES = ["t", "t", "t", "t"]
FLAGS = [True, True, True, True]


class SubArray(np.ndarray):
    pass


def read_only(array):
    array.flags.writeable = False
    return array


def unaligned(values):
    raw = bytearray(1 + 8 * len(values))
    raw[1:] = np.array(values, dtype=np.float64).tobytes()
    return np.frombuffer(bytes(raw), dtype=np.float64, offset=1)


TIME_FORMS = {
    "float64": lambda v: np.array(v, dtype=np.float64),
    "read-only": lambda v: read_only(np.array(v, dtype=np.float64)),
    "strided": lambda v: np.repeat(np.array(v, dtype=np.float64), 2)[::2],
    "big-endian": lambda v: np.array(v, dtype=">f8"),
    "float32": lambda v: np.array(v, dtype=np.float32),
    "subclass": lambda v: np.array(v, dtype=np.float64).view(SubArray),
    "unaligned": unaligned,
    "tuple": tuple,
}


def write_columns(path, tmins, tmaxs, flags):
    velmar.vectors2textgrid(tmins, tmaxs, list(LABELS), list(NAMES), flags, 0.0, 2.5,
                            str(path), "long")
    return path.read_bytes()


@pytest.mark.parametrize("form", TIME_FORMS)
def test_time_arrays_write_what_lists_write(tmp_path, form):
    expected = write_columns(tmp_path / "lists.TextGrid", TMINS, TMAXS, FLAGS)
    convert = TIME_FORMS[form]
    if form == "float32":
        # Values rounded to float32 first, as element by element.
        tmins32 = [float(x) for x in np.array(TMINS, dtype=np.float32)]
        tmaxs32 = [float(x) for x in np.array(TMAXS, dtype=np.float32)]
        expected = write_columns(tmp_path / "lists32.TextGrid", tmins32, tmaxs32, FLAGS)
    got = write_columns(tmp_path / "arrays.TextGrid", convert(TMINS), convert(TMAXS), FLAGS)
    assert got == expected


@pytest.mark.parametrize("flags", [
    np.array(FLAGS),
    np.array([1, 2, 255, 1], dtype=np.uint8).view(np.bool_),
    np.repeat(np.array(FLAGS), 2)[::2],
    [np.True_] * 4,
], ids=["bool", "bool over other bytes", "strided", "list of numpy bools"])
def test_flag_arrays_write_what_lists_write(tmp_path, flags):
    expected = write_columns(tmp_path / "lists.TextGrid", TMINS, TMAXS, FLAGS)
    assert write_columns(tmp_path / "arrays.TextGrid", np.array(TMINS), np.array(TMAXS),
                         flags) == expected


@pytest.mark.parametrize("slot, column", [
    (0, np.zeros((4, 2))),
    (0, np.array(["0"] * 4)),
    (4, np.array([1, 1, 1, 1])),
    (4, np.ones((4, 1), dtype=bool)),
], ids=["2-D times", "text times", "int flags", "2-D flags"])
def test_other_arrays_keep_their_messages(tmp_path, slot, column):
    """Arrays the columns are not read from fail as their elements do."""
    def error_of(value):
        columns = [np.array(TMINS), np.array(TMAXS), list(LABELS), list(NAMES), np.array(FLAGS)]
        columns[slot] = value
        with pytest.raises(TypeError) as info:
            velmar.vectors2textgrid(*columns, 0.0, 2.5, str(tmp_path / "out.TextGrid"), "long")
        return str(info.value)

    assert error_of(column) == error_of(list(column))
    assert not (tmp_path / "out.TextGrid").exists()


@pytest.mark.parametrize("labels", [list(LABELS), list(LABELS[:3]), [1, 2, 3, 4]],
                         ids=["written", "lengths differ", "labels refused"])
def test_arrays_are_released_after_the_call(tmp_path, labels):
    tmins, tmaxs, flags = np.array(TMINS), np.array(TMAXS), np.array(FLAGS)
    counts = [sys.getrefcount(a) for a in (tmins, tmaxs, flags)]
    for _ in range(3):
        try:
            velmar.vectors2textgrid(tmins, tmaxs, labels, list(NAMES), flags, 0.0, 2.5,
                                    str(tmp_path / "out.TextGrid"), "long")
        except (OSError, TypeError):
            pass
    assert [sys.getrefcount(a) for a in (tmins, tmaxs, flags)] == counts
    # An array still exported to a buffer could not be resized.
    for array in (tmins, tmaxs, flags):
        array.resize(len(array) + 1, refcheck=False)
