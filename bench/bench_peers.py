"""Time orvantis_core against pandas, polars, pyarrow and numpy on one numeric CSV.

Install the peers (the project's ``bench`` extra) and run from the repository root:

    python3 -m pip install pandas numpy pyarrow polars
    python3 bench/bench_peers.py [--rows N] [--repeat R]

The first run writes the input file under bench/data/ (git-ignored) and later runs
reuse it: a header a..h and N rows (default 1,000,000) of 8 columns, column a holding
the small integers 0..9 (so an equality filter keeps about 10% of the rows) and
columns b..h random floats written with repr precision; about 3% of all cells are
empty. The seed is fixed, so every run reads the same bytes.

Every time printed is the best of R repetitions (default 5) measured with
time.perf_counter; results are freed outside the timed region. The column
"peer/ours" is the peer's time divided by ours: above 1 we are faster. Peak memory
of each loader is measured in a fresh subprocess, after its imports, as the peak
resident size during the load (VmHWM, restarted just before it) minus the resident
size before it. MB means 10^6 bytes. Our console lines go to os.devnull while timed.
"""
import argparse
import contextlib
import datetime
import itertools
import math
import os
import platform
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import pandas as pd
import polars as pl
import pyarrow as pa
import pyarrow.csv as pacsv

import orvantis_core

COLUMNS = list("abcdefgh")
SEED = 20240611
MISSING_SHARE = 0.03
CHUNK_ROWS = 100_000
FILTER_COLUMN, FILTER_VALUE = "a", 3.0
MEAN_COLUMN = "b"
GENFROMTXT_ROWS = 100_000
DATA_DIR = Path(__file__).resolve().parent / "data"
MB = 1e6
NULL_STREAM = open(os.devnull, "w")
# CPython's small-object allocator hands out blocks in multiples of 16 bytes.
FLOAT_BLOCK = -(-sys.getsizeof(1.0) // 16) * 16


def quiet():
    return contextlib.redirect_stdout(NULL_STREAM)


def dataset_path(rows):
    return DATA_DIR / f"peers_{rows}x{len(COLUMNS)}_seed{SEED}.csv"


def ensure_dataset(rows):
    path = dataset_path(rows)
    if not path.exists():
        DATA_DIR.mkdir(parents=True, exist_ok=True)
        partial = path.with_suffix(".partial")
        rng = np.random.default_rng(SEED)
        with open(partial, "w") as out:
            out.write(",".join(COLUMNS) + "\n")
            for start in range(0, rows, CHUNK_ROWS):
                out.write(csv_chunk(rng, min(CHUNK_ROWS, rows - start)))
        partial.rename(path)
    return path


def csv_chunk(rng, rows):
    columns = [list(map(str, rng.integers(0, 10, rows).tolist()))]
    for _ in COLUMNS[1:]:
        values = rng.standard_normal(rows) * 10.0 ** rng.integers(-3, 6, rows)
        columns.append(list(map(repr, values.tolist())))
    for cells in columns:
        for row in np.flatnonzero(rng.random(rows) < MISSING_SHARE).tolist():
            cells[row] = ""
    return "".join(",".join(row) + "\n" for row in zip(*columns))


def load_ours(path):
    frame = orvantis_core.KestraneDataFrame()
    with quiet():
        frame.read_csv(str(path))
    return frame


def best_of(repeat, run, prepare=lambda: (), clock=time.perf_counter):
    best = math.inf
    for _ in range(repeat):
        args = prepare()
        start = clock()
        result = run(*args)
        best = min(best, clock() - start)
        del result, args
    return best


def ms(seconds):
    return f"{seconds * 1e3:,.1f}"


def row(operation, label, seconds, ratio="", megabytes=None):
    speed = f"{megabytes / seconds:,.1f}" if megabytes else ""
    return f"| {operation} | {label} | {ms(seconds)} | {speed} | {ratio} |"


def section(operation, ours_label, ours, peers, megabytes=None):
    lines = [row(operation, ours_label, ours, "ours", megabytes)]
    lines += [row("", label, seconds, f"{seconds / ours:.2f}", megabytes) for label, seconds in peers]
    return lines


def genfromtxt_subset(path):
    with open(path) as lines:
        return np.genfromtxt(itertools.islice(lines, GENFROMTXT_ROWS + 1), delimiter=",", skip_header=1)


def bench_read_csv(path, rows, repeat, dict_seconds):
    size = path.stat().st_size / MB
    with quiet():
        ours = best_of(repeat, lambda: orvantis_core.KestraneDataFrame().read_csv(str(path)))
    parse = ours - dict_seconds
    subset = best_of(repeat, genfromtxt_subset, lambda: (path,)) * rows / min(rows, GENFROMTXT_ROWS)
    peers = [
        ("pandas.read_csv", best_of(repeat, pd.read_csv, lambda: (path,))),
        ("polars.read_csv", best_of(repeat, pl.read_csv, lambda: (path,))),
        ("pyarrow.csv.read_csv", best_of(repeat, pacsv.read_csv, lambda: (path,))),
        ("numpy.genfromtxt (subset, scaled) [1]", subset),
    ]
    lines = [
        row("read_csv [2]", "orvantis_core read_csv, with frame dict", ours, "ours", size),
        row("", "ours: frame dict only (get_column x8)", dict_seconds),
        row("", "ours: parse only (total - dict)", parse, "(ours)", size),
    ]
    lines += [row("", label, s, f"{s / ours:.2f} ({s / parse:.2f})", size) for label, s in peers]
    return lines


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
        ("pandas DataFrame.describe() [3]", best_of(repeat, df.describe)),
        ("numpy nan-reductions per column", best_of(repeat, numpy_describe, lambda: (arrays,))),
    ]
    return section("describe", "orvantis_core describe", best_of(repeat, frame.describe), peers)


