"""read_csv on pipes and FIFOs that threads of the same process feed, and under a capped address space.

Every test runs in a forked child with a timeout: a regression would hang it or exhaust its memory.
"""

import os
import signal
import threading

import pytest
from adversary_children import SANITIZED, limit_address_space, wait_until_busy
from message_texts import loaded as LOADED
from message_texts import reading as READING

from orvantis_core import KestraneDataFrame


def open_source(tmp_path, kind):
    """A path to read and a function that opens its write end (called in the writing thread)."""
    if kind == "pipe":
        read_end, write_end = os.pipe()
        return f"/dev/fd/{read_end}", lambda: write_end
    fifo = str(tmp_path / "rows.fifo")
    os.mkfifo(fifo)
    return fifo, lambda: os.open(fifo, os.O_WRONLY)


def write_in_pieces(open_writer, content):
    """Writes in pieces far smaller than the pipe's buffer, so that the writer needs the interpreter many times."""
    fd = open_writer()
    for start in range(0, len(content), 4096):
        os.write(fd, content[start : start + 4096])
    os.close(fd)


@pytest.mark.forked(timeout=60)
@pytest.mark.parametrize("kind", ["pipe", "fifo"])
def test_a_thread_of_the_same_process_feeds_the_file(tmp_path, console, kind):
    path, open_writer = open_source(tmp_path, kind)
    a_values = [float(value) for value in range(100_000)]
    content = ("a,b\n" + "".join(f"{value},{value / 4}\n" for value in a_values)).encode()
    writer = threading.Thread(target=write_in_pieces, args=(open_writer, content))
    writer.start()
    result = KestraneDataFrame().read_csv(path)
    writer.join()
    assert console.lines() == [READING(path), LOADED(len(a_values), 2)]
    assert result == {"columns": ["a", "b"], "data": {"a": a_values, "b": [value / 4 for value in a_values]}}


def wait_for_sigint(event):
    """Waits for the event while SIGINT is sent to the process, as Ctrl-C does, with Python's handler in
    place even where the suite started with SIGINT ignored (as `&` in a script starts it)."""
    signal.signal(signal.SIGINT, signal.default_int_handler)
    threading.Timer(0.05, os.kill, (os.getpid(), signal.SIGINT)).start()
    event.wait(30)


@pytest.mark.forked(timeout=60)
def test_interrupt_reaches_main_thread_while_a_worker_waits_on_a_fifo(tmp_path, console):
    path, open_writer = open_source(tmp_path, "fifo")
    frame = KestraneDataFrame()
    results = []
    loaded = threading.Event()
    worker = threading.Thread(target=lambda: (results.append(frame.read_csv(path)), loaded.set()))
    worker.start()
    # The frame turns busy before the worker lets other threads run while it opens the FIFO.
    wait_until_busy(frame)
    with pytest.raises(RuntimeError, match="KestraneDataFrame is busy"):
        frame.shape()
    with pytest.raises(KeyboardInterrupt):
        wait_for_sigint(loaded)
    assert not loaded.is_set()
    write_in_pieces(open_writer, b"a\n1\n2\n")
    worker.join(30)
    assert results == [{"columns": ["a"], "data": {"a": [1.0, 2.0]}}]
    assert console.lines() == [READING(path), LOADED(2, 1)]
    assert frame.shape() == (2, 1)


EMPTY_LINES = b"\n" * 10_000_000
DENSE_ROWS = 131_072
ROW_OF_EIGHT = {name: [float(i)] for i, name in enumerate("abcdefgh", 1)}


@pytest.mark.skipif(
    SANITIZED, reason="AddressSanitizer reserves shadow memory that no address-space cap leaves room for"
)
@pytest.mark.forked(timeout=60)
@pytest.mark.parametrize(
    "content, columns, extra_megabytes",
    [
        # Rows are estimated from the lines that hold cells, not from the empty ones.
        (b"a,b,c,d,e,f,g,h\n" + EMPTY_LINES + b"1,2,3,4,5,6,7,8\n", ROW_OF_EIGHT, 4),
        (b"a,b,c,d,e,f,g,h\n1,2,3,4,5,6,7,8\n" + EMPTY_LINES, ROW_OF_EIGHT, 4),
        # The first chunk promises 20 MB of such rows, 80 MB of room: more than the cap, so the column grows
        # instead. The frame and its dict take about 5 MB.
        (b"a\n" + b"1\n" * DENSE_ROWS + EMPTY_LINES * 2, {"a": [1.0] * DENSE_ROWS}, 16),
    ],
    ids=["empty lines, then a row", "a row, then empty lines", "dense rows, then empty lines"],
)
def test_room_for_the_columns_stays_within_a_capped_address_space(csv_file, console, content, columns, extra_megabytes):
    path = csv_file(content)
    limit_address_space(extra_megabytes << 20)
    result = KestraneDataFrame().read_csv(path)
    assert console.lines() == [READING(path), LOADED(len(next(iter(columns.values()))), len(columns))]
    assert result == {"columns": list(columns), "data": columns}
