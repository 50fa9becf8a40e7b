"""The tests' child programs: the adversary's scenarios, Python code that runs in the middle
of every operation (test_adversary.py), and loads that fail (test_load_failures.py).

The tests run each program in a fresh interpreter, with LAUNCH: main() calls the function
that sys.argv names, with the arguments after it. A scenario that finds a fault raises,
prints to stderr or crashes; the test wants exit status 0 and an empty stderr.
"""

import contextlib
import ctypes
import fcntl
import functools
import gc
import io
import json
import os
import re
import resource
import signal
import struct
import subprocess
import sys
import termios
import threading
import time

import orvantis_core
from orvantis_core import KestraneDataFrame, get_mean, merhaba_kestrane

# Names longer than a short string's inline room, so that each makes a C++ allocation.
A, B, C = (f"a_name_longer_than_a_short_string_{letter}" for letter in "abc")
SMALL = f"{A},{B},{C},{A}\n1,x,,1\n,3,4,5\n7,,nan,9\n"
LIBC = ctypes.CDLL(None)
SANITIZED = os.environ.get("ORVANTIS_SANITIZED") == "1"  # the run under AddressSanitizer (.ci/sanitize)
LAUNCH = f"import sys; sys.path.insert(0, {os.path.dirname(__file__)!r}); import adversary_children as a; a.main()"


def write(path, text):
    with open(path, "wb") as file:
        file.write(text if isinstance(text, bytes) else text.encode())
    return path


def quietly(call, *args):
    with contextlib.redirect_stdout(io.StringIO()):
        return call(*args)


def swallowing(call, *args):
    with contextlib.suppress(Exception):
        call(*args)


def loaded(text=SMALL):
    frame = KestraneDataFrame()
    quietly(frame.read_csv, write("small.csv", text))
    return frame


def is_busy(frame):
    with contextlib.suppress(RuntimeError):
        frame.shape()
        return False
    return True


def wait_until_busy(frame, seconds=10):
    """Waits until another thread's operation has marked the frame busy; fails after `seconds`. A 1 us switch
    interval makes that thread hand the lock over at its next release: else this one may lose every race for it."""
    sys.setswitchinterval(1e-6)
    deadline = time.monotonic() + seconds
    while not is_busy(frame):
        assert time.monotonic() < deadline, f"the frame was not busy within {seconds} s"
        time.sleep(0.001)


class WithoutLen:
    def __getitem__(self, index):
        raise IndexError(index)


# Each operation as a call made ready on a frame loaded from SMALL (everything Python makes
# for it is made here, so that what runs in the call runs inside the module).
OPERATIONS = {
    "read_csv": lambda frame: functools.partial(frame.read_csv, write("other.csv", "p,q\n1,abc\n,2\n")),
    "read_csv of a name that is not UTF-8": lambda f: functools.partial(f.read_csv, write("u.csv", b"\xff\n1\n")),
    "read_csv of a missing file": lambda frame: functools.partial(frame.read_csv, "missing.csv"),
    "get_column": lambda frame: functools.partial(frame.get_column, B),
    "get_column of a missing column": lambda frame: functools.partial(frame.get_column, "zz"),
    "get_column of a name that is not encodable": lambda frame: functools.partial(frame.get_column, "\ud800"),
    "count_nan": lambda frame: functools.partial(frame.count_nan, B),
    "describe": lambda frame: frame.describe,
    "describe of a name that is not UTF-8": lambda frame: (
        swallowing(quietly, frame.read_csv, write("u.csv", b"\xff\n1\n")),
        frame.describe,
    )[1],
    "shape": lambda frame: frame.shape,
    "filter_by": lambda frame: lambda: frame.filter_by(A, 7).get_column(C),
    "auto_preprocess": lambda frame: frame.auto_preprocess,
    "get_mean": lambda frame: functools.partial(get_mean, (x for x in range(40))),
    "get_mean of a refused item": lambda frame: functools.partial(get_mean, [1.0, "x"]),
    # len() fails with an error not yet made into an exception object.
    "get_mean of a sequence without len": lambda frame: functools.partial(get_mean, WithoutLen()),
    "merhaba_kestrane": lambda frame: merhaba_kestrane,
}