def bench_count_nan(frame, arrays, repeat):
    ours = best_of(repeat, lambda: [frame.count_nan(name) for name in COLUMNS])
    numpy = best_of(repeat, lambda: [np.isnan(a).sum() for a in arrays.values()])
    peers = [("numpy isnan(a).sum()", numpy)]
    return section("count_nan, 8 columns", "orvantis_core count_nan", ours, peers)


def bench_get_column(frame, df, arrays, repeat):
    with quiet():
        ours = best_of(repeat, lambda: [frame.get_column(name) for name in COLUMNS])
    peers = [
        ("numpy ndarray.tolist()", best_of(repeat, lambda: [a.tolist() for a in arrays.values()])),
        ("pandas Series.tolist()", best_of(repeat, lambda: [df[name].tolist() for name in COLUMNS])),
    ]
    return ours, section("get_column, 8 columns", "orvantis_core get_column", ours, peers)


def bench_get_mean(arrays, repeat):
    column = arrays[MEAN_COLUMN]
    values = column[~np.isnan(column)].tolist()
    peers = [
        ("sum(x) / len(x)", best_of(repeat, lambda: sum(values) / len(values))),
        ("numpy np.mean(np.asarray(x))", best_of(repeat, lambda: np.mean(np.asarray(values)))),
    ]
    ours = best_of(repeat, orvantis_core.get_mean, lambda: (values,))
    return section(f"get_mean, list of {len(values):,}", "orvantis_core get_mean", ours, peers)


def numpy_filter(arrays):
    mask = arrays[FILTER_COLUMN] == FILTER_VALUE
    return {name: a[mask] for name, a in arrays.items()}


def bench_filter_by(frame, df, arrays, repeat):
    peers = [
        ("pandas df[df[col] == v]", best_of(repeat, lambda: df[df[FILTER_COLUMN] == FILTER_VALUE])),
        ("numpy mask over 8 columns", best_of(repeat, numpy_filter, lambda: (arrays,))),
    ]
    ours = best_of(repeat, frame.filter_by, lambda: (FILTER_COLUMN, FILTER_VALUE))
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
        ours = best_of(repeat, run, lambda: (load_ours(path),))
        refill = best_of(repeat, run, lambda: filled_frame(path))
    pandas = best_of(repeat, lambda: df.fillna(df.mean()))
    peers = [("pandas fillna(mean())", pandas)]
    lines = section("auto_preprocess [4]", "orvantis_core auto_preprocess", ours, peers)
    lines.insert(1, row("", "ours: second call, nothing left to fill", refill))
    return lines


def check_same_data(frame, arrays, rows):
    assert frame.shape() == (rows, len(COLUMNS))
    for name, a in arrays.items():
        assert frame.count_nan(name) == np.isnan(a).sum()
    kept = frame.filter_by(FILTER_COLUMN, FILTER_VALUE).shape()[0]
    assert kept == np.count_nonzero(arrays[FILTER_COLUMN] == FILTER_VALUE)


LOADERS = {
    "orvantis_core": load_ours,
    "pandas": pd.read_csv,
    "polars": pl.read_csv,
    "pyarrow": pacsv.read_csv,
}


def memory_status(field):
    with open("/proc/self/status") as status:
        line = next(line for line in status if line.startswith(field + ":"))
    return int(line.split()[1]) * 1024


def report_peak_rss(loader, path):
    with open("/proc/self/clear_refs", "w") as clear_refs:
        clear_refs.write("5")  # restarts the peak (VmHWM) from the current resident size
    baseline = memory_status("VmRSS")
    loaded = LOADERS[loader](path)
    print(memory_status("VmHWM") - baseline)
    del loaded


def peak_rss(loader, rows):
    command = [sys.executable, __file__, "--rows", str(rows), "--peak-rss", loader]
    return int(subprocess.run(command, capture_output=True, text=True, check=True).stdout)


