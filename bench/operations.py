"""The frame's other operations against pandas, numpy and the standard library, in one process.

Every figure is the best of R repetitions, wall (time.perf_counter) and CPU
(time.process_time) kept separately; results are freed outside the timed region and
our console lines go to os.devnull while timed.

bench_peers.py runs them on input b; on its own, from the repository root, this script
prints their table (every peer/ours ratio), or with --before DIR times our operations
in fresh processes, by turns with the module installed in DIR (pip install --target DIR),
and beside them the closest peer of describe, count_nan and filter_by in the same processes:

    python3 bench/operations.py [--repeat R]
    python3 bench/operations.py --before DIR [--processes N] [--repeat R]
"""

import argparse
import dataclasses
import json
import os
import statistics
import subprocess
import sys
from pathlib import Path

import numpy as np
import pandas as pd
import report
from shapes import SHAPES, ensure_csv
from timing import quiet, timed

import orvantis_core

INPUT_SHAPE = "b"  # bench_peers.py's input of these operations
FILTER_COLUMN, FILTER_VALUE = "c2", 3.0  # integers 0..9: the filter keeps about a tenth
MEAN_COLUMN = "c1"


@dataclasses.dataclass(frozen=True)
class Timing:
    wall: float
    cpu: float


@dataclasses.dataclass(frozen=True)
class Entry:
    label: str
    timing: Timing
    kind: str = "peer"  # "ours", "peer", or "detail" (a second figure of ours, no ratio)


@dataclasses.dataclass(frozen=True)
class Section:
    operation: str
    entries: list

    @property
    def ours(self):
        return next(entry.timing for entry in self.entries if entry.kind == "ours")


def best_of_repeats(repeat, run, prepare=lambda: ()):
    """The lowest wall and the lowest CPU time of `repeat` runs of run(*prepare()); prepare and
    the freeing of the result stay outside the timed region."""
    walls, cpus = [], []
    for _ in range(repeat):
        _, wall, cpu = timed(run, *prepare())
        walls.append(wall)
        cpus.append(cpu)
    return Timing(min(walls), min(cpus))


def section(operation, ours_label, ours, peers, details=()):
    entries = [Entry(ours_label, ours, "ours")]
    entries += [Entry(label, timing, "detail") for label, timing in details]
    entries += [Entry(label, timing) for label, timing in peers]
    return Section(operation, entries)


def load_ours(path):
    frame = orvantis_core.KestraneDataFrame()
    with quiet():
        frame.read_csv(str(path))
    return frame


def numpy_describe(arrays):
    return {
        name: {
            "count": a.size - np.count_nonzero(np.isnan(a)),
            "mean": np.nanmean(a),
            "std": np.nanstd(a, ddof=1),
            "min": np.nanmin(a),
            "max": np.nanmax(a),
        }
        for name, a in arrays.items()
    }


def bench_describe(frame, df, arrays, repeat):
    peers = [
        ("pandas DataFrame.describe() [a]", best_of_repeats(repeat, df.describe)),
        ("numpy nan-reductions per column", best_of_repeats(repeat, numpy_describe, lambda: (arrays,))),
    ]
    return section("describe", "orvantis_core describe", best_of_repeats(repeat, frame.describe), peers)


def bench_count_nan(frame, arrays, repeat):
    ours = best_of_repeats(repeat, lambda: [frame.count_nan(name) for name in arrays])
    peers = [("numpy isnan(a).sum()", best_of_repeats(repeat, lambda: [np.isnan(a).sum() for a in arrays.values()]))]
    return section(f"count_nan, {len(arrays)} columns", "orvantis_core count_nan", ours, peers)


def bench_get_column(frame, df, arrays, repeat):
    with quiet():
        ours = best_of_repeats(repeat, lambda: [frame.get_column(name) for name in arrays])
    peers = [
        ("numpy ndarray.tolist()", best_of_repeats(repeat, lambda: [a.tolist() for a in arrays.values()])),
        ("pandas Series.tolist()", best_of_repeats(repeat, lambda: [df[name].tolist() for name in arrays])),
    ]
    return section(f"get_column, {len(arrays)} columns", "orvantis_core get_column", ours, peers)


