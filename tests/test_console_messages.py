"""Every console message, and every way writing one can fail, as the exact sequence of write calls."""

import sys

import message_texts as text
import pytest
from message_texts import RecordingStream

from orvantis_core import KestraneDataFrame, merhaba_kestrane

# Stands for the path of the test's file in the lines expected of read_csv.
PATH = "{path}"


def lines_written(*lines):
    return [part for line in lines for part in (line, "\n")]


@pytest.mark.parametrize(
    "act, lines",
    [
        (lambda f, path: merhaba_kestrane(), [text.GREETING]),
        (lambda f, path: f.read_csv(path + ".missing"), [text.reading(PATH + ".missing"), text.FILE_NOT_OPENED]),
        (lambda f, path: f.read_csv(path), [text.reading(PATH), text.unreadable("x y"), text.loaded(2, 2)]),
        (lambda f, path: f.get_column("a"), [text.column_requested("a")]),
        (lambda f, path: f.get_column("ğ b"), [text.column_requested("ğ b"), text.requested_column_missing("ğ b")]),
        (lambda f, path: f.count_nan(""), [text.column_missing("")]),
        (lambda f, path: f.filter_by(b"z", 1), [text.column_missing("z")]),
        (
            lambda f, path: f.auto_preprocess(),
            [text.PREPROCESSING_STARTED, text.column_mean("a", "0.15000000000000002"), text.column_mean("b", "1e+16")]
            + [text.nan_filled("b"), text.PREPROCESSING_FINISHED],
        ),
    ],
    ids=["greeting", "not opened", "loaded", "column", "missing column", "missing quoted", "filter", "imputation"],
)
def test_each_message_is_its_text_then_a_line_feed(csv_file, load, console, act, lines):
    content = "a,b\n0.1,1e16\n0.2,x y\n"
    path, frame = csv_file(content), load(content)
    act(frame, path)
    assert console.writes == lines_written(*(line.replace(PATH, path) for line in lines))
    assert console.flushes == 0


@pytest.mark.parametrize(
    "act, error, lines_before",
    [
        (lambda f, path: f.get_column(b"a\xff"), (b"a\xff", 1, 2), 0),
        (lambda f, path: f.count_nan(b"\xe2\x82"), (b"\xe2\x82", 0, 2), 0),
        (lambda f, path: f.read_csv(path), (b"\xe9t\xe9", 0, 1), 1),
    ],
    ids=["name", "truncated name", "cell"],
)
def test_text_that_is_not_utf8_raises_its_own_decode_error_and_writes_nothing(
    csv_file, console, act, error, lines_before
):
    path = csv_file(b"a\n\xe9t\xe9\n")
    with pytest.raises(UnicodeDecodeError) as raised:
        act(KestraneDataFrame(), path)
    assert (raised.value.object, raised.value.start, raised.value.end) == error
    assert console.writes == lines_written(text.reading(path))[: 2 * lines_before]


def disk_full(stream):
    raise OSError("disk full")


@pytest.mark.parametrize(
    "call, line",
    [(merhaba_kestrane, text.GREETING), (lambda: KestraneDataFrame().get_column("a"), text.column_requested("a"))],
    ids=["greeting", "column"],
)
@pytest.mark.parametrize(
    "make_stream, error, writes_kept",
    [
        (lambda: None, AttributeError, None),
        (object, AttributeError, None),
        (lambda: RecordingStream(1, disk_full), OSError, 0),
        (lambda: RecordingStream(2, disk_full), OSError, 1),
        # The first write replaces the stream's write; that line's line feed must still come to the stream.
        (lambda: RecordingStream(1, lambda stream: setattr(stream, "write", lambda text: None)), None, 2),
    ],
    ids=["None", "without write", "first write raises", "line feed raises", "write swapped"],
)
def test_stream_failures_leave_the_operation(monkeypatch, call, line, make_stream, error, writes_kept):
    stream = make_stream()
    monkeypatch.setattr(sys, "stdout", stream)
    if error is None:
        assert call() is None
    else:
        with pytest.raises(error):
            call()
    if writes_kept is not None:
        assert stream.getvalue() == "".join([line, "\n"][:writes_kept])


# Ways for a stream to move the later write calls to `then`: by putting `then` in sys.stdout, or by
# making then's write its own write attribute.
SWITCHES = {
    "sys.stdout": lambda stream, then: setattr(sys, "stdout", then),
    "write": lambda stream, then: setattr(stream, "write", then.write),
}


@pytest.mark.parametrize("switch", SWITCHES)
@pytest.mark.parametrize(
    "act, lines, at",
    [
        (
            lambda f, path: f.read_csv(path),
            [text.reading(PATH), text.unreadable("x"), text.unreadable("y"), text.loaded(3, 2)],
            3,
        ),
        (
            lambda f, path: f.auto_preprocess(),
            [text.PREPROCESSING_STARTED, text.column_mean("a", "3.0"), text.nan_filled("a"), text.nan_filled("a")]
            + [text.column_mean("b", "1.0"), text.PREPROCESSING_FINISHED],
            5,
        ),
    ],
    ids=["warnings", "fills"],
)
def test_each_line_of_a_cell_finds_the_stream_and_its_write_afresh(csv_file, load, monkeypatch, switch, act, lines, at):
    content = "a,b\nx,1\ny,1\n3,1\n"
    path, frame = csv_file(content), load(content)
    then = RecordingStream()
    stream = RecordingStream(at, lambda stream: SWITCHES[switch](stream, then))
    monkeypatch.setattr(sys, "stdout", stream)
    act(frame, path)
    written = lines_written(*(line.replace(PATH, path) for line in lines))
    assert stream.writes == written[: at + 1]
    assert then.writes == written[at + 1 :]


def test_without_sys_stdout_every_message_is_dropped_and_the_load_goes_on(csv_file, monkeypatch, capfd):
    path = csv_file("a,b\nx,2\n")
    monkeypatch.delattr(sys, "stdout")
    assert merhaba_kestrane() is None
    frame = KestraneDataFrame()
    result = frame.read_csv(path)
    assert result["columns"] == ["a", "b"]
    assert result["data"]["b"] == [2.0]
    assert frame.auto_preprocess()["data"]["b"] == [2.0]
    assert capfd.readouterr() == ("", "")
