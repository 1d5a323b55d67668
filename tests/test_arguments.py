"""Argument binding and the conversion of Python values, with their exact
error messages."""

import collections.abc
import pathlib

import numpy as np
import pytest

import velmar

ITEMS = [(0.0, 1.0, "a"), (1.0, 2.0, "b")]
DATA = [("words", True, ITEMS)]


def read(path):
    return velmar.textgrid2data(path, True, "auto")


# ---------------------------------------------------------------- binding

BINDING_ERRORS = [
    (lambda f: velmar.textgrid2data(f, True),
     "textgrid2data() missing 1 required positional argument: 'file_type'"),
    (lambda f: velmar.textgrid2data(f),
     "textgrid2data() missing 2 required positional arguments: 'strict' and 'file_type'"),
    (lambda f: velmar.textgrid2data(strict=True),
     "textgrid2data() missing 2 required positional arguments: 'file' and 'file_type'"),
    (lambda f: velmar.textgrid2data(),
     "textgrid2data() missing 3 required positional arguments: 'file', 'strict', and 'file_type'"),
    (lambda f: velmar.vectors2textgrid(),
     "vectors2textgrid() missing 9 required positional arguments: 'tmins', 'tmaxs', 'labels', "
     "'tier_names', 'is_intervals', 'tmin', 'tmax', 'output_file', and 'file_type'"),
    (lambda f: velmar.textgrid2data(f, True, "auto", strict=True),
     "textgrid2data() got multiple values for argument 'strict'"),
    (lambda f: velmar.textgrid2data(f, strict=True, file=f, file_type="auto"),
     "textgrid2data() got multiple values for argument 'file'"),
    (lambda f: velmar.textgrid2data(f, True, "auto", "extra"),
     "textgrid2data() takes 3 positional arguments but 4 were given"),
    # Too many positionals is decided before any keyword is looked at.
    (lambda f: velmar.textgrids2data(f, True, "auto", 1, 2, bogus=1),
     "textgrids2data() takes 3 positional arguments but 5 were given"),
    (lambda f: velmar.textgrid2data(f, True, fiel="auto"),
     "textgrid2data() got an unexpected keyword argument 'fiel'"),
    (lambda f: velmar.textgrid2data(f, True, File_type="auto"),
     "textgrid2data() got an unexpected keyword argument 'File_type'"),
    (lambda f: velmar.textgrid2data(f, True, **{"\ud800": 1}),
     "textgrid2data() got an unexpected keyword argument '\ud800'"),
    # The first failing keyword decides.
    (lambda f: velmar.textgrid2data(f, bogus=1, file=f),
     "textgrid2data() got an unexpected keyword argument 'bogus'"),
]


@pytest.mark.parametrize("call, message", BINDING_ERRORS)
def test_binding_errors(textgrid_file, call, message):
    with pytest.raises(TypeError) as caught:
        call(textgrid_file)
    assert type(caught.value) is TypeError
    assert str(caught.value) == message


@pytest.mark.parametrize("call", [
    lambda f: velmar.textgrid2data(file_type="auto", file=f, strict=True),
    lambda f: velmar.textgrid2data(f, file_type="auto", strict=True),
    lambda f: velmar.textgrid2data(f, True, file_type="auto"),
])
def test_keywords_in_any_order(textgrid_file, call):
    assert call(textgrid_file) == read(textgrid_file)


# ------------------------------------------------------- conversion errors


class Sized(collections.abc.Sequence):
    """A sequence that is neither list nor tuple, with a length it may lie about."""

    def __init__(self, elements, length=None, iter_error=None):
        self.elements, self.length, self.iter_error = elements, length, iter_error

    def __len__(self):
        return len(self.elements) if self.length is None else self.length

    def __getitem__(self, index):
        return self.elements[index]

    def __iter__(self):
        if self.iter_error is not None:
            raise self.iter_error
        return iter(self.elements)


def data_call(data=DATA, tmin=None, tmax=None, output_file=None, file_type="long"):
    return lambda out: velmar.data2textgrid(data, tmin, tmax, output_file or out, file_type)


