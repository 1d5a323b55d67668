"""python -m velmar: check, convert, table and info, run as a user runs them."""

import csv
import io
import json
import os
import subprocess
import sys

import pytest

import velmar
from velmar import cli
from velmar.cli import progress

from conftest import LONG_TEXTGRID, SAMPLE_DATA, module_environment, write_corpus

OVERLAPPING = LONG_TEXTGRID.replace("xmin = 1\n", "xmin = 0.5\n")
EMPTY_TIER = LONG_TEXTGRID.replace("points: size = 1", "points: size = 0").split(
    "        points [1]")[0]


def run_cli(*arguments, hide=(), stdin=None):
    """The program's exit status, stdout and stderr; hide names modules that
    cannot be imported, as if they were not installed."""
    command = [sys.executable, "-m", "velmar"]
    if hide:
        command = [sys.executable, "-c",
                   f"import sys, runpy; sys.modules.update(dict.fromkeys({list(hide)!r})); "
                   "runpy.run_module('velmar', run_name='__main__', alter_sys=True)"]
    result = subprocess.run(command + [str(argument) for argument in arguments],
                            env=module_environment(), capture_output=True, text=True,
                            input=stdin, timeout=300)
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
    arguments = [good] + ([broken] if with_broken else [])
    arguments += ["--lenient"] if lenient else []
    failing = []
    if with_broken:
        failing = [broken / "corrupt.TextGrid"]
        failing += [] if lenient else [broken / "overlap.TextGrid"]
    status, out, err = run_cli("check", *arguments)

    total = len(listed(good)) + (2 if with_broken else 0)
    assert out == f"{total} files, {total - len(failing)} passed, {len(failing)} failed\n"
    assert sorted(err.splitlines()) == sorted(f"{path}: {reader_reason(path, not lenient)}"
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
    "table, a named path that does not exist": ("table {tmp}/nosuch -o {tmp}/y.csv", (),
                                                "{tmp}/nosuch: no such file or directory"),
    "check, a listed path that does not exist": ("check --files-from {file}", (),
                                                 "x: no such file or directory"),
    "convert, two files to one place": ("convert --to long {plain} {short}", (),
                                        "{plain} and {short} would both be written to "
                                        "{tmp}/speech.long.TextGrid"),
    "table, JSON and rows both on stdout": ("table {source} --json -o -", (), "--json and -o -"),
    "convert onto a link to its source": ("convert --to long {linked}", (),
                                          "{linked} would be replaced"),
    "check, no threads": ("check {source} --jobs 0", (), "velmar check: --jobs 0"),
    "table, more threads than the module takes": ("table {source} -j 100000 -o {tmp}/t.csv",
                                                   (), "velmar table: --jobs 100000"),
}


@pytest.mark.parametrize("command, hide, message", REFUSALS.values(), ids=REFUSALS.keys())
def test_a_command_that_cannot_run_says_why_and_writes_nothing(tmp_path, command, hide, message):
    places = {"notes": tmp_path / "notes", "file": tmp_path / "file.txt",
              "source": tmp_path / "speech.long.TextGrid", "tmp": tmp_path,
              "plain": tmp_path / "speech.TextGrid", "short": tmp_path / "speech.short.TextGrid",
              "linked": tmp_path / "linked.TextGrid"}
    places["notes"].mkdir()
    (places["notes"] / "notes.txt").write_text("not a TextGrid")
    places["file"].write_text("x")
    for name in ("source", "plain", "short", "linked"):
        places[name].write_text(LONG_TEXTGRID)
    (tmp_path / "linked.long.TextGrid").symlink_to(places["linked"])
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
def test_progress_shows_rate_and_time_left_on_a_terminal_once_a_run_takes_a_moment(is_terminal):
    now = [0.0]
    stream = FakeTerminal(is_terminal)
    shown = progress.Progress("checked", 1500, True, stream, clock=lambda: now[0])
    shown.advance(500)
    assert stream.getvalue() == ""
    now[0] = 2.0
    shown.advance(500)
    shown.close()
    line = "checked 1000/1500 files (66%), 500 files/s, 0:01 left"
    expected = f"\r{line}\r{' ' * len(line)}\r"
    assert stream.getvalue() == (expected if is_terminal else "")


