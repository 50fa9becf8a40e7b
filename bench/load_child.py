"""Load one CSV file once, in a process of its own, and print what the load cost.

    python bench/load_child.py LOADER PATH

Prints one JSON line: wall and CPU seconds of the load alone (time.perf_counter and
time.process_time around it; process time counts every thread of the process), the peak
resident size during the load minus the resident size before it (VmHWM, restarted just
before the load) and the rows and columns loaded. Imports and preparation happen before
the timed region. For orvantis_core it also times building the frame dict once more, with
get_column on every column of the loaded frame after the read_csv result is gone, and, in
turn with it, ndarray.tolist() on the same values: both in the same state of the process.
"""

import gc
import io
import json
import os
import sys
import tempfile

from historical_module import REVISION as HISTORICAL_MODULE_REVISION
from timing import quiet, timed

# The folder that holds the module built from the earlier revision (bench/historical_module.py).
HISTORICAL_MODULE_ENV = "ORVANTIS_BENCH_HISTORICAL_MODULE"
# Loaders that differ from orvantis_core only in where the console lines go: measured on
# inputs that print a line per cell.
CONSOLE_LOADERS = {"orvantis_core-stringio", "orvantis_core-file"}


def header_names(path):
    with open(path, newline="") as lines:
        return list(dict.fromkeys(lines.readline().rstrip("\r\n").split(",")))


class Ours:
    label = "orvantis_core read_csv, frame dict included"

    def __init__(self, path):
        import orvantis_core

        self.path = str(path)
        self.names = header_names(path)
        self.frame = orvantis_core.KestraneDataFrame()

    def console(self):
        """The stream that receives the load's console lines; None for os.devnull."""
        return None

    def load(self):
        with quiet(self.console()):
            return self.frame.read_csv(self.path)

    def dimensions(self, result):
        return self.frame.shape()

    def after_load(self):
        import numpy

        def get_columns():
            with quiet():
                return [self.frame.get_column(name) for name in self.names]

        arrays = [numpy.array(values) for values in get_columns()]
        frame_dict_runs, tolist_runs = [], []
        for _ in range(2):
            frame_dict_runs.append(timed(get_columns)[1:])
            tolist_runs.append(timed(lambda: [values.tolist() for values in arrays])[1:])
        (wall, cpu), (_, tolist_cpu) = min(frame_dict_runs), min(tolist_runs)
        return {"frame_dict_wall": wall, "frame_dict_cpu": cpu, "tolist_cpu": tolist_cpu}


class OursToStringIO(Ours):
    label = "orvantis_core read_csv, console lines to io.StringIO"

    def console(self):
        return io.StringIO()

    after_load = None


class OursToFile(Ours):
    label = "orvantis_core read_csv, console lines to a file"

    def console(self):
        return tempfile.TemporaryFile("w+", encoding="utf-8")

    after_load = None


class OursHistorical(Ours):
    """The module as built from the revision that HISTORICAL_MODULE_ENV points to."""

    label = f"orvantis_core read_csv, historical baseline {HISTORICAL_MODULE_REVISION} (console to os.devnull)"

    def __init__(self, path):
        sys.path.insert(0, os.environ[HISTORICAL_MODULE_ENV])
        super().__init__(path)

    after_load = None


class Polars:
    label = "polars.read_csv, default threads"
    threads = None

    def __init__(self, path):
        if self.threads:
            os.environ["POLARS_MAX_THREADS"] = str(self.threads)
        else:
            os.environ.pop("POLARS_MAX_THREADS", None)
        import polars

        assert self.threads in (None, polars.thread_pool_size())
        self.path, self.read_csv = path, polars.read_csv

    def load(self):
        return self.read_csv(self.path)

    def dimensions(self, result):
        return result.shape


class PolarsOneThread(Polars):
    label = "polars.read_csv, POLARS_MAX_THREADS=1"
    threads = 1


class Pyarrow:
    label = "pyarrow.csv.read_csv, default threads"
    use_threads = True

    def __init__(self, path):
        import pyarrow.csv

        self.path, self.read_csv = path, pyarrow.csv.read_csv
        self.options = pyarrow.csv.ReadOptions(use_threads=self.use_threads)

    def load(self):
        return self.read_csv(self.path, read_options=self.options)

    def dimensions(self, result):
        return result.num_rows, result.num_columns


class PyarrowOneThread(Pyarrow):
    label = "pyarrow.csv.read_csv, use_threads=False"
    use_threads = False


class Pandas:
    label = "pandas.read_csv (C parser)"

    def __init__(self, path):
        import pandas

        self.path, self.read_csv = path, pandas.read_csv

    def load(self):
        return self.read_csv(self.path)

    def dimensions(self, result):
        return result.shape


class NumpyToList:
    label = "numpy ndarray.tolist() per column: the frame dict's floor"

    def __init__(self, path):
        import numpy
        import pyarrow
        import pyarrow.csv

        table = pyarrow.csv.read_csv(path)
        self.columns = {}
        for name in header_names(path):
            column = table[name]
            numeric = pyarrow.types.is_floating(column.type) or pyarrow.types.is_integer(column.type)
            # A text column holds NaN in the frame dict.
            self.columns[name] = (
                column.to_numpy().astype(float, copy=False) if numeric else numpy.full(len(column), numpy.nan)
            )

    def load(self):
        return {name: values.tolist() for name, values in self.columns.items()}

    def dimensions(self, result):
        return len(next(iter(result.values()))), len(result)


LOADERS = {
    "orvantis_core": Ours,
    "orvantis_core-stringio": OursToStringIO,
    "orvantis_core-file": OursToFile,
    "orvantis_core-before": OursHistorical,
    "polars-1t": PolarsOneThread,
    "polars": Polars,
    "pyarrow-1t": PyarrowOneThread,
    "pyarrow": Pyarrow,
    "pandas": Pandas,
    "numpy-tolist": NumpyToList,
}


def status_value(field):
    with open("/proc/self/status") as status:
        line = next(line for line in status if line.startswith(field + ":"))
    return int(line.split()[1])


def restart_peak():
    with open("/proc/self/clear_refs", "w") as clear_refs:
        clear_refs.write("5")  # restarts the peak (VmHWM) from the current resident size


def measure(loader):
    gc.collect()
    restart_peak()
    baseline_kb = status_value("VmRSS")
    result, wall, cpu = timed(loader.load)
    peak_kb = status_value("VmHWM")
    rows, columns = loader.dimensions(result)
    report = {
        "wall": wall,
        "cpu": cpu,
        "peak_bytes": (peak_kb - baseline_kb) * 1024,
        "rows": rows,
        "columns": columns,
    }
    del result
    if getattr(loader, "after_load", None):
        report.update(loader.after_load())
    return report


def main():
    name, path = sys.argv[1:]
    print(json.dumps(measure(LOADERS[name](path))))


if __name__ == "__main__":
    main()
