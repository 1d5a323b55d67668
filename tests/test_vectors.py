"""textgrid2vectors / vectors2textgrid: NumPy columns over native buffers and
the rebuild of documents from columns."""

import copy
import gc
import math
import os
import pickle
import textwrap

import numpy as np
import pytest

import velmar

from conftest import CREATE, python_output, resident_bytes


def long_textgrid(tmin, tmax, tiers):
    """Long-layout text of (name, is_interval, tier_tmin, tier_tmax, items)."""
    lines = ['File type = "ooTextFile"', 'Object class = "TextGrid"', "",
             f"xmin = {tmin!r}", f"xmax = {tmax!r}", "tiers? <exists>",
             f"size = {len(tiers)}", "item []:"]
    for t, (name, is_interval, ttmin, ttmax, items) in enumerate(tiers, 1):
        kind, key = ("IntervalTier", "intervals") if is_interval else ("TextTier", "points")
        lines += [f"    item [{t}]:", f'        class = "{kind}"', f'        name = "{name}"',
                  f"        xmin = {ttmin!r}", f"        xmax = {ttmax!r}",
                  f"        {key}: size = {len(items)}"]
        for i, (a, b, label) in enumerate(items, 1):
            lines.append(f"        {key} [{i}]:")
            if is_interval:
                lines += [f"            xmin = {a!r}", f"            xmax = {b!r}",
                          f'            text = "{label}"']
            else:
                lines += [f"            number = {a!r}", f'            mark = "{label}"']
    return "\n".join(lines) + "\n"


def write(path, tmin, tmax, tiers):
    path.write_text(long_textgrid(tmin, tmax, tiers), encoding="utf-8")
    return str(path)


SAMPLE = [
    ("empty first", True, 0.0, 3.0, []),
    ("words", True, 0.0, 3.0, [(0.0, 1.0, "a"), (1.0, 2.5, "héllo"), (2.5, 3.0, "")]),
    ("marks", False, 0.0, 3.0, [(0.5, 0.5, "p1"), (2.0, 2.0, "p2")]),
]


@pytest.fixture
def sample(tmp_path):
    return write(tmp_path / "sample.TextGrid", 0.0, 3.0, SAMPLE)


def rows_of(tiers):
    return [(a, b, label, name, is_interval)
            for name, is_interval, _, _, items in tiers for a, b, label in items]


def assert_array_contract(array, dtype, n):
    assert isinstance(array, np.ndarray)
    assert array.dtype == np.dtype(dtype) and array.shape == (n,)
    assert array.flags.writeable and array.flags.c_contiguous and array.flags.aligned
    assert not array.flags.owndata
    assert type(array.base).__name__ == "PySliceContainer"


# -- textgrid2vectors -----------------------------------------------------------

def test_columns_hold_rows_tier_by_tier(sample):
    tmins, tmaxs, labels, tier_names, is_intervals = velmar.textgrid2vectors(sample, True, "auto")
    expected = rows_of(SAMPLE)
    assert list(zip(tmins.tolist(), tmaxs.tolist(), labels, tier_names,
                    is_intervals.tolist())) == expected
    for array, dtype in ((tmins, "float64"), (tmaxs, "float64"), (is_intervals, "bool")):
        assert_array_contract(array, dtype, len(expected))
    assert type(labels) is list and type(tier_names) is list
    assert all(type(s) is str for s in labels + tier_names)


@pytest.mark.parametrize("tiers", [[], [("empty", True, 0.0, 1.0, []), ("p", False, 0.0, 1.0, [])]],
                         ids=["no tiers", "tiers without items"])
def test_document_without_items_gives_empty_columns(tmp_path, tiers):
    path = write(tmp_path / "e.TextGrid", 0.0, 1.0, tiers)
    tmins, tmaxs, labels, tier_names, is_intervals = velmar.textgrid2vectors(path, False, "long")
    assert labels == [] and tier_names == []
    for array, dtype in ((tmins, "float64"), (tmaxs, "float64"), (is_intervals, "bool")):
        assert_array_contract(array, dtype, 0)