def vectors_call(**changes):
    arguments = dict(tmins=[0.0], tmaxs=[1.0], labels=["a"], tier_names=["t"], is_intervals=[True],
                     tmin=None, tmax=None, output_file=None, file_type="long")
    arguments.update(changes)
    return lambda out: velmar.vectors2textgrid(**{**arguments, "output_file": arguments["output_file"] or out})


OUT = object()  # stands for the test's output path


def read_call(file=OUT, strict=True, file_type="auto"):
    return lambda out: velmar.textgrid2data(out if file is OUT else file, strict, file_type)


def batch_call(files, strict=True, file_type="auto"):
    return lambda out: velmar.textgrids2data(files, strict, file_type)


WRAPPED_TYPE_ERRORS = [
    (read_call(file=b"a.TextGrid"), "argument 'file': 'bytes' object cannot be cast as 'str'"),
    (read_call(file=pathlib.Path("a")),
     f"argument 'file': '{type(pathlib.Path('a')).__qualname__}' object cannot be cast as 'str'"),
    (read_call(file=None), "argument 'file': 'NoneType' object cannot be cast as 'str'"),
    (read_call(strict=1), "argument 'strict': 'int' object cannot be cast as 'bool'"),
    (read_call(strict=0), "argument 'strict': 'int' object cannot be cast as 'bool'"),
    (read_call(strict=np.int8(1)), "argument 'strict': 'int8' object cannot be cast as 'bool'"),
    (read_call(strict=None), "argument 'strict': 'NoneType' object cannot be cast as 'bool'"),
    (read_call(file_type=1), "argument 'file_type': 'int' object cannot be cast as 'str'"),
    (batch_call("a.TextGrid"), "argument 'files': Can't extract `str` to `Vec`"),
    (batch_call(p for p in ["a"]), "argument 'files': 'generator' object cannot be cast as 'Sequence'"),
    (batch_call({"a"}), "argument 'files': 'set' object cannot be cast as 'Sequence'"),
    (batch_call({"a": 1}), "argument 'files': 'dict' object cannot be cast as 'Sequence'"),
    (batch_call(iter(["a"])), "argument 'files': 'list_iterator' object cannot be cast as 'Sequence'"),
    (batch_call(["a", 2]), "argument 'files': 'int' object cannot be cast as 'str'"),
    (batch_call(Sized([], iter_error=TypeError("no iteration"))), "argument 'files': no iteration"),
    (data_call(data=[["words", True, ITEMS]]),
     "argument 'data': 'list' object cannot be cast as 'tuple'"),
    (data_call(data=[("words", True, [[0.0, 1.0, "a"]])]),
     "argument 'data': 'list' object cannot be cast as 'tuple'"),
    (data_call(data=[(1, True, ITEMS)]), "argument 'data': 'int' object cannot be cast as 'str'"),
    (data_call(data=[("words", 1, ITEMS)]), "argument 'data': 'int' object cannot be cast as 'bool'"),
    (data_call(data=[("words", True, "abc")]), "argument 'data': Can't extract `str` to `Vec`"),
    (data_call(data=[("words", True, [(0.0, 1.0, None)])]),
     "argument 'data': 'NoneType' object cannot be cast as 'str'"),
    (data_call(data="abc"), "argument 'data': Can't extract `str` to `Vec`"),
    (data_call(data=None), "argument 'data': 'NoneType' object cannot be cast as 'Sequence'"),
    (data_call(output_file=pathlib.Path("x")), None),
    (vectors_call(tmins=(x for x in [0.0])),
     "argument 'tmins': 'generator' object cannot be cast as 'Sequence'"),
    (vectors_call(tmaxs="1"), "argument 'tmaxs': Can't extract `str` to `Vec`"),
    (vectors_call(labels=[b"a"]), "argument 'labels': 'bytes' object cannot be cast as 'str'"),
    (vectors_call(tier_names=["t", 2]), "argument 'tier_names': 'int' object cannot be cast as 'str'"),
    (vectors_call(is_intervals=[1]), "argument 'is_intervals': 'int' object cannot be cast as 'bool'"),
    (vectors_call(is_intervals=np.array([1, 0])),
     "argument 'is_intervals': 'int64' object cannot be cast as 'bool'"),
    (vectors_call(file_type=None), "argument 'file_type': 'NoneType' object cannot be cast as 'str'"),
]


