"""Random arguments and random files at all six functions: only ordinary
exceptions may come out, PanicException only for an unknown reading file_type,
and a failing call writes nothing."""

import os

import numpy as np
import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

import velmar

from conftest import LONG_TEXTGRID, panic_type

# NumPy's own warnings when a masked or complex element becomes a float.
pytestmark = pytest.mark.filterwarnings("ignore::UserWarning", "ignore:Casting complex")

ORDINARY = (TypeError, ValueError, OverflowError, OSError)
BATCH_FUNCTIONS = (velmar.textgrids2data, velmar.textgrids2vectors)
READ_TYPES = ("long", "short", "auto")
FUZZ = settings(max_examples=300, deadline=None, database=None,
                suppress_health_check=[HealthCheck.function_scoped_fixture,
                                       HealthCheck.too_slow])


class Boom(Exception):
    """Raised by the lying objects below; it must come out unchanged."""


class Text(str):
    pass


class Liar:
    """Claims to be a sequence, a number and an index, and fails or lies as told."""

    def __init__(self, mode, items=()):
        self.mode, self.items = mode, list(items)

    def __len__(self):
        if self.mode == "len raises":
            raise Boom
        return {"len huge": 2**62, "len negative": -1}.get(self.mode, len(self.items))

    def __getitem__(self, index):
        if self.mode == "getitem raises":
            raise Boom
        return self.items[index]

    def __iter__(self):
        if self.mode == "iter raises":
            raise Boom
        if self.mode == "iter not iterator":
            return 5
        return iter(self.items)

    def __float__(self):
        if self.mode == "float lies":
            return "1.0"
        raise Boom

    def __index__(self):
        if self.mode == "index huge":
            return 2**200
        raise Boom


class Shrinking:
    """A float-like element that empties (or grows) the list holding it."""

    def __init__(self, holder, grow):
        self.holder, self.grow = holder, grow

    def __float__(self):
        if self.grow:
            self.holder.extend([Shrinking(self.holder, False), 1.0])
        else:
            self.holder.clear()
        return 1.0


def mutating_list(grow):
    holder = [0.0]
    holder.append(Shrinking(holder, grow))
    holder.append((0.0, 1.0, "x"))
    return holder


LIAR_MODES = ["len raises", "len huge", "len negative", "getitem raises", "iter raises",
              "iter not iterator", "float lies", "float raises", "index huge"]

scalars = st.one_of(
    st.none(), st.booleans(), st.integers(min_value=-2**70, max_value=2**70),
    st.floats(allow_nan=True, allow_infinity=True), st.text(max_size=6),
    st.text(max_size=4).map(Text), st.binary(max_size=4), st.just("\ud800"),
    st.sampled_from([np.bool_(True), np.float64("nan"), np.float32(1.5), np.int64(-3),
                     np.uint8(7), np.str_("x"), np.datetime64(0, "s")]),
    st.sampled_from(LIAR_MODES).map(Liar),
)

arrays = st.sampled_from([
    np.zeros(3), np.ones(3, dtype=bool), np.arange(4, dtype=">f8"), np.arange(6.0)[::2],
    np.zeros((2, 2)), np.array(1.5), np.array([], dtype=float), np.array(["a", "b"]),
    np.array([1, None], dtype=object), np.arange(3, dtype=np.int32),
    np.frombuffer(b"\x02\x00\x05", dtype=bool), np.zeros(2, dtype=np.complex128),
    np.ma.masked_array([1.0, 2.0], mask=[True, False]),
])


def containers(children):
    return st.one_of(
        st.lists(children, max_size=4), st.lists(children, max_size=4).map(tuple),
        st.tuples(children, children, children),
        st.lists(children, max_size=3).flatmap(
            lambda items: st.sampled_from(LIAR_MODES).map(lambda mode: Liar(mode, items))),
        st.booleans().map(mutating_list),
    )


values = st.recursive(st.one_of(scalars, arrays), containers, max_leaves=12)

def often(strategy, other, odds=6):
    """`strategy` `odds` times as often as `other`."""
    return st.integers(0, odds).flatmap(lambda k: other if k == odds else strategy)


# Well-formed documents and columns, each part possibly replaced by a random
# value, so the checks deep inside are reached as well as the argument checks.
@st.composite
def ordered_items(draw, max_size=4):
    edges = sorted(draw(st.lists(st.floats(0, 10), min_size=2, max_size=max_size + 1)))
    labels = often(st.text(max_size=4), values, odds=12)
    return [st.tuples(often(st.just(a), values, 12), often(st.just(b), values, 12), labels)
            for a, b in zip(edges, edges[1:])]


items = st.one_of(st.tuples(st.floats(0, 10), st.floats(allow_nan=True), values), values)
tiers = often(
    st.tuples(often(st.text(max_size=4), values), often(st.booleans(), values),
              often(ordered_items().flatmap(lambda parts: st.tuples(*parts).map(list)),
                    st.lists(items, max_size=3))),
    values)
documents = often(st.lists(tiers, min_size=1, max_size=3), values)
bounds = st.one_of(st.none(), st.floats(allow_nan=True), values)
outputs = often(st.just("file"), st.sampled_from(["no directory", "nul"]), 3)
file_types = often(st.sampled_from(READ_TYPES),
                   st.one_of(st.sampled_from(("LONG", "", "long\x00")), values))


