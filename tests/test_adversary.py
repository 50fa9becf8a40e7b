"""The hostile interpreter: Python code that runs in the middle of every operation.

Garbage-collection callbacks and signal handlers walk every container while the
module builds its results; daemon threads are left at each point where a load
gives up the interpreter lock while the program ends; another thread forks while
a load waits; and each C++ allocation of an operation fails in turn. A regression
crashes or hangs, so each case runs in a child interpreter in a session of its
own, whose whole process group is killed however the test ends.
"""

import textwrap

import pytest

PRELUDE = """
import ctypes, fcntl, gc, io, os, signal, struct, subprocess, sys, termios, threading, time
from orvantis_core import KestraneDataFrame, get_mean

def touch_every_container(last_items_only=False):
    # Reads the slots of every list, tuple and dict that the collector tracks:
    # an unfilled slot of a container being built crashes here.
    for container in gc.get_objects():
        if type(container) in (list, tuple):
            for _ in container[-1:] if last_items_only else container:
                pass
        elif type(container) is dict and not last_items_only:
            for _ in container.items():
                pass

def write(path, text):
    with open(path, "wb") as file:
        file.write(text if isinstance(text, bytes) else text.encode())
    return path

def quietly(call, *args):
    saved, sys.stdout = sys.stdout, io.StringIO()
    try:
        return call(*args)
    finally:
        sys.stdout = saved

def run(expression, frame):
    return eval(expression, globals(), {"frame": frame})
"""


@pytest.fixture
def run_child(children, tmp_path):
    """Runs PRELUDE + body in a child interpreter in tmp_path and returns its stdout.
    The child must exit with status 0 and write nothing to stderr."""

    def run(body, env=None):
        status, out, err = children.run(PRELUDE + textwrap.dedent(body), cwd=tmp_path, env=env)
        assert (status, err) == (0, ""), f"exit status {status}\n{err}"
        return out

    return run


SMALL = "a,b,c\n1,x,\n,3,4\n7,,nan\n"
# Each operation as an expression on `frame`, loaded from SMALL.
OPERATIONS = {
    "read_csv": "frame.read_csv(write('other.csv', 'p,q\\n1,abc\\n,2\\n'))",
    "read_csv of a name that is not UTF-8": "frame.read_csv(write('bad.csv', b'a,\\xff\\n1,2\\n'))",
    "read_csv of a missing file": "frame.read_csv('missing.csv')",
    "get_column": "frame.get_column('a')",
    "get_column of a missing column": "frame.get_column('zz')",
    "count_nan": "frame.count_nan('b')",
    "describe": "frame.describe()",
    "describe of a name that is not UTF-8": "(frame.read_csv(write('bad.csv', b'\\xff\\n1\\n')), frame.describe())",
    "shape": "frame.shape()",
    "filter_by": "frame.filter_by('a', 7).get_column('c')",
    "auto_preprocess": "frame.auto_preprocess()",
    "get_mean": "get_mean(x for x in range(40))",
}


@pytest.mark.parametrize("expression", OPERATIONS.values(), ids=OPERATIONS.keys())
def test_gc_callbacks_walking_every_container(run_child, expression):
    # A collection at each allocation of a tracked object, each walking every container:
    # the operation gives what it gives without them, exceptions included.
    run_child(
        f"""
        def outcome():
            frame = KestraneDataFrame()
            quietly(frame.read_csv, write("small.csv", {SMALL!r}))
            console = io.StringIO()
            saved, sys.stdout = sys.stdout, console
            try:
                result = repr(run({expression!r}, frame))
            except Exception as error:
                result = repr(error)
            finally:
                sys.stdout = saved
            return result, console.getvalue(), quietly(frame.shape)

        calm = outcome()
        collections, kept = [], []
        def hostile(phase, info):
            if phase == "start":
                collections.append(1)
                touch_every_container()
            else:
                # New tracked objects that stay: the young generation's count stays above
                # the threshold, so the next allocation of a tracked object collects again.
                kept.extend([[] for _ in range(8)])
        gc.callbacks.append(hostile)
        gc.set_threshold(1)
        walked = outcome()
        gc.set_threshold(700)
        assert collections, "no collection ran"
        assert walked == calm, (walked, calm)
        """,
    )


