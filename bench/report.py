"""Markdown tables and the ratio chart of one benchmark run."""

import datetime
import os
import platform
import subprocess
import sys
from importlib import metadata

from load_child import CONSOLE_LOADERS, LOADERS

MB = 1e6
FRAME_CELL = 8
# CPython's small-object allocator hands out blocks in multiples of 16 bytes.
FLOAT_BLOCK = -(-sys.getsizeof(1.0) // 16) * 16
FRAME_DICT_CELL = FLOAT_BLOCK + 8  # a float object in its block plus its list slot
OURS = "orvantis_core"
ONE_THREAD = {"orvantis_core", "polars-1t", "pyarrow-1t", "numpy-tolist", "orvantis_core-before", *CONSOLE_LOADERS}
NO_THREAD_SETTING = {"pandas"}
CHART_PEERS = ["polars-1t", "pyarrow-1t", "pandas", "polars", "pyarrow"]
LIBRARIES = ["numpy", "pandas", "polars", "pyarrow", "matplotlib"]


def ms(seconds):
    return f"{seconds * 1e3:,.1f}"


def megabytes(size):
    return f"{size / MB:,.1f}"


def ratio(peer, ours):
    return f"{peer / ours:.2f}"


def count(number):
    for unit, scale in (("M", 1e6), ("k", 1e3)):
        if number >= scale and number % scale == 0:
            return f"{number / scale:g}{unit}"
    return f"{number:,}"


def is_number(cell):
    return cell in ("", "ours", "n/a") or cell.replace(",", "").replace(".", "").split(" ")[0].isdigit()


def table(header, rows):
    """A Markdown table; columns of numbers are right-aligned."""
    rows = [[str(cell) for cell in row] for row in rows]
    numeric = [all(is_number(row[index]) for row in rows) for index in range(len(header))]
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---:" if right else "---" for right in numeric) + "|"]
    return lines + ["| " + " | ".join(row) + " |" for row in rows]


def shape_label(shape):
    return f"{shape.key}: {count(shape.rows)} x {count(shape.columns)}"


def cells(shape):
    return shape.rows * shape.columns


def shapes_table(shapes, sizes):
    rows = [
        (shape_label(shape), f"{cells(shape):,}", megabytes(sizes[shape.key]), shape.description) for shape in shapes
    ]
    return table(["shape", "cells", "MB", "content"], rows)


def load_rows(shape, results):
    ours = results[OURS]
    for loader, result in results.items():
        threads = "1" if loader in ONE_THREAD else "default" if loader in NO_THREAD_SETTING else "all"
        if loader == OURS:
            ratios = ("ours", "ours")
        else:
            ratios = (ratio(result["wall"], ours["wall"]), ratio(result["cpu"], ours["cpu"]))
        label = shape_label(shape) if loader == OURS else ""
        parallelism = f"{result['cpu'] / result['wall']:.2f}"
        yield (label, LOADERS[loader].label, threads, ms(result["wall"]), ms(result["cpu"]), parallelism, *ratios)


def load_table(shapes, loads):
    header = ["shape", "loader", "threads", "wall (ms)", "CPU (ms)", "CPU / wall", "peer/ours wall", "peer/ours CPU"]
    return table(header, [row for shape in shapes for row in load_rows(shape, loads[shape.key])])


def parse_table(shapes, sizes, loads, parses, baselines):
    rows = []
    for shape in shapes:
        parse, before, ours = parses[shape.key], baselines[shape.key], loads[shape.key][OURS]
        size = sizes[shape.key]
        rows.append(
            (
                shape_label(shape),
                megabytes(size),
                ms(parse["seconds"]),
                ms(parse["cpu_seconds"]),
                f"{parse['mb_per_s']:,.0f}",
                ms(before["cpu_seconds"]) if before else "n/a",
                ratio(before["cpu_seconds"], parse["cpu_seconds"]) if before else "n/a",
                ms(ours["wall"]),
                f"{size / MB / ours['wall']:,.0f}",
            )
        )
    header = [
        "shape",
        "MB",
        "parse-only wall (ms)",
        "parse-only CPU (ms)",
        "parse-only MB/s",
        "before: CPU (ms)",
        "speed-up",
        "read_csv wall (ms)",
        "read_csv MB/s",
    ]
    return table(header, rows)


def frame_dict_table(shapes, loads, parses):
    rows = []
    for shape in shapes:
        ours, floor = loads[shape.key][OURS], loads[shape.key]["numpy-tolist"]
        parse = parses[shape.key]
        difference = ms(ours["cpu"] - parse["cpu_seconds"]) if parse else "n/a"
        rows.append(
            (
                shape_label(shape),
                f"{cells(shape):,}",
                difference,
                ms(floor["cpu"]),
                ms(ours["frame_dict_cpu"]),
                ms(ours["tolist_cpu"]),
                ratio(ours["tolist_cpu"], ours["frame_dict_cpu"]),
            )
        )
    header = [
        "shape",
        "cells",
        "read_csv - parse-only (ms)",
        "tolist, fresh process (ms)",
        "get_column, every column (ms)",
        "tolist, same process (ms)",
        "tolist / get_column",
    ]
    return table(header, rows)


def scaling_table(scaling):
    rows = []
    for step in scaling:
        parse, load = step["parse"], step["load"]
        rows.append(
            (
                f"{step['target_mb']:,} MB",
                megabytes(step["bytes"]),
                f"{step['rows']:,}",
                ms(parse["seconds"]) if parse else "n/a",
                f"{parse['mb_per_s']:,.0f}" if parse else "n/a",
                ms(load["wall"]),
                ms(load["cpu"]),
                f"{step['bytes'] / MB / load['wall']:,.0f}",
                megabytes(load["peak_bytes"]),
            )
        )
    header = [
        "file",
        "MB",
        "rows",
        "parse-only wall (ms)",
        "parse-only MB/s",
        "read_csv wall (ms)",
        "read_csv CPU (ms)",
        "read_csv MB/s",
        "read_csv peak (MB)",
    ]
    return table(header, rows)


def frame_estimate(shape):
    return cells(shape) * (FRAME_CELL + FRAME_DICT_CELL)


def memory_table(shapes, loads):
    peers = [loader for loader in LOADERS if loader != OURS and loader not in CONSOLE_LOADERS]
    rows = []
    for shape in shapes:
        results = loads[shape.key]
        ours, estimate = results[OURS]["peak_bytes"], frame_estimate(shape)
        peer_sizes = [megabytes(results[loader]["peak_bytes"]) if loader in results else "n/a" for loader in peers]
        rows.append((shape_label(shape), megabytes(ours), megabytes(estimate), f"{ours / estimate:.2f}", *peer_sizes))
    return table(["shape", "ours (MB)", "frame + frame dict (MB)", "ours / estimate", *peers], rows)


def operation_rows(section):
    ours = section.ours
    for index, entry in enumerate(section.entries):
        if entry.kind == "peer":
            ratios = (ratio(entry.timing.wall, ours.wall), ratio(entry.timing.cpu, ours.cpu))
        else:
            ratios = (entry.kind if entry.kind == "ours" else "",) * 2
        operation = section.operation if index == 0 else ""
        yield (operation, entry.label, ms(entry.timing.wall), ms(entry.timing.cpu), *ratios)


def operations_table(sections):
    header = ["operation", "implementation", "wall (ms)", "CPU (ms)", "peer/ours wall", "peer/ours CPU"]
    return table(header, [row for section in sections for row in operation_rows(section)])


def messages_table(figures):
    header = ["stream", "line", "ours (ns per line)", "floor (ns per line)", "ours / floor"]
    header += ["whole read_csv / floor", "print() (ns per line)", "ours / print()"]
    rows = []
    for stream, lines in figures.items():
        for line, times in lines.items():
            ours, floor, printed = times["ours"], times["floor"], times["print"]
            whole = ratio(times["whole read_csv"], floor) if "whole read_csv" in times else ""
            rows.append(
                (stream, line, f"{ours * 1e9:,.0f}", f"{floor * 1e9:,.0f}", ratio(ours, floor), whole)
                + (f"{printed * 1e9:,.0f}", ratio(ours, printed))
            )
    return table(header, rows)


def cpu_model():
    with open("/proc/cpuinfo") as info:
        names = [line.split(":", 1)[1].strip() for line in info if line.startswith("model name")]
    return names[0] if names else platform.processor()


def commit():
    here = os.path.dirname(os.path.abspath(__file__))
    found = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True, cwd=here)
    return found.stdout.strip() or "unknown"


