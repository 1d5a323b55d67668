"""Large files read a piece per thread: the failures and the memory of a result
are those of a small file's read."""

import os
import shutil
import subprocess

import pytest

import velmar

from conftest import python_command, read_prefix

HEAD = ('File type = "ooTextFile"\nObject class = "TextGrid"\n\nxmin = 0\nxmax = {n}\n'
        'tiers? <exists>\nsize = 1\nitem []:\n    item [1]:\n        class = "IntervalTier"\n'
        '        name = "w"\n        xmin = 0\n        xmax = {n}\n        intervals: size = {n}\n')


def long_text(rows, bad=None):
    """A long-layout file of `rows` intervals; the label of row `bad` holds 0xFF."""
    parts = [HEAD.format(n=rows).encode()]
    for i in range(rows):
        label = b"w\xff" if i == bad else f"w{i % 97}".encode()
        parts.append(f'        intervals [{i + 1}]:\n            xmin = {i}\n'
                     f'            xmax = {i + 1}\n            text = "'.encode() + label + b'"\n')
    return b"".join(parts)


# Small (one pass), 1.5 MB (loaded, then parsed in pieces), 4 MB (pieces
# straight from the file); the bad byte early, in the middle and last.
@pytest.mark.parametrize("rows", [100, 20_000, 50_000])
@pytest.mark.parametrize("where", [0.0, 0.5, 1.0])
@pytest.mark.parametrize("read", [velmar.textgrid2data, velmar.textgrid2vectors])
def test_a_byte_that_is_not_utf8_in_a_label_is_an_os_error(tmp_path, rows, where, read):
    path = tmp_path / "bad.TextGrid"
    path.write_bytes(long_text(rows, bad=min(int(rows * where), rows - 1)))
    with pytest.raises(OSError) as raised:
        read(str(path), False, "long")
    assert str(raised.value) == read_prefix(path) + "stream did not contain valid UTF-8"
    assert velmar.textgrids2data([str(path)], False, "long") == [(0.0, 0.0, [])]


def address_space():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no VmSize")


# The address checker's allocator reserves and gives back memory of its own.
UNDER_ASAN = pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                                reason="AddressSanitizer's allocator maps and releases its own")


@UNDER_ASAN
def test_a_result_holds_no_more_address_space_than_its_rows_need(tmp_path):
    # 32 MB of lines the reader passes over, around a single row.
    path = tmp_path / "one_row.TextGrid"
    path.write_bytes(long_text(1) + b"        other = 1\n" * 1_800_000)
    velmar.textgrid2vectors(str(path), False, "long")  # the library's kept blocks
    before = address_space()
    results = [velmar.textgrid2vectors(str(path), False, "long") for _ in range(20)]
    assert all(len(result[0]) == 1 for result in results)
    # Room made from the file's size was about 5 MB a result before it was given back.
    assert address_space() - before < 20 * (1 << 20)


STRACE = shutil.which("strace")


@UNDER_ASAN
@pytest.mark.skipif(STRACE is None, reason="strace is not installed")
def test_pages_are_given_back_only_from_blocks_the_library_owns(tmp_path):
    # 1.7 MB: loaded onto the heap and parsed in pieces, rows handed over as
    # they come. The heap's memory is the C library's: none of it may be
    # given back from under its allocator.
    path = tmp_path / "heap.TextGrid"
    path.write_bytes(long_text(22_000))
    command, env = python_command(f"""
        import velmar
        for _ in range(3):
            velmar.textgrid2data({str(path)!r}, False, "long")
    """)
    traced = subprocess.run([STRACE, "-f", "-e", "trace=madvise", *command], env=env,
                            capture_output=True, text=True, timeout=120)
    assert traced.returncode == 0, traced.stderr[-2000:]
    assert "MADV_DONTNEED" not in traced.stderr
