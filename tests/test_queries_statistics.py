import functools
import math
import operator
import struct

import pytest
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st
from message_texts import column_missing
from message_texts import column_requested as asked
from message_texts import requested_column_missing as requested_missing

from orvantis_core import KestraneDataFrame, get_mean

STATS = ("count", "max", "mean", "min", "std")
NAMED = ",a b,A\nnan,2,3\n4,,6\n"  # columns "" = [nan, 4], "a b" = [2, nan], "A" = [3, 6]
nan, inf = math.nan, math.inf
FloatSubclass = type("FloatSubclass", (float,), {})


@pytest.mark.parametrize(
    "method, name, result, lines",
    [
        ("get_column", "A", [3.0, 6.0], [asked("A")]),
        ("get_column", "a b", [2.0, nan], [asked("a b")]),
        ("get_column", "", [nan, 4.0], [asked("")]),
        ("get_column", "yok", None, [asked("yok"), requested_missing("yok")]),
        ("get_column", "a b ", None, [asked("a b "), requested_missing("a b ")]),
        ("get_column", b"a b", [2.0, nan], [asked("a b")]),
        ("count_nan", bytearray(b"a b"), 1, []),
        ("count_nan", "", 1, []),
        ("count_nan", "A", 0, []),
        ("count_nan", "yok", 0, [column_missing("yok")]),
        ("count_nan", "a", 0, [column_missing("a")]),
        ("count_nan", " ", 0, [column_missing(" ")]),
    ],
)
def test_lookup_by_exact_name(load, console, method, name, result, lines):
    assert repr(getattr(load(NAMED), method)(name)) == repr(result)
    assert console.lines() == lines


def test_invalid_utf8_name_fails_only_where_it_is_printed(csv_file, console):
    frame = KestraneDataFrame()
    with pytest.raises(UnicodeDecodeError):
        frame.read_csv(csv_file(b"\xff,a\nnan,1\n"))
    console.writes.clear()
    assert frame.count_nan(b"\xff") == 1
    for lookup in (lambda: frame.get_column(b"\xff"), lambda: frame.count_nan(b"\xfe")):
        with pytest.raises(UnicodeDecodeError):
            lookup()
    assert console.writes == []


@pytest.mark.parametrize(
    "content, shape", [("", (0, 0)), ("a,b,c\n", (0, 3)), ("b,a\n1\n2,3\n", (2, 2)), ("b,a,b\n1,2,3\n4,5,6\n", (4, 3))]
)
def test_shape_counts_rows_of_first_header_name_and_every_header_name(load, console, content, shape):
    assert (load(content).shape(), console.writes) == (shape, [])


def test_nan_of_any_sign_or_payload_is_missing_and_column_is_a_copy(load):
    frame = load("a,b\n-nan,1\nnan(7),2\nnan,3\n,4\n-inf,5\n")
    cells = frame.get_column("a")
    assert math.copysign(1.0, cells[0]) == -1.0
    assert struct.pack("<d", cells[1]) == struct.pack("<Q", 0x7FF8000000000007)
    cells[4] = nan
    assert (frame.count_nan("a"), frame.describe()["a"]["count"], frame.get_column("a")[4]) == (4, 1.0, -inf)


@pytest.mark.parametrize(
    "values, mean",
    [
        # Any sequence or iterable of numbers.
        *[([], 0.0), ((), 0.0), ([1, 2], 1.5), ((1.0, 2.0, 6.0), 3.0), (range(5), 2.0), ((x for x in [1, 2, 6]), 3.0)],
        *[({1.0, 3.0}, 2.0), ({1: 0, 3: 0}.keys(), 2.0), ({"a": 1, "b": 5}.values(), 3.0)],
        *[(map(float, ["1", "2"]), 1.5), (bytearray(b"\x01\x03"), 2.0), ([0.5, 2], 1.25), ((0.5, True), 0.75)],
        ([0.25, FloatSubclass(0.5)], 0.375),
        # Sums in sequence order in plain doubles.
        *[([1.0, nan], nan), ([nan, 1.0], nan), ([inf, -inf], nan), ([1e16, 1.0, -1e16], 0.0)],
        *[([1e16, -1e16, 1.0], 0.3333333333333333), ([0.1, 0.2, 0.3], 0.20000000000000004)],
        *[([1e308, 1e308], inf), ((1e308, 1e308), inf), ([-0.0], 0.0), ([-0.0, -0.0], 0.0)],
        # Not numbers.
        *[(values, TypeError) for values in ["12", b"12", {1: 2}, {1: 2}.items(), zip([1], [2], strict=True)]],
        *[([1, "2"], TypeError), ([1.0, "x"], TypeError), ((2.0, None), TypeError)],
    ],
)
def test_get_mean_adds_in_sequence_order(values, mean):
    def outcome(argument):
        try:
            return repr(get_mean(argument))
        except TypeError:
            return TypeError

    assert outcome(values) == (TypeError if mean is TypeError else repr(mean))
    # A list or a tuple gives what a generator of its items gives: the binding library's generic conversion.
    if type(values) in (list, tuple):
        assert outcome(v for v in values) == outcome(values)