def bench_get_mean(arrays, repeat):
    column = arrays[MEAN_COLUMN]
    values = column[~np.isnan(column)].tolist()
    peers = [
        ("sum(x) / len(x)", best_of_repeats(repeat, lambda: sum(values) / len(values))),
        ("statistics.fmean(x)", best_of_repeats(repeat, statistics.fmean, lambda: (values,))),
        ("statistics.mean(x) [b]", best_of_repeats(repeat, statistics.mean, lambda: (values,))),
        ("numpy np.mean(np.asarray(x))", best_of_repeats(repeat, lambda: np.mean(np.asarray(values)))),
    ]
    ours = best_of_repeats(repeat, orvantis_core.get_mean, lambda: (values,))
    return section(f"get_mean, list of {len(values):,} floats", "orvantis_core get_mean", ours, peers)


def numpy_filter(arrays):
    mask = arrays[FILTER_COLUMN] == FILTER_VALUE
    return {name: a[mask] for name, a in arrays.items()}


def bench_filter_by(frame, df, arrays, repeat):
    peers = [
        ("pandas df[df[col] == v]", best_of_repeats(repeat, lambda: df[df[FILTER_COLUMN] == FILTER_VALUE])),
        ("numpy mask over every column", best_of_repeats(repeat, numpy_filter, lambda: (arrays,))),
    ]
    ours = best_of_repeats(repeat, frame.filter_by, lambda: (FILTER_COLUMN, FILTER_VALUE))
    share = np.mean(arrays[FILTER_COLUMN] == FILTER_VALUE)
    return section(f"filter_by, keeps {share:.1%}", "orvantis_core filter_by", ours, peers)


def filled_frame(path):
    frame = load_ours(path)
    with quiet():
        frame.auto_preprocess()
    return (frame,)


def bench_auto_preprocess(path, df, repeat):
    run = orvantis_core.KestraneDataFrame.auto_preprocess
    with quiet():
        ours = best_of_repeats(repeat, run, lambda: (load_ours(path),))
        refill = best_of_repeats(repeat, run, lambda: filled_frame(path))
    peers = [("pandas fillna(mean())", best_of_repeats(repeat, lambda: df.fillna(df.mean())))]
    details = [("ours: second call, nothing left to fill", refill)]
    return section("auto_preprocess [c]", "orvantis_core auto_preprocess", ours, peers, details)


def check_same_data(frame, arrays):
    rows = len(next(iter(arrays.values())))
    assert frame.shape() == (rows, len(arrays))
    for name, a in arrays.items():
        assert frame.count_nan(name) == np.isnan(a).sum()
    kept = frame.filter_by(FILTER_COLUMN, FILTER_VALUE).shape()[0]
    assert kept == np.count_nonzero(arrays[FILTER_COLUMN] == FILTER_VALUE)


def run_all(path, repeat):
    frame, df = load_ours(path), pd.read_csv(path, dtype=float)
    arrays = {name: df[name].to_numpy() for name in df.columns}
    check_same_data(frame, arrays)
    return [
        bench_describe(frame, df, arrays, repeat),
        bench_count_nan(frame, arrays, repeat),
        bench_get_column(frame, df, arrays, repeat),
        bench_get_mean(arrays, repeat),
        bench_filter_by(frame, df, arrays, repeat),
        bench_auto_preprocess(path, df, repeat),
    ]


NOTES = [
    "[a] pandas describe also computes the 25/50/75% quantiles, which need a partial sort.",
    "[b] statistics.mean adds the values exactly, as fractions.",
    "[c] Each repetition fills a freshly loaded frame (the load is not timed). auto_preprocess writes"
    " one console line per filled cell and returns the frame dict (about the get_column time above);"
    " the second call on an already filled frame writes no such line and shows the cost without them.",
]


# The peer timed beside each of our operations in the fresh processes of --before.
PEERS = {
    "describe": "numpy nan-reductions per column",
    "count_nan": "numpy isnan(a).sum()",
    "filter_by": "pandas df[df[col] == v]",
}


