"""textgrid2data and data2textgrid end to end: building documents from data,
round trips through both layouts, Praat's own files, and the example script."""

import math
import os
import random
import subprocess
import sys
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import velmar

from conftest import CREATE, LONG_TEXTGRID, SAMPLE_DATA, exact
from praat_support import (PRAAT, as_praat_reads_it, needs_praat, praat_report, praat_string,
                           run_praat, tier_headers)

LAYOUTS = ["long", "short"]
ROOT = Path(__file__).resolve().parent.parent


def read_back(path, layout):
    """Reads a file we wrote with its explicit layout and with "auto"; both must agree."""
    data = velmar.textgrid2data(str(path), True, layout)
    assert exact(velmar.textgrid2data(str(path), True, "auto")) == exact(data)
    return data


TWO_TIERS = [("a", True, [(0.5, 1.0, "x")]), ("b", True, [(0.2, 0.8, "y")])]


# --- building documents from data ---------------------------------------------------

@pytest.mark.parametrize("layout", LAYOUTS)
def test_no_tiers_with_bounds_writes_an_empty_document(tmp_path, layout):
    path = tmp_path / "empty.TextGrid"
    velmar.data2textgrid([], 0.0, 1.0, str(path), layout)
    assert read_back(path, layout) == (0.0, 1.0, [])
    assert tier_headers(path) == []
    assert "<exists>" in path.read_text(encoding="utf-8")


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("data, tmin, tmax, bounds", [
    # An empty tier takes no part in fitting; it gets the document's bounds.
    ([("e1", True, []), ("w", True, [(0.0, 1.0, "a")]), ("e2", False, [])], None, None,
     [(0.0, 1.0), (0.0, 1.0), (0.0, 1.0)]),
    ([("e", True, []), ("w", False, [(0.5, 0.5, "p"), (0.75, 0.75, "q")])], 0.25, None,
     [(0.25, 0.75), (0.25, 0.75)]),
    ([("e", True, [])], 0.0, 1.0, [(0.0, 1.0)]),
])
def test_tiers_without_items_are_kept_in_place(tmp_path, layout, data, tmin, tmax, bounds):
    path = tmp_path / "out.TextGrid"
    velmar.data2textgrid(data, tmin, tmax, str(path), layout)
    assert read_back(path, layout) == (*bounds[0], data)
    assert tier_headers(path) == [(name, *span) for (name, _, _), span in zip(data, bounds)]


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("tmin, tmax, grid_bounds, tier_bounds", [
    (None, None, (0.2, 1.0), [("a", 0.5, 1.0), ("b", 0.2, 0.8)]),
    (0.0, 2.0, (0.0, 2.0), [("a", 0.0, 2.0), ("b", 0.0, 2.0)]),
    # Given bounds need not hold the items; only one of them may be given.
    (0.6, 0.7, (0.6, 0.7), [("a", 0.6, 0.7), ("b", 0.6, 0.7)]),
    (None, 3.0, (0.2, 3.0), [("a", 0.5, 3.0), ("b", 0.2, 3.0)]),
    (0.1, None, (0.1, 1.0), [("a", 0.1, 1.0), ("b", 0.1, 0.8)]),
])
def test_tier_bounds_come_from_the_given_bounds_or_the_items(
        tmp_path, layout, tmin, tmax, grid_bounds, tier_bounds):
    path = tmp_path / "out.TextGrid"
    velmar.data2textgrid(TWO_TIERS, tmin, tmax, str(path), layout)
    assert read_back(path, layout) == (*grid_bounds, TWO_TIERS)
    assert tier_headers(path) == tier_bounds


def test_bounds_skip_nan_item_times(tmp_path):
    """NaN passes validation and takes no part in the derived bounds."""
    path = tmp_path / "out.TextGrid"
    data = [("p", False, [(math.nan, math.nan, "n"), (0.5, 0.5, "a"), (0.75, 0.75, "b")])]
    velmar.data2textgrid(data, None, None, str(path), "long")
    assert tier_headers(path) == [("p", 0.5, 0.75)]
    tmin, tmax, [(_, _, items)] = velmar.textgrid2data(str(path), True, "long")
    assert (tmin, tmax) == (0.5, 0.75)
    assert math.isnan(items[0][0]) and items[1:] == data[0][2][1:]


