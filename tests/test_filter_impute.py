import gc
import math
import struct

import pytest
from message_texts import PREPROCESSING_FINISHED as CLOSE
from message_texts import PREPROCESSING_STARTED as OPEN
from message_texts import column_mean as mean_line
from message_texts import column_missing
from message_texts import nan_filled as fill_line

from orvantis_core import KestraneDataFrame


def cells(frame, console, *names):
    values = [frame.get_column(name) for name in names]
    console.reset()
    return values


@pytest.mark.parametrize(
    "content, name, value, a, b",
    [
        ("a,b\n1,10\n2,20\n1,30\n", "a", 1, [1.0, 1.0], [10.0, 30.0]),
        ("a,b\n1,10\n2,20\n1,30\n", b"b", 20.0, [2.0], [20.0]),
        ("a,b\n1,10\n0.5,20\n1,30\n", "a", True, [1.0, 1.0], [10.0, 30.0]),
        ("a,b\n1,10\n", "a", 1.0000000000000002, [], []),
        ("a,b\nnan,10\nNaN,20\n", "a", math.nan, [], []),
        ("a,b\n1,10\n", "a", math.nan, [], []),
        ("a,b\n-0.0,10\n0,20\n1,30\n", "a", 0.0, [-0.0, 0.0], [10.0, 20.0]),
        ("a,b\n-0.0,10\n0,20\n1,30\n", "a", -0.0, [-0.0, 0.0], [10.0, 20.0]),
        ("a,b\n", "a", 0, [], []),
        ("a,b\n1,10\n1\n1,30\n", "a", 1, [1.0, 1.0, 1.0], [10.0, 30.0]),
        ("a,b\n1,10\n2,20\n2\n2\n", "a", 2, [2.0, 2.0, 2.0], [20.0]),
        ("a,b\n1,10\n2\n3,10\n", "b", 10, [1.0, 2.0], [10.0, 10.0]),
        # A name listed twice: its column is copied once per listing.
        ("b,a,b\n1,2,3\n4,5,6\n7,2,9\n", "a", 2, [2.0, 2.0], [1.0, 1.0, 4.0, 4.0]),
    ],
)
def test_filter_selects_equal_cells_in_row_order(load, console, content, name, value, a, b):
    result = load(content).filter_by(name, value)
    assert console.lines() == []
    assert repr(cells(result, console, "a", "b")) == repr([a, b])  # repr keeps the sign of zero
    header = content.split("\n")[0].split(",")
    assert result.shape() == (len({"a": a, "b": b}[header[0]]), len(header))


def test_filter_copies_every_column_in_header_order_nan_included(load, console):
    result = load("c,a,b\nnan,1,5\n9,2,6\n7,1,-8\n").filter_by("a", 1)
    assert struct.pack("<d", cells(result, console, "c")[0][0]) == struct.pack("<Q", 0x7FF8000000000000)
    frame = result.auto_preprocess()
    assert frame == {"columns": ["c", "a", "b"], "data": {"a": [1.0, 1.0], "b": [5.0, -8.0], "c": [7.0, 7.0]}}


@pytest.mark.parametrize("name", ["yok", b"yok"])
def test_filter_on_missing_column_gives_frame_without_columns(load, console, name):
    source = load("a\n1\n")
    result = source.filter_by(name, 1)
    assert console.lines() == [column_missing("yok")]
    assert (result.shape(), result.describe(), source.shape()) == ((0, 0), {}, (1, 1))


def test_filter_result_is_independent_of_its_source(load, console):
    source = load("a,b\n1,nan\n1,4\n2,nan\n")
    result = source.filter_by("a", 1)
    assert result.auto_preprocess()["data"] == {"a": [1.0, 1.0], "b": [4.0, 4.0]}
    assert source.count_nan("b") == 2
    del source
    gc.collect()
    assert cells(result, console, "a", "b") == [[1.0, 1.0], [4.0, 4.0]]


@pytest.mark.parametrize(
    "column, mean",
    [("1,nan,3", "2.0"), ("0.1,0.2,nan", "0.15000000000000002"), ("1,inf,nan", "inf"), ("inf,-inf,nan", "nan")]
    + [("1e16,nan", "1e+16"), ("nan,5,nan,nan", "5.0"), ("4,6", "5.0")],
)
def test_impute_fills_each_nan_with_printed_mean(load, console, column, mean):
    frame = load("a\n" + column.replace(",", "\n") + "\n").auto_preprocess()
    assert console.lines() == [OPEN, mean_line("a", mean)] + [fill_line("a")] * column.count("nan") + [CLOSE]
    assert repr(frame["data"]["a"]) == repr([float(mean if x == "nan" else x) for x in column.split(",")])


def test_impute_visits_map_order_and_returns_frame_dict(load, console):
    source = load("b,a,n,e\n1,nan,nan\nnan,4\n3,8\n")
    data = {"a": [6.0, 4.0, 8.0], "b": [1.0, 2.0, 3.0], "e": [], "n": [math.nan]}
    means = [mean_line("a", "6.0"), mean_line("b", "2.0")]
    first_call = [OPEN, means[0], fill_line("a"), means[1], fill_line("b"), CLOSE]
    for lines in (first_call, [OPEN, *means, CLOSE]):
        frame = source.auto_preprocess()
        assert console.lines() == lines
        assert repr(frame) == repr({"columns": ["b", "a", "n", "e"], "data": data})
        console.reset()


def test_impute_on_new_frame_prints_only_opening_and_closing(console):
    assert KestraneDataFrame().auto_preprocess() == {"columns": [], "data": {}}
    assert console.lines() == [OPEN, CLOSE]
