"""Benchmark report: orvantis_core against polars, pyarrow, pandas and numpy.

Install the module and its peers (the project's `bench` extra), then run from the
repository root:

    python3 -m pip install ".[bench]"
    python3 bench/bench_peers.py           # full run; also writes bench/benchmark_chart.png
    python3 bench/bench_peers.py --quick   # small inputs: a smoke run, chart in the data dir

The Markdown tables go to stdout (pasted into bench/README.md under "Latest run"),
progress to stderr. Inputs are generated with a fixed seed under bench/data/ (git-ignored,
or --data-dir) and reused by later runs, except the scaling files, which are written
afresh for each run and deleted after use. The parse-only figures need g++ and
bench/csv_parse_bench.cpp; without that source the run says so and leaves them out.
"""

import argparse
import os
import shutil
import sys
from pathlib import Path

import fresh
import historical_module
import messages
import operations
import parse_only
import report
from load_child import CONSOLE_LOADERS, HISTORICAL_MODULE_ENV, LOADERS
from shapes import SHAPES, ensure_csv, rows_for_size, write_csv

BENCH_DIR = Path(__file__).resolve().parent
QUICK_DIVISOR = 100
OPERATIONS_SHAPE = "b"
MESSAGE_LINES = 200_000


def progress(message):
    print(message, file=sys.stderr, flush=True)


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help=f"inputs {QUICK_DIVISOR} times smaller, 2 repetitions")
    parser.add_argument("--repeat", type=int, help="fresh processes (or repetitions) per figure; default 3")
    parser.add_argument("--parse-repeat", type=int, help="fresh processes per parse-only figure; default 7")
    parser.add_argument("--shapes", nargs="+", choices=[shape.key for shape in SHAPES], help="default: all")
    parser.add_argument("--scaling-mb", type=int, nargs="*", help="sizes of the scaling files; default 10 100 1000")
    parser.add_argument("--data-dir", type=Path, default=BENCH_DIR / "data")
    parser.add_argument("--build-dir", type=Path, default=BENCH_DIR.parent / "build" / "bench")
    parser.add_argument("--chart", type=Path, help="default: bench/benchmark_chart.png (quick: in the data dir)")
    args = parser.parse_args()
    args.repeat = args.repeat or (2 if args.quick else 3)
    args.message_lines = MESSAGE_LINES // QUICK_DIVISOR if args.quick else MESSAGE_LINES
    args.parse_repeat = args.parse_repeat or (2 if args.quick else 7)
    if args.scaling_mb is None:
        args.scaling_mb = [1, 2, 5] if args.quick else [10, 100, 1000]
    if args.chart is None:
        args.chart = args.data_dir / "benchmark_chart_quick.png" if args.quick else BENCH_DIR / "benchmark_chart.png"
    return args