def machine_line():
    versions = ", ".join(f"{name} {metadata.version(name)}" for name in LIBRARIES)
    return (
        f"Python {platform.python_version()} on {platform.system()} {platform.machine()}, "
        f"{os.cpu_count()} CPUs ({cpu_model()}); {versions}; commit {commit()}; "
        f"{datetime.datetime.now().astimezone():%Y-%m-%d %H:%M %Z}"
    )


def chart(shapes, loads, sections, path):
    """Peer/ours CPU-time ratios on a log scale: loaders per shape, then the other operations."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, (loading, others) = plt.subplots(1, 2, figsize=(15, 8), gridspec_kw={"width_ratios": [3, 2]})
    loader_bars(loading, shapes, loads)
    operation_bars(others, sections)
    for axes in (loading, others):
        ratio_axis(axes)
    figure.suptitle(
        "CPU time of the peer / CPU time of orvantis_core: bars to the right of 1, orvantis_core is faster"
        "\n(best of several runs; log scale)"
    )
    figure.tight_layout()
    figure.savefig(path, dpi=100)
    plt.close(figure)


def ratio_axis(axes):
    from matplotlib.ticker import FixedLocator, NullLocator

    axes.set_xscale("log")
    low, high = axes.get_xlim()
    low, high = min(low, 0.5) / 1.3, max(high, 2.0) * 1.5
    axes.set_xlim(low, high)
    ticks = [tick for tick in (0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100, 200) if low <= tick <= high]
    axes.xaxis.set_major_locator(FixedLocator(ticks))
    axes.xaxis.set_minor_locator(NullLocator())
    axes.set_xticklabels([f"{tick:g}" for tick in ticks])
    axes.axvline(1.0, color="black", linewidth=1)
    axes.grid(axis="x", alpha=0.3)


def ratio_bars(axes, positions, values, height, **style):
    """Bars that start at 1 and end at the ratio, with the ratio written at their end."""
    bars = axes.barh(positions, [value - 1 for value in values], height, left=1, **style)
    for position, value in zip(positions, values, strict=True):
        alignment = "left" if value >= 1 else "right"
        axes.text(value, position, f" {value:.2f} ", va="center", ha=alignment, fontsize="x-small")
    return bars


def loader_bars(axes, shapes, loads):
    height = 0.8 / len(CHART_PEERS)
    for index, loader in enumerate(CHART_PEERS):
        positions = [shape_index + index * height for shape_index in range(len(shapes))]
        values = [loads[shape.key][loader]["cpu"] / loads[shape.key][OURS]["cpu"] for shape in shapes]
        ratio_bars(axes, positions, values, height, label=LOADERS[loader].label)
    axes.set_yticks([index + 0.4 - height / 2 for index in range(len(shapes))])
    axes.set_yticklabels([shape_label(shape) for shape in shapes])
    axes.invert_yaxis()
    axes.set_title("read_csv (ours with its frame dict), a fresh process per load")
    axes.legend(fontsize="small", loc="upper center", bbox_to_anchor=(0.5, -0.06), ncol=2)


def operation_bars(axes, sections):
    labels, values = [], []
    for section in sections:
        for entry in section.entries:
            if entry.kind == "peer":
                operation = section.operation.split(",")[0].split(" [")[0]
                labels.append(f"{operation}: {entry.label.split(' [')[0]}")
                values.append(entry.timing.cpu / section.ours.cpu)
    ratio_bars(axes, range(len(values)), values, 0.7, color="tab:gray")
    axes.set_yticks(range(len(values)))
    axes.set_yticklabels(labels, fontsize="small")
    axes.invert_yaxis()
    axes.set_title("other operations, in one process")
