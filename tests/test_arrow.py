"""textgrids2arrow and textgrid2arrow: the rows of textgrids2vectors as one
Arrow table, taken by pyarrow, Polars and DuckDB through the Arrow PyCapsule
interface."""

import ctypes
import gc

import numpy as np
import pytest

import velmar

from conftest import panic_type, read_prefix, resident_bytes, write_corpus

COLUMNS = ["file", "tier", "is_interval", "tmin", "tmax", "label"]


def importorskip(name):
    return pytest.importorskip(name, reason=f"{name} is not installed for this interpreter")


def through_pyarrow(result):
    table = importorskip("pyarrow").table(result)
    return {name: table.column(name).to_pylist() for name in COLUMNS}


def through_polars(result):
    frame = importorskip("polars").DataFrame(result)
    return {name: frame[name].to_list() for name in COLUMNS}


def through_duckdb(result):
    duckdb = importorskip("duckdb")
    rows = duckdb.sql("select * from result").fetchall()  # the variable, by its name
    return {name: [row[i] for row in rows] for i, name in enumerate(COLUMNS)}


def through_pandas(result):
    pandas = importorskip("pandas")
    if hasattr(pandas.DataFrame, "from_arrow"):  # pandas 3
        frame = pandas.DataFrame.from_arrow(result)
    else:
        frame = importorskip("pyarrow").table(result).to_pandas()
    return {name: frame[name].tolist() for name in COLUMNS}


CONSUMERS = {"pyarrow": through_pyarrow, "polars": through_polars, "duckdb": through_duckdb,
             "pandas": through_pandas}


def exact_columns(columns):
    """Columns whose times compare by their bits."""
    return {name: [float.hex(v) for v in values] if name in ("tmin", "tmax") else list(values)
            for name, values in columns.items()}


def vector_columns(files, ids, tmins, tmaxs, labels, names, flags):
    return exact_columns({"file": [files[i] for i in ids], "tier": names,
                          "is_interval": flags.tolist(), "tmin": tmins.tolist(),
                          "tmax": tmaxs.tolist(), "label": labels})


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """Files in both layouts, a tier of 13 rows (its flags cross bytes) with
    times of 16 and 17 digits, and a missing file in the middle."""
    directory = tmp_path_factory.mktemp("arrow")
    paths = write_corpus(directory, 24)
    computed = str(directory / "computed.TextGrid")
    velmar.data2textgrid([("fön", True, [(i / 3, (i + 1) / 3, f"ä{i}") for i in range(13)]),
                          ("marks", False, [(0.1 + 0.2, 0.1 + 0.2, "")])],
                         0.0, 5.0, computed, "long")
    return paths[:12] + [str(directory / "missing.TextGrid"), computed] + paths[12:]


@pytest.mark.parametrize("consumer", CONSUMERS)
@pytest.mark.parametrize("one_file", [False, True], ids=["batch", "one file"])
def test_consumers_see_exactly_the_rows_of_the_vectors(corpus, consumer, one_file):
    if one_file:
        files = corpus[13:14]
        result = velmar.textgrid2arrow(files[0], True, "auto")
        vectors = velmar.textgrid2vectors(files[0], True, "auto")
        expected = vector_columns(files, [0] * len(vectors[0]), *vectors)
    else:
        files = corpus
        result = velmar.textgrids2arrow(files, True, "auto")
        *vectors, ids = velmar.textgrids2vectors(files, True, "auto")
        expected = vector_columns(files, ids, *vectors)
    assert len(result) == len(expected["tmin"]) > 0
    seen = CONSUMERS[consumer](result)
    del result
    gc.collect()  # the consumer's columns outlive the result
    assert exact_columns(seen) == expected


@pytest.mark.parametrize("files", [[], ["missing"], ["invalid"]])
def test_files_that_cannot_be_read_give_no_rows_but_the_columns(tmp_path, files):
    pa = importorskip("pyarrow")
    (tmp_path / "invalid").write_text("File type = \"ooTextFile\"\nxmin = 2\n", encoding="utf-8")
    result = velmar.textgrids2arrow([str(tmp_path / name) for name in files], True, "long")
    table = pa.table(result)
    assert (len(result), table.num_rows, table.column_names) == (0, 0, COLUMNS)


def test_failures_of_a_call_are_raised(corpus):
    missing = corpus[12]
    with pytest.raises(OSError, match="^" + read_prefix(missing)):
        velmar.textgrid2arrow(missing, True, "auto")
    with pytest.raises(panic_type()):
        velmar.textgrids2arrow(corpus, True, "LONG")
    with pytest.raises(TypeError):
        velmar.TextGridTable()


def test_a_capsule_taken_twice_is_refused_and_the_result_taken_again(corpus):
    pa = importorskip("pyarrow")
    result = velmar.textgrids2arrow(corpus, False, "auto")
    stream = result.__arrow_c_stream__()
    first = pa.RecordBatchReader._import_from_c_capsule(stream).read_all()
    with pytest.raises(pa.ArrowInvalid, match="released"):
        pa.RecordBatchReader._import_from_c_capsule(stream)
    schema, array = result.__arrow_c_array__()
    batch = pa.RecordBatch._import_from_c_capsule(schema, array)
    with pytest.raises(pa.ArrowInvalid, match="released"):
        pa.RecordBatch._import_from_c_capsule(schema, array)
    assert first.equals(pa.Table.from_batches([batch])) and first.equals(pa.table(result))