def cpu_lines(path, repeat):
    """CPU time of each loader, summed over all its threads: the work it does per load."""
    cpu = {name: best_of(repeat, load, lambda: (path,), clock=time.process_time) for name, load in LOADERS.items()}
    ours = cpu.pop("orvantis_core")
    lines = ["| loader | CPU time (ms) | peer/ours |", "|---|---:|---:|", f"| orvantis_core | {ms(ours)} | ours |"]
    return lines + [f"| {name} | {ms(seconds)} | {seconds / ours:.2f} |" for name, seconds in cpu.items()]


def memory_lines(rows):
    cells = rows * len(COLUMNS)
    grown = {loader: peak_rss(loader, rows) for loader in LOADERS}
    lines = ["| loader | peak RSS growth (MB) | bytes per cell |", "|---|---:|---:|"]
    lines += [f"| {name} | {size / MB:,.1f} | {size / cells:.1f} |" for name, size in grown.items()]
    native, frame_dict = cells * 8, cells * (FLOAT_BLOCK + 8)
    lines.append(
        f"\nThe raw frame (rows x cols x 8 bytes) is {native / MB:,.1f} MB. orvantis_core holds it in its"
        f" native columns and also returns the frame dict ({frame_dict / MB:,.1f} MB at {FLOAT_BLOCK + 8}"
        f" bytes per cell: a {sys.getsizeof(1.0)}-byte float object in a {FLOAT_BLOCK}-byte allocator block"
        f" plus an 8-byte list slot), {(native + frame_dict) / MB:,.1f} MB together;"
        f" its measured peak is {grown['orvantis_core'] / (native + frame_dict):.2f} times that."
    )
    return lines


def cpu_model():
    with open("/proc/cpuinfo") as info:
        names = [line.split(":", 1)[1].strip() for line in info if line.startswith("model name")]
    return names[0] if names else platform.processor()


def machine_line():
    versions = ", ".join(f"{lib.__name__} {lib.__version__}" for lib in (np, pd, pl, pa))
    return (
        f"Python {platform.python_version()} on {platform.system()} {platform.machine()}, "
        f"{os.cpu_count()} CPUs ({cpu_model()}); {versions}; "
        f"{datetime.datetime.now().astimezone():%Y-%m-%d %H:%M %Z}"
    )


def notes(rows, repeat):
    return [
        f"[1] numpy.genfromtxt parses only the first {min(rows, GENFROMTXT_ROWS):,} rows; its time is"
        " scaled linearly to the full file. numpy.loadtxt is left out: it cannot read empty cells"
        " without a per-cell Python converter.",
        "[2] read_csv returns the whole frame as a dict of Python float lists. Building it is estimated"
        " by get_column on all 8 columns, which turns the same native columns into the same lists;"
        " 'parse only' is the total minus that estimate. In parentheses: the peer against that estimate.",
        "[3] pandas describe also computes the 25/50/75% quantiles, which need a partial sort.",
        "[4] Each repetition fills a freshly loaded frame (the load is not timed). auto_preprocess writes"
        " one console line per filled cell and returns the frame dict (about the get_column time above);"
        " the second call on an already filled frame writes no such line and shows the cost without them.",
        f"pandas, polars and pyarrow parse with several threads on the {os.cpu_count()} CPUs (see the CPU"
        f" times below); orvantis_core and numpy use one. Best of {repeat} repetitions.",
    ]


def run_all(rows, repeat):
    path = ensure_dataset(rows)
    frame, df = load_ours(path), pd.read_csv(path)
    arrays = {name: df[name].to_numpy(dtype=float) for name in COLUMNS}
    check_same_data(frame, arrays, rows)
    dict_seconds, get_column_lines = bench_get_column(frame, df, arrays, repeat)
    print(machine_line())
    size = path.stat().st_size / MB
    print(f"\nInput: {path.name}, {rows:,} rows x {len(COLUMNS)} columns, {size:,.1f} MB\n")
    print("| operation | implementation | best time (ms) | MB/s | peer/ours |")
    print("|---|---|---:|---:|---:|")
    tables = [
        bench_read_csv(path, rows, repeat, dict_seconds),
        bench_describe(frame, df, arrays, repeat),
        bench_count_nan(frame, arrays, repeat),
        get_column_lines,
        bench_get_mean(arrays, repeat),
        bench_filter_by(frame, df, arrays, repeat),
        bench_auto_preprocess(path, df, repeat),
    ]
    print("\n".join(itertools.chain.from_iterable(tables)))
    print("\n" + "\n".join(notes(rows, repeat)))
    print("\nCPU time of one load (all threads), read_csv with the frame dict for ours:\n")
    print("\n".join(cpu_lines(path, repeat)))
    print("\nPeak memory of one load, each in a fresh process:\n")
    print("\n".join(memory_lines(rows)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=1_000_000, help="data rows in the input CSV")
    parser.add_argument("--repeat", type=int, default=5, help="repetitions per timing; the best is kept")
    parser.add_argument("--peak-rss", choices=sorted(LOADERS), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.peak_rss:
        report_peak_rss(args.peak_rss, ensure_dataset(args.rows))
    else:
        run_all(args.rows, args.repeat)


if __name__ == "__main__":
    main()