@st.composite
def column_sets(draw):
    """tmins, tmaxs, labels, tier_names, is_intervals: mostly of one length."""
    n = draw(st.integers(0, 4))
    edges = sorted(draw(st.lists(st.floats(0, 10), min_size=n + 1, max_size=n + 1)))
    columns = [edges[:-1], edges[1:], draw(st.lists(st.text(max_size=3), min_size=n, max_size=n)),
               ["t"] * n, [True] * n]
    numpy_forms = [np.array(columns[0]), np.array(columns[1]), None, None,
                   np.array(columns[4], dtype=bool)]
    for k in range(5):
        if numpy_forms[k] is not None and draw(st.booleans()):
            columns[k] = numpy_forms[k]
        if draw(st.integers(0, 4)) == 0:
            columns[k] = draw(st.one_of(values, arrays))
    return columns


PANIC = panic_type()


def check_call(function, args, panic_allowed=False):
    try:
        function(*args)
    except PANIC:
        assert panic_allowed, f"PanicException from {function.__name__}{args!r}"
        return False
    except (*ORDINARY, Boom):
        return False
    event(f"{function.__name__} succeeded")
    return True


def is_unknown_type(file_type):
    return isinstance(file_type, str) and file_type not in READ_TYPES


@pytest.fixture(scope="module")
def places(tmp_path_factory):
    directory = tmp_path_factory.mktemp("fuzz")
    good = directory / "good.TextGrid"
    good.write_text(LONG_TEXTGRID, encoding="utf-8")
    return directory, str(good)


@FUZZ
@given(file=often(st.sampled_from(["good", "missing", "nul"]), values),
       strict=often(st.booleans(), values), file_type=file_types)
def test_reading_functions_raise_only_ordinary_exceptions(places, file, strict, file_type):
    directory, good = places
    file = {"good": good, "missing": str(directory / "missing"),
            "nul": good + "\x00x"}.get(file, file) if isinstance(file, str) else file
    for function in (velmar.textgrid2data, velmar.textgrid2vectors):
        check_call(function, (file, strict, file_type), is_unknown_type(file_type))
    files = file if isinstance(file, (list, tuple)) else [file]
    for function in BATCH_FUNCTIONS:
        check_call(function, (files, strict, file_type), is_unknown_type(file_type))


def output_path(directory, kind):
    return {"file": str(directory / "out.TextGrid"),
            "no directory": str(directory / "none" / "out.TextGrid"),
            "nul": str(directory / "out\x00.TextGrid")}[kind]


def fresh_output_path(directory, kind):
    """output_path with no file left there by an earlier example."""
    path = output_path(directory, kind)
    if kind == "file" and os.path.exists(path):
        os.remove(path)
    return path


@FUZZ
@given(data=documents, tmin=often(st.none(), bounds, 3), tmax=often(st.none(), bounds, 3),
       output=outputs, file_type=file_types)
def test_data2textgrid_fails_cleanly_and_writes_nothing(places, data, tmin, tmax, output,
                                                        file_type):
    directory, _ = places
    path = fresh_output_path(directory, output)
    written = check_call(velmar.data2textgrid, (data, tmin, tmax, path, file_type))
    assert os.path.exists(path) == written
    assert not os.path.exists(output_path(directory, "nul").split("\x00")[0])


@FUZZ
@given(columns=column_sets(), tmin=often(st.none(), bounds, 3), tmax=often(st.none(), bounds, 3),
       output=outputs, file_type=file_types)
def test_vectors2textgrid_fails_cleanly_and_writes_nothing(places, columns, tmin, tmax, output,
                                                           file_type):
    directory, _ = places
    path = fresh_output_path(directory, output)
    written = check_call(velmar.vectors2textgrid,
                         (*columns, tmin, tmax, path, file_type))
    assert os.path.exists(path) == written


def mutated(base, cuts):
    data = bytearray(base)
    for position, replacement in cuts:
        position %= len(data) + 1
        data[position:position + len(replacement) % 3] = replacement
    return bytes(data)


SHORT_TEXTGRID = ('File type = "ooTextFile"\nObject class = "TextGrid"\n\n0\n2.5\n<exists>\n1\n'
                  '"IntervalTier"\n"w"\n0\n2.5\n2\n0\n1\n"a ""q"""\n1\n2.5\n"b"\n')
BASES = [LONG_TEXTGRID.encode(), SHORT_TEXTGRID.encode(), LONG_TEXTGRID.encode("utf-16"),
         b"\xfe\xff" + SHORT_TEXTGRID.encode("utf-16-be"), b""]
edits = st.lists(st.tuples(st.integers(0, 2000), st.binary(max_size=6)), max_size=6)
random_files = st.one_of(st.binary(max_size=200),
                         st.tuples(st.sampled_from(BASES), edits).map(lambda b: mutated(*b)))


def flattened(data):
    """textgrid2vectors' columns, derived from textgrid2data's result."""
    rows = [(item[0], item[1], item[2], name, is_interval)
            for name, is_interval, tier_items in data[2] for item in tier_items]
    return [list(column) for column in zip(*rows)] if rows else [[]] * 5


@settings(FUZZ, max_examples=200)
@given(content=random_files, strict=st.booleans())
def test_random_files_read_alike_or_fail_with_os_error(places, content, strict):
    directory, _ = places
    path = directory / "random.TextGrid"
    path.write_bytes(content)
    for file_type in READ_TYPES:
        try:
            data = velmar.textgrid2data(str(path), strict, file_type)
        except OSError:
            with pytest.raises(OSError):
                velmar.textgrid2vectors(str(path), strict, file_type)
            continue
        tmins, tmaxs, labels, names, flags = velmar.textgrid2vectors(str(path), strict, file_type)
        columns = [tmins.tolist(), tmaxs.tolist(), labels, names, flags.tolist()]
        assert np.array_equal(np.array(columns[:2]), np.array(flattened(data)[:2]),
                              equal_nan=True)
        assert columns[2:] == flattened(data)[2:]