def test_capsules_are_released_taken_or_not(corpus):
    """Every exported struct holds its table's buffers (some 9 kB here): one
    left unreleased per call grows the resident size by 45 MB a round."""
    pa = importorskip("pyarrow")
    files = corpus[:8] * 3

    def calls(times):
        for index in range(times):
            result = velmar.textgrids2arrow(files, False, "auto")
            if index % 3 == 0:
                pa.table(result)
            elif index % 3 == 1:
                result.__arrow_c_array__()
            else:
                result.__arrow_c_stream__()

    calls(50)
    growth = []
    for _ in range(2):
        gc.collect()
        start = resident_bytes()
        calls(5000)
        gc.collect()
        growth.append(resident_bytes() - start)
    assert min(growth) < 8 * 1024 * 1024, growth


class ArrowSchema(ctypes.Structure):
    pass


class ArrowArray(ctypes.Structure):
    pass


class ArrowArrayStream(ctypes.Structure):
    pass


ArrowSchema._fields_ = [
    ("format", ctypes.c_char_p), ("name", ctypes.c_char_p), ("metadata", ctypes.c_char_p),
    ("flags", ctypes.c_int64), ("n_children", ctypes.c_int64),
    ("children", ctypes.POINTER(ctypes.POINTER(ArrowSchema))),
    ("dictionary", ctypes.POINTER(ArrowSchema)),
    ("release", ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowSchema))),
    ("private_data", ctypes.c_void_p)]
ArrowArray._fields_ = [
    ("length", ctypes.c_int64), ("null_count", ctypes.c_int64), ("offset", ctypes.c_int64),
    ("n_buffers", ctypes.c_int64), ("n_children", ctypes.c_int64),
    ("buffers", ctypes.POINTER(ctypes.c_void_p)),
    ("children", ctypes.POINTER(ctypes.POINTER(ArrowArray))),
    ("dictionary", ctypes.POINTER(ArrowArray)),
    ("release", ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowArray))),
    ("private_data", ctypes.c_void_p)]
ArrowArrayStream._fields_ = [
    ("get_schema", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ArrowArrayStream),
                                    ctypes.POINTER(ArrowSchema))),
    ("get_next", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ArrowArrayStream),
                                  ctypes.POINTER(ArrowArray))),
    ("get_last_error", ctypes.CFUNCTYPE(ctypes.c_char_p, ctypes.POINTER(ArrowArrayStream))),
    ("release", ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowArrayStream))),
    ("private_data", ctypes.c_void_p)]


def capsule_struct(capsule, name, struct):
    get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
    get_pointer.restype, get_pointer.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]
    return ctypes.cast(get_pointer(capsule, name), ctypes.POINTER(struct))


def test_the_stream_as_a_c_consumer_walks_it(corpus):
    """Schema, one batch, then the end, again and again; a child moved out of
    the batch outlives the batch, the result and the stream."""
    result = velmar.textgrids2arrow(corpus, True, "auto")
    rows = len(result)
    capsule = result.__arrow_c_stream__()
    stream = capsule_struct(capsule, b"arrow_array_stream", ArrowArrayStream)
    schema = ArrowSchema()
    assert stream.contents.get_schema(stream, ctypes.byref(schema)) == 0
    children = [schema.children[i].contents for i in range(schema.n_children)]
    assert [(c.name.decode(), c.format, c.flags) for c in children] == [
        ("file", b"i", 0), ("tier", b"i", 0), ("is_interval", b"b", 0), ("tmin", b"g", 0),
        ("tmax", b"g", 0), ("label", b"u", 0)]
    assert (schema.format, children[1].dictionary.contents.format) == (b"+s", b"u")
    schema.release(ctypes.byref(schema))
    assert not schema.release
    batch = ArrowArray()
    assert stream.contents.get_next(stream, ctypes.byref(batch)) == 0
    assert (batch.length, batch.n_children, batch.null_count) == (rows, 6, 0)
    tmaxs = ArrowArray.from_buffer_copy(batch.children[4].contents)  # moved out
    batch.children[4].contents.release = type(tmaxs.release)()
    batch.release(ctypes.byref(batch))
    for _ in range(2):
        end = ArrowArray()
        assert stream.contents.get_next(stream, ctypes.byref(end)) == 0 and not end.release
    del capsule, stream, result
    gc.collect()
    values = np.ctypeslib.as_array(ctypes.cast(tmaxs.buffers[1], ctypes.POINTER(ctypes.c_double)),
                                   (rows,))
    expected = velmar.textgrids2vectors(corpus, True, "auto")[1]
    assert values.tobytes() == expected.tobytes()
    tmaxs.release(ctypes.byref(tmaxs))