def test_convert_run_again_over_its_own_outputs_converts_the_sources_again(corpus):
    good, _ = corpus
    sources = listed(good)
    before = {path: velmar.textgrid2data(str(path), True, "auto") for path in sources}
    for layout, earlier in (("short", 0), ("short", len(sources)), ("long", len(sources))):
        status, out, err = run_cli("convert", "--to", layout, good)
        skipped = f"; {earlier} earlier outputs left as they are" if earlier else ""
        assert (status, err) == (0, "")
        assert out == f"{len(sources)} files, {len(sources)} converted, 0 failed{skipped}\n"
        for source in sources:
            target = source.with_name(f"{source.stem}.{layout}.TextGrid")
            assert velmar.textgrid2data(str(target), True, layout) == before[source]


MISCOUNTED = LONG_TEXTGRID.replace("intervals: size = 2", "intervals: size = 3")
NEGATIVE = LONG_TEXTGRID.replace("xmin = 0\n", "xmin = -1\n", 1)


@pytest.mark.parametrize("text, written", [(MISCOUNTED, True), (NEGATIVE, False)],
                         ids=["miscounted", "negative"])
def test_convert_lenient_converts_what_only_a_lenient_read_accepts(tmp_path, text, written):
    source = tmp_path / "lenient.TextGrid"
    source.write_text(text)
    status, _, err = run_cli("convert", "--to", "short", source)
    assert (status, err) == (1, f"{source}: {reader_reason(source)}\n")
    status, out, err = run_cli("convert", "--to", "short", "--lenient", source)
    target = tmp_path / "lenient.short.TextGrid"
    if not written:  # every document written is validated
        assert (status, err) == (1, f"{source}: cannot be written: {reader_reason(source)}\n")
        assert not target.exists()
        return
    assert (status, out, err) == (0, "1 files, 1 converted, 0 failed\n", "")
    assert velmar.textgrid2data(str(target), True, "short") == \
        velmar.textgrid2data(str(source), False, "auto")


def expected_record(path):
    try:
        tmin, tmax, tiers = velmar.textgrid2data(str(path), True, "auto")
    except OSError as error:
        return {"path": str(path), "ok": False, "reason": str(error).split(" because: ", 1)[1],
                "tiers": None, "items": None}
    return {"path": str(path), "ok": True, "reason": None, "tiers": len(tiers),
            "items": sum(len(items) for _, _, items in tiers)}


JSON_COMMANDS = {"check": ["check"], "convert": ["convert", "--to", "short", "-o", "{tmp}/out"],
                 "table": ["table", "-o", "{tmp}/rows.csv"],
                 "table to Parquet": ["table", "-o", "{tmp}/rows.parquet"], "info": ["info"]}


# One thread reads and writes without the pool, on a path of its own.
@pytest.mark.parametrize("jobs", [[], ["--jobs", "1"]], ids=["every core", "one thread"])
@pytest.mark.parametrize("command", JSON_COMMANDS)
def test_json_gives_one_object_per_file_on_stdout_and_the_summary_on_stderr(corpus, tmp_path,
                                                                           command, jobs):
    if command == "table to Parquet":
        pytest.importorskip("pyarrow.parquet", reason="pyarrow is not installed")
    good, broken = corpus
    options = [option.format(tmp=tmp_path) for option in JSON_COMMANDS[command]]
    status, out, err = run_cli(*options[:1], good, broken, "--json", *jobs, *options[1:])
    records = [json.loads(line) for line in out.splitlines()]
    common = [{key: record[key] for key in ("path", "ok", "reason", "tiers", "items")}
              for record in records]
    assert common == [expected_record(path) for path in listed(good, broken)]
    assert status == 1 and len(err.splitlines()) == 1 and " 2 failed" in err


