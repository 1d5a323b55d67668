"""How failures reach Python: IOError with the function's prefix for library
errors, PanicException for broken preconditions, nothing written on error."""

import errno
import os

import pytest

import velmar

from conftest import (CREATE, SAMPLE_DATA, panic_type, python_output, read_prefix,
                      write_error)


@pytest.mark.parametrize("read", [velmar.textgrid2data, velmar.textgrid2vectors])
@pytest.mark.parametrize("file_type", ["auto", "long", "short"])
def test_missing_file_is_io_error_with_read_prefix(tmp_path, read, file_type):
    path = str(tmp_path / "dïr with space" / "missing.TextGrid")
    with pytest.raises(OSError) as caught:
        read(path, True, file_type)
    assert caught.value.args == (
        read_prefix(path) + "No such file or directory (os error 2)",
    )


def test_strict_validation_failure_is_io_error(tmp_path):
    path = tmp_path / "overlap.TextGrid"
    text = (
        'File type = "ooTextFile"\nObject class = "TextGrid"\n\n0\n2\n<exists>\n1\n'
        '"IntervalTier"\n"t"\n0\n2\n2\n0\n1.5\n"a"\n1\n2\n"b"\n'
    )
    path.write_text(text, encoding="utf-8")
    lenient = velmar.textgrid2data(str(path), False, "short")
    assert lenient[2][0][2] == [(0.0, 1.5, "a"), (1.0, 2.0, "b")]
    with pytest.raises(OSError) as caught:
        velmar.textgrid2data(str(path), True, "short")
    message = str(caught.value)
    assert message.startswith(read_prefix(path))
    assert "overlap" in message


@pytest.mark.parametrize("data, tmin, tmax, reason", [
    ([], None, None, "Time bounds should be non-negative in TextGrid"),
    ([("t", True, [])], None, None, "Time bounds should be non-negative in TextGrid"),
    ([("t", True, [(1.0, 2.0, "a"), (0.0, 1.0, "b")])], None, None, None),
    ([("t", False, [(1.5, 1.6, "p")])], None, None, None),
])
def test_invalid_data_is_io_error_and_writes_nothing(out_file, data, tmin, tmax, reason):
    with pytest.raises(OSError) as caught:
        velmar.data2textgrid(data, tmin, tmax, out_file, "long")
    message = str(caught.value)
    assert message.startswith(CREATE)
    if reason is not None:
        assert message == CREATE + reason
    assert not os.path.exists(out_file)


@pytest.mark.parametrize("path, code", [
    ("no such directory/out.TextGrid", errno.ENOENT),
    ("", errno.ENOENT),
    (".", errno.EISDIR),
    ("file/out.TextGrid", errno.ENOTDIR),
    ("/dev/full", errno.ENOSPC),
])
def test_unwritable_output_is_io_error_and_leaves_nothing(tmp_path, monkeypatch, path, code):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "file").write_text("kept")
    with pytest.raises(OSError) as caught:
        velmar.data2textgrid(SAMPLE_DATA[2], 0.0, 2.5, path, "long")
    assert type(caught.value) is OSError
    assert caught.value.args == (write_error(path, code),)
    assert os.listdir(tmp_path) == ["file"]


@pytest.mark.parametrize("file_type", ["LONG", "Auto", "", " long", "long\x00"])
@pytest.mark.parametrize("exists", [True, False])
def test_unknown_reading_file_type_is_panic(textgrid_file, tmp_path, file_type, exists):
    path = textgrid_file if exists else str(tmp_path / "missing.TextGrid")
    with pytest.raises(panic_type()) as caught:
        velmar.textgrid2data(path, True, file_type)
    assert caught.value.args == ("Unknown file type: " + file_type,)


@pytest.mark.parametrize("file_type, layout_is_long", [
    ("long", True), ("short", False), ("Long", False), ("", False), ("auto", False),
])
def test_writing_never_rejects_a_file_type(out_file, file_type, layout_is_long):
    velmar.data2textgrid(SAMPLE_DATA[2], 0.0, 2.5, out_file, file_type)
    with open(out_file, encoding="utf-8") as written:
        assert ("item []:" in written.read()) == layout_is_long
    assert velmar.textgrid2data(out_file, True, "auto") == SAMPLE_DATA


def test_the_sample_file_reads_in_every_mode(textgrid_file):
    for mode in ("auto", "long"):
        assert velmar.textgrid2data(textgrid_file, True, mode) == SAMPLE_DATA


def test_calls_work_after_failures(textgrid_file, out_file):
    """A failure leaves no state behind that spoils the next call."""
    for _ in range(3):
        with pytest.raises(BaseException):
            velmar.textgrid2data(textgrid_file, True, "LONG")
        with pytest.raises(OSError):
            velmar.data2textgrid([], None, None, out_file, "long")
        with pytest.raises(TypeError):
            velmar.textgrid2data(textgrid_file, 1, "auto")
        assert velmar.textgrid2data(textgrid_file, True, "auto") == SAMPLE_DATA


def test_first_internal_failures_on_many_threads_share_one_class(textgrid_file):
    """The class is created on first need under a guard that waits without the
    interpreter lock; threads racing for it must all get the same class."""
    code = f"""
import threading, velmar
barrier = threading.Barrier(8)
kinds = []
def fail():
    barrier.wait()
    try:
        velmar.textgrid2data({textgrid_file!r}, True, "LONG")
    except BaseException as error:
        kinds.append(type(error))
threads = [threading.Thread(target=fail) for _ in range(8)]
for thread in threads: thread.start()
for thread in threads: thread.join()
print(len(kinds), len(set(map(id, kinds))), kinds[0].__name__)
"""
    assert python_output(code).split() == ["8", "1", "PanicException"]