def outcome(call):
    """What a call gives: its result's or error's repr (without the addresses of objects
    that a repr names), its console text."""
    console = io.StringIO()
    with contextlib.redirect_stdout(console):
        try:
            result = repr(call())
        except Exception as error:
            result = repr(error)
    return re.sub(" at 0x[0-9a-f]+", "", result), console.getvalue()


def touch_every_container(last_items_only=False):
    # Reads the slots of every list, tuple and dict that the collector tracks: an
    # unfilled slot of a container being built crashes here.
    for container in gc.get_objects():
        if type(container) in (list, tuple):
            for _ in container[-1:] if last_items_only else container:
                pass
        elif type(container) is dict and not last_items_only:
            for _ in container.items():
                pass


def gc_walker(operation):
    # A collection at each allocation of a tracked object, each walking every container:
    # the operation gives what it gives without them, exceptions included.
    def walked_outcome():
        frame = loaded()
        return outcome(OPERATIONS[operation](frame)), quietly(frame.shape)

    calm, collections, kept = walked_outcome(), [], []

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
    walked = walked_outcome()
    gc.set_threshold(700)
    assert collections, "no collection ran"
    assert walked == calm, (walked, calm)


# Long enough that signal checks fall inside the row loop and the building of lists.
LONG_OPERATIONS = {
    "read_csv": lambda frame: frame.read_csv("long.csv"),
    "read_csv of a wide header": lambda frame: frame.read_csv(write("w.csv", ",".join(map(str, range(70_000))))),
    "get_column": lambda frame: frame.get_column("a"),
    "auto_preprocess": lambda frame: frame.auto_preprocess(),
}


def signal_walker(operation):
    # A timer 100 us after each handler's end; the handler, run at the module's signal
    # checks, walks the containers after at least a millisecond, and at least as long as
    # the last walk took, since the last walk: the operation keeps half the time or more and
    # still moves on, however slow the handler runs (as under an emulator).
    frame = loaded("a,b\n" + "1.5,\n" * 1_500_000 + "2,3\n")
    os.rename("small.csv", "long.csv")
    hits, walks, next_walk, ticking = [], [], [0.0], [True]

    def walk(signum, stack):
        hits.append(1)
        started = time.monotonic()
        if started > next_walk[0]:
            walks.append(1)
            touch_every_container(last_items_only=True)
            ended = time.monotonic()
            next_walk[0] = ended + max(0.001, ended - started)
        if ticking[0]:
            signal.setitimer(signal.ITIMER_REAL, 0.0001)

    signal.signal(signal.SIGALRM, walk)
    signal.setitimer(signal.ITIMER_REAL, 0.0001)
    for _ in range(3):
        quietly(LONG_OPERATIONS[operation], frame)
    # Stopped with the handler left in place: changing it while a signal is pending fails
    # under qemu-user ("ignored due to race condition").
    ticking[0] = False
    signal.setitimer(signal.ITIMER_REAL, 0)
    assert hits, "no signal check ran a handler"
    assert walks, "no handler walked the containers"


class SleepsAtExit:
    """Sleeps in __del__ while the interpreter finalises, which lets a daemon thread ask for
    the lock meanwhile; CPython then ends that thread where it is. Kept as sys.ps1, which
    the interpreter sets to None once it ends such threads (a module global could outlive
    the interpreter: a daemon thread's frames keep their module's dict)."""

    def __init__(self, check_parked):
        self.check_parked = check_parked

    # What it calls is bound here: the module's globals may be gone by then.
    def __del__(self, sleep=time.sleep, tasks=os.listdir, report=os.write):
        sleep(0.2)
        # A thread ended at a Python point of the module sleeps there until the process
        # ends; unwound, it would be gone.
        if self.check_parked and len(tasks("/proc/self/task")) < 2:
            report(2, b"the ended thread was unwound through the module\n")


def stream_with_write(write):
    stream = io.StringIO()
    stream.write = write
    return stream


def feed(redirect):
    rows = "echo a,b; while :; do echo 1,2; sleep 0.01; done"
    return subprocess.Popen(["sh", "-c", redirect + rows], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)


