"""The cost of one console line against Python's print() of the same parts to the same stream.

In one process, in turn: read_csv of a file whose N cells each print the warning line, minus
read_csv of the same file with numbers in their place, divided by N; auto_preprocess of a
frame with N NaN cells (one fill line each), minus auto_preprocess of the same frame without
them. Against a loop of N print() calls with the line's three parts. Best of R each.
"""

import contextlib
import io
import sys
import tempfile
import time
from pathlib import Path

import orvantis_core

CELL, NAME = "abc", "fiyat"
WARNING = ("C++: '", CELL, "' double'a çevrilemedi. NaN olarak işaretleniyor.")
FILL = ("C++: '", NAME, "' sutunundaki bir NaN degeri ortalama ile dolduruldu.")


def temporary_file():
    return tempfile.TemporaryFile("w+", encoding="utf-8")  # noqa: SIM115 (console() closes it)


STREAMS = {"io.StringIO": io.StringIO, "a file": temporary_file}


@contextlib.contextmanager
def console(make_stream):
    stream = make_stream()
    saved, sys.stdout = sys.stdout, stream
    try:
        yield
    finally:
        sys.stdout = saved
        stream.close()


def seconds(make_stream, run, prepare=lambda: ()):
    args = prepare()
    with console(make_stream):
        start = time.perf_counter()
        run(*args)
        return time.perf_counter() - start


def write_files(folder, count):
    """Files of `count` rows under x,fiyat: warn has a word in every x, plain a number in its
    place; nan has an empty fiyat in every row but the first, full a number there."""
    rows = {"warn": f"{CELL},1\n", "plain": "1,1\n", "nan": "1,\n", "full": "1,2\n"}
    files = {}
    for name, row in rows.items():
        files[name] = Path(folder) / f"{name}.csv"
        files[name].write_text(f"x,{NAME}\n1,1\n" + row * count)
    return files


def loaded(path):
    frame = orvantis_core.KestraneDataFrame()
    with console(io.StringIO):
        frame.read_csv(str(path))
    return (frame,)


def per_line(make_stream, files, count, repeat):
    """{line: (ours, print) in seconds per line}, each the best of `repeat` rounds taken in turn."""
    read = lambda path: orvantis_core.KestraneDataFrame().read_csv(str(path))  # noqa: E731
    fill = orvantis_core.KestraneDataFrame.auto_preprocess
    printing = lambda parts: [print(*parts) for _ in range(count)]  # noqa: E731
    runs = {
        "warn": lambda: seconds(make_stream, read, lambda: (files["warn"],)),
        "plain": lambda: seconds(make_stream, read, lambda: (files["plain"],)),
        "fill": lambda: seconds(make_stream, fill, lambda: loaded(files["nan"])),
        "no fill": lambda: seconds(make_stream, fill, lambda: loaded(files["full"])),
        "print warning": lambda: seconds(make_stream, printing, lambda: (WARNING,)),
        "print fill": lambda: seconds(make_stream, printing, lambda: (FILL,)),
    }
    times = {name: [] for name in runs}
    for _ in range(repeat):
        for name, run in runs.items():
            times[name].append(run())
    best = {name: min(values) for name, values in times.items()}
    return {
        "warning line": ((best["warn"] - best["plain"]) / count, best["print warning"] / count),
        "fill line": ((best["fill"] - best["no fill"]) / count, best["print fill"] / count),
    }


def measure(count, repeat):
    with tempfile.TemporaryDirectory() as folder:
        files = write_files(folder, count)
        return {stream: per_line(make, files, count, repeat) for stream, make in STREAMS.items()}
