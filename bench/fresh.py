"""Repeated measurements, each in a fresh process that prints one JSON line."""

import json
import subprocess
import sys
from pathlib import Path

LOAD_CHILD = Path(__file__).resolve().parent / "load_child.py"
LOAD_KEYS = ("wall", "cpu", "peak_bytes", "frame_dict_wall", "frame_dict_cpu", "tolist_cpu")


def run_json(command):
    finished = subprocess.run([str(part) for part in command], capture_output=True, text=True)
    if finished.returncode != 0:
        raise RuntimeError(f"{command} failed with exit code {finished.returncode}:\n{finished.stderr}")
    return json.loads(finished.stdout.strip().splitlines()[-1])


def best_of_fresh(command, repeat, lowest, highest=()):
    """Runs `command` `repeat` times and keeps the best value of each measure (see best_measures)."""
    return best_measures([run_json(command) for _ in range(repeat)], command, lowest, highest)


def best_measures(runs, command, lowest, highest=()):
    """The best value of each measure of `runs` of `command`: the lowest of `lowest` (times,
    sizes), the highest of `highest` (speeds). Other values must not vary."""
    best = dict(runs[0])
    for key in best:
        values = [run[key] for run in runs]
        if key in lowest:
            best[key] = min(values)
        elif key in highest:
            best[key] = max(values)
        elif len(set(values)) > 1:
            raise RuntimeError(f"{command}: {key} differs between runs: {values}")
    return best


def measure_load(loader, path, repeat):
    return best_of_fresh([sys.executable, LOAD_CHILD, loader, path], repeat, LOAD_KEYS)