def sized(shape, quick):
    return shape.resized(shape.rows // QUICK_DIVISOR) if quick else shape


def selected_shapes(args):
    return [sized(shape, args.quick) for shape in SHAPES if not args.shapes or shape.key in args.shapes]


def generate(shapes, data_dir):
    paths = {}
    for shape in shapes:
        progress(f"input {shape.key}: {shape.rows:,} x {shape.columns:,}")
        paths[shape.key] = ensure_csv(shape, data_dir)
    return paths


def check_dimensions(shape, name, result):
    found = (result["rows"], result["columns"])
    if found != (shape.rows, shape.columns):
        raise RuntimeError(f"{name} read {found} from shape {shape.key}, expected {(shape.rows, shape.columns)}")


def warm_up(shapes, paths):
    """One untimed load per loader: on this virtual machine the first loads of a run were seen
    to be slower than later ones, which would count against the first shape."""
    progress("warm-up")
    for loader in loaders_for(shapes[0]):
        fresh.measure_load(loader, paths[shapes[0].key], 1)


def loaders_for(shape):
    """Every loader; those that only send the console lines elsewhere where there are many."""
    return [loader for loader in LOADERS if shape.warnings_per_row or loader not in CONSOLE_LOADERS]


def measure_loads(shapes, paths, repeat):
    loads = {}
    for shape in shapes:
        loads[shape.key] = {}
        for loader in loaders_for(shape):
            progress(f"load {shape.key}: {loader}")
            result = fresh.measure_load(loader, paths[shape.key], repeat)
            check_dimensions(shape, loader, result)
            loads[shape.key][loader] = result
    return loads


def measure_parses(programs, shapes, paths, repeat):
    """Parse-only figures of each program per shape: {program: {shape key: figure or None}}."""
    figures = {program: {} for program in programs}
    for shape in shapes:
        progress(f"parse-only {shape.key}")
        for program, figure in zip(
            programs, parse_only.measure_in_turn(programs, paths[shape.key], repeat), strict=True
        ):
            if figure:
                check_dimensions(shape, program.name, figure)
            figures[program][shape.key] = figure
    return figures


def scaling_step(program, megabytes, args):
    shape = SHAPES[0].resized(rows_for_size(SHAPES[0], megabytes))
    args.data_dir.mkdir(parents=True, exist_ok=True)
    if shutil.disk_usage(args.data_dir).free < 3 * megabytes * report.MB:
        progress(f"scaling {megabytes} MB: skipped, too little free disk space")
        return None
    progress(f"scaling {megabytes} MB: {shape.rows:,} rows")
    # Every size starts from a file just written, as reading costs what the page cache makes
    # it: a file written just now read at 0.04 ms/MB here, the same file cached since an
    # earlier run at 0.10 ms/MB, which alone put 10 MB about 7% behind 1 GB.
    path = args.data_dir / shape.file_name()
    write_csv(shape, path)
    try:
        return {
            "target_mb": megabytes,
            "bytes": path.stat().st_size,
            "rows": shape.rows,
            "parse": parse_only.measure(program, path, args.parse_repeat),
            "load": fresh.measure_load(report.OURS, path, args.repeat),
        }
    finally:
        path.unlink()


def notes(repeat, parse_repeat, message_lines):
    """Each table's settings; bench/README.md, "Method", says how each is measured."""
    return {
        "loading": f"Fresh processes, best of {repeat}; peer/ours above 1 means orvantis_core is faster.",
        "parse": f"Fresh processes, best of {parse_repeat}; before: revision {parse_only.HISTORICAL_REVISION}.",
        "frame_dict": "get_column and tolist in one process, in turn, best of 2 each.",
        "scaling": "Files generated like a.",
        "memory": (
            f"Lowest of {repeat}; the estimate is {report.FRAME_CELL} + {report.FRAME_DICT_CELL} bytes per cell"
            f" ({sys.getsizeof(1.0)}-byte floats in {report.FLOAT_BLOCK}-byte blocks)."
        ),
        "messages": f"N = {message_lines:,}, R = {repeat}; the earlier revision is {historical_module.REVISION}.",
    }


def print_section(title, lines, note=""):
    print(f"\n### {title}\n")
    print("\n".join(lines))
    if note:
        print(f"\n{note}")


def print_report(args, shapes, paths, loads, parse_figures, scaling, sections, message_figures):
    parses, baselines = parse_figures
    sizes = {key: path.stat().st_size for key, path in paths.items()}
    note = notes(args.repeat, args.parse_repeat, args.message_lines)
    print(report.machine_line())
    print_section("Inputs", report.shapes_table(shapes, sizes))
    print_section("Loading a CSV file", report.load_table(shapes, loads), note["loading"])
    print_section("Parse-only speed", report.parse_table(shapes, sizes, loads, parses, baselines), note["parse"])
    print_section("The frame dict's cost", report.frame_dict_table(shapes, loads, parses), note["frame_dict"])
    steps = [step for step in scaling if step]
    print_section("Scaling with file size", report.scaling_table(steps), note["scaling"])
    print_section("Peak memory of one load", report.memory_table(shapes, loads), note["memory"])
    ops_note = f"On input {OPERATIONS_SHAPE}, best of {args.repeat}.\n\n" + "\n".join(operations.NOTES)
    print_section("Other operations", report.operations_table(sections), ops_note)
    print_section("Console lines", report.messages_table(message_figures), note["messages"])


def main():
    args = parse_args()
    shapes = selected_shapes(args)
    operations_shape = sized(next(shape for shape in SHAPES if shape.key == OPERATIONS_SHAPE), args.quick)
    paths = generate(shapes, args.data_dir)
    os.environ[HISTORICAL_MODULE_ENV] = str(historical_module.build(args.build_dir))
    program, historical = parse_only.build(args.build_dir)
    warm_up(shapes, paths)
    loads = measure_loads(shapes, paths, args.repeat)
    figures = measure_parses([program, historical], shapes, paths, args.parse_repeat)
    parses, baselines = figures[program], figures[historical]
    scaling = [scaling_step(program, megabytes, args) for megabytes in args.scaling_mb]
    progress("other operations")
    sections = operations.run_all(ensure_csv(operations_shape, args.data_dir), args.repeat)
    progress("console lines")
    message_figures = messages.measure(args.message_lines, args.repeat, args.build_dir)
    print_report(args, shapes, paths, loads, (parses, baselines), scaling, sections, message_figures)
    report.chart(shapes, loads, sections, args.chart)
    progress(f"chart: {args.chart}")


if __name__ == "__main__":
    main()