def test_texts_survive_unchanged(tmp_path):
    texts = ["", "plain", "ünïcödé", "日本語", "emoji 🎉", "a\\b", "x" * 300, "ascii then é"]
    items = [(float(i), float(i + 1), t) for i, t in enumerate(texts)]
    path = write(tmp_path / "t.TextGrid", 0.0, float(len(texts)),
                 [("ñame", True, 0.0, float(len(texts)), items)])
    _, _, labels, tier_names, _ = velmar.textgrid2vectors(path, True, "long")
    assert labels == texts and tier_names == ["ñame"] * len(texts)


def test_arrays_are_independent_writable_buffers(sample):
    first = velmar.textgrid2vectors(sample, True, "auto")
    second = velmar.textgrid2vectors(sample, True, "auto")
    first[0][:] = -1.0
    first[4][:] = False
    assert second[0].tolist() == [0.0, 1.0, 2.5, 0.5, 2.0]
    assert second[4].tolist() == [True, True, True, False, False]
    assert first[1].base is not first[0].base


# -- the owner type -------------------------------------------------------------

@pytest.mark.parametrize("attempt", [
    lambda t, b: t(),
    lambda t, b: t.__new__(t),
    lambda t, b: object.__new__(t),
    lambda t, b: copy.copy(b),
    lambda t, b: copy.deepcopy(b),
    lambda t, b: pickle.dumps(b),
    lambda t, b: type("Sub", (t,), {}),
    lambda t, b: setattr(t, "__new__", object.__new__),
    lambda t, b: setattr(b, "data", 0),
], ids=["call", "dunder new", "object new", "copy", "deepcopy", "pickle", "subclass",
        "patch type", "set attribute"])
def test_owner_type_refuses_python_use(sample, attempt):
    array = velmar.textgrid2vectors(sample, True, "auto")[0]
    owner_type = type(array.base)
    with pytest.raises((TypeError, AttributeError)):
        attempt(owner_type, array.base)
    assert array.tolist() == [0.0, 1.0, 2.5, 0.5, 2.0]


def test_owner_type_is_created_once(sample):
    a = velmar.textgrid2vectors(sample, True, "auto")
    b = velmar.textgrid2vectors(sample, True, "auto")
    assert len({type(x.base) for x in (a[0], a[1], a[4], b[0])}) == 1
    assert not hasattr(velmar, "PySliceContainer")
    assert type(a[0].base).__doc__


@pytest.fixture(scope="module")
def large_file(tmp_path_factory):
    n = 50_000
    items = [(i * 0.01, (i + 1) * 0.01, f"w{i % 97}") for i in range(n)]
    points = [(i * 0.01 + 0.005, i * 0.01 + 0.005, "p") for i in range(n)]
    tiers = [("words", True, 0.0, n * 0.01, items), ("marks", False, 0.0, n * 0.01, points)]
    return write(tmp_path_factory.mktemp("large") / "large.TextGrid", 0.0, n * 0.01, tiers)


def test_repeated_labels_keep_their_rows(large_file):
    _, _, labels, tier_names, _ = velmar.textgrid2vectors(large_file, False, "long")
    n = 50_000
    assert labels == [f"w{i % 97}" for i in range(n)] + ["p"] * n
    assert tier_names == ["words"] * n + ["marks"] * n


def rows_from_data(data):
    return [(tmin, tmax, label, name, is_interval)
            for name, is_interval, items in data[2] for tmin, tmax, label in items]