# What read_csv reads from, made ready to block where the load gives up the lock.
BLOCKING_POINTS = {
    "open of a FIFO": lambda: (os.mkfifo("rows"), feed("sleep 0.1; exec >rows; "), "rows")[2],
    "read of a FIFO": lambda: (os.mkfifo("rows"), feed("exec >rows; "), "rows")[2],
    "read of a pipe": lambda: f"/dev/fd/{feed('').stdout.fileno()}",
    "read of a regular file": lambda: write("long.csv", "a,b\n" + "1.5,2.25\n" * 3_000_000),
    "write of a stream": lambda: (
        setattr(sys, "stdout", stream_with_write(lambda text: time.sleep(0.0001))),
        write("x.csv", "a\n" + "x\n" * 100_000),
    )[1],
}


def daemon_in_a_load(point):
    # A daemon thread is in read_csv, where the load gives up the interpreter lock, when
    # the program ends.
    sys.ps1 = SleepsAtExit(check_parked=True)
    sys.stdout = io.StringIO()
    path = BLOCKING_POINTS[point]()
    frame = KestraneDataFrame()
    threading.Thread(target=frame.read_csv, args=(path,), daemon=True).start()
    wait_until_busy(frame)


class Trap:
    """Python code that gives up the interpreter lock for good: once entered, the thread
    sleeps until the interpreter ends it."""

    def __init__(self):
        self.entered, self.done = False, None  # done: the write end of a pipe, in the child

    def __call__(self, *args):
        self.entered = True
        os.write(self.done, b"x")
        while True:
            time.sleep(0.001)


# The exit status of a child whose call returned without entering its trap.
NOT_REACHED = 3


def start_ended_inside(call, trap, check_parked):
    """Forks a child that runs `call` in a daemon thread and ends once that thread is in the
    trap; returns the child's pid and the read end of its stderr."""
    read_end, write_end = os.pipe()
    child = os.fork()
    if child == 0:
        os.dup2(write_end, 2)
        sys.ps1 = SleepsAtExit(check_parked)
        done, trap.done = os.pipe()
        # The call starts once this thread is on its way to the read, which neither makes
        # nor frees an object: nothing of this thread's refills a free list or collects
        # while the call runs.
        go = threading.Lock()
        go.acquire()
        threading.Thread(target=lambda: (go.acquire(), call(), os.write(trap.done, b"x")), daemon=True).start()
        go.release()
        os.read(done, 1)
        if not trap.entered:
            os._exit(NOT_REACHED)
        sys.exit(0)
    os.close(write_end)
    return child, read_end


def outcome_of(child, read_end):
    """The exit status and stderr of a child that start_ended_inside started."""
    with os.fdopen(read_end) as errors:
        err = errors.read()
    return os.waitstatus_to_exitcode(os.waitpid(child, 0)[1]), err


class Collections:
    """A gc callback that counts the collections that start inside the module, in the
    thread of a call it wraps, and runs `trap` at the k-th. Each collection leaves new
    tracked objects behind, so that the young generation's count stays above the threshold
    (1) and the next allocation of a tracked object collects again; they also empty the
    free lists of lists, dicts and pairs, whose reuse would allocate nothing."""

    def __init__(self, k=0, trap=None, anywhere=False):
        self.count, self.k, self.trap, self.thread, self.kept, self.anywhere = 0, k, trap, None, [], anywhere
        path = os.path.realpath(orvantis_core.__file__)
        with open("/proc/self/maps") as maps:
            rows = [line.split() for line in maps]
        self.code = [[int(end, 16) for end in row[0].split("-")] for row in rows if row[-1] == path and "x" in row[1]]

    def __call__(self, phase, info):
        if self.thread != threading.get_ident():
            return
        if phase == "stop":
            self.keep_new_objects()
        elif self.anywhere or self.module_on_stack():
            self.count += 1
            if self.count == self.k:
                self.trap()

    def module_on_stack(self):
        """Whether a frame of the module's machine code is on this thread's native stack."""
        addresses = (ctypes.c_void_p * 512)()
        depth = LIBC.backtrace(addresses, len(addresses))
        return any(start <= (address or 0) < end for address in addresses[:depth] for start, end in self.code)

    def keep_new_objects(self):
        self.kept.append(([[] for _ in range(100)], [{} for _ in range(100)], [(i, i) for i in range(2000)]))

    def around(self, call):
        def armed_call():
            gc.set_threshold(1_000_000)
            gc.collect()
            self.keep_new_objects()
            self.thread = threading.get_ident()
            gc.set_threshold(1)
            # Not contextlib.suppress: the context manager would allocate a tracked object.
            try:  # noqa: SIM105
                call()
            except Exception:
                pass
            self.thread = None

        return armed_call