@pytest.mark.parametrize("data, bounds, message", [
    ([("t", True, [(1.0, 2.0, "a"), (0.0, 1.0, "b")])], (None, None),
     "Items 0 and 1 overlap in tier t"),
    ([("t", False, [(0.5, 0.5, "a"), (0.3, 0.3, "b")])], (None, None),
     "Items 0 and 1 overlap in tier t"),
    ([("t", False, [(1.5, 1.6, "p")])], (None, None),
     "Item 0 should have tmin == tmax in PointTier t"),
    ([("ok", True, [(0.0, 1.0, "")]), ("t", True, [(0.0, 1.0, ""), (1.0, 1.0000005, "")])],
     (None, None), "tmin should be less than tmax in item 1 in tier t"),
    ([("ok", True, [(0.0, 1.0, "")]), ("t", False, [(0.5, 0.5, "")])], (None, None),
     "tmin should be less than tmax in tier t"),
    ([("t", True, [(0.0, 1.0, "")])], (1.0, 1.0000001),
     "tmin should be less than tmax in TextGrid"),
    ([("t", True, [(0.0, 1.0, "")])], (-1.0, None),
     "Time bounds should be non-negative in TextGrid"),
    # With no items at all a missing bound is 0, as with no tiers.
    ([("e", True, [])], (0.0, None), "Time bounds should be non-negative in TextGrid"),
])
def test_data_is_validated_in_full_and_never_reordered(out_file, data, bounds, message):
    with pytest.raises(OSError) as caught:
        velmar.data2textgrid(data, *bounds, out_file, "short")
    assert caught.value.args == (CREATE + message,)
    assert not os.path.exists(out_file)


@pytest.mark.parametrize("layout", LAYOUTS)
def test_points_keep_their_time_and_may_coincide(tmp_path, layout):
    path = tmp_path / "out.TextGrid"
    points = [(1.5, 1.5, "p"), (1.5, 1.5, "same time"), (1.5000005, 1.5000005, "near")]
    velmar.data2textgrid([("p", False, points)], 0.0, 2.0, str(path), layout)
    assert read_back(path, layout) == (0.0, 2.0, [("p", False, points)])


# --- reading documents into data -----------------------------------------------------

EMPTY_TIER_LONG = """File type = "ooTextFile"
Object class = "TextGrid"

xmin = 0
xmax = 4
tiers? <exists>
size = 2
item []:
    item [1]:
        class = "IntervalTier"
        name = "empty"
        xmin = 1
        xmax = 2
        intervals: size = 0
    item [2]:
        class = "TextTier"
        name = "marks"
        xmin = 0.5
        xmax = 3
        points: size = 1
        points [1]:
            number = 2.5
            mark = "m"
"""

EMPTY_TIER_SHORT = """File type = "ooTextFile"
Object class = "TextGrid"

0
4
<exists>
2
"IntervalTier"
"empty"
1
2
0
"TextTier"
"marks"
0.5
3
1
2.5
"m"
"""


@pytest.mark.parametrize("layout, text", [("long", EMPTY_TIER_LONG), ("short", EMPTY_TIER_SHORT)])
def test_a_tier_without_items_reads_as_an_empty_list(tmp_path, layout, text):
    path = tmp_path / "in.TextGrid"
    path.write_text(text, encoding="utf-8")
    assert read_back(path, layout) == (
        0.0, 4.0, [("empty", True, []), ("marks", False, [(2.5, 2.5, "m")])])


SAMPLE_SHORT = """File type = "ooTextFile"
Object class = "TextGrid"

0
2.5
<exists>
2
"IntervalTier"
"words"
0
2.5
2
0
1
"hello"
1
2.5
"wörld"
"TextTier"
"marks"
0
2.5
1
1.5
"p"
"""


def without_third_line(text):
    first, second, _, rest = text.split("\n", 3)
    return f"{first}\n{second}\n{rest}"


