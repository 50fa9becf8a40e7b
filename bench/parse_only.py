"""The parse-only figure: a C++ program without Python that loads a CSV file into columns.

Contract of its source (bench/csv_parse_bench.cpp by default): it builds with the
command below, `csv_parse_bench PATH` loads the file once and prints one JSON line
{"bytes": N, "rows": R, "columns": C, "seconds": S, "cpu_seconds": S2, "mb_per_s": X}.
"""

import subprocess
import sys
from pathlib import Path

from fresh import best_of_fresh

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_SOURCE = ROOT / "bench" / "csv_parse_bench.cpp"
CORE_SOURCES = [ROOT / "src" / "csv_text.cpp", ROOT / "src" / "cell_parse.cpp"]
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


def measure(program, path, repeat):
    if program is None:
        return None
    return best_of_fresh([program, path], repeat, lowest=("seconds", "cpu_seconds"), highest=("mb_per_s",))
