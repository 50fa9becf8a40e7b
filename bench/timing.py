"""What every benchmark script times with: the console sent elsewhere, and one run's wall and CPU time."""

import contextlib
import os
import sys
import time


@contextlib.contextmanager
def quiet(stream=None):
    """sys.stdout, where the module writes its console lines, goes to `stream`, or to os.devnull."""
    with contextlib.ExitStack() as stack:
        target = stream if stream is not None else stack.enter_context(open(os.devnull, "w"))
        saved, sys.stdout = sys.stdout, target
        stack.callback(setattr, sys, "stdout", saved)
        yield


def timed(run, *args):
    """run(*args)'s result, wall seconds (time.perf_counter) and CPU seconds (time.process_time,
    every thread of the process)."""
    cpu_start = time.process_time()
    wall_start = time.perf_counter()
    result = run(*args)
    wall = time.perf_counter() - wall_start
    cpu = time.process_time() - cpu_start
    return result, wall, cpu