# The binding library's own code, not the module's, runs where these operations collect:
# its conversion of a name to UTF-8 makes the error it then drops, and the TypeError of a
# refused argument names it by its repr(). A thread ended there is unwound through the
# binding library's frames, which hold no Python reference they own.
UNWOUND_BY_THE_BINDING_LIBRARY = {"get_column of a name that is not encodable", "get_mean of a refused item"}


def python_frame_dict():
    return {"columns": [A, B, C], "data": {name: [float(i) for i in range(3)] for name in (A, B, C)}}


def ended_at_each_collection(operation):
    # For each k, the k-th collection inside the operation gives up the lock for good.
    sys.stdout = io.StringIO()
    # Counted on a second run: the first fills the caches that later runs find full.
    for _ in range(2):
        counter = Collections()
        gc.callbacks[:] = [counter]
        counter.around(OPERATIONS[operation](loaded()))()
    # Unwound, a thread may crash the program only now and then: each such case runs 10 times.
    unwound = operation in UNWOUND_BY_THE_BINDING_LIBRARY
    started = []
    # A run may collect a little more often than the one counted.
    for k in range(1, counter.count + 3):
        for _ in range(10 if unwound else 1):
            trap = Trap()
            gc.callbacks[:] = [collections := Collections(k, trap)]
            call = collections.around(OPERATIONS[operation](loaded()))
            started.append(start_ended_inside(call, trap, check_parked=not unwound))
    # The control: a frame dict built in Python, its first collection trapped.
    control = Trap()
    gc.callbacks[:] = [collections := Collections(1, control, anywhere=True)]
    started.append(start_ended_inside(collections.around(python_frame_dict), control, check_parked=False))
    gc.callbacks.clear()
    *outcomes, control_outcome = [outcome_of(*each) for each in started]
    assert control_outcome == (0, ""), f"control: {control_outcome}"
    assert set(outcomes) <= {(0, ""), (NOT_REACHED, "")}, outcomes
    sys.__stdout__.write(f"{outcomes.count((0, ''))}\n")


class TrapOnDelete:
    def __init__(self, trap):
        self.trap = trap

    def __del__(self):
        self.trap()


class StreamTrappedOnDelete(io.StringIO):
    """Replaces sys.stdout at its write, so that the writer's references to it and to its
    write are the last ones."""

    def __init__(self, trap):
        super().__init__()
        self.on_delete = TrapOnDelete(trap)

    def write(self, text):
        sys.stdout = io.StringIO()
        return 0


class WriteTrappedOnDelete(TrapOnDelete):
    """A stream's write that takes itself out of the stream and replaces sys.stdout, so that
    the writer's reference to it is the last one."""

    def __call__(self, text):
        vars(sys.stdout).pop("write", None)
        sys.stdout = io.StringIO()


class Real:
    """A number whose __float__ runs `on_float`; `on_delete` runs in its __del__."""

    def __init__(self, on_float=lambda: None, on_delete=None):
        self.on_float, self.on_delete = on_float, on_delete and TrapOnDelete(on_delete)

    def __float__(self):
        self.on_float()
        return 1.0


def refused(trap):
    """A number whose __float__ raises an error that runs `trap` when it is released."""

    def raise_error():
        raise ValueError(TrapOnDelete(trap))

    return Real(on_float=raise_error)


class Items:
    """A sequence for get_mean of fresh items from `make_item`; its __len__ and __getitem__
    (its iterator's) call `on_call` first."""

    def __init__(self, make_item, on_call=lambda: None):
        self.make_item, self.on_call = make_item, on_call

    def __len__(self):
        self.on_call()
        return 3

    def __getitem__(self, index):
        self.on_call()
        if index >= 3:
            raise IndexError(index)
        return self.make_item()