@pytest.mark.parametrize("how", ["dash", "files_from", "files_from_stdin"])
def test_paths_can_come_from_stdin_or_a_list(corpus, tmp_path, how):
    good, broken = corpus
    paths = listed(good)[:3] + [broken / "corrupt.TextGrid"]
    listing = "".join(f"{path}\n" for path in paths)
    (tmp_path / "list.txt").write_text(listing)
    arguments = {"dash": ["-"], "files_from": ["--files-from", tmp_path / "list.txt"],
                 "files_from_stdin": ["--files-from", "-"]}[how]
    status, out, err = run_cli("check", *arguments, stdin=listing)
    assert (status, out) == (1, "4 files, 3 passed, 1 failed\n")
    assert err == f"{paths[-1]}: {reader_reason(paths[-1])}\n"


@pytest.mark.parametrize("hidden", [False, True])
def test_hidden_files_are_skipped_unless_asked_for(tmp_path, hidden):
    (tmp_path / "a.TextGrid").write_text(LONG_TEXTGRID)
    (tmp_path / "._a.TextGrid").write_bytes(b"\x00\x05\x16\x07 Mac OS X resource fork")
    (tmp_path / ".cache").mkdir()
    (tmp_path / ".cache" / "b.TextGrid").write_text(LONG_TEXTGRID)
    status, out, _ = run_cli("check", tmp_path, *(["--hidden"] if hidden else []))
    assert (status, out) == ((1, "3 files, 2 passed, 1 failed\n") if hidden
                             else (0, "1 files, 1 passed, 0 failed\n"))


def test_a_directory_that_cannot_be_read_is_warned_about(tmp_path, monkeypatch, capsys):
    (tmp_path / "a.TextGrid").write_text(LONG_TEXTGRID)
    (tmp_path / "locked").mkdir()
    scandir = os.scandir

    def refusing(path="."):
        if os.fspath(path).endswith("locked"):
            raise PermissionError(13, "Permission denied", os.fspath(path))
        return scandir(path)

    monkeypatch.setattr(os, "scandir", refusing)
    assert cli.main(["check", str(tmp_path)]) == 0
    captured = capsys.readouterr()
    assert captured.err == (f"velmar: warning: cannot read directory {tmp_path / 'locked'}: "
                            "Permission denied\n")
    assert captured.out == "1 files, 1 passed, 0 failed\n"


def test_table_to_stdout_holds_the_rows_of_the_file_it_would_write(corpus, tmp_path):
    good, _ = corpus
    assert run_cli("table", good, "-o", tmp_path / "rows.csv")[0] == 0
    status, out, err = run_cli("table", good, "-o", "-")
    assert status == 0 and err.startswith(f"{len(listed(good))} files, ")
    assert out == (tmp_path / "rows.csv").read_text(encoding="utf-8")  # newlines as text
    assert not (tmp_path / "-").exists()


def test_info_tells_layout_encoding_bounds_and_tiers(tmp_path):
    velmar.data2textgrid(SAMPLE_DATA[2], 0.0, 2.5, str(tmp_path / "b.TextGrid"), "short")
    (tmp_path / "a.TextGrid").write_bytes(LONG_TEXTGRID.encode("utf-16"))
    status, out, _ = run_cli("info", tmp_path)
    tiers = "  IntervalTier 'words': 2 intervals\n  TextTier 'marks': 1 points\n"
    assert status == 0
    assert out == (f"{tmp_path / 'a.TextGrid'}: long layout, UTF-16LE, 0.0 to 2.5 s, 2 tiers, "
                   f"3 items\n{tiers}"
                   f"{tmp_path / 'b.TextGrid'}: short layout, UTF-8, 0.0 to 2.5 s, 2 tiers, "
                   f"3 items\n{tiers}2 files, 2 read, 0 failed\n")


def test_the_velmar_command_is_installed_with_the_package():
    from importlib import metadata

    try:
        script = metadata.distribution("velmar").entry_points.select(name="velmar")
    except metadata.PackageNotFoundError:
        pytest.skip("velmar runs from its build tree, not installed from a package")
    assert [entry.value for entry in script] == ["velmar.cli:main"]
    command = os.path.join(os.path.dirname(sys.executable), "velmar")
    result = subprocess.run([command, "--version"], capture_output=True, text=True, timeout=60)
    assert result.stdout == f"velmar {metadata.version('velmar')}\n"