# Long enough that signal checks fall inside the row loop and the building of lists.
LONG_OPERATIONS = {
    "read_csv": "frame.read_csv('long.csv')",
    "read_csv of a wide header": "frame.read_csv(write('wide.csv', ','.join(f'c{i}' for i in range(70_000)) + '\\n'))",
    "get_column": "frame.get_column('a')",
    "auto_preprocess": "frame.auto_preprocess()",
}


@pytest.mark.parametrize("expression", LONG_OPERATIONS.values(), ids=LONG_OPERATIONS.keys())
def test_signal_handlers_walking_every_container(run_child, expression):
    # A timer every 100 us; its handler, run at the module's signal checks, walks the
    # containers at most every millisecond, so that the operation still moves on.
    run_child(
        f"""
        write("long.csv", "a,b\\n" + "1.5,\\n" * 1_500_000 + "2,3\\n")
        frame = KestraneDataFrame()
        quietly(frame.read_csv, "long.csv")
        hits, walks, last_walk, inside = [], [], [0.0], [False]
        def walk(signum, stack):
            # Not again from inside itself: the walk runs Python code, where handlers run too.
            if inside[0]:
                return
            inside[0] = True
            hits.append(1)
            if time.monotonic() - last_walk[0] > 0.001:
                walks.append(1)
                touch_every_container(last_items_only=True)
                last_walk[0] = time.monotonic()
            inside[0] = False
        signal.signal(signal.SIGALRM, walk)
        signal.setitimer(signal.ITIMER_REAL, 0.0001, 0.0001)
        for _ in range(3):
            quietly(run, {expression!r}, frame)
        signal.setitimer(signal.ITIMER_REAL, 0, 0)
        signal.signal(signal.SIGALRM, signal.SIG_IGN)
        assert hits and walks, (len(hits), len(walks))
        """,
    )


# A daemon thread is in read_csv at a point where the load gives up the interpreter
# lock when the program ends. An object that sleeps in __del__ while the interpreter
# finalises lets that thread's system call return in the meantime.
DAEMON = """
class SleepsAtExit:
    def __del__(self):
        time.sleep(0.3)

class SleepingStream(io.StringIO):
    def write(self, text):
        time.sleep(0.0001)
        return super().write(text)

def feed(redirect):
    rows = "echo a,b; while :; do echo 1,2; sleep 0.01; done"
    return subprocess.Popen(["sh", "-c", redirect + rows], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

sleeps_at_exit = SleepsAtExit()
sys.stdout = io.StringIO()
"""

BLOCKING_POINTS = {
    "open of a FIFO": "os.mkfifo('rows'); feed('sleep 0.1; exec >rows; '); path = 'rows'",
    "read of a FIFO": "os.mkfifo('rows'); feed('exec >rows; '); path = 'rows'",
    "read of a pipe": "path = f'/dev/fd/{feed(\"\").stdout.fileno()}'",
    "read of a regular file": "path = write('long.csv', 'a,b\\n' + '1.5,2.25\\n' * 3_000_000)",
    "write of a stream": "path = write('text.csv', 'a\\n' + 'x\\n' * 100_000); sys.stdout = SleepingStream()",
}


@pytest.mark.parametrize("setup", BLOCKING_POINTS.values(), ids=BLOCKING_POINTS.keys())
def test_a_daemon_thread_in_a_load_when_the_program_ends(run_child, setup):
    run_child(
        DAEMON
        + setup
        + """
frame = KestraneDataFrame()
threading.Thread(target=frame.read_csv, args=(path,), daemon=True).start()
time.sleep(0.05)
""",
    )


# Another thread's load waits in open or in read while the main thread forks. In the
# child that load is gone: the frame holds what it had done and is usable. In the
# parent the load goes on to the end.
FORK_POINTS = {
    "open": (False, ((1, 1), [5.0], None)),
    "read": (True, ((2, 2), None, [2.0, 4.0])),
}