# Files as other tools write them; each holds SAMPLE_DATA, as Praat reads it.
@pytest.mark.parametrize("encoded", [
    LONG_TEXTGRID.replace("number = ", "time = ").encode(),
    LONG_TEXTGRID.replace("\n", "\r").encode(),
    SAMPLE_SHORT.replace("\n", "\r").encode(),
    LONG_TEXTGRID.replace("\n", "\r").encode("utf-16"),
    b"\xfe\xff" + SAMPLE_SHORT.replace("\n", "\r").encode("utf-16-be"),
    without_third_line(SAMPLE_SHORT).encode(),
    without_third_line(SAMPLE_SHORT).replace("\n", "\r").encode(),
], ids=["time_key", "cr_long", "cr_short", "cr_utf16_long", "cr_utf16_short",
        "no_blank_third_line", "no_blank_third_line_cr"])
def test_files_of_other_writers_read_as_praat_reads_them(tmp_path, encoded):
    path = tmp_path / "other.TextGrid"
    path.write_bytes(encoded)
    for strict in (False, True):
        assert velmar.textgrid2data(str(path), strict, "auto") == SAMPLE_DATA
    if PRAAT:
        assert praat_report(path) == SAMPLE_DATA


@pytest.mark.parametrize("layout", LAYOUTS)
def test_a_file_read_and_written_back_keeps_every_tier_with_the_global_bounds(tmp_path, layout):
    source = tmp_path / "in.TextGrid"
    source.write_text(EMPTY_TIER_LONG, encoding="utf-8")
    tmin, tmax, tiers = velmar.textgrid2data(str(source), True, "auto")
    path = tmp_path / "out.TextGrid"
    velmar.data2textgrid(tiers, tmin, tmax, str(path), layout)
    assert tier_headers(path) == [("empty", 0.0, 4.0), ("marks", 0.0, 4.0)]
    assert read_back(path, layout) == (tmin, tmax, tiers)


# --- round trips of random documents ------------------------------------------------

AWKWARD = ['"', '""', '"""', "\n", "\r", "\r\n", "\t", " ", "  ", "\\", '\\"', "\x00",
           "é", "日本", "😀", "\U0010fffd", "\u2028", "\u00a0", "\ufeff", "item [2]:",
           "xmin = 5", "intervals [1]:", "points: size = 3", "text = \"x\"", "<exists>",
           "item []:", "item[]"]
texts = st.lists(st.one_of(st.sampled_from(AWKWARD), st.text(max_size=4)), max_size=5).map("".join)

# Several magnitudes, since times are written in positional notation.
magnitudes = st.builds(lambda mantissa, exponent: mantissa * 10.0 ** exponent,
                       st.floats(1.0, 10.0), st.sampled_from([-7, -3, 0, 3, 8, 15]))
times = st.one_of(magnitudes, st.floats(0.0, 1e300), st.sampled_from([0.0, -0.0, 0.1, 1 / 3]))


def interval_items(boundaries, labels):
    """Consecutive boundaries at least a little over 1e-6 apart become intervals."""
    kept = []
    for time in sorted(boundaries):
        if not kept or time - kept[-1] > 2e-6:
            kept.append(time)
    return [(a, b, label) for a, b, label in zip(kept, kept[1:], labels)]


@st.composite
def tiers(draw):
    name = draw(texts)
    if draw(st.booleans()):
        boundaries = draw(st.lists(times, min_size=2, max_size=8))
        labels = draw(st.lists(texts, min_size=len(boundaries), max_size=len(boundaries)))
        return (name, True, interval_items(boundaries, labels))
    points = sorted(draw(st.lists(times, max_size=6)))
    return (name, False, [(time, time, draw(texts)) for time in points])


@st.composite
def documents(draw):
    """(data, tmin, tmax, expected) for a document that passes validation."""
    data = draw(st.lists(tiers(), max_size=4))
    present = [tier for tier in data if tier[2]]
    spans = [(min(item[0] for item in items), max(item[1] for item in items))
             for _, _, items in present]
    if spans and draw(st.booleans()) and all(b > 0 and b - a > 1e-6 for a, b in spans):
        return data, None, None, (min(a for a, _ in spans), max(b for _, b in spans), data)
    tmin = draw(times)
    tmax = tmin + draw(st.sampled_from([1.0, 1e-5, 1e10]))
    if not tmax - tmin > 1e-6:
        tmin, tmax = 0.0, 1.0
    return data, tmin, tmax, (tmin, tmax, data)


