"""Repeated calls, successful and failing, must not leak: neither Python
references (of the arguments or of anything the calls create) nor native
memory."""

import gc
import sys
import tracemalloc

import numpy as np
import pytest

import velmar

from conftest import resident_bytes

ITEM_COUNT = 2000


def big_data(bad_label_at=None):
    items = [(float(i), float(i + 1), f"label {i} " + "x" * 80) for i in range(ITEM_COUNT)]
    if bad_label_at is not None:
        items[bad_label_at] = (items[bad_label_at][0], items[bad_label_at][1], b"bytes")
    return [("words", True, items), ("marks", False, [(0.5, 0.5, "p")])]


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    directory = tmp_path_factory.mktemp("leaks")
    big = str(directory / "big.TextGrid")
    velmar.data2textgrid(big_data(), 0.0, float(ITEM_COUNT), big, "long")
    short = str(directory / "short.TextGrid")
    velmar.data2textgrid(big_data(), 0.0, float(ITEM_COUNT), short, "short")
    # Reads without strict; with it, the last two items overlap.
    invalid = directory / "invalid.TextGrid"
    with open(big, encoding="utf-8", newline="") as text:
        invalid.write_bytes(text.read().replace(f"xmin = {ITEM_COUNT - 1} \r\n",
                                                f"xmin = {ITEM_COUNT - 2} \r\n").encode())
    # More distinct short labels than the readers keep shared at once.
    labels = str(directory / "labels.TextGrid")
    velmar.data2textgrid([("w", True, [(float(i), i + 1.0, f"w{i}" + "y" * (i % 40))
                                       for i in range(6000)])], None, None, labels, "long")
    return {"big": big, "short": short, "invalid": str(invalid), "labels": labels,
            "out": str(directory / "out.TextGrid"), "missing": str(directory / "missing.TextGrid"),
            "unwritable": str(directory / "no-such-directory" / "out.TextGrid")}