@pytest.mark.parametrize("feeds_before_fork, in_child", FORK_POINTS.values(), ids=FORK_POINTS.keys())
def test_fork_while_another_thread_loads(run_child, feeds_before_fork, in_child):
    run_child(
        f"""
        def busy(frame):
            try:
                frame.shape()
            except RuntimeError:
                return True
            return False

        def state(frame):
            return quietly(lambda: (frame.shape(), frame.get_column("a"), frame.get_column("y")))

        def open_and_write_two_rows():
            writer = os.open("rows", os.O_WRONLY)
            os.write(writer, b"x,y\\n1,2\\n3,4\\n")
            return writer

        os.mkfifo("rows")
        frame = KestraneDataFrame()
        quietly(frame.read_csv, write("earlier.csv", "a\\n5\\n"))
        loader = threading.Thread(target=quietly, args=(frame.read_csv, "rows"), daemon=True)
        loader.start()
        if {feeds_before_fork}:
            writer = open_and_write_two_rows()
            # Until the load has taken the rows out of the FIFO, then a moment to convert them.
            while struct.unpack("i", fcntl.ioctl(writer, termios.FIONREAD, bytes(4)))[0]:
                time.sleep(0.01)
        time.sleep(0.3)
        assert busy(frame)
        child = os.fork()
        if child == 0:
            status = 1
            try:
                assert state(frame) == {in_child!r}, state(frame)
                quietly(frame.read_csv, "earlier.csv")
                assert state(frame) == ((1, 1), [5.0], None)
                status = 0
            finally:
                os._exit(status)
        assert os.waitstatus_to_exitcode(os.waitpid(child, 0)[1]) == 0
        assert busy(frame)
        if not {feeds_before_fork}:
            writer = open_and_write_two_rows()
        os.write(writer, b"5,6\\n")
        os.close(writer)
        loader.join()
        assert state(frame) == ((3, 2), None, [2.0, 4.0, 6.0])
        """,
    )


def test_fork_inside_an_operation_keeps_the_frame_busy_in_the_child(run_child):
    # The thread that forks is the one walking the frame, and it goes on walking it in
    # the child: there the frame stays busy.
    run_child(
        """
        frame = KestraneDataFrame()
        quietly(frame.read_csv, write("small.csv", "a\\n1\\nx\\n"))

        class ForkingStream(io.StringIO):
            def write(self, text):
                if "x" in text and os.fork() == 0:
                    try:
                        frame.shape()
                        os._exit(1)
                    except RuntimeError:
                        os._exit(0)
                return super().write(text)

        sys.stdout = ForkingStream()
        frame.read_csv("small.csv")
        sys.stdout = sys.__stdout__
        assert os.waitstatus_to_exitcode(os.wait()[1]) == 0
        """,
    )


SWEEP = """
shim = ctypes.CDLL(None)
LONG = "a_name_longer_than_a_short_string_"
write("small.csv", f"{LONG}1,{LONG}2,{LONG}1\\n1,2,3\\nx,,5\\n1,7,9\\n")

def state(frame):
    return quietly(lambda: repr((frame.shape(), frame.describe(), [frame.get_column(LONG + i) for i in "12"])))

def loaded():
    frame = KestraneDataFrame()
    quietly(frame.read_csv, "small.csv")
    return frame

def sweep(expression, changes_frame):
    # Fails the first, the second, ... allocation until the expression runs without
    # reaching the failing one; returns how many allocations it makes.
    calm = loaded()
    quietly(run, expression, calm)
    for allocations in range(10_000):
        frame = loaded()
        before = state(frame)
        shim.fail_allocation_after(allocations)
        try:
            quietly(run, expression, frame)
            failed = False
        except MemoryError:
            failed = True
        finally:
            left = shim.allocations_left()
            shim.fail_allocation_after(-1)
        if not failed and left > 0:
            return allocations
        # After a failure the frame is whole, unchanged where the operation does not
        # change it, and the operation then runs to the end.
        assert changes_frame or state(frame) == before, (allocations, state(frame), before)
        quietly(run, expression, frame)
        assert state(frame) == state(calm), (allocations, state(frame), state(calm))
    raise AssertionError("the sweep did not end")
"""

MEMORY_OPERATIONS = {
    "read_csv": ("frame.read_csv('small.csv')", True),
    "get_column": ("frame.get_column(LONG + '2')", False),
    "count_nan": ("frame.count_nan(LONG + '2')", False),
    "describe": ("frame.describe()", False),
    "filter_by": ("frame.filter_by(LONG + '1', 1)", False),
    "auto_preprocess": ("frame.auto_preprocess()", True),
    "get_mean": ("get_mean([1, 2, 3])", False),
}


@pytest.mark.parametrize("expression, changes_frame", MEMORY_OPERATIONS.values(), ids=MEMORY_OPERATIONS.keys())
def test_each_allocation_of_an_operation_failing_in_turn(run_child, fault_shim_env, expression, changes_frame):
    out = run_child(SWEEP + f"print(sweep({expression!r}, {changes_frame}))", env=fault_shim_env)
    # Each operation allocates at least its argument or its result.
    assert int(out) > 0
