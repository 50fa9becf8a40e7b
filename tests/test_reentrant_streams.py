"""Python code that runs inside an operation (a stream's write, a gc callback) must not reach a frame being walked."""

import gc
import io
import sys

import pytest
from message_texts import PREPROCESSING_STARTED, RecordingStream, column_mean, reading

from orvantis_core import KestraneDataFrame

# A regression here would touch freed memory: each test runs in a forked child.
pytestmark = pytest.mark.forked

BUSY = "KestraneDataFrame is busy"
CALLS = {
    "read_csv": lambda f, path: f.read_csv(path),
    "shape": lambda f, path: f.shape(),
    "auto_preprocess": lambda f, path: f.auto_preprocess(),
    "get_column": lambda f, path: f.get_column("a"),
    "describe": lambda f, path: f.describe(),
    "filter_by": lambda f, path: f.filter_by("a", 1),
    "count_nan": lambda f, path: f.count_nan("a"),
}


# Per walk: the frame's content, the walk, the write call that calls in, the lines before it, and after it the
# frame's shape and one of its columns.
WALKS = {
    "load's warning": ("", lambda f, path: f.read_csv(path), 3, [reading("{path}")], ((1, 2), "b", [2.0])),
    "imputation's fill": (
        "a,b\n,1\n3,\n",
        lambda f, path: f.auto_preprocess(),
        5,
        [PREPROCESSING_STARTED, column_mean("a", "3.0")],
        ((2, 2), "a", [3.0, 3.0]),
    ),
}


@pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
@pytest.mark.parametrize("content, walk, on_write, lines, after", WALKS.values(), ids=WALKS.keys())
def test_a_walk_refuses_calls_from_its_lines(load, csv_file, monkeypatch, call, content, walk, on_write, lines, after):
    frame = load(content) if content else KestraneDataFrame()
    path, other = csv_file("a,b\n1,2\nx,3\n"), csv_file("q\n5\n")
    stream = RecordingStream(on_write, lambda stream: call(frame, other))
    monkeypatch.setattr(sys, "stdout", stream)
    with pytest.raises(RuntimeError, match=BUSY):
        walk(frame, path)
    assert stream.getvalue() == "".join(line.replace("{path}", path) + "\n" for line in lines)
    shape, name, cells = after
    assert (frame.shape(), frame.get_column(name)) == (shape, cells)


def test_a_call_before_the_walk_keeps_working(load, csv_file, monkeypatch):
    frame = load("a\n1\n")
    stream = RecordingStream(1, lambda stream: frame.read_csv(csv_file("a\n7\n")))
    monkeypatch.setattr(sys, "stdout", stream)
    assert frame.get_column("a") == [7.0]


@pytest.mark.parametrize("operation", ["read_csv", "auto_preprocess"])
def test_gc_callbacks_cannot_reload_a_frame_being_walked(csv_file, monkeypatch, operation):
    # Enough columns that the frame dict's lists outrun the interpreter's free
    # lists, so that building it starts collections.
    names = [f"c{i}" for i in range(300)]
    big = csv_file(",".join(names) + "\n" + ("1," * 299 + "\n") * 20)
    frame, outcomes = KestraneDataFrame(), []
    monkeypatch.setattr(sys, "stdout", io.StringIO())
    frame.read_csv(big)

    def reload(phase, info):
        if phase == "start":
            try:
                frame.read_csv(csv_file("q\n5\n"))
                outcomes.append("reloaded")
            except RuntimeError as error:
                outcomes.append(str(error)[: len(BUSY)])

    call, args = getattr(KestraneDataFrame, operation), (frame, big)[: 2 if operation == "read_csv" else 1]
    # The test runs in a forked child, whose collector settings end with it.
    gc.callbacks.append(reload)
    gc.set_threshold(1)
    result = call(*args)
    gc.callbacks.remove(reload)
    assert BUSY in outcomes
    assert result["columns"] == names
    assert frame.shape() == (20, 300)
