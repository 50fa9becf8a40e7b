"""The historical baseline module, built from an earlier revision, to time read_csv in turn with today's."""

import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# The last revision whose console lines went through pybind11::print.
REVISION = "52ec3b4"


def build(build_dir):
    """Installs the module of REVISION into a folder of its own (once) and returns that folder."""
    folder = Path(build_dir) / f"module-{REVISION}"
    target = folder / "lib"
    if any(target.glob("orvantis_core*.so")):
        return target
    archive = subprocess.run(["git", "-C", str(ROOT), "archive", REVISION], capture_output=True, check=True).stdout
    source = folder / "source"
    shutil.rmtree(folder, ignore_errors=True)
    source.mkdir(parents=True)
    subprocess.run(["tar", "-x", "-C", str(source)], input=archive, check=True)
    install = [sys.executable, "-m", "pip", "install", "--quiet", "--no-deps", "--target", str(target), str(source)]
    subprocess.run(install, check=True)
    return target
