"""The cost of one console line against its floor and against Python's print() of the same parts.

bench/README.md ("Method", console lines) says how each figure is made: N lines of each kind,
in one process, in turn with the floor (bench/console_floor.cpp) and print(), CPU time, best
of R.
"""

import argparse
import importlib
import io
import os
import subprocess
import sys
import tempfile
from pathlib import Path

import fresh
import parse_only
import report
from load_child import HISTORICAL_MODULE_ENV
from shapes import SHAPES, ensure_csv
from timing import quiet, timed

import orvantis_core

ROOT = Path(__file__).resolve().parent.parent
CELL, NAME = "abc", "fiyat"
WARNING = ("C++: '", CELL, "' double'a çevrilemedi. NaN olarak işaretleniyor.")
FILL = ("C++: '", NAME, "' sutunundaki bir NaN degeri ortalama ile dolduruldu.")


def temporary_file():
    return tempfile.TemporaryFile("w+", encoding="utf-8")  # noqa: SIM115 (seconds() closes it)


STREAMS = {"io.StringIO": io.StringIO, "a file": temporary_file}


def build_floor(build_dir):
    """Builds the CMake target console_floor for this interpreter and imports it."""
    folder = Path(build_dir) / "console-floor"
    configure = ["cmake", "-S", ROOT, "-B", folder, "-DCMAKE_BUILD_TYPE=Release", "-DORVANTIS_MODULE=OFF"]
    configure += ["-DORVANTIS_BUILD_BENCH=ON", f"-DPython_EXECUTABLE={sys.executable}"]
    subprocess.run([str(part) for part in configure], check=True, stdout=subprocess.DEVNULL)
    build = ["cmake", "--build", folder, "-j", "2", "--target", "console_floor"]
    subprocess.run([str(part) for part in build], check=True, stdout=subprocess.DEVNULL)
    sys.path.insert(0, str(folder))
    return importlib.import_module("console_floor")


def one_object_each(cells):
    """The cells with equal ones as one bytes object, which the floor then finds in the cache as
    read_csv finds its cells in its buffer (200,000 objects spread over the heap cost it about 70 ns
    a line in misses)."""
    objects = {}
    return [objects.setdefault(cell, cell) for cell in cells]


def floor_arguments(parts, cells):
    """write_lines' arguments for lines made of `parts` around each of `cells` (bytes): the fixed
    parts carry the spaces that join them to the cell."""
    before, _, after = parts
    return one_object_each(cells), before + " ", " " + after


def seconds(make_stream, run, prepare=lambda: ()):
    """CPU seconds of run(*prepare()) with sys.stdout on a new stream: other workers of a shared
    machine weigh on wall time far more."""
    args = prepare()
    with make_stream() as stream, quiet(stream):
        return timed(run, *args)[2]


def write_files(folder, count):
    """Files of `count` rows: warn has the word in its one column x, plain a number in its place;
    nan, under x,fiyat, has an empty fiyat in every row but the first, full a number there."""
    texts = {
        "warn": "x\n" + f"{CELL}\n" * count,
        "plain": "x\n" + "1\n" * count,
        "nan": f"x,{NAME}\n1,1\n" + "1,\n" * count,
        "full": f"x,{NAME}\n1,1\n" + "1,2\n" * count,
    }
    files = {}
    for name, text in texts.items():
        files[name] = Path(folder) / f"{name}.csv"
        files[name].write_text(text)
    return files


def loaded(path):
    frame = orvantis_core.KestraneDataFrame()
    with quiet(io.StringIO()):
        frame.read_csv(str(path))
    return (frame,)


def per_line(make_stream, files, count, repeat, floor):
    """{line: {"ours", "whole read_csv", "floor", "print": seconds per line}}, each the best of
    `repeat` rounds taken in turn."""
    read = lambda path: orvantis_core.KestraneDataFrame().read_csv(str(path))  # noqa: E731
    fill = orvantis_core.KestraneDataFrame.auto_preprocess
    printing = lambda parts: [print(*parts) for _ in range(count)]  # noqa: E731
    runs = {
        "warn": lambda: seconds(make_stream, read, lambda: (files["warn"],)),
        "plain": lambda: seconds(make_stream, read, lambda: (files["plain"],)),
        "floor warning": lambda: seconds(
            make_stream, floor.write_lines, lambda: floor_arguments(WARNING, [CELL.encode()] * count)
        ),
        "fill": lambda: seconds(make_stream, fill, lambda: loaded(files["nan"])),
        "no fill": lambda: seconds(make_stream, fill, lambda: loaded(files["full"])),
        "floor fill": lambda: seconds(
            make_stream, floor.write_lines, lambda: floor_arguments(FILL, [NAME.encode()] * count)
        ),
        "print warning": lambda: seconds(make_stream, printing, lambda: (WARNING,)),
        "print fill": lambda: seconds(make_stream, printing, lambda: (FILL,)),
    }
    times = {name: [] for name in runs}
    for _ in range(repeat):
        for name, run in runs.items():
            times[name].append(run())
    best = {name: min(values) / count for name, values in times.items()}
    return {
        "warning line": {
            "ours": best["warn"] - best["plain"],
            "whole read_csv": best["warn"],
            "floor": best["floor warning"],
            "print": best["print warning"],
        },
        "fill line": {"ours": best["fill"] - best["no fill"], "floor": best["floor fill"], "print": best["print fill"]},
    }


