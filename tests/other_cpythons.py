"""Finds every CPython 3 of this machine whose version differs from the running interpreter's: the tests
import the module with each (test_module.py), .ci/symbols compares the symbols each defines with the
module's references. It looks in pyenv's versions folder (PYENV_ROOT, or .pyenv in the home folder of
HOME or of the account), beside the running interpreter's installation (as version managers lay them
out) and for python3.N on PATH. Debian 12 has only its 3.11: another version comes from a build of its
own, such as `pyenv install 3.12`."""

import collections
import glob
import os
import platform
import pwd
import re
import subprocess
import sys

WHERE = "pyenv's versions folder, the installations beside this one, python3.N on PATH"
# Run by each candidate (Python 3.6 and later): what it is, then the files that hold its symbols, its
# executable and the libpython it has loaded, if any, one a line.
PROBE = """
import os, platform, sys
maps = {line.split()[-1] for line in open("/proc/self/maps") if "/libpython" in line}
print(sys.implementation.name, "%d.%d" % sys.version_info[:2], platform.machine())
print("\\n".join([os.path.realpath(sys.executable)] + sorted(maps)))
"""
# The name of an interpreter on PATH that states its minor version.
VERSIONED = re.compile(r"/python3\.[0-9]+$")
Interpreter = collections.namedtuple("Interpreter", "version executable files")


def candidates():
    homes = {os.path.expanduser("~"), pwd.getpwuid(os.getuid()).pw_dir}
    roots = {os.environ.get("PYENV_ROOT", "")} | {os.path.join(home, ".pyenv") for home in homes}
    found = [
        path for root in roots if root for path in glob.glob(os.path.join(root, "versions", "*", "bin", "python3"))
    ]
    found += glob.glob(os.path.join(sys.base_prefix, os.pardir, "*", "bin", "python3"))
    for folder in os.environ.get("PATH", "").split(os.pathsep):
        found += filter(VERSIONED.search, glob.glob(os.path.join(folder or ".", "python3.*")))
    return [path for path in found if os.access(path, os.X_OK)]


def probe(path):
    """The Interpreter that `path` runs, or None for anything but a CPython 3 of this machine."""
    result = subprocess.run([path, "-I", "-c", PROBE], capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        return None  # a version manager's shim for a version it does not select, or Python 2
    first, *files = result.stdout.splitlines()
    name, version, machine = first.split()
    if name != "cpython" or not version.startswith("3.") or machine != platform.machine():
        return None
    return Interpreter(version, files[0], files)


def other_cpythons():
    """Each CPython 3 of another version than this one's, once per executable, by ascending version."""
    own = "{}.{}".format(*sys.version_info[:2])
    found = {}
    for interpreter in filter(None, map(probe, candidates())):
        if interpreter.version != own:
            found.setdefault(interpreter.executable, interpreter)
    return sorted(found.values(), key=lambda interpreter: tuple(map(int, interpreter.version.split("."))))
