import contextlib
import ctypes
import errno
import functools
import os
import shutil
import struct
import subprocess
from decimal import Decimal

import pytest
from hypothesis import HealthCheck, assume, example, given, settings
from hypothesis import strategies as st
from message_texts import FILE_NOT_OPENED, reading
from message_texts import loaded as summary
from message_texts import unreadable as warning

from orvantis_core import KestraneDataFrame

QUIET_NAN = bytes.fromhex("000000000000f87f")
NAN, NEGATIVE_NAN, NAN_123, NAN_7 = (
    struct.unpack("<d", bytes.fromhex(pattern))[0]
    for pattern in ("000000000000f87f", "000000000000f8ff", "7b0000000000f87f", "070000000000f87f")
)
INF = float("inf")

_libc = ctypes.CDLL(None, use_errno=True)
_libc.strtod.restype = ctypes.c_double
_libc.strtod.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]


def bits(value):
    return struct.pack("<d", value)


def frame_bits(result):
    return result["columns"], [(name, [bits(v) for v in values]) for name, values in result["data"].items()]


def strtod(cell):
    """The C library's strtod of the cell in the current rounding mode: "stod" for an overflow (a range
    error beyond 1 in size: infinity, or the largest double when rounding towards zero), None for no
    number, else the value's bits; an underflow is a value."""
    text, end = ctypes.create_string_buffer(cell), ctypes.c_void_p()
    ctypes.set_errno(0)
    value = _libc.strtod(text, ctypes.byref(end))
    if ctypes.get_errno() == errno.ERANGE and abs(value) > 1:
        return "stod"
    return None if end.value == ctypes.addressof(text) else bits(value)


@functools.cache
def c_library_outcome(cell):
    """A load's outcome for the cell's bytes without carriage returns: "stod", or (warnings, value bits)."""
    cell = cell.replace(b"\r", b"")
    outcome = strtod(cell)
    if outcome is None:
        return [warning(cell.decode())], QUIET_NAN
    return outcome if outcome == "stod" else ([], outcome)


@pytest.mark.parametrize(
    "content, columns, data, rows",
    [
        ("a,b\n1,2\n3,4\n", ["a", "b"], {"a": [1, 3], "b": [2, 4]}, 2),
        ("a,b\r\n1,2\r\n3,4\r\n", ["a", "b"], {"a": [1, 3], "b": [2, 4]}, 2),
        ("a\r,b\n1\r2,3", ["a", "b"], {"a": [12], "b": [3]}, 1),
        ("a\n1\n\r\n\n2\n", ["a"], {"a": [1, 2]}, 2),
        ("c0\n1.0000000000000002e+100", ["c0"], {"c0": [1.0000000000000002e100]}, 1),
        ("a,b,\n1,2\n", ["a", "b"], {"a": [1], "b": [2]}, 1),
        (",a,,b\n1,2,3,4\n", ["", "a", "", "b"], {"": [1, 3], "a": [2], "b": [4]}, 2),
        ("b,a\n1,2\n3\n", ["b", "a"], {"a": [2], "b": [1, 3]}, 1),
        ("a,b,c\n1,2,\n", ["a", "b", "c"], {"a": [1], "b": [2], "c": [NAN]}, 1),
        ("a,b\n,\n", ["a", "b"], {"a": [NAN], "b": [NAN]}, 1),
        ("a,b\n1,2,abc,1e999\n", ["a", "b"], {"a": [1], "b": [2]}, 1),
        ("\n1,2\n", [], {}, 0),
        ("", [], {}, 0),
        ("a,b", ["a", "b"], {"a": [], "b": []}, 0),
        ("b,a,b\n1,2,3\n4,5,6\n", ["b", "a", "b"], {"a": [2, 5], "b": [1, 3, 4, 6]}, 2),
        ("a,B,a1\n1,2,3\n", ["a", "B", "a1"], {"B": [2], "a": [1], "a1": [3]}, 1),
        ("\ufeffa, b\n1, 2\n", ["\ufeffa", " b"], {" b": [2], "\ufeffa": [1]}, 1),
    ],
)
def test_dialect(csv_file, console, content, columns, data, rows):
    path = csv_file(content)
    result = KestraneDataFrame().read_csv(path)
    assert frame_bits(result) == frame_bits({"columns": columns, "data": data})
    assert console.lines() == [reading(path), summary(rows, len(columns))]


