"""TextGrids in memory: read as the file with the same bytes is read, and
rendered as the text the file functions write."""

import subprocess
import sys
import zipfile

import numpy as np
import pytest

import velmar

from conftest import (CREATE, LONG_TEXTGRID, ROOT, SAMPLE_DATA, exact, module_environment,
                      read_prefix)
from test_data import SAMPLE_SHORT

OVERLAP = LONG_TEXTGRID.replace("xmin = 1\n", "xmin = 0.5\n")


def large_text(layout):
    """Over 2 MB, so that it is checked and read a piece per core."""
    items = [(i / 10, (i + 1) / 10, f"w{i % 97}") for i in range(40_000)]
    return velmar.data2text([("words", True, items)], None, None, layout)


CONTENTS = {
    "long_utf8": LONG_TEXTGRID.encode(),
    "short_utf8": SAMPLE_SHORT.encode(),
    "long_utf16_le": LONG_TEXTGRID.encode("utf-16"),
    "short_utf16_be": b"\xfe\xff" + SAMPLE_SHORT.encode("utf-16-be"),
    "long_lone_cr": LONG_TEXTGRID.replace("\n", "\r").encode(),
    "large_long": large_text("long").encode(),
    "large_short": large_text("short").encode(),
    "latin1": LONG_TEXTGRID.encode("latin-1"),
    "odd_utf16": LONG_TEXTGRID.encode("utf-16")[:-1],
    "overlap": OVERLAP.encode(),
}


def outcome(read, source, strict, file_type, prefix):
    """A read's result, or its error's message without `prefix`."""
    try:
        return exact(read(source, strict, file_type))
    except OSError as error:
        assert str(error).startswith(prefix)
        return str(error)[len(prefix):]


@pytest.mark.parametrize("name", CONTENTS)
@pytest.mark.parametrize("twins", [(velmar.text2data, velmar.textgrid2data),
                                   (velmar.text2vectors, velmar.textgrid2vectors)],
                         ids=["data", "vectors"])
def test_content_reads_as_the_file_of_the_same_bytes(tmp_path, name, twins):
    from_memory, from_file = twins
    content = CONTENTS[name]
    path = tmp_path / "twin.TextGrid"
    path.write_bytes(content)
    forms = [content, bytearray(content), memoryview(content)]
    if content[:2] not in (b"\xff\xfe", b"\xfe\xff"):
        forms.append(content.decode("utf-8", "surrogateescape"))
    for strict in (False, True):
        expected = outcome(from_file, str(path), strict, "auto", read_prefix(path))
        for form in forms:
            try:
                got = outcome(from_memory, form, strict, "auto", "Failed to read TextGrid because: ")
            except UnicodeEncodeError:
                assert name == "latin1" and isinstance(form, str)  # a str that is no UTF-8
                continue
            if isinstance(expected, tuple) and isinstance(expected[0], np.ndarray):
                assert all(np.array_equal(a, b) for a, b in zip(got, expected))
            else:
                assert got == expected, (name, type(form))


@pytest.mark.parametrize("bad", [3, None, ["text"]])
def test_content_of_another_type_is_refused(bad):
    with pytest.raises(TypeError, match="argument 'text'"):
        velmar.text2data(bad, True, "auto")


@pytest.mark.parametrize("layout", ["long", "short"])
def test_text_is_what_the_file_functions_write_and_reads_back(tmp_path, layout):
    tmin, tmax, tiers = SAMPLE_DATA
    text = velmar.data2text(tiers, tmin, tmax, layout)
    velmar.data2textgrid(tiers, tmin, tmax, str(tmp_path / "d"), layout)
    assert text.encode() == (tmp_path / "d").read_bytes()
    columns = velmar.text2vectors(text, True, layout)
    assert velmar.vectors2text(*columns, tmin, tmax, layout) == text
    assert velmar.text2data(text, True, layout) == SAMPLE_DATA


def test_text_of_an_invalid_document_raises_what_the_file_function_raises():
    with pytest.raises(OSError, match="^" + CREATE + "Items 0 and 1 overlap in tier w$"):
        velmar.data2text([("w", True, [(0, 2, "a"), (1, 3, "b")])], None, None, "long")


def test_zip_example_reads_the_members_as_their_files(tmp_path):
    archive = tmp_path / "corpus.zip"
    with zipfile.ZipFile(archive, "w") as zipped:
        zipped.writestr("a/long.TextGrid", LONG_TEXTGRID.encode("utf-16"))
        zipped.writestr("short.TextGrid", SAMPLE_SHORT)
        zipped.writestr("broken.TextGrid", b"\xc3")
        zipped.writestr("notes.txt", "not a TextGrid")
    result = subprocess.run([sys.executable, str(ROOT / "examples" / "zip_corpus.py"),
                             str(archive)], env=module_environment(), capture_output=True,
                            text=True, timeout=60)
    assert result.returncode == 1
    assert result.stdout.splitlines() == ["a/long.TextGrid: 2 tiers, 2 intervals, 2.5 s",
                                          "short.TextGrid: 2 tiers, 2 intervals, 2.5 s",
                                          "3 files, 4 intervals, 1 unreadable"]
    assert result.stderr == ("broken.TextGrid: Failed to read TextGrid because: "
                             "stream did not contain valid UTF-8\n")
