"""python -m velmar: check, convert and table, run as a user runs them."""

import csv
import io
import subprocess
import sys

import pytest

import velmar
import velmar.__main__ as cli

from conftest import LONG_TEXTGRID, module_environment, write_corpus

OVERLAPPING = LONG_TEXTGRID.replace("xmin = 1\n", "xmin = 0.5\n")
EMPTY_TIER = LONG_TEXTGRID.replace("points: size = 1", "points: size = 0").split(
    "        points [1]")[0]


def run_cli(*arguments, hide=()):
    """The program's exit status, stdout and stderr; hide names modules that
    cannot be imported, as if they were not installed."""
    command = [sys.executable, "-m", "velmar"]
    if hide:
        command = [sys.executable, "-c",
                   f"import sys, runpy; sys.modules.update(dict.fromkeys({list(hide)!r})); "
                   "runpy.run_module('velmar', run_name='__main__', alter_sys=True)"]
    result = subprocess.run(command + [str(argument) for argument in arguments],
                            env=module_environment(), capture_output=True, text=True,
                            timeout=300)
    return result.returncode, result.stdout, result.stderr


def reader_reason(path, strict=True):
    with pytest.raises(OSError) as caught:
        velmar.textgrid2data(str(path), strict, "auto")
    return str(caught.value).split(" because: ", 1)[1]


@pytest.fixture
def corpus(tmp_path):
    """good/: valid files in both layouts, one in UTF-16; broken/: a corrupt file
    and one that only a lenient read accepts."""
    good, broken = tmp_path / "good", tmp_path / "broken"
    write_corpus(good, 12)
    (good / "utf16.TextGrid").write_bytes(LONG_TEXTGRID.encode("utf-16"))
    broken.mkdir()
    (broken / "corrupt.TextGrid").write_text("File type = \"ooTextFile\"\ngarbage\n")
    (broken / "overlap.TextGrid").write_text(OVERLAPPING)
    return good, broken


def listed(*directories):
    return [path for directory in directories for path in sorted(directory.rglob("*.TextGrid"))]


@pytest.mark.parametrize("lenient", [False, True])
@pytest.mark.parametrize("with_broken", [False, True])
def test_check_lists_each_failing_file_with_its_reason(corpus, tmp_path, lenient, with_broken):
    good, broken = corpus
    arguments = [good] + ([broken, tmp_path / "missing.TextGrid"] if with_broken else [])
    arguments += ["--lenient"] if lenient else []
    failing = []
    if with_broken:
        failing = [broken / "corrupt.TextGrid", tmp_path / "missing.TextGrid"]
        failing += [] if lenient else [broken / "overlap.TextGrid"]
    status, out, _ = run_cli("check", *arguments)

    total = len(listed(good)) + (3 if with_broken else 0)
    lines = out.splitlines()
    assert lines[-1] == f"{total} files, {total - len(failing)} passed, {len(failing)} failed"
    assert sorted(lines[:-1]) == sorted(f"{path}: {reader_reason(path, not lenient)}"
                                        for path in failing)
    assert status == (1 if failing else 0)


@pytest.mark.parametrize("layout", ["long", "short"])
@pytest.mark.parametrize("where", ["beside", "output", "in_place"])
def test_convert_writes_the_layout_and_keeps_the_data(corpus, tmp_path, layout, where):
    good, _ = corpus
    sources = listed(good)
    before = {path: velmar.textgrid2data(str(path), True, "auto") for path in sources}
    options = {"beside": [], "output": ["-o", tmp_path / "out"], "in_place": ["--in-place"]}
    status, out, err = run_cli("convert", "--to", layout, good, *options[where])
    assert (status, err) == (0, "")
    assert out == f"{len(sources)} files, {len(sources)} converted, 0 failed\n"

    for source in sources:
        target = {"beside": source.with_name(f"{source.stem}.{layout}.TextGrid"),
                  "output": tmp_path / "out" / source.relative_to(good),
                  "in_place": source}[where]
        assert velmar.textgrid2data(str(target), True, layout) == before[source]
        assert (b"item []" in target.read_bytes()) == (layout == "long")
    assert list(tmp_path.rglob(".*.tmp")) == []


def test_convert_refuses_what_it_cannot_keep_and_leaves_it_untouched(tmp_path):
    (tmp_path / "empty_tier.TextGrid").write_text(EMPTY_TIER)
    (tmp_path / "corrupt.TextGrid").write_text("garbage\n")
    (tmp_path / "overlap.TextGrid").write_text(OVERLAPPING)
    (tmp_path / "good.TextGrid").write_text(LONG_TEXTGRID)
    before = {path.name: path.read_bytes() for path in tmp_path.iterdir()}
    status, out, err = run_cli("convert", "--to", "short", "--in-place", tmp_path)

    assert status == 1
    assert out == "4 files, 2 converted, 2 failed\n"
    assert sorted(err.splitlines()) == sorted([
        f"{tmp_path / 'corrupt.TextGrid'}: {reader_reason(tmp_path / 'corrupt.TextGrid')}",
        f"{tmp_path / 'overlap.TextGrid'}: {reader_reason(tmp_path / 'overlap.TextGrid')}",
    ])
    after = {path.name: path.read_bytes() for path in tmp_path.iterdir()}
    assert after.keys() == before.keys()
    # A tier without items is written too, so that file converts exactly.
    assert {name for name in after if after[name] != before[name]} == {"good.TextGrid",
                                                                        "empty_tier.TextGrid"}