@pytest.mark.parametrize(
    "cell, value",
    [
        # Text around the number, signs, exponents without digits.
        *[(b"12abc", 12.0), (b" 5", 5.0), (b"\t-5", -5.0), (b"1;2", 1.0), (b"+.5e1", 5.0), (b"1e", 1.0), (b"1e+", 1.0)],
        *[(b"-0", -0.0), (b"0e999999", 0.0), (b"7\x003", 7.0), (b"5\xff", 5.0)],
        # Infinities, hexadecimal numbers, NaNs of each sign and payload.
        *[(b"inf", INF), (b"INFINITYx", INF), (b"-Infinity", -INF), (b"i\rnf", INF)],
        *[(b"0x10", 16.0), (b"0x1.8p1", 3.0), (b"-0x", -0.0), (b"0x1p-1074", 5e-324)],
        *[(b"NAN", NAN), (b"Nantes", NAN), (b"nan\x00x", NAN), (b"-nan", NEGATIVE_NAN)],
        *[(b"nan(123)", NAN_123), (b"NaN(0x7)", NAN_7)],
        # Long and extreme decimals.
        *[(str(Decimal(5e-324)).encode(), 5e-324), (b"2.2250738585072014e-308", 2.2250738585072014e-308)],
        *[(b"1.7976931348623158e308", 1.7976931348623157e308), (b"9" * 30, 1e30), (b"0." + b"0" * 400 + b"1e400", 0.1)],
        # Results below the smallest normal double are values, though strtod reports a range error.
        *[(b"1e-400", 0.0), (b"-1e-400", -0.0), (b"1e-310", 1e-310), (b"0x1p-1075", 0.0)],
        (b"0x1.8p-1074", float.fromhex("0x1.8p-1074")),
        (b"-2.12199578997714e-314", -2.12199578997714e-314),
        (b"2.2250738585072012e-308", 2.2250738585072012e-308),
        (b"-2.2250738585072011e-308", -2.2250738585072011e-308),
        # No number: a warning, and NaN.
        *[(cell, None) for cell in [b"na", b"NA", b"Istanbul", b" ", b"-", b'"1"', b"x1", b"e5", b".", b"+-1", b"p1"]],
        (b"\x005", None),
    ],
)
def test_each_cell_is_its_number_or_nan_with_a_warning(csv_file, console, cell, value):
    path = csv_file(b"a,b\n" + cell + b",2\n")
    result = KestraneDataFrame().read_csv(path)
    stored = NAN if value is None else value
    assert frame_bits(result) == frame_bits({"columns": ["a", "b"], "data": {"a": [stored], "b": [2]}})
    warnings = [warning(cell.decode())] if value is None else []
    assert console.lines() == [reading(path), *warnings, summary(1, 2)]


def test_messages_are_exact_lines_in_file_order(csv_file, console):
    path = csv_file("a,b,c\r\n1,,x\r\n y ,2\r\nnan,NaN,\r\n")
    KestraneDataFrame().read_csv(path)
    assert console.lines() == [reading(path), warning("x"), warning(" y "), summary(3, 3)]
    assert console.writes[:2] == [reading(path), "\n"]
    assert console.flushes == 0


# What a failed load leaves: a path that cannot be opened gives None, content that fails raises.
NOT_OPENED = (None, [FILE_NOT_OPENED], {"z": [9.0]})
RANGE_ERROR = (IndexError, [], {"b": [1.0, 4.0], "a": [2.0], "c": [3.0], "z": None})


