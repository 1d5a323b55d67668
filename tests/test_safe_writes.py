"""Writes replace the output whole or not at all: a failed or killed write keeps
the old file, readers never see half a document; opens survive signals."""

import contextlib
import errno
import inspect
import os
import resource
import signal
import stat
import subprocess
import time

import pytest

import velmar

from conftest import LONG_TEXTGRID, SAMPLE_DATA, python_command, write_error


def document(count, label):
    """One tier of `count` intervals: (tiers, tmin, tmax)."""
    items = [(i * 0.01, (i + 1) * 0.01, label) for i in range(count)]
    return [("words", True, items)], 0.0, count * 0.01


DOCUMENT_SOURCE = inspect.getsource(document)  # for child processes


def finished(child, timeout=20):
    """Waits for a child process; one that overstays is killed. Whether it ended
    by itself."""
    try:
        child.wait(timeout=timeout)
        return True
    except subprocess.TimeoutExpired:
        child.kill()
        child.wait()
        return False


@contextlib.contextmanager
def file_size_limit(limit):
    # Python ignores SIGXFSZ, so a write past the limit fails with EFBIG. The
    # limit binds every file of the process (pytest's own output too): keep
    # it short.
    soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, hard))
    try:
        yield
    finally:
        resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))


@pytest.fixture(params=["tmpfs", "file_size_limit"])
def small_disk(request, tmp_path):
    """A directory where files cannot grow past 64 KiB while the given context
    lasts, and the error of a write past that: a tiny tmpfs where we may mount
    one; a file size limit, which fails writes in the same place, everywhere."""
    if request.param == "file_size_limit":
        yield tmp_path, file_size_limit(65536), errno.EFBIG
        return
    if os.geteuid() != 0:
        pytest.skip("mounting a tmpfs needs root")
    mount = tmp_path / "tmpfs"
    mount.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "velmar-test", str(mount)],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        pytest.skip("cannot mount a tmpfs: " + mounted.stderr.strip())
    try:
        yield mount, contextlib.nullcontext(), errno.ENOSPC
    finally:
        subprocess.run(["umount", str(mount)], check=True)


def test_full_disk_keeps_the_old_file(small_disk):
    directory, full, code = small_disk
    path = str(directory / "out.TextGrid")
    velmar.data2textgrid(SAMPLE_DATA[2], 0.0, 2.5, path, "long")
    with open(path, "rb") as old:
        before = old.read()
    with pytest.raises(OSError) as caught, full:
        velmar.data2textgrid(*document(3000, "new"), path, "long")
    assert caught.value.args == (write_error(path, code),)
    with open(path, "rb") as kept:
        assert kept.read() == before
    assert os.listdir(directory) == ["out.TextGrid"]


def test_killed_write_keeps_the_old_file(tmp_path):
    """The child is killed once its new file appears beside the output, that is
    while it writes; a kill that came after the rename is tried again."""
    path = tmp_path / "out.TextGrid"
    command, env = python_command(DOCUMENT_SOURCE + f"""
import velmar
velmar.data2textgrid(*document(200_000, "new"), {str(path)!r}, "long")
""")
    for _ in range(5):
        velmar.data2textgrid(SAMPLE_DATA[2], 0.0, 2.5, str(path), "long")
        before = path.read_bytes()
        child = subprocess.Popen(command, env=env)
        deadline = time.monotonic() + 20
        temporary = []
        while not temporary and child.poll() is None and time.monotonic() < deadline:
            temporary = [name for name in os.listdir(tmp_path) if name.startswith(".out.TextGrid.")]
            time.sleep(0.0002)
        child.kill()
        child.wait()
        if temporary and (tmp_path / temporary[0]).exists():
            assert path.read_bytes() == before
            assert velmar.textgrid2data(str(path), True, "long") == SAMPLE_DATA
            return
    pytest.fail("never saw a write in progress")


def test_readers_see_the_old_or_the_new_document(tmp_path):
    path = str(tmp_path / "out.TextGrid")
    documents = [document(50, "old"), document(3000, "new")]
    expected = [(tmin, tmax, tiers) for tiers, tmin, tmax in documents]
    velmar.data2textgrid(*documents[0], path, "long")
    command, env = python_command(DOCUMENT_SOURCE + f"""
import time, velmar
documents = [document(50, "old"), document(3000, "new")]
stop = time.monotonic() + 1.5
while time.monotonic() < stop:
    for data, layout in zip(documents, ["long", "short"]):
        velmar.data2textgrid(*data, {path!r}, layout)
""")
    child = subprocess.Popen(command, env=env)
    reads = 0
    deadline = time.monotonic() + 20
    try:
        while child.poll() is None and time.monotonic() < deadline:
            assert velmar.textgrid2data(path, True, "auto") in expected
            reads += 1
    finally:
        assert finished(child)
    assert child.returncode == 0
    assert reads > 0
    assert os.listdir(tmp_path) == ["out.TextGrid"]


@pytest.fixture
def null_device(tmp_path):
    """A character device that swallows what it is given: a node of our own
    where we may make one (so a wrong rename harms nothing), else /dev/null."""
    node = tmp_path / "null"
    try:
        os.mknod(node, stat.S_IFCHR | 0o666, os.makedev(1, 3))
        with open(node, "wb"):  # the file system may refuse devices (nodev)
            pass
        return str(node)
    except OSError:
        return "/dev/null"


def test_a_device_is_written_in_place(null_device, tmp_path):
    velmar.data2textgrid(SAMPLE_DATA[2], 0.0, 2.5, null_device, "long")
    assert stat.S_ISCHR(os.stat(null_device).st_mode)
    assert not [name for name in os.listdir(os.path.dirname(null_device)) if name.startswith(".null.")]


@pytest.mark.parametrize("writing", [False, True], ids=["reading", "writing"])
def test_interrupted_open_is_retried(tmp_path, writing):
    """A FIFO opens once its other end does, here after 0.5 s, while SIGALRM
    fires every 50 ms; the FIFO is written in place."""
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    source, received = tmp_path / "source.TextGrid", tmp_path / "received.TextGrid"
    source.write_text(LONG_TEXTGRID, encoding="utf-8")
    ends = (fifo, received) if writing else (source, fifo)
    other_end = subprocess.Popen(["sh", "-c", 'sleep 0.5; cat "$1" > "$2"', "sh", *map(str, ends)])
    previous = signal.signal(signal.SIGALRM, lambda *_: None)
    signal.setitimer(signal.ITIMER_REAL, 0.05, 0.05)
    try:
        if writing:
            velmar.data2textgrid(SAMPLE_DATA[2], 0.0, 2.5, str(fifo), "long")
        else:
            assert velmar.textgrid2data(str(fifo), True, "long") == SAMPLE_DATA
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0, 0)
        signal.signal(signal.SIGALRM, previous)
        other_end_done = finished(other_end, timeout=5)
    assert other_end_done
    if writing:
        assert velmar.textgrid2data(str(received), True, "long") == SAMPLE_DATA
    assert stat.S_ISFIFO(os.stat(fifo).st_mode)