@pytest.fixture(scope="module")
def tricky_large_file(tmp_path_factory):
    """Over two megabytes, so it is read straight from the file in pieces while
    rows become columns: tiers that span pieces, and labels with quotes and
    header-like lines inside."""
    n = 24_000
    labels = ['say ""hi""', "a\n    item [2]:\n        intervals [1]:", "", "caf\u00e9", "x = 1"]
    words = [(i * 0.01, (i + 1) * 0.01, labels[i % len(labels)]) for i in range(n)]
    marks = [(i * 0.02 + 0.005,) * 2 + (f"m{i % 13}",) for i in range(n // 2)]
    tiers = [("words", True, 0.0, n * 0.01, words), ("marks", False, 0.0, n * 0.01, marks),
             ("more words", True, 0.0, n * 0.01, words)]
    path = write(tmp_path_factory.mktemp("tricky") / "tricky.TextGrid", 0.0, n * 0.01, tiers)
    assert os.path.getsize(path) > 2 << 20
    return path


@pytest.mark.parametrize("strict", [True, False])
def test_rows_read_in_pieces_are_the_documents_rows(tricky_large_file, strict):
    tmins, tmaxs, labels, names, flags = velmar.textgrid2vectors(tricky_large_file, strict, "auto")
    rows = list(zip(tmins.tolist(), tmaxs.tolist(), labels, names, flags.tolist()))
    data = velmar.textgrid2data(tricky_large_file, strict, "auto")
    assert rows == rows_from_data(data)
    # The batch reads the whole document first, then converts it: another path.
    assert [data] == velmar.textgrids2data([tricky_large_file], strict, "auto")


def test_fault_late_in_a_large_file_discards_the_rows_read(tricky_large_file, tmp_path):
    text = open(tricky_large_file, encoding="utf-8").read()
    cut = text.rindex("xmax = ")
    broken = tmp_path / "broken.TextGrid"
    broken.write_text(text[:cut] + "xmax = -5" + text[text.index("\n", cut):], encoding="utf-8")
    with pytest.raises(OSError) as from_data:
        velmar.textgrid2data(str(broken), True, "auto")
    with pytest.raises(OSError) as from_vectors:
        velmar.textgrid2vectors(str(broken), True, "auto")
    assert str(from_vectors.value) == str(from_data.value)
    assert str(from_data.value).endswith(
        "Time bounds should be non-negative in item 23999 in tier more words")


ORDERS = {
    "arrays then views": lambda arrays, views: arrays + views,
    "views then arrays": lambda arrays, views: views + arrays,
    "interleaved": lambda arrays, views: [x for pair in zip(views, arrays) for x in pair],
    "reversed": lambda arrays, views: (arrays + views)[::-1],
}


@pytest.mark.parametrize("order", ORDERS)
def test_buffers_freed_once_in_any_release_order(large_file, order):
    def one_round():
        tmins, tmaxs, labels, tier_names, is_intervals = velmar.textgrid2vectors(
            large_file, False, "long")
        arrays = [tmins, tmaxs, is_intervals]
        views = [tmins[::2], tmaxs[10:], is_intervals.reshape(-1, 2), tmins[:].view(np.int64)]
        del tmins, tmaxs, is_intervals, labels, tier_names
        objects = ORDERS[order](arrays, views)
        arrays.clear()
        views.clear()
        while objects:
            objects.pop(0)

    # The allocator (the workers' arenas too) settles on the sizes of a call's
    # blocks within some rounds, and may hand memory back between rounds now
    # and then: compare with the highest resident size while settling.
    settled = 0
    for _ in range(30):
        one_round()
        settled = max(settled, resident_bytes())
    for _ in range(40):
        one_round()
    gc.collect()
    # 40 rounds of 100k rows would leak well over 20 MiB of columns alone.
    assert resident_bytes() - settled < 8 * 2**20


def test_view_keeps_buffer_alive_after_array_is_gone(sample):
    tmins = velmar.textgrid2vectors(sample, True, "auto")[0]
    view = tmins[1:3]
    del tmins
    gc.collect()
    [velmar.textgrid2vectors(sample, True, "auto") for _ in range(50)]
    assert view.tolist() == [1.0, 2.5]


# -- vectors2textgrid ---------------------------------------------------------------

def read_back(path):
    return velmar.textgrid2data(path, True, "auto")


def columns(rows):
    if not rows:
        return [], [], [], [], []
    return [list(c) for c in zip(*rows)]


@pytest.mark.parametrize("file_type", ["long", "short"])
def test_round_trip_of_textgrid2vectors_output(sample, tmp_path, file_type):
    out = str(tmp_path / "out.TextGrid")
    vectors = velmar.textgrid2vectors(sample, True, "auto")
    velmar.vectors2textgrid(*vectors, 0.0, 3.0, out, file_type)
    tmin, tmax, tiers = read_back(out)
    assert (tmin, tmax) == (0.0, 3.0)
    # The empty tier leaves no trace; the others take the global bounds.
    assert tiers == [(name, flag, items) for name, flag, _, _, items in SAMPLE[1:]]
    assert velmar.textgrid2data(out, True, "auto") == \
        (0.0, 3.0, [t for t in velmar.textgrid2data(sample, True, "auto")[2] if t[2]])


@pytest.mark.parametrize("short", range(5))
def test_unequal_lengths_are_refused(tmp_path, short):
    cols = [[0.0, 1.0, 2.0], [1.0, 2.0, 3.0], ["a", "b", "c"], ["t", "t", "t"], [True] * 3]
    cols[short] = cols[short][:2]
    out = tmp_path / "out.TextGrid"
    with pytest.raises(OSError, match="^" + CREATE + "Input vectors must have the same length$"):
        velmar.vectors2textgrid(*cols, None, None, str(out), "long")
    assert not out.exists()


def test_empty_columns_need_bounds(tmp_path):
    out = tmp_path / "out.TextGrid"
    with pytest.raises(OSError) as info:
        velmar.vectors2textgrid([], [], [], [], [], None, None, str(out), "long")
    assert str(info.value) == CREATE + "Time bounds should be non-negative in TextGrid"
    assert not out.exists()
    velmar.vectors2textgrid([], [], [], [], [], 0.0, 1.0, str(out), "long")
    assert read_back(str(out)) == (0.0, 1.0, [])


@pytest.mark.parametrize("rows, expected", [
    # first appearance decides tier order
    ([(0, 1, "x", "b", True), (0, 1, "y", "a", True), (1, 2, "z", "b", True)],
     [("b", True, [(0.0, 1.0, "x"), (1.0, 2.0, "z")]), ("a", True, [(0.0, 1.0, "y")])]),
    # sorted by start time; equal starts keep input order
    ([(2, 2, "c", "t", False), (1, 1, "b1", "t", False), (0, 0, "a", "t", False),
      (1, 1, "b2", "t", False)],
     [("t", False, [(0.0, 0.0, "a"), (1.0, 1.0, "b1"), (1.0, 1.0, "b2"), (2.0, 2.0, "c")])]),
    ([(2, 3, "c", "t", True), (0, 1, "a", "t", True), (1, 2, "b", "t", True)],
     [("t", True, [(0.0, 1.0, "a"), (1.0, 2.0, "b"), (2.0, 3.0, "c")])]),
    # names are compared exactly
    ([(0, 1, "x", "Tier", True), (0, 1, "y", "tier", True)],
     [("Tier", True, [(0.0, 1.0, "x")]), ("tier", True, [(0.0, 1.0, "y")])]),
], ids=["first appearance", "points with equal starts", "sorted by tmin", "case-sensitive"])
def test_rows_are_grouped_and_ordered(tmp_path, rows, expected):
    out = str(tmp_path / "out.TextGrid")
    cols = columns(rows)
    cols[0] = [float(x) for x in cols[0]]
    cols[1] = [float(x) for x in cols[1]]
    velmar.vectors2textgrid(*cols, 0.0, 3.0, out, "long")
    assert read_back(out) == (0.0, 3.0, expected)


def test_first_row_decides_tier_kind(tmp_path):
    out = str(tmp_path / "out.TextGrid")
    velmar.vectors2textgrid([0.5, 1.0], [0.5, 1.0], ["p", "q"], ["t", "t"], [False, True],
                            0.0, 2.0, out, "short")
    assert read_back(out) == (0.0, 2.0, [("t", False, [(0.5, 0.5, "p"), (1.0, 1.0, "q")])])
    with pytest.raises(OSError, match="^" + CREATE):
        velmar.vectors2textgrid([0.5, 1.0], [0.5, 2.0], ["p", "q"], ["t", "t"], [False, True],
                                0.0, 2.0, out + "2", "short")
    assert not os.path.exists(out + "2")


def test_bounds_default_to_the_items(tmp_path):
    out = str(tmp_path / "out.TextGrid")
    velmar.vectors2textgrid(np.array([1.0, 2.0]), np.array([2.0, 4.5]), ["a", "b"], ["t", "t"],
                            np.array([True, True]), None, None, out, "long")
    assert read_back(out) == (1.0, 4.5, [("t", True, [(1.0, 2.0, "a"), (2.0, 4.5, "b")])])


@pytest.mark.parametrize("rows, message", [
    ([(math.nan, 1.0, "a"), (0.0, 0.5, "b")], "tmins must not contain NaN"),
    ([(math.nan, 1.0, "a")], None),
], ids=["NaN in a tier of two", "NaN alone"])
def test_nan_start_is_an_error_and_writes_nothing(tmp_path, rows, message):
    out = tmp_path / "out.TextGrid"
    tmins, tmaxs, labels = (list(c) for c in zip(*rows))
    with pytest.raises(OSError) as info:
        velmar.vectors2textgrid(tmins, tmaxs, labels, ["t"] * len(rows), [True] * len(rows),
                                None, None, str(out), "long")
    assert str(info.value).startswith(CREATE)
    if message:
        assert str(info.value) == CREATE + message
    assert not out.exists()


def test_unwritable_output_is_io_error_with_create_prefix(tmp_path):
    out = str(tmp_path / "no such dir" / "out.TextGrid")
    with pytest.raises(OSError) as info:
        velmar.vectors2textgrid([0.0], [1.0], ["a"], ["t"], [True], None, None, out, "long")
    assert str(info.value).startswith(CREATE)


# -- without NumPy, and first use from many threads --------------------------------

@pytest.mark.parametrize("blocker", [
    "sys.modules['numpy'] = None",
    textwrap.dedent("""\
        class Block:
            def find_spec(self, name, path=None, target=None):
                if name == 'numpy' or name.startswith('numpy.'):
                    raise ModuleNotFoundError("No module named 'numpy'")
        sys.meta_path.insert(0, Block())"""),
], ids=["sys.modules", "meta path"])
def test_module_works_without_numpy(sample, tmp_path, blocker):
    out = python_output(f"""
import sys
{blocker}
import velmar
print(velmar.textgrid2data({sample!r}, True, "auto")[:2])
velmar.vectors2textgrid([0.0], [1.0], ["a"], ["t"], [True], None, None, "out.TextGrid", "long")
print(velmar.textgrid2data("out.TextGrid", True, "auto"))
for attempt in range(2):
    try:
        velmar.textgrid2vectors({sample!r}, True, "auto")
    except BaseException as e:
        print(type(e).__name__, isinstance(e, Exception), str(e)[:40])
""", tmp_path)
    assert out.splitlines() == [
        "(0.0, 3.0)",
        "(0.0, 1.0, [('t', True, [(0.0, 1.0, 'a')])])",
        "PanicException False Failed to access NumPy array API capsule",
        "PanicException False Failed to access NumPy array API capsule",
    ]


def test_first_arrays_from_many_threads_at_once(sample, tmp_path):
    out = python_output(f"""
import threading, velmar
barrier = threading.Barrier(8)
results = []
def work():
    barrier.wait()
    results.append(velmar.textgrid2vectors({sample!r}, True, "auto")[0].tolist())
threads = [threading.Thread(target=work) for _ in range(8)]
[t.start() for t in threads]
[t.join() for t in threads]
print(len(results), len({{tuple(r) for r in results}}))
""", tmp_path)
    assert out.split() == ["8", "1"]
