"""read_csv when the file fails, stalls or outgrows memory.

Each case runs in a child interpreter (a read fails through the fault shim, the
address space is limited, or it waits on a FIFO), with a timeout, and reports as JSON: the
exception, the console lines of the load, and the frame's columns afterwards.
"""

import errno
import inspect
import json
import os
import signal
import sys
import threading

import address_space
import pytest
from message_texts import reading as READING

CHILD = r"""
import contextlib, ctypes, io, json, os, signal, sys
from orvantis_core import KestraneDataFrame

# Python leaves SIGINT alone when it starts ignored, as it does under a suite run with `&` in a script.
signal.signal(signal.SIGINT, signal.default_int_handler)

def load(path, prepare):
    frame = KestraneDataFrame()
    with contextlib.redirect_stdout(io.StringIO()):
        frame.read_csv(sys.argv[1])
    prepare()
    console = io.StringIO()
    outcome = {"error": None}
    print("ready", flush=True)
    try:
        with contextlib.redirect_stdout(console):
            frame.read_csv(path)
    except BaseException as error:
        outcome.update(error=type(error).__name__, errno=getattr(error, "errno", None),
                       filename=getattr(error, "filename", None))
    outcome["lines"] = console.getvalue().splitlines()
    with contextlib.redirect_stdout(console):
        outcome.update(shape=frame.shape(), columns={name: frame.get_column(name) for name in "za"})
    print(json.dumps(outcome), flush=True)

"""
# The child caps its own address space with the tests' one definition.
CHILD += inspect.getsource(address_space)


def finish_child(children, child):
    status, out, err = children.finish(child, timeout=30)
    assert status == 0, err
    return json.loads(out.splitlines()[-1])


def start_child(children, csv_file, body, env=None):
    """Starts CHILD with `body`, its frame loaded first from the file that KEPT_FRAME holds."""
    return children.start(CHILD + body, csv_file("z\n9\n"), env=env)


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
def test_read_error_after_first_byte_raises_os_error(children, csv_file, fault_shim_env, content, columns):
    path = csv_file(content)
    body = f"load({path!r}, lambda: ctypes.CDLL(None).fail_read_after(1))"
    outcome = finish_child(children, start_child(children, csv_file, body, fault_shim_env))
    assert (outcome["error"], outcome["errno"], outcome["filename"]) == ("OSError", errno.EIO, path)
    assert outcome["lines"] == [READING(path)]
    assert outcome["columns"] == columns


@pytest.mark.skipif(
    os.environ.get("ORVANTIS_SANITIZED") == "1",
    reason="AddressSanitizer ends the process on a failed allocation instead of throwing std::bad_alloc",
)
@pytest.mark.parametrize("source, extra_megabytes", [("/dev/zero", 200), ("commas", 200)])
def test_memory_error_in_header_keeps_frame(children, csv_file, source, extra_megabytes):
    path = csv_file(b"," * 8_000_000) if source == "commas" else source
    body = f"load({path!r}, lambda: limit_address_space({extra_megabytes << 20}))"
    outcome = finish_child(children, start_child(children, csv_file, body))
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
def test_interrupt_stops_fifo_load(children, tmp_path, csv_file, prefix, endless, columns):
    fifo = str(tmp_path / "rows.fifo")
    os.mkfifo(fifo)
    child = start_child(children, csv_file, f"load({fifo!r}, lambda: None)")
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


def test_interrupt_stops_building_a_long_column(load):
    rows = 3_000_000
    frame = load("x\n" + "1.5\n" * rows)
    blocks_at_signal = []

    def interrupt(signum, stack):
        blocks_at_signal.append(sys.getallocatedblocks())
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        blocks_before = sys.getallocatedblocks()
        signal.setitimer(signal.ITIMER_REAL, 0.002)
        with pytest.raises(KeyboardInterrupt):
            frame.get_column("x")
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert blocks_at_signal[0] - blocks_before < rows // 2
    assert frame.shape() == (rows, 1)