def call_cases(files):
    """name -> (function, args, kwargs, expected exception or None)."""
    data = big_data()
    columns = ([float(i) for i in range(ITEM_COUNT)], np.arange(1, ITEM_COUNT + 1, dtype=float),
               ["a" * 50] * ITEM_COUNT, ["t"] * ITEM_COUNT, np.ones(ITEM_COUNT, dtype=bool))
    text = velmar.data2text(data, 0.0, ITEM_COUNT, "long")
    return {
        "read": (velmar.textgrid2data, (files["big"], True, "auto"), {}, None),
        "read by keyword": (velmar.textgrid2data, (),
                            {"file_type": "long", "file": files["big"], "strict": False}, None),
        "write": (velmar.data2textgrid, (data, 0.0, ITEM_COUNT, files["out"], "short"), {}, None),
        "read missing file": (velmar.textgrid2data, (files["missing"], True, "auto"), {}, OSError),
        "read unknown file type": (velmar.textgrid2data, (files["big"], True, "LONG"), {},
                                   BaseException),
        "write invalid data": (velmar.data2textgrid,
                               (data + [("late", True, [(2.0, 1.0, "x")])], None, None,
                                files["out"], "long"), {}, OSError),
        "bad label late in data": (velmar.data2textgrid,
                                   (big_data(bad_label_at=ITEM_COUNT - 1), None, None,
                                    files["out"], "long"), {}, TypeError),
        "short tuple late in data": (velmar.data2textgrid,
                                     ([("w", True, data[0][2][:-1] + [(1.0, 2.0)])], None, None,
                                      files["out"], "long"), {}, ValueError),
        "binding": (velmar.textgrid2data, (files["big"],), {"strict": True, "bogus": 1},
                    TypeError),
        "read short layout": (velmar.textgrid2data, (files["short"], True, "short"), {}, None),
        "read invalid strictly": (velmar.textgrid2data, (files["invalid"], True, "auto"), {},
                                  OSError),
        "write unwritable": (velmar.data2textgrid, (data, None, None, files["unwritable"], "long"),
                             {}, OSError),
        "read vectors": (velmar.textgrid2vectors, (files["short"], True, "auto"), {}, None),
        "read vectors invalid strictly": (velmar.textgrid2vectors,
                                          (files["invalid"], True, "long"), {}, OSError),
        "read vectors missing file": (velmar.textgrid2vectors, (files["missing"], True, "auto"),
                                      {}, OSError),
        "read vectors unknown file type": (velmar.textgrid2vectors, (files["big"], True, "x"), {},
                                           BaseException),
        "vector columns of unequal length": (velmar.vectors2textgrid,
                                             columns[:2] + (columns[2][:-1],) + columns[3:]
                                             + (None, None, files["out"], "long"), {}, OSError),
        "vector columns overlapping": (velmar.vectors2textgrid,
                                       (columns[0], columns[1] + 0.5) + columns[2:]
                                       + (None, None, files["out"], "long"), {}, OSError),
        "vector columns": (velmar.vectors2textgrid,
                           columns + (None, None, files["out"], "long"), {}, None),
        "batch data": (velmar.textgrids2data, ([files["big"], files["missing"]] * 20, True, "auto"),
                       {}, None),
        "batch vectors": (velmar.textgrids2vectors,
                          ([files["big"], files["missing"]] * 20, True, "auto"), {}, None),
        "batch of many labels": (velmar.textgrids2data, ([files["labels"]] * 4, True, "auto"),
                                 {}, None),
        "batch unknown file type": (velmar.textgrids2vectors, ([files["big"]] * 40, True, "LONG"),
                                    {}, BaseException),
        "text": (velmar.text2data, (text + "ə", True, "auto"), {}, None),
        "text as bytes, invalid strictly": (velmar.text2vectors,
                                            (bytearray(text.replace("xmax = 2 ", "xmax = 9 "),
                                                       "utf-16"), True, "auto"), {}, OSError),
        "text of data": (velmar.data2text, (data, 0.0, ITEM_COUNT, "short"), {}, None),
        "text of columns": (velmar.vectors2text, columns + (None, None, "long"), {}, None),
        "batch writes": (velmar.data2textgrids,
                         ([(data, None, None), (data + [("late", True, [(2.0, 1.0, "x")])], None,
                                                None)] * 10,
                          [files["out"], files["unwritable"]] * 10, "long"), {}, None),
        "batch writes of columns": (velmar.vectors2textgrids,
                                    columns + ([0, 1] * (ITEM_COUNT // 2), [files["out"]] * 3,
                                               "short"), {}, None),
        "batch writes, id without a file": (velmar.vectors2textgrids,
                                            columns + ([7] * ITEM_COUNT, [files["out"]], "long"),
                                            {}, ValueError),
    }


CASE_NAMES = list(call_cases(dict.fromkeys(
    ["big", "short", "invalid", "labels", "out", "missing", "unwritable"], "")))


def run(function, args, kwargs, expected, times):
    for _ in range(times):
        try:
            function(*args, **kwargs)
        except BaseException as error:  # noqa: B036 - PanicException derives from it
            if expected is None or not isinstance(error, expected):
                raise
        else:
            if expected is not None and not (
                isinstance(expected, tuple) and type(None) in expected
            ):
                raise AssertionError("call did not fail")


def objects_within(value, found=None):
    """The argument and every object reachable through its lists and tuples."""
    found = [] if found is None else found
    found.append(value)
    if isinstance(value, (list, tuple)):
        for element in value:
            objects_within(element, found)
    return found


@pytest.mark.parametrize("name", CASE_NAMES)
def test_argument_reference_counts_are_unchanged(files, name):
    function, args, kwargs, expected = call_cases(files)[name]
    watched = objects_within(list(args) + list(kwargs.values()))[1:]
    run(function, args, kwargs, expected, 3)
    before = [sys.getrefcount(obj) for obj in watched]
    run(function, args, kwargs, expected, 20)
    after = [sys.getrefcount(obj) for obj in watched]
    changed = [(repr(watched[i])[:60], before[i], after[i])
               for i in range(len(watched)) if before[i] != after[i]]
    assert changed == []


def python_memory_growth(function, args, kwargs, expected, times):
    gc.collect()
    tracemalloc.start()
    try:
        run(function, args, kwargs, expected, 2)
        gc.collect()
        start = tracemalloc.get_traced_memory()[0]
        run(function, args, kwargs, expected, times)
        gc.collect()
        return tracemalloc.get_traced_memory()[0] - start
    finally:
        tracemalloc.stop()


@pytest.mark.parametrize("name", CASE_NAMES)
def test_repeated_calls_do_not_grow_memory(files, name):
    function, args, kwargs, expected = call_cases(files)[name]
    # Python objects: one leaked result or message per call would show at once.
    assert python_memory_growth(function, args, kwargs, expected, 30) < 64 * 1024
    # Native memory is invisible to tracemalloc: each call handles about 200 kB
    # of text, so a leak of it would grow the resident size by 40 MB in each of
    # two rounds of 200 calls. A one-off rise (the allocator or the system
    # settling, as the full suite on a busy machine has shown) falls in one.
    run(function, args, kwargs, expected, 50)
    growth = []
    for _ in range(2):
        gc.collect()
        start = resident_bytes()
        run(function, args, kwargs, expected, 200)
        gc.collect()
        growth.append(resident_bytes() - start)
    assert min(growth) < 8 * 1024 * 1024, growth
