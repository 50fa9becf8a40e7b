"""The parse-only figure: a C++ program without Python that loads a CSV file into columns.

Both programs are CMake targets of the repository, built with the module's flags:
csv_parse_bench (bench/csv_parse_bench.cpp over today's CSV core) and
historical_parse_bench, the historical baseline: bench/historical_parse_bench.cpp over
the loader of HISTORICAL_REVISION, before its rewrite, whose sources are taken from git.

Contract of the programs: `PROGRAM PATH` loads the file once and prints one JSON line
{"bytes": N, "rows": R, "columns": C, "seconds": S, "cpu_seconds": S2, "mb_per_s": X}.
"""

import subprocess
import sys
from pathlib import Path

from fresh import best_measures, best_of_fresh, run_json

ROOT = Path(__file__).resolve().parent.parent
HISTORICAL_REVISION = "1b460ab"
TARGETS = ["csv_parse_bench", "historical_parse_bench"]


def historical_sources(folder):
    """Writes the CSV reader of HISTORICAL_REVISION into `folder`; False (and a note) without git."""
    folder.mkdir(parents=True, exist_ok=True)
    for name in ("csv_text.hpp", "csv_text.cpp"):
        shown = subprocess.run(
            ["git", "-C", str(ROOT), "show", f"{HISTORICAL_REVISION}:src/{name}"], capture_output=True, check=False
        )
        if shown.returncode != 0:
            print(f"No {HISTORICAL_REVISION}:src/{name} in git: no figures for the earlier loader.", file=sys.stderr)
            return False
        (folder / name).write_bytes(shown.stdout)
    return True


def build(build_dir):
    """Builds both programs with CMake; returns their paths, None for the historical one without git."""
    folder, loader = Path(build_dir) / "programs", Path(build_dir) / "historical-loader"
    historical = historical_sources(loader)
    configure = ["cmake", "-S", ROOT, "-B", folder, "-DCMAKE_BUILD_TYPE=Release", "-DORVANTIS_MODULE=OFF"]
    configure += ["-DORVANTIS_BUILD_BENCH=ON", f"-DORVANTIS_HISTORICAL_LOADER_DIR={loader if historical else ''}"]
    targets = TARGETS if historical else TARGETS[:1]
    subprocess.run([str(part) for part in configure], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", folder, "-j", "2", "--target", *targets], check=True, stdout=subprocess.DEVNULL)
    return folder / TARGETS[0], folder / TARGETS[1] if historical else None


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
    bests = iter(
        best_measures(results, command, LOWEST, HIGHEST) for command, results in zip(commands, runs, strict=True)
    )
    return [next(bests) if program is not None else None for program in programs]
