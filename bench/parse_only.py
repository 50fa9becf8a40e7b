"""The parse-only figure: a C++ program without Python that loads a CSV file into columns.

The same figure for the loader before its rewrite comes from bench/baseline_parse_bench.cpp,
built against that revision's CSV reader, taken from git.

Contract of its source (bench/csv_parse_bench.cpp by default): it builds with the
command below, `csv_parse_bench PATH` loads the file once and prints one JSON line
{"bytes": N, "rows": R, "columns": C, "seconds": S, "cpu_seconds": S2, "mb_per_s": X}.
"""

import subprocess
import sys
from pathlib import Path

from fresh import best_of, best_of_fresh, run_json

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_SOURCE = ROOT / "bench" / "csv_parse_bench.cpp"
CORE_SOURCES = [ROOT / "src" / "csv_text.cpp", ROOT / "src" / "cell_parse.cpp"]
BASELINE_SOURCE = ROOT / "bench" / "baseline_parse_bench.cpp"
BASELINE_REVISION = "1b460ab"
FLAGS = ["-O3", "-DNDEBUG", "-std=c++17", "-ffp-contract=off", f"-I{ROOT / 'src'}"]


def build(source, extra_sources, build_dir):
    """Compiles the parse-only program; None (and a note on stderr) when its source is absent."""
    source = Path(source)
    if not source.exists():
        print(f"{source} does not exist: no parse-only figures.", file=sys.stderr)
        return None
    program = Path(build_dir) / "csv_parse_bench"
    program.parent.mkdir(parents=True, exist_ok=True)
    command = ["g++", *FLAGS, source, *CORE_SOURCES, *extra_sources, "-o", program]
    subprocess.run([str(part) for part in command], check=True)
    return program


def build_baseline(build_dir):
    """Compiles the parse-only program of the loader at BASELINE_REVISION; None (and a note) without git."""
    folder = Path(build_dir) / "baseline"
    folder.mkdir(parents=True, exist_ok=True)
    for name in ("csv_text.hpp", "csv_text.cpp"):
        shown = subprocess.run(
            ["git", "-C", str(ROOT), "show", f"{BASELINE_REVISION}:src/{name}"], capture_output=True, check=False
        )
        if shown.returncode != 0:
            print(f"No {BASELINE_REVISION}:src/{name} in git: no figures for the earlier loader.", file=sys.stderr)
            return None
        (folder / name).write_bytes(shown.stdout)
    program = folder / "baseline_parse_bench"
    command = ["g++", *FLAGS[:4], f"-I{folder}", BASELINE_SOURCE, folder / "csv_text.cpp", "-o", program]
    subprocess.run([str(part) for part in command], check=True)
    return program


LOWEST = ("seconds", "cpu_seconds")
HIGHEST = ("mb_per_s",)


def measure(program, path, repeat):
    if program is None:
        return None
    return best_of_fresh([program, path], repeat, lowest=LOWEST, highest=HIGHEST)


def measure_in_turn(programs, path, repeat):
    """The figure of each program (None for None), best of `repeat` fresh runs, the programs
    taking turns: a drift of the machine during the runs weighs on all of them alike."""
    commands = [[program, path] for program in programs if program is not None]
    runs = [[] for _ in commands]
    for _ in range(repeat):
        for command, results in zip(commands, runs, strict=True):
            results.append(run_json(command))
    bests = iter(best_of(results, command, LOWEST, HIGHEST) for command, results in zip(commands, runs, strict=True))
    return [next(bests) if program is not None else None for program in programs]