def measure(count, repeat, build_dir):
    floor = build_floor(build_dir)
    with tempfile.TemporaryDirectory() as folder:
        files = write_files(folder, count)
        return {stream: per_line(make, files, count, repeat, floor) for stream, make in STREAMS.items()}


def first_two_cells(path):
    """The cells of the first two columns, row by row, as read_csv meets them."""
    with open(path, "rb") as lines:
        next(lines)
        return [cell for line in lines for cell in line.split(b",", 2)[:2]]


def floor_of_file(floor, path, repeat):
    """CPU seconds of the floor's warning lines for the cells of input g's two text columns,
    to os.devnull as the load's figure has them; best of `repeat`."""
    cells, before, after = floor_arguments(WARNING, first_two_cells(path))
    runs = []
    for _ in range(repeat):
        with quiet():
            runs.append(timed(floor.write_lines, cells, before, after)[2])
    return min(runs), len(cells)


def loads_in_turn(path, repeat, earlier):
    """read_csv of `path` in fresh processes, today's module and, if given, the build in the
    folder `earlier`, taking turns: {label: best CPU seconds}."""
    loaders = {"today": "orvantis_core"}
    if earlier:
        os.environ[HISTORICAL_MODULE_ENV] = str(earlier)
        loaders["earlier build"] = "orvantis_core-before"
    runs = {label: [] for label in loaders}
    for _ in range(repeat):
        for label, loader in loaders.items():
            runs[label].append(fresh.measure_load(loader, path, 1)["cpu"])
    return {label: min(values) for label, values in runs.items()}


def text_load(args):
    """Input g's read_csv against the sum of its parts, as Markdown lines."""
    shape = next(shape for shape in SHAPES if shape.key == "g")
    path = ensure_csv(shape, args.data_dir)
    program, _ = parse_only.build(args.build_dir)
    floor_cpu, lines = floor_of_file(build_floor(args.build_dir), path, args.repeat)
    loads = loads_in_turn(path, args.repeat, args.earlier)
    parts = {
        f"parse-only (csv_parse_bench, best of {args.parse_repeat})": parse_only.measure(
            program, path, args.parse_repeat
        )["cpu_seconds"],
        "frame dict: ndarray.tolist() of the same values": fresh.measure_load("numpy-tolist", path, args.repeat)["cpu"],
        f"the floor's {lines:,} warning lines": floor_cpu,
    }
    rows = [(name, report.ms(cpu), "") for name, cpu in parts.items()]
    rows.append(("sum of the parts", report.ms(sum(parts.values())), "1.00"))
    rows += [
        (f"read_csv, {label}", report.ms(cpu), report.ratio(cpu, sum(parts.values()))) for label, cpu in loads.items()
    ]
    return report.table(["input g: 1M x 8, two text columns", "CPU (ms)", "/ sum of the parts"], rows)


# Run on its own (python3 bench/messages.py [--earlier DIR]), this prints the table above and
# splits input g's read_csv (bench/shapes.py: two text columns, 2M warning lines, console to
# os.devnull) into parts measured apart. --earlier names a folder with another build of the
# module (pip install --target DIR), whose read_csv of input g is timed in turn with today's.
def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lines", type=int, default=200_000, help="N, lines per figure")
    parser.add_argument("--repeat", type=int, default=3, help="R, rounds (fresh processes for loads)")
    parser.add_argument("--parse-repeat", type=int, default=7, help="fresh processes per parse-only figure")
    parser.add_argument("--earlier", type=Path, help="folder with another build of the module")
    parser.add_argument("--data-dir", type=Path, default=ROOT / "bench" / "data")
    parser.add_argument("--build-dir", type=Path, default=ROOT / "build" / "bench")
    args = parser.parse_args()
    print("\n".join(report.messages_table(measure(args.lines, args.repeat, args.build_dir))))
    print()
    print("\n".join(text_load(args)))


if __name__ == "__main__":
    main()