def contains_long_marker(data):
    # A short-layout file with "item []" in a text is long to "auto", by design.
    return any("item []" in text or "item[]" in text
               for name, _, items in data for text in [name, *(label for *_, label in items)])


@settings(max_examples=150, deadline=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(document=documents())
def test_random_documents_come_back_identical(tmp_path, document):
    data, tmin, tmax, expected = document
    for layout in LAYOUTS:
        path = tmp_path / f"{layout}.TextGrid"
        velmar.data2textgrid(data, tmin, tmax, str(path), layout)
        assert exact(velmar.textgrid2data(str(path), True, layout)) == exact(expected)
        if layout == "long" or not contains_long_marker(expected[2]):
            assert exact(velmar.textgrid2data(str(path), True, "auto")) == exact(expected)


@pytest.mark.parametrize("layout", LAYOUTS)
def test_large_tiers_come_back_identical(tmp_path, layout):
    """Large enough for the items to be mapped on the worker pool both ways, with
    more distinct labels of every length than the readers keep shared."""
    rng = random.Random(5)
    boundaries = sorted({round(rng.uniform(0, 1e4), rng.randrange(1, 9)) for _ in range(20000)})
    labels = ["".join(rng.choices(AWKWARD + ["a", "b", " "], k=rng.randrange(4)))
              if rng.random() < 0.4 else f"{rng.randrange(12000)}" + "y" * rng.randrange(70)
              for _ in boundaries]
    data = [("words", True, interval_items(boundaries, labels)),
            ("marks", False, [(t, t, label) for t, label in zip(boundaries[::3], labels)])]
    path = tmp_path / "large.TextGrid"
    velmar.data2textgrid(data, 0.0, 1e4, str(path), layout)
    assert velmar.textgrid2data(str(path), True, layout) == (0.0, 1e4, data)
    assert velmar.textgrids2data([str(path)] * 2, True, layout) == [(0.0, 1e4, data)] * 2
    rows = [label for _, _, items in data for _, _, label in items]
    assert velmar.textgrid2vectors(str(path), True, layout)[2] == rows


# --- Praat's files and Praat reading ours ---------------------------------------------

# (tmin, tmax, [(name, is_interval, boundaries or point times, labels)]); Praat's
# interval tiers span the whole document, so intervals follow from the boundaries.
PRAAT_DOCUMENTS = {
    "ascii": (0.0, 3.0, [
        ("words", True, [0.30000000000000004, 1 / 3, 2.25],
         ['say "hi"', "two\nlines", '\t  padded = ""  ', "xmin = 5\nitem [2]:\n"]),
        ('odd "name"\twith tab', False, [1.234e-07, 0.5, 2.9999999],
         ['"', "", "  \n  "]),
    ]),
    "unicode": (0.5, 2e15, [
        ("Wörter 日本", True, [0.75, 1000000000000000.1],
         ['café "crème"', "日本語\nsecond line €", "😀"]),
        ("marks", False, [1.125, 123456789.123], ["😀 emoji", "ß\n"]),
    ]),
}


def praat_expected(document):
    tmin, tmax, planned_tiers = document
    tiers = []
    for name, is_interval, times, labels in planned_tiers:
        if is_interval:
            edges = [tmin, *times, tmax]
            items = list(zip(edges, edges[1:], labels))
        else:
            items = [(t, t, label) for t, label in zip(times, labels)]
        tiers.append((name, is_interval, items))
    return tmin, tmax, tiers


def praat_creation_script(document, encoding, long_path, short_path):
    tmin, tmax, planned_tiers = document
    points = " ".join(f"t{number}" for number, tier in enumerate(planned_tiers, 1) if not tier[1])
    all_names = " ".join(f"t{number}" for number in range(1, len(planned_tiers) + 1))
    lines = [f'Text writing preferences: "{encoding}"',
             f'Create TextGrid: {tmin!r}, {tmax!r}, "{all_names}", "{points}"']
    for number, (name, is_interval, times, labels) in enumerate(planned_tiers, 1):
        lines.append(f"Set tier name: {number}, {praat_string(name)}")
        if is_interval:
            lines += [f"Insert boundary: {number}, {time!r}" for time in times]
            lines += [f"Set interval text: {number}, {index}, {praat_string(label)}"
                      for index, label in enumerate(labels, 1)]
        else:
            lines += [f"Insert point: {number}, {time!r}, {praat_string(label)}"
                      for time, label in zip(times, labels)]
    lines.append(f"Save as text file: {praat_string(str(long_path))}")
    lines.append(f"Save as short text file: {praat_string(str(short_path))}")
    return "\n".join(lines) + "\n"


@needs_praat
@pytest.mark.parametrize("name", PRAAT_DOCUMENTS)
# Praat 6 saves non-ASCII text as UTF-16 by default, Praat 7 as UTF-8: ask for each.
@pytest.mark.parametrize("encoding", ["UTF-16", "UTF-8"])
def test_files_written_by_praat_give_what_praat_was_told(tmp_path, name, encoding):
    document = PRAAT_DOCUMENTS[name]
    paths = {layout: tmp_path / f"{layout}.TextGrid" for layout in LAYOUTS}
    script = tmp_path / "create.praat"
    script.write_text(praat_creation_script(document, encoding, paths["long"], paths["short"]),
                      encoding="utf-8")
    run_praat(script)
    expected = praat_expected(document)
    for layout, path in paths.items():
        assert path.read_bytes().startswith(b"\xfe\xff") == (encoding == "UTF-16")
        assert exact(read_back(path, layout)) == exact(expected)


OURS_FOR_PRAAT = [
    ('words "w" ', True, [(0.0, 0.1, "plain"), (0.1, 0.30000000000000004, 'say "hi"'),
                          (0.30000000000000004, 1 / 3, "two\nlines"), (1 / 3, 0.5, "\ttab\t"),
                          (0.5, 1.0, "  spaced  "), (1.0, 1.5, "é日本😀"), (1.5, 2.25, ""),
                          (2.25, 3.0, 'cr\rand crlf\r\n"')]),
    ("marks", False, [(1.234e-07, 1.234e-07, '""'), (1 / 3, 1 / 3, "ü\nß"),
                      (2.5, 2.5, "item [2]:\nxmin = 5")]),
    ("", True, [(0.0, 3.0, "whole")]),
]


@needs_praat
@pytest.mark.parametrize("layout", LAYOUTS)
def test_praat_reads_what_we_wrote(tmp_path, layout):
    path = tmp_path / f"ours_{layout}.TextGrid"
    velmar.data2textgrid(OURS_FOR_PRAAT, 0.0, 3.0, str(path), layout)
    expected = [(as_praat_reads_it(name), is_interval,
                 [(a, b, as_praat_reads_it(label)) for a, b, label in items])
                for name, is_interval, items in OURS_FOR_PRAAT]
    assert praat_report(path) == (0.0, 3.0, expected)


# --- the example -----------------------------------------------------------------------

@pytest.mark.parametrize("encoding", ["utf-8", "utf-16-le", "utf-16-be"])
def test_example_converts_both_ways_and_keeps_the_data(tmp_path, encoding):
    # Praat writes UTF-16 with a byte-order mark when a text needs it.
    text = (ROOT / "examples" / "speech.TextGrid").read_text(encoding="utf-8")
    source = tmp_path / "speech.TextGrid"
    source.write_bytes(("\ufeff" if encoding != "utf-8" else "").encode(encoding)
                       + text.encode(encoding))
    original = velmar.textgrid2data(str(source), True, "auto")
    converted, back = tmp_path / "out.TextGrid", tmp_path / "back.TextGrid"
    steps = [(source, converted, ("long", "short")), (converted, back, ("short", "long"))]
    for start, target, layouts in steps:
        result = subprocess.run([sys.executable, str(ROOT / "examples" / "convert.py"),
                                 str(start), str(target)],
                                capture_output=True, text=True, timeout=120)
        assert result.returncode == 0, result.stderr
        assert f"read    {start} ({layouts[0]} layout)" in result.stdout
        assert f"wrote   {target} ({layouts[1]} layout)" in result.stdout
        assert result.stdout.count("tier    ") == len(original[2])
        assert velmar.textgrid2data(str(target), True, "auto") == original
    assert b"item []" not in converted.read_bytes()
    assert b"item []" in back.read_bytes()
