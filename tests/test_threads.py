"""Eight Python threads calling all six functions at once, on inputs large
enough to use the worker pool, get exactly what serial calls get: the same
values, the same stored bytes, the same errors."""

import os
import threading

import numpy as np
import pytest

import velmar

THREADS = 8
ROUNDS = 4
# Large enough that every call maps its tiers or files on the worker pool.
ITEMS = 60 * (os.cpu_count() or 1) + 7


def tiers(seed):
    intervals = [(i * 0.5, (i + 1) * 0.5, f"w{(i * seed) % 41} \"q\" é") for i in range(ITEMS)]
    points = [(i * 0.25 + 0.125, i * 0.25 + 0.125, f"p{i}") for i in range(ITEMS // 3)]
    return [(f"words{seed}", True, intervals), ("marks", False, points)]


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    directory = tmp_path_factory.mktemp("threads")
    files = []
    for seed, file_type in enumerate(["long", "short"] * 3, start=1):
        files.append(str(directory / f"in{seed}.TextGrid"))
        velmar.data2textgrid(tiers(seed), None, None, files[-1], file_type)
    files.append(str(directory / "missing.TextGrid"))
    return directory, files


def calls(files, out_dir, tag):
    """name -> call returning a comparable value; every writer has its own output."""
    data = tiers(7)
    vectors = velmar.textgrid2vectors(files[0], True, "auto")

    def stored(write, *args, file_type):
        path = str(out_dir / f"{tag}-{write.__name__}-{file_type}.TextGrid")
        write(*args, path, file_type)
        with open(path, "rb") as stored_file:
            return stored_file.read()

    def plain(columns):
        return [c.tolist() if isinstance(c, np.ndarray) else c for c in columns]

    def error_text(function, *args):
        with pytest.raises(OSError) as error:
            function(*args)
        return str(error.value)

    return {
        "textgrid2data": lambda: velmar.textgrid2data(files[1], True, "auto"),
        "textgrid2vectors": lambda: plain(velmar.textgrid2vectors(files[2], True, "auto")),
        "textgrids2data": lambda: velmar.textgrids2data(files * 4, True, "auto"),
        "textgrids2vectors": lambda: plain(velmar.textgrids2vectors(files * 4, False, "auto")),
        "data2textgrid": lambda: stored(velmar.data2textgrid, data, 0.0, None, file_type="long"),
        "vectors2textgrid": lambda: stored(velmar.vectors2textgrid, *vectors, None, 1e4,
                                           file_type="short"),
        "read error": lambda: error_text(velmar.textgrid2data, files[-1], True, "auto"),
        "write error": lambda: error_text(velmar.data2textgrid, data + [("x", True, [(2, 1, "")])],
                                          None, None, str(out_dir / f"{tag}-bad"), "long"),
    }


def test_threads_get_what_serial_calls_get(inputs):
    directory, files = inputs
    expected = {name: call() for name, call in calls(files, directory, "serial").items()}
    barrier = threading.Barrier(THREADS)
    results, failures = [], []

    def work(index):
        mine = list(calls(files, directory, f"thread{index}").items())
        barrier.wait()
        try:
            for round_ in range(ROUNDS):
                # Each thread starts elsewhere in the list, so every pair meets.
                shift = (index + round_) % len(mine)
                for name, call in mine[shift:] + mine[:shift]:
                    results.append((name, call()))
        except BaseException as error:  # noqa: B036 - a PanicException must be seen too
            failures.append(repr(error))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    assert len(results) == THREADS * ROUNDS * len(expected)
    differing = sorted({name for name, value in results if value != expected[name]})
    assert differing == []