def test_describe_orders_keys_bytewise_at_both_levels(load, console):
    summary = load("b,\u00e9,B,a,c,d\n1,2,3,4,nan\n").describe()  # c all NaN, d empty
    assert list(summary) == ["B", "a", "b", "\u00e9"]
    assert console.writes == []
    assert all(list(stats) == list(STATS) and type(stats["count"]) is float for stats in summary.values())


@pytest.mark.parametrize(
    "cells, expected",
    [
        ("0.0\n-0.0", (2.0, 0.0, 0.0, 0.0, 0.0)),
        ("-0.0\n0.0", (2.0, -0.0, 0.0, -0.0, 0.0)),
        ("-0.0\nnan", (1.0, -0.0, 0.0, -0.0, 0.0)),
        ("1\ninf", (2.0, inf, inf, 1.0, nan)),
        ("inf", (1.0, inf, inf, inf, 0.0)),
        ("-inf\ninf", (2.0, inf, nan, -inf, nan)),
        ("2\n4\n4\n4\n5\n5\n7\n9", (8.0, 9.0, 5.0, 2.0, 2.138089935299395)),
    ],
)
def test_describe_column(load, cells, expected):
    assert repr(load(f"x\n{cells}\n").describe()) == repr({"x": dict(zip(STATS, expected, strict=True))})


def plain_sum(values):
    return functools.reduce(operator.add, values, 0.0)


def plain_mean(values):
    return plain_sum(values) / len(values) if values else 0.0


def plain_summary(values):
    mean = plain_mean(values)
    std = math.sqrt(plain_sum([(x - mean) * (x - mean) for x in values]) / (len(values) - 1)) if values[1:] else 0.0
    high = functools.reduce(lambda m, x: x if x > m else m, values, -inf)
    low = functools.reduce(lambda m, x: x if x < m else m, values, inf)
    return dict(zip(STATS, (float(len(values)), high, mean, low, std), strict=True))


def bits(value):
    """Floats as their bit patterns, inside dicts and lists too: NaNs and zeros by sign and payload."""
    if isinstance(value, dict):
        return {key: bits(item) for key, item in value.items()}
    if isinstance(value, list):
        return [bits(item) for item in value]
    return struct.pack("<d", value).hex()


# Subnormals, zeros of both signs, infinities and NaN, often, among any floats.
CELLS = st.one_of(st.floats(), st.sampled_from([0.0, -0.0, inf, -inf, nan, 5e-324, -2.2250738585072e-308]))


@st.composite
def tables(draw):
    """Rows of 1 to 9 columns, so that columns go in pairs and one can be left over; a short row
    leaves its last columns shorter. NaN is written as nan."""
    width = draw(st.integers(1, 9))
    rows = draw(st.lists(st.lists(CELLS, min_size=1, max_size=width), max_size=40))
    return width, rows, draw(st.one_of(CELLS, st.sampled_from([row[0] for row in rows] or [0.0])))


def rotated(n):
    """Column p holds (r - p) mod n at row r and NaN at row p + 1: the NaN, and the match of 0, fall once at
    every position of every line and stretch that the vector passes read, and of the rows after them."""
    return n, [[nan if r == (p + 1) % n else float((r - p) % n) for p in range(n)] for r in range(n)], 0.0


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(tables())
@example(rotated(33))
@example(rotated(97))
def test_statistics_and_filter_match_plain_python(load, table):
    width, rows, value = table
    names = [f"c{i}" for i in range(width)]
    frame = load("\n".join([",".join(names), *(",".join(map(repr, row)) for row in rows)]) + "\n")
    # A column holds the cells of the rows long enough for it; the text nan reads as math.nan.
    columns = {
        name: [row[i] if row[i] == row[i] else nan for row in rows if i < len(row)] for i, name in enumerate(names)
    }
    expected = {name: plain_summary(kept) for name, cells in columns.items() if (kept := [x for x in cells if x == x])}
    assert bits(frame.describe()) == bits(expected)
    assert [frame.count_nan(name) for name in names] == [sum(x != x for x in cells) for cells in columns.values()]
    # By repr: which of two NaNs an addition returns is the compiler's choice, in Python's float too.
    assert [repr(get_mean(frame.get_column(name))) for name in names] == [repr(plain_mean(c)) for c in columns.values()]
    for filtered in names:
        matches = [row for row, x in enumerate(columns[filtered]) if x == value]
        kept = frame.filter_by(filtered, value)
        assert bits([kept.get_column(name) for name in names]) == bits(
            [[cells[row] for row in matches if row < len(cells)] for cells in columns.values()]
        )
