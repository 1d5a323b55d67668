"""Helpers for tests that look at written files directly or run Praat itself."""

import math
import shutil
from pathlib import Path
import re
import subprocess

import pytest

PRAAT = shutil.which("praat")
needs_praat = pytest.mark.skipif(PRAAT is None, reason="praat not on PATH")

# Shared with the library's tests. A point prints one time.
REPORT_SCRIPT = (Path(__file__).resolve().parents[1]
                 / "textgrid" / "tests" / "data" / "praat" / "report.praat")
# Many files in one run; a point prints its time twice.
REPORT_FILES_SCRIPT = REPORT_SCRIPT.with_name("report_files.praat")


def run_praat(script_path, *arguments):
    """Runs a Praat script headless and returns what it printed."""
    result = subprocess.run(
        [PRAAT, "--no-pref-files", "--run", str(script_path), *map(str, arguments)],
        capture_output=True, timeout=120,
    )
    output = result.stdout.decode("utf-8")
    assert result.returncode == 0, output + result.stderr.decode("utf-8", "replace")
    return output


def _decode_codes(word):
    return "".join(chr(int(code)) for code in word.strip("[]").split(",") if code)


def praat_report(textgrid_path):
    """What Praat reads from a TextGrid file, in the structured form."""
    tmin = tmax = None
    tiers = []
    for line in run_praat(REPORT_SCRIPT, textgrid_path).splitlines():
        kind, *words = line.split(" ")
        if kind == "grid":
            tmin, tmax = float(words[0]), float(words[1])
        elif kind == "tier":
            tiers.append((_decode_codes(words[1]), words[0] == "1", []))
        elif kind == "item":
            *times, label = words
            tmin_item, tmax_item = float(times[0]), float(times[-1])
            tiers[-1][2].append((tmin_item, tmax_item, _decode_codes(label)))
    return tmin, tmax, tiers


def _praat_number(word):
    return math.nan if word == "--undefined--" else float(word)


def _unescape(text):
    return re.sub(r"\\(.)", lambda match: "\n" if match[1] == "n" else match[1], text)


def praat_reads(paths, list_file):
    """What Praat reads from each file, by path: the structured form, or None
    where Praat refuses the file. One Praat run for all; `list_file` is where
    the list of paths for it is written."""
    Path(list_file).write_text("".join(f"{path}\n" for path in paths), encoding="utf-8")
    reads, path = {}, None
    for line in run_praat(REPORT_FILES_SCRIPT, Path(list_file).resolve()).split("\n"):
        kind, _, rest = line.partition(" ")
        if kind == "file":
            path = rest
            reads[path] = None
        elif kind == "grid":
            tmin, tmax = rest.split(" ")
            document = reads[path] = (_praat_number(tmin), _praat_number(tmax), [])
        elif kind == "tier":
            interval, _, name = rest.partition(" ")
            document[2].append((_unescape(name), interval == "1", []))
        elif kind == "item":
            tmin, tmax, label = rest.split(" ", 2)
            document[2][-1][2].append(
                (_praat_number(tmin), _praat_number(tmax), _unescape(label)))
    return reads


def praat_string(text):
    """A Praat string expression for any text: quotes doubled, line feeds and
    tabs spelled as newline$ and tab$ (a literal cannot hold them)."""
    pieces = []
    for line_number, line in enumerate(text.split("\n")):
        if line_number:
            pieces.append("newline$")
        for tab_number, part in enumerate(line.split("\t")):
            if tab_number:
                pieces.append("tab$")
            pieces.append('"' + part.replace('"', '""') + '"')
    return " + ".join(pieces)


def as_praat_reads_it(text):
    """Praat's text reader turns CR LF and a lone CR into LF, inside strings too."""
    return text.replace("\r\n", "\n").replace("\r", "\n")


def _unquote(value):
    return value[1:-1].replace('""', '"')


def tier_headers(path):
    """(name, tmin, tmax) of every tier stored in a file we wrote; labels must be
    single-line and names plain. Independent of the module's readers."""
    with open(path, encoding="utf-8", newline="") as stream:
        lines = [line.strip() for line in stream.read().split("\r\n")]
    if "item []:" in lines:
        headers = []
        for index, line in enumerate(lines):
            if line.startswith("class = "):
                name, xmin, xmax = (lines[index + k].split(" = ", 1)[1] for k in (1, 2, 3))
                headers.append((_unquote(name), float(xmin), float(xmax)))
        return headers
    headers, position = [], 7
    for _ in range(int(lines[6])):
        tier_class, name, xmin, xmax, count = lines[position:position + 5]
        headers.append((_unquote(name), float(xmin), float(xmax)))
        position += 5 + int(count) * (3 if tier_class == '"IntervalTier"' else 2)
    return headers