def floats(items):
    return [float(item) for item in items]


def console_point(make_stream):
    """The module's console line and print(), each to the stream that make_stream(trap) gives."""

    def on(write_line):
        return lambda trap: lambda: (setattr(sys, "stdout", make_stream(trap)), write_line())

    return on(merhaba_kestrane), on(functools.partial(print, "x"))


def released_on(make_trapped, module_call, control_call):
    """The module's call and a pure-Python control, each on what make_trapped(trap) gives."""
    return (
        lambda trap: functools.partial(module_call, make_trapped(trap)),
        lambda trap: functools.partial(control_call, make_trapped(trap)),
    )


def filter_by_a(value):
    return loaded().filter_by(A, value)


def swallowed(call):
    return functools.partial(swallowing, call)


# Each point where the module calls Python code or releases a reference that may be the
# last one, made to give up the lock for good: the module's call and a pure-Python control.
POINTS = {
    "the stream's last reference": console_point(StreamTrappedOnDelete),
    "the write's last reference": console_point(lambda trap: stream_with_write(WriteTrappedOnDelete(trap))),
    "what write returns": console_point(lambda trap: stream_with_write(lambda text: TrapOnDelete(trap))),
    "the stream's write": console_point(lambda trap: stream_with_write(lambda text: trap())),
    "__float__ of filter_by's value": released_on(lambda trap: Real(on_float=trap), filter_by_a, float),
    "the error of filter_by's value": released_on(refused, swallowed(filter_by_a), swallowed(float)),
    "__float__ of get_mean's item": released_on(lambda trap: [1, Real(on_float=trap)], get_mean, floats),
    "__len__ of get_mean's sequence": released_on(lambda trap: Items(float, on_call=trap), get_mean, len),
    "get_mean's item's last reference": released_on(lambda trap: Items(lambda: Real(on_delete=trap)), get_mean, floats),
    "the error of get_mean's item": released_on(
        lambda trap: [1, refused(trap)], swallowed(get_mean), swallowed(floats)
    ),
    "get_mean's tuple of an iterable": released_on(
        lambda trap: (Real(on_delete=trap) for _ in range(2)), get_mean, lambda items: floats(tuple(items))
    ),
}


def ended_at_point(point):
    traps = Trap(), Trap()
    started = [start_ended_inside(POINTS[point][i](traps[i]), traps[i], check_parked=i == 0) for i in (0, 1)]
    outcomes = [outcome_of(*each) for each in started]
    assert outcomes == [(0, ""), (0, "")], f"module, control: {outcomes}"


# Where another thread's load waits while the main thread forks: whether the rows come
# before the fork, and what the frame holds in the child.
FORK_POINTS = {"open": (False, ((1, 1), [5.0], None)), "read": (True, ((2, 2), None, [2.0, 4.0]))}


def fork_while_loading(point):
    # Another thread's load waits in open or in read while the main thread forks. In the
    # child that load is gone: the frame holds what it had done and is usable. In the
    # parent the load goes on to the end.
    feeds_before_fork, in_child = FORK_POINTS[point]

    def state(frame):
        return quietly(lambda: (frame.shape(), frame.get_column("a"), frame.get_column("y")))

    def open_and_write_two_rows():
        writer = os.open("rows", os.O_WRONLY)
        os.write(writer, b"x,y\n1,2\n3,4\n")
        return writer

    os.mkfifo("rows")
    frame = loaded("a\n5\n")
    loader = threading.Thread(target=quietly, args=(frame.read_csv, "rows"), daemon=True)
    loader.start()
    if feeds_before_fork:
        writer = open_and_write_two_rows()
        # Until the load has taken the rows out of the FIFO, then a moment to convert them.
        while struct.unpack("i", fcntl.ioctl(writer, termios.FIONREAD, bytes(4)))[0]:
            time.sleep(0.01)
    time.sleep(0.3)
    assert is_busy(frame)
    if os.fork() == 0:
        status = 1
        try:
            assert state(frame) == in_child, state(frame)
            quietly(frame.read_csv, "small.csv")
            assert state(frame) == ((1, 1), [5.0], None)
            status = 0
        finally:
            os._exit(status)
    assert os.waitstatus_to_exitcode(os.wait()[1]) == 0
    assert is_busy(frame)
    if not feeds_before_fork:
        writer = open_and_write_two_rows()
    os.write(writer, b"5,6\n")
    os.close(writer)
    loader.join()
    assert state(frame) == ((3, 2), None, [2.0, 4.0, 6.0])