@pytest.mark.parametrize(
    "source, error, later_lines, columns",
    [
        *[(path, *NOT_OPENED) for path in ["{tmp}/missing.csv", "{tmp}", "", "{tmp}/real.csv\0.csv", "/proc/self/mem"]],
        *[
            (b"b,a,c\n1,2,3\n4," + cell + b",6\n", *RANGE_ERROR)
            for cell in [b"1e999", b"-1e999", b"1" + b"0" * 400, b"1.7976931348623159e308", b"-0x1p1024"]
        ],
        (b"a,b\n1,\xff\n", UnicodeDecodeError, [], {"a": [1.0], "b": []}),
        (b"a,\xff\n1,2\n", UnicodeDecodeError, [summary(1, 2)], {"a": [1.0]}),
    ],
)
def test_failed_load_keeps_the_rows_and_lines_before_it(
    tmp_path, csv_file, console, load, source, error, later_lines, columns
):
    loaded_frame = load("z\n9\n")
    (tmp_path / "real.csv").write_text("a\n1\n")
    path = source.format(tmp=tmp_path) if isinstance(source, str) else csv_file(source)
    with pytest.raises(error, match="^stod$" if error is IndexError else None) if error else contextlib.nullcontext():
        assert loaded_frame.read_csv(path) is None
    assert console.lines() == [reading(path)] + later_lines
    assert {name: loaded_frame.get_column(name) for name in columns} == columns


def reference_load(document):
    """The frame dict bits and warning lines of a document, from plain splitting and the C library; "stod"
    where a cell overflows."""
    lines = [line.replace(b"\r", b"") for line in document.removesuffix(b"\n").split(b"\n")]
    names = lines[0].removesuffix(b",").split(b",") if lines[0] else []
    data, warnings = {name: [] for name in names}, []
    for line in lines[1:]:
        for name, cell in zip(names, line.split(b",") if line else [], strict=False):
            outcome = ([], QUIET_NAN) if cell in (b"", b"nan", b"NaN") else c_library_outcome(cell)
            if outcome == "stod":
                return outcome
            warnings += outcome[0]
            data[name].append(outcome[1])
    return ([name.decode() for name in names], [(name.decode(), data[name]) for name in sorted(data)]), warnings


def load_outcome(csv_file, console, document):
    """The load of a document in reference_load's terms."""
    console.reset()
    try:
        result = KestraneDataFrame().read_csv(csv_file(document))
    except IndexError as error:
        return str(error)
    return frame_bits(result), console.lines()[1:-1]


digits = st.text("0123456789", min_size=1, max_size=30)
cells = st.one_of(
    st.text("0123456789+-.eExXpPabcdfinINFtyTY() \t\r\x00", max_size=24),
    st.floats(allow_nan=False).map(repr),
    st.floats(allow_nan=False).map(lambda x: f"{x:.17g}"),
    st.floats(allow_nan=False).map(float.hex),
    st.builds("{}.{}e{}".format, digits, digits, st.integers(-420, 330)),
    st.builds("{}{}{}{}".format, st.sampled_from(["", "-"]), digits, st.sampled_from([".", ""]), digits),
    st.builds("{}2.22507385850720{}e-308".format, st.sampled_from("-+"), st.integers(110000, 140000)),
    st.builds("{}1.797693134862315{}e308".format, st.sampled_from("-+"), st.integers(700000, 820000)),
)


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(cell=cells)
@example(cell="2.2250738585072012e-308")
def test_cell_conversion_matches_c_library(csv_file, console, cell):
    assume(not any(c in cell for c in "\n,"))
    document = f"a\n{cell}\n".encode()
    assert load_outcome(csv_file, console, document) == reference_load(document)


def rounding_modes():
    """fesetround's value for each rounding mode. <fenv.h> gives them per machine (0x400 is downward on
    x86-64, upward on aarch64), so each value the C library takes is named by how it rounds three quarters
    of a unit in the last place away from 1 and from -1."""
    names = {
        (True, True): "to nearest",
        (False, True): "downward",
        (True, False): "upward",
        (False, False): "towards zero",
    }
    three_quarter_unit = 0.75 * 2.0**-52
    saved, modes = _libc.fegetround(), {}
    for value in {field << shift for field in range(4) for shift in range(31)}:
        if _libc.fesetround(value) == 0:
            modes[names[1.0 + three_quarter_unit > 1.0, -1.0 - three_quarter_unit < -1.0]] = value
    assert _libc.fesetround(saved) == 0
    return {name: modes[name] for name in names.values()}


