import contextlib
import os
import shutil
import signal
import subprocess
import sys
import time
import traceback
from pathlib import Path

import pytest
from message_texts import RecordingStream

import orvantis_core


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """In CI a test that cannot run fails: a skip there would hide a missing prerequisite.
    The sanitizer run keeps its skips, which say what AddressSanitizer cannot do."""
    report = (yield).get_result()
    if report.skipped and os.environ.get("CI") and os.environ.get("ORVANTIS_SANITIZED") != "1":
        report.outcome = "failed"
        report.longrepr = f"skipped in CI, which must run every test: {report.longrepr}"


@pytest.hookimpl(hookwrapper=True, trylast=True)
def pytest_runtest_call(item):
    """Puts the console fixture's stream back in place once pytest's own capture has resumed."""
    stream = item.funcargs.get("console")
    with contextlib.nullcontext() if stream is None else contextlib.redirect_stdout(stream):
        yield


def kill_group(leader):
    with contextlib.suppress(ProcessLookupError):
        os.killpg(leader, signal.SIGKILL)


class Children:
    """The child interpreters of one test, each in a session of its own: when the test ends,
    however it ends, the whole process group of each one is killed, whatever it started."""

    def __init__(self):
        self.started = []

    def start(self, script, *args, python=(sys.executable,), **options):
        """Starts `python -c script args`, its stdout and stderr as text pipes unless options say otherwise."""
        options = {"stdout": subprocess.PIPE, "stderr": subprocess.PIPE, "text": True, **options}
        child = subprocess.Popen([*python, "-c", script, *map(str, args)], start_new_session=True, **options)
        self.started.append(child)
        return child

    @staticmethod
    def finish(child, timeout=120):
        """Waits for the child; returns (stdout, stderr). Exiting nonzero or outliving the timeout fails the test."""
        try:
            out, err = child.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            pytest.fail(f"the child interpreter did not end within {timeout} s")
        assert child.returncode == 0, f"exit status {child.returncode}\n{err}"
        return out, err

    def run(self, script, *args, timeout=120, **options):
        return self.finish(self.start(script, *args, **options), timeout)

    def end_all(self):
        for child in self.started:
            # Leaving the block closes the child's pipes and waits for it.
            with child:
                kill_group(child.pid)


@pytest.fixture
def children():
    """Runs scripts in child interpreters (Children); all of their process groups end with the test."""
    started = Children()
    yield started
    started.end_all()


@pytest.hookimpl(tryfirst=True)
def pytest_pyfunc_call(pyfuncitem):
    """Runs a test marked `forked` in a forked child, so that a crash or a hang fails only that test."""
    marker = pyfuncitem.get_closest_marker("forked")
    if marker is None:
        return None
    arguments = {name: pyfuncitem.funcargs[name] for name in pyfuncitem._fixtureinfo.argnames}
    child = os.fork()
    if child == 0:
        # A group of its own, so that whatever the test starts ends with it.
        os.setpgid(0, 0)
        status = 1
        try:
            pyfuncitem.obj(**arguments)
            status = 0
        except BaseException:
            traceback.print_exc()
        finally:
            sys.stdout.flush()
            sys.stderr.flush()
            os._exit(status)
    deadline = time.monotonic() + marker.kwargs.get("timeout", 120)
    try:
        while (waited := os.waitpid(child, os.WNOHANG))[0] == 0:
            if time.monotonic() > deadline:
                os.kill(child, signal.SIGKILL)
                os.waitpid(child, 0)
                pytest.fail("the forked test did not end in time")
            time.sleep(0.01)
    finally:
        kill_group(child)
    if os.waitstatus_to_exitcode(waited[1]) != 0:
        pytest.fail(f"the forked test failed (exit code {os.waitstatus_to_exitcode(waited[1])}); see its stderr")
    return True


@pytest.fixture
def console(monkeypatch):
    """Replaces sys.stdout for the test; the stream's lines() are what the module printed."""
    stream = RecordingStream()
    monkeypatch.setattr(sys, "stdout", stream)
    return stream


@pytest.fixture
def csv_file(tmp_path):
    """Writes bytes or text (kept byte for byte) to a new file and returns its path as str."""
    counter = iter(range(1_000_000))

    def write(content):
        path = tmp_path / f"data{next(counter)}.csv"
        path.write_bytes(content if isinstance(content, bytes) else content.encode())
        return str(path)

    return write


@pytest.fixture
def load(csv_file, console):
    """Loads CSV content into a new frame; returns the frame. Output of the load is discarded."""

    def make(content):
        frame = orvantis_core.KestraneDataFrame()
        frame.read_csv(csv_file(content))
        console.reset()
        return frame

    return make


@pytest.fixture(scope="session")
def fault_shim_env(tmp_path_factory):
    """The environment of a child interpreter with tests/cpp/fault_shim.cpp loaded first, whose
    functions (ctypes.CDLL(None).fail_allocation_after, .fail_read_after) make one C++
    allocation or one read() fail on demand. The sanitizers' runtime, when preloaded too, is
    told not to insist on coming first. CXX names the compiler (g++ by default)."""
    compiler = os.environ.get("CXX", "g++")
    assert shutil.which(compiler), f"{compiler} is needed to build the fault shim"
    shim = tmp_path_factory.mktemp("fault_shim") / "fault_shim.so"
    source = Path(__file__).parent / "cpp" / "fault_shim.cpp"
    subprocess.run([compiler, "-shared", "-fPIC", "-O1", "-o", str(shim), str(source)], check=True)
    env = dict(os.environ)
    env["LD_PRELOAD"] = " ".join([str(shim), env.get("LD_PRELOAD", "")]).strip()
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
    return env