def ours_and_peers(path, names, repeat):
    """CPU seconds of our describe, count_nan (every column), filter_by and get_mean on the file at
    `path`, and of the PEERS, best of `repeat` each, in this process, by turns."""
    frame, df = load_ours(path), pd.read_csv(path, dtype=float)
    arrays = {name: df[name].to_numpy() for name in df.columns}
    with quiet():
        column = frame.get_column(MEAN_COLUMN)
    values = [x for x in column if x == x]
    runs = {
        "describe": frame.describe,
        PEERS["describe"]: lambda: numpy_describe(arrays),
        "count_nan": lambda: [frame.count_nan(name) for name in names],
        PEERS["count_nan"]: lambda: [np.isnan(a).sum() for a in arrays.values()],
        "filter_by": lambda: frame.filter_by(FILTER_COLUMN, FILTER_VALUE),
        PEERS["filter_by"]: lambda: df[df[FILTER_COLUMN] == FILTER_VALUE],
        "get_mean": lambda: orvantis_core.get_mean(values),
    }
    return {label: best_of_repeats(repeat, run).cpu for label, run in runs.items()}


def before_and_after(before, path, processes, repeat):
    """Our operations timed in `processes` fresh processes per build, by turns: the module
    installed in `before`, then this environment's. The lowest CPU seconds of each."""
    command = [sys.executable, __file__, "--child", str(path), "--repeat", str(repeat)]
    builds = {"before": {**os.environ, "PYTHONPATH": str(before)}, "after": dict(os.environ)}
    runs = {build: [] for build in builds}
    for _ in range(processes):
        for build, environment in builds.items():
            output = subprocess.run(command, env=environment, capture_output=True, text=True, check=True).stdout
            runs[build].append(json.loads(output))
    return {
        build: {label: min(run[label] for run in figures) for label in figures[0]} for build, figures in runs.items()
    }


def before_and_after_table(best, columns):
    after = best["after"]
    rows = [
        (
            f"{label}, {columns} columns" if label == "count_nan" else label,
            report.ms(before),
            report.ms(after[label]),
            report.ratio(before, after[label]),
        )
        for label, before in best["before"].items()
        if label not in PEERS.values()
    ]
    lines = report.table(["operation", "before: CPU (ms)", "after: CPU (ms)", "before / after"], rows)
    # The peers' figures are the lowest of both builds' processes: they do not depend on the build.
    peers = [
        (
            label,
            peer,
            report.ms(min(best["before"][peer], after[peer])),
            report.ms(after[label]),
            report.ratio(min(best["before"][peer], after[peer]), after[label]),
        )
        for label, peer in PEERS.items()
    ]
    header = ["operation", "peer", "peer: CPU (ms)", "after: CPU (ms)", "peer / after"]
    return [*lines, "", *report.table(header, peers)]


def main():
    parser = argparse.ArgumentParser(description="The other operations' table, or ours before and after a change.")
    parser.add_argument("--repeat", type=int, default=3, help="repetitions per figure in a process; default 3")
    parser.add_argument("--data-dir", type=Path, default=Path(__file__).resolve().parent / "data")
    parser.add_argument("--before", type=Path, help="a folder holding the earlier build of the module")
    parser.add_argument("--processes", type=int, default=5, help="fresh processes per build with --before")
    parser.add_argument("--child", type=Path, help=argparse.SUPPRESS)
    args = parser.parse_args()
    shape = next(shape for shape in SHAPES if shape.key == INPUT_SHAPE)
    if args.child:
        print(json.dumps(ours_and_peers(args.child, shape.names, args.repeat)))
        return
    path = ensure_csv(shape, args.data_dir)
    if args.before:
        best = before_and_after(args.before, path, args.processes, args.repeat)
        lines = before_and_after_table(best, len(shape.names))
        note = (
            f"CPU time, best of {args.repeat} in each of {args.processes} fresh processes per build, by turns;"
            " each peer in the same processes, the lowest of both builds'."
        )
    else:
        lines = report.operations_table(run_all(path, args.repeat))
        note = f"On input {INPUT_SHAPE}, best of {args.repeat}.\n\n" + "\n".join(NOTES)
    print("\n".join(lines) + f"\n\n{note}")


if __name__ == "__main__":
    main()