ROUNDING_MODES = rounding_modes()
# Cells whose rounding differs between the modes, the range's edges, and no number.
MODE_CELLS = (
    b"9007199254740993 0.18964089720394417 -0.18964089720394417 1e23 0.1 -698301.652151 12.5 "
    b"123456789012345678901234567890 2.2250738585072011e-308 1e-400 -1e-400 1.7976931348623157e308 inf nan x"
).split()


@pytest.mark.forked(timeout=60)
@pytest.mark.parametrize("mode", ROUNDING_MODES)
@pytest.mark.parametrize("extra", [b"", b"1.7976931348623158e308"])
def test_cells_round_as_the_c_library_in_every_rounding_mode(csv_file, console, mode, extra):
    path = csv_file(b"a\n" + b"\n".join([*MODE_CELLS, extra]))
    assert _libc.fesetround(ROUNDING_MODES[mode]) == 0
    expected = [QUIET_NAN if cell == b"nan" else strtod(cell) or QUIET_NAN for cell in [*MODE_CELLS, extra] if cell]
    frame, range_error = KestraneDataFrame(), []
    try:
        frame.read_csv(path)
    except IndexError as error:
        range_error = [str(error)]
    assert [bits(value) for value in frame.get_column("a")] + range_error == expected


def test_lines_longer_than_a_read_chunk(csv_file, console):
    names = [f"c{i:06}" for i in range(150_000)]
    rows = [",".join(str(i + r) for i in range(len(names))) for r in range(2)]
    frame = KestraneDataFrame()
    result = frame.read_csv(csv_file("\n".join([",".join(names), *rows])))
    assert frame.shape() == (2, 150_000)
    assert result["data"]["c149999"] == [149999.0, 150000.0]
    assert console.lines()[-1] == summary(2, 150_000)


@pytest.mark.skipif(shutil.which("localedef") is None, reason="needs localedef to build a test locale")
def test_decimal_point_does_not_follow_the_process_locale(tmp_path, csv_file, children):
    # Latin-5, Turkish's one-byte charset: compiled in a fifth of UTF-8's time.
    subprocess.run(["localedef", "-i", "tr_TR", "-f", "ISO-8859-9", str(tmp_path / "tr_TR.ISO-8859-9")], check=True)
    script = (
        "import locale, sys, orvantis_core\n"
        "locale.setlocale(locale.LC_ALL, 'tr_TR.ISO-8859-9')\n"
        "assert locale.localeconv()['decimal_point'] == ','\n"
        "print(orvantis_core.KestraneDataFrame().read_csv(sys.argv[1])['data'])"
    )
    document = csv_file("a,b,c\n1.5, 2.5,1,5\n")
    out, _ = children.run(script, document, env={**os.environ, "LOCPATH": str(tmp_path)})
    assert out.splitlines()[-1] == "{'a': [1.5], 'b': [2.5], 'c': [1.0]}"


numbers = [b"1", b"-2.5", b"1e5", b" 7", b"0x1p3", b"12abc", b"inf", b"0.1"]
missing_or_unreadable = [b"", b"nan", b"NaN", b"NAN", b"x", b"-"]
with_carriage_returns = [b"\r", b"3\r", b"\r4", b"1\r2", b"\r\r"]
reference_cells = st.sampled_from(numbers + missing_or_unreadable + with_carriage_returns)
reference_rows = st.lists(
    st.tuples(st.lists(reference_cells, max_size=6).map(b",".join), st.sampled_from([b"\n", b"\r\n"])), max_size=12
)


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(
    header=st.lists(st.sampled_from([b"a", b"b", b"", b"c\r", b"\r"]), max_size=5).map(b",".join),
    rows=reference_rows,
    size=st.sampled_from([0, 300_000]),
    last_line_feed=st.booleans(),
)
def test_large_documents_match_plain_splitting(csv_file, console, header, rows, size, last_line_feed):
    """Documents past 300 kB cut cells at the boundaries of the reads and of the separator index."""
    body = b"".join(row + end for row, end in rows)
    document = header + b"\n" + body * (1 + size // max(len(body), 1))
    if not last_line_feed:
        document = document.rstrip(b"\n")
    assert load_outcome(csv_file, console, document) == reference_load(document)