@pytest.mark.parametrize("call, message", WRAPPED_TYPE_ERRORS)
def test_wrapped_type_errors(out_file, call, message):
    with pytest.raises(TypeError) as caught:
        call(out_file)
    assert type(caught.value) is TypeError
    if message is not None:
        assert str(caught.value) == message
    assert caught.value.__context__ is None
    assert not pathlib.Path(out_file).exists()


class Number:
    def __init__(self, value=None, error=None):
        self.value, self.error = value, error

    def __float__(self):
        if self.error is not None:
            raise self.error
        return self.value


class SubTypeError(TypeError):
    pass


@pytest.mark.parametrize("call, prefix", [
    (data_call(tmin="1"), "argument 'tmin': "),
    (data_call(tmax=[1.0]), "argument 'tmax': "),
    (data_call(data=[("words", True, [("0", 1.0, "a")])]), "argument 'data': "),
    (vectors_call(tmins=[None]), "argument 'tmins': "),
    (data_call(tmin=Number(error=TypeError("bad number"))), "argument 'tmin': bad number"),
])
def test_number_type_errors_from_python_are_wrapped(out_file, call, prefix):
    with pytest.raises(TypeError) as caught:
        call(out_file)
    assert type(caught.value) is TypeError
    assert str(caught.value).startswith(prefix)


def test_wrapping_keeps_the_cause_but_not_the_replaced_error(out_file):
    cause = KeyError("root")
    error = TypeError("bad number")
    error.__cause__ = cause
    with pytest.raises(TypeError) as caught:
        data_call(tmin=Number(error=error))(out_file)
    assert caught.value is not error
    assert caught.value.__cause__ is cause
    assert caught.value.__context__ is None


UNWRAPPED = [
    (data_call(tmin=10**400), OverflowError, None),
    (data_call(data=[("words", True, [(0.0, 10**400, "a")])]), OverflowError, None),
    (data_call(data=[("words", True, [(0.0, 1.0)])]), ValueError,
     "expected tuple of length 3, but got tuple of length 2"),
    (data_call(data=[("words", True)]), ValueError,
     "expected tuple of length 3, but got tuple of length 2"),
    (data_call(data=[("words", True, ITEMS, 4)]), ValueError,
     "expected tuple of length 3, but got tuple of length 4"),
    (data_call(data=[("words", True, [(0.0, 1.0, "\ud800")])]), UnicodeEncodeError, None),
    (data_call(data=[("\udfff", True, ITEMS)]), UnicodeEncodeError, None),
    (read_call(file="\ud800.TextGrid"), UnicodeEncodeError, None),
    (data_call(tmin=Number(error=SubTypeError("sub"))), SubTypeError, "sub"),
    (data_call(tmin=Number(error=ZeroDivisionError("zero"))), ZeroDivisionError, "zero"),
    (batch_call(Sized([], iter_error=ValueError("no iteration"))), ValueError, "no iteration"),
    (vectors_call(labels=["a", "\ud800"]), UnicodeEncodeError, None),
]


@pytest.mark.parametrize("call, kind, message", UNWRAPPED)
def test_other_errors_pass_unwrapped(out_file, call, kind, message):
    with pytest.raises(kind) as caught:
        call(out_file)
    assert type(caught.value) is kind
    assert not str(caught.value).startswith("argument")
    if message is not None:
        assert str(caught.value) == message
    assert not pathlib.Path(out_file).exists()


# ------------------------------------------------------ accepted conversions