def csv_rows(path):
    with open(path, encoding="utf-8", newline="") as stream:
        header, *rows = csv.reader(stream)
    assert header == ["file", "tier", "is_interval", "tmin", "tmax", "label"]
    return [(file, tier, {"true": True, "false": False}[kind], float(tmin), float(tmax), label)
            for file, tier, kind, tmin, tmax, label in rows]


def parquet_rows(path):
    parquet = pytest.importorskip("pyarrow.parquet", reason="pyarrow is not installed")
    return list(zip(*parquet.read_table(path).to_pydict().values()))


@pytest.mark.parametrize("suffix, read_rows", [(".csv", csv_rows), (".parquet", parquet_rows)])
def test_table_holds_every_row_of_every_readable_file(corpus, tmp_path, suffix, read_rows):
    good, broken = corpus
    output = tmp_path / f"rows{suffix}"
    if suffix == ".parquet":
        pytest.importorskip("pyarrow.parquet", reason="pyarrow is not installed")
    status, out, err = run_cli("table", good, broken, "-o", output)

    paths = [str(path) for path in listed(good, broken)]
    tmins, tmaxs, labels, tiers, kinds, ids = velmar.textgrids2vectors(paths, True, "auto")
    expected = list(zip([paths[i] for i in ids], tiers, kinds.tolist(), tmins.tolist(),
                        tmaxs.tolist(), labels))
    assert read_rows(output) == expected
    assert status == 1
    assert sorted(err.splitlines()) == [f"{broken / name}: {reader_reason(broken / name)}"
                                        for name in ("corrupt.TextGrid", "overlap.TextGrid")]
    assert out == f"{len(paths)} files, {len(paths) - 2} read, 2 failed; " \
                  f"{len(expected)} rows in {output}\n"


# Command line, modules hidden, what stderr must say; {notes} is a directory
# without TextGrids, {file} a plain file, {source} a long-layout TextGrid.
REFUSALS = {
    "check, no TextGrids": ("check {notes}", (), "no *.TextGrid files in {notes}"),
    "convert, no TextGrids": ("convert --to long {notes}", (), "no *.TextGrid files in {notes}"),
    "table, no TextGrids": ("table {notes} -o {tmp}/t.csv", (), "no *.TextGrid files in {notes}"),
    "convert, output is a file": ("convert --to short {source} -o {file}", (),
                                  "cannot create {file}"),
    "convert over its source": ("convert --to long {source}", (), "use --in-place"),
    "table, unwritable output": ("table {source} -o {file}/t.csv", (),
                                 "cannot write {file}/t.csv: Not a directory"),
    "table, Parquet without pyarrow": ("table {source} -o {tmp}/t.parquet",
                                       ("pyarrow", "pyarrow.parquet"), "needs pyarrow"),
}


@pytest.mark.parametrize("command, hide, message", REFUSALS.values(), ids=REFUSALS.keys())
def test_a_command_that_cannot_run_says_why_and_writes_nothing(tmp_path, command, hide, message):
    places = {"notes": tmp_path / "notes", "file": tmp_path / "file.txt",
              "source": tmp_path / "speech.long.TextGrid", "tmp": tmp_path}
    places["notes"].mkdir()
    (places["notes"] / "notes.txt").write_text("not a TextGrid")
    places["file"].write_text("x")
    places["source"].write_text(LONG_TEXTGRID)
    before = sorted(tmp_path.rglob("*"))
    status, out, err = run_cli(*command.format(**places).split(), hide=hide)
    assert (status, out) == (2, "")
    assert message.format(**places) in err and "Traceback" not in err
    assert sorted(tmp_path.rglob("*")) == before


class FakeTerminal(io.StringIO):
    def __init__(self, is_terminal):
        super().__init__()
        self.is_terminal = is_terminal

    def isatty(self):
        return self.is_terminal


@pytest.mark.parametrize("is_terminal", [False, True])
def test_progress_shows_on_a_terminal_once_a_run_takes_a_moment(is_terminal):
    now = [0.0]
    stream = FakeTerminal(is_terminal)
    progress = cli.Progress("checked", 1500, stream, clock=lambda: now[0])
    progress.advance(500)
    assert stream.getvalue() == ""
    now[0] = cli.Progress.DELAY
    progress.advance(500)
    progress.close()
    line = "checked 1000/1500 files"
    shown = f"\r{line}\r{' ' * len(line)}\r"
    assert stream.getvalue() == (shown if is_terminal else "")