def fork_inside_an_operation():
    # The thread that forks is the one walking the frame, and it goes on walking it in
    # the child: there the frame stays busy.
    frame = loaded("a\n1\nx\n")

    class ForkingStream(io.StringIO):
        def write(self, text):
            if "x" in text and os.fork() == 0:
                os._exit(0 if is_busy(frame) else 1)
            return super().write(text)

    with contextlib.redirect_stdout(ForkingStream()):
        frame.read_csv("small.csv")
    assert os.waitstatus_to_exitcode(os.wait()[1]) == 0


# The operations whose every C++ allocation is failed in turn, and those of them that change the frame.
SWEPT = ["read_csv", "get_column", "count_nan", "describe", "filter_by", "auto_preprocess", "get_mean"]
CHANGING_THE_FRAME = {"read_csv", "auto_preprocess"}


def allocation_sweep(operation):
    # Fails the first, the second, ... C++ allocation until the operation runs without
    # reaching the failing one; prints how many allocations it makes. After a failure the
    # frame is whole, unchanged where the operation does not change it, and the operation
    # then runs to the end.
    def state(frame):
        return quietly(lambda: repr((frame.shape(), frame.describe(), [frame.get_column(n) for n in (A, B)])))

    changes_frame = operation in CHANGING_THE_FRAME
    calm = loaded()
    quietly(OPERATIONS[operation](calm))
    for allocations in range(10_000):
        frame = loaded()
        before, run = state(frame), OPERATIONS[operation](frame)
        LIBC.fail_allocation_after(allocations)
        try:
            quietly(run)
            failed = False
        except MemoryError:
            failed = True
        finally:
            left = LIBC.allocations_left()
            LIBC.fail_allocation_after(-1)
        if not failed and left > 0:
            print(allocations)
            return
        assert changes_frame or state(frame) == before, (allocations, state(frame), before)
        quietly(OPERATIONS[operation](frame))
        assert state(frame) == state(calm), (allocations, state(frame), state(calm))
    raise AssertionError("the sweep did not end")


def limit_address_space(extra_bytes):
    """Caps the process's address space at its present size plus `extra_bytes`."""
    with open("/proc/self/status") as status:
        size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
    resource.setrlimit(resource.RLIMIT_AS, (size + extra_bytes, size + extra_bytes))


# What failing_load does before its load: the read after the next one fails (through the
# fault shim), the address space is capped at as many megabytes more, or nothing.
BEFORE_THE_LOAD = {
    "a failing read": lambda: LIBC.fail_read_after(1),
    "a capped address space": lambda megabytes: limit_address_space(int(megabytes) << 20),
    "nothing": lambda: None,
}


def failing_load(path, before, *arguments):
    # A frame loaded from "z\n9\n" loads `path` after BEFORE_THE_LOAD[before](*arguments);
    # prints "ready" before that load, then its outcome as JSON: the exception, the load's
    # console lines, the frame's shape and columns afterwards. Python leaves SIGINT alone
    # when it starts ignored, as it does under a suite run with `&` in a script.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    frame = loaded("z\n9\n")
    BEFORE_THE_LOAD[before](*arguments)
    console, outcome = io.StringIO(), {"error": None}
    print("ready", flush=True)
    try:
        with contextlib.redirect_stdout(console):
            frame.read_csv(path)
    except BaseException as error:
        outcome.update({key: getattr(error, key, None) for key in ("errno", "filename")}, error=type(error).__name__)
    outcome["lines"] = console.getvalue().splitlines()
    outcome.update(shape=quietly(frame.shape), columns={name: quietly(frame.get_column, name) for name in "za"})
    print(json.dumps(outcome), flush=True)


def main():
    globals()[sys.argv[1]](*sys.argv[2:])  # the scenario that argv names, with the arguments after it
