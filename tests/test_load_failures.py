"""read_csv when the file fails, stalls or outgrows memory.

Each case runs in a child interpreter (failing_load in adversary_children.py: a read fails
through the fault shim, the address space is limited, or it waits on a FIFO), with a timeout,
and reports as JSON: the exception, the console lines of the load, and the frame's columns
afterwards.
"""

import errno
import json
import os
import signal
import sys
import threading

import pytest
from adversary_children import LAUNCH, SANITIZED
from message_texts import reading as READING


def finish_child(children, child):
    out, _ = children.finish(child, timeout=30)
    return json.loads(out.splitlines()[-1])


def start_child(children, tmp_path, path, before, *arguments, env=None):
    """Starts failing_load (adversary_children.py) in tmp_path, its frame loaded first as KEPT_FRAME holds."""
    return children.start(LAUNCH, "failing_load", path, before, *arguments, cwd=tmp_path, env=env)


KEPT_FRAME = {"shape": [1, 1], "columns": {"z": [9.0], "a": None}}


@pytest.mark.parametrize(
    "content, columns",
    [
        # The first read gives the header and 2047 rows; the read after it fails.
        (b"a\n" + b"1\n" * 2047, {"z": None, "a": [1.0] * 2047}),
        # The header line is still unfinished when the read fails.
        (b"a," * 2048, KEPT_FRAME["columns"]),
    ],
    ids=["in the rows", "in the header"],
)
def test_read_error_after_first_byte_raises_os_error(children, tmp_path, csv_file, fault_shim_env, content, columns):
    path = csv_file(content)
    outcome = finish_child(children, start_child(children, tmp_path, path, "a failing read", env=fault_shim_env))
    assert (outcome["error"], outcome["errno"], outcome["filename"]) == ("OSError", errno.EIO, path)
    assert outcome["lines"] == [READING(path)]
    assert outcome["columns"] == columns


@pytest.mark.skipif(
    SANITIZED, reason="AddressSanitizer ends the process on a failed allocation instead of throwing std::bad_alloc"
)
@pytest.mark.parametrize("source, extra_megabytes", [("/dev/zero", 200), ("commas", 200)])
def test_memory_error_in_header_keeps_frame(children, tmp_path, csv_file, source, extra_megabytes):
    path = csv_file(b"," * 8_000_000) if source == "commas" else source
    outcome = finish_child(children, start_child(children, tmp_path, path, "a capped address space", extra_megabytes))
    assert outcome["error"] == "MemoryError"
    assert outcome["lines"] == [READING(path)]
    assert {key: outcome[key] for key in KEPT_FRAME} == KEPT_FRAME


def feed(fifo, prefix, endless, test_over):
    """Writes to the FIFO (once the child opens it), then stalls or keeps writing until the test is over.

    The endless rows carry a long cell past the header, so that they fill the pipe faster than the columns."""
    with open(fifo, "wb", buffering=0) as out:
        out.write(prefix)
        try:
            while endless:
                out.write((b"1," + b"0" * 997 + b"\n") * 64)
        except BrokenPipeError:
            pass
        else:
            test_over.wait(120)


@pytest.mark.parametrize(
    "prefix, endless, columns",
    [(b"", False, KEPT_FRAME["columns"]), (b"a\n1\n", False, {"z": None, "a": [1.0]}), (b"a\n", True, None)],
    ids=["stalled before the first byte", "stalled after a row", "never ending"],
)
def test_interrupt_stops_fifo_load(children, tmp_path, prefix, endless, columns):
    fifo = str(tmp_path / "rows.fifo")
    os.mkfifo(fifo)
    child = start_child(children, tmp_path, fifo, "nothing")
    assert child.stdout.readline() == "ready\n"
    test_over = threading.Event()
    threading.Thread(target=feed, args=(fifo, prefix, endless, test_over), daemon=True).start()
    threading.Event().wait(0.5)
    child.send_signal(signal.SIGINT)
    try:
        outcome = finish_child(children, child)
    finally:
        test_over.set()
    assert outcome["error"] == "KeyboardInterrupt"
    assert outcome["lines"] == [READING(fifo)]
    if columns is None:  # some rows, however many
        assert (outcome["columns"]["z"], set(outcome["columns"]["a"])) == (None, {1.0})
    else:
        assert outcome["columns"] == columns


@pytest.mark.forked  # the timer and its handler end with the child
def test_interrupt_stops_building_a_long_column(load):
    rows = 3_000_000
    frame = load("x\n" + "1.5\n" * rows)
    blocks_at_signal = []

    def interrupt(signum, stack):
        blocks_at_signal.append(sys.getallocatedblocks())
        raise KeyboardInterrupt

    signal.signal(signal.SIGALRM, interrupt)
    blocks_before = sys.getallocatedblocks()
    # Armed inside the block: armed before it, under emulation the timer went off in pytest.raises itself.
    with pytest.raises(KeyboardInterrupt):
        (signal.setitimer(signal.ITIMER_REAL, 0.002), frame.get_column("x"))
    assert blocks_at_signal[0] - blocks_before < rows // 2
    assert frame.shape() == (rows, 1)