@pytest.mark.parametrize("flag", [True, False, np.bool_(True), np.bool_(False), np.array([True])[0]])
def test_flags_accept_bool_and_numpy_bool(textgrid_file, out_file, flag):
    assert velmar.textgrid2data(textgrid_file, flag, "auto")[1] == 2.5
    velmar.data2textgrid([("words", flag, [(0.5, 0.5 if not flag else 1.0, "a")])], 0.0, 2.0,
                         out_file, "long")
    assert read(out_file)[2][0][1] is bool(flag)


class Index:
    def __index__(self):
        return 3


@pytest.mark.parametrize("tmin, tmax, expected", [
    (True, 3, (1.0, 3.0)),
    (0, Index(), (0.0, 3.0)),
    (np.float64(0.25), np.int64(3), (0.25, 3.0)),
    (Number(0.5), type("F", (float,), {})(2.5), (0.5, 2.5)),
    (None, None, (1.0, 2.0)),
])
def test_bounds_accept_anything_convertible_to_float(out_file, tmin, tmax, expected):
    velmar.data2textgrid([("words", True, [(1.0, 2.0, "a")])], tmin, tmax, out_file, "long")
    assert read(out_file)[:2] == expected


@pytest.mark.parametrize("data", [
    tuple(DATA),
    Sized(DATA),
    Sized(DATA, length=2**62),  # a lying length must not reserve memory
    Sized(DATA, length=-0),
    [("words", True, Sized(ITEMS))],
    [("words", True, tuple(ITEMS))],
    [(type("S", (str,), {})("words"), True, [(np.float64(0.0), Index(), "a")])],
])
def test_data_accepts_any_sequence(out_file, data):
    velmar.data2textgrid(data, None, None, out_file, "long")
    assert read(out_file)[2][0][0] == "words"


@pytest.mark.parametrize("label", ["a\x00b", "日本語", " padded ", 'say "hi"', "x" * 100, ""])
def test_labels_come_back_unchanged(out_file, label):
    velmar.data2textgrid([("tïer", True, [(0.0, 1.0, label)])], None, None, out_file, "long")
    assert read(out_file)[2] == [("tïer", True, [(0.0, 1.0, label)])]


@pytest.mark.parametrize("odd", [
    (np.float64(1.0), Number(2.0), "b"),
    (1, 2.0, type("S", (str,), {})("b")),
    type("T", (tuple,), {})((1.0, 2.0, "b")),
    (1.0, 2.0, "ŋb"),
])
def test_items_between_plain_ones_keep_their_place(out_file, odd):
    velmar.data2textgrid([("w", True, [(0.0, 1.0, "a"), odd, (2.0, 3.0, "c")])],
                         None, None, out_file, "long")
    label = "ŋb" if odd[2] == "ŋb" else "b"
    assert read(out_file)[2] == [("w", True, [(0.0, 1.0, "a"), (1.0, 2.0, label), (2.0, 3.0, "c")])]


def test_conversion_survives_the_list_changing_under_it(out_file):
    items = []

    class Clearing:
        def __float__(self):
            del items[1:]
            return 0.0

    items.extend([(Clearing(), 1.0, "a"), (1.0, 2.0, "b"), (2.0, 3.0, "c")])
    velmar.data2textgrid([("words", True, items)], None, None, out_file, "long")
    assert read(out_file)[2] == [("words", True, [(0.0, 1.0, "a")])]


@pytest.mark.parametrize("files", [("a", "b"), ["a"], Sized(["a"]), np.array(["a", "b"])])
def test_batch_files_accept_sequences_of_str(files):
    # Missing files: one empty entry each.
    assert velmar.textgrids2data(files, np.bool_(True), "auto") == [(0.0, 0.0, [])] * len(files)


def test_vectors_accept_arrays_and_lists(out_file):
    velmar.vectors2textgrid(
        np.array([0.0, 1.0]), np.array([1.0, 2.0]), np.array(["a", "b"]), ["t", "t"],
        np.array([True, True]), np.float64(0.0), 2, out_file, "short")
    assert velmar.textgrid2data(out_file, True, "short") == (
        0.0, 2.0, [("t", True, [(0.0, 1.0, "a"), (1.0, 2.0, "b")])])
