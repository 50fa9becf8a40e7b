"""The dynamic symbols of the built module, read with nm -D:
- it exports PyInit_orvantis_core only (besides the linker's own _init, _fini,
  _edata, _end and __bss_start), and no GNU unique symbol, which would keep it
  loaded for good;
- every reference to the interpreter that some other CPython 3 of this machine
  does not define is weak. The loader resolves every reference before
  PyInit_orvantis_core runs, so one strong reference that an interpreter lacks
  would stop its import before the version check can refuse it with its
  ImportError. The interpreters are those that tests/other_cpythons.py finds
  (pyenv's versions folder, the installations beside python3's, python3.N on
  PATH); the symbols an interpreter defines are those of its executable and of
  the libpython it loads. At least one is needed: Debian 12 has only its 3.11,
  so another CPython 3 build comes from elsewhere, such as `pyenv install 3.12`.

Run as `bash .ci/symbols WHEEL_OR_MODULE`, by a CPython 3.11, which stands for the module's own.
"""

import collections
import os
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests"))
from other_cpythons import WHERE, other_cpythons, probe  # noqa: E402

LINKER_SYMBOLS = {"_init", "_fini", "_edata", "_end", "__bss_start"}


def nm(path, *options):
    """(type, name) of each dynamic symbol nm lists, without symbol versions."""
    lines = subprocess.run(["nm", "-D", *options, path], check=True, capture_output=True, text=True).stdout
    return [(fields[-2], fields[-1].split("@")[0]) for fields in map(str.split, lines.splitlines())]


def defined(interpreter):
    return {name for path in interpreter.files for _, name in nm(path, "--defined-only")}


def module_file(argument, scratch):
    if not argument.endswith(".whl"):
        return argument
    archive = zipfile.ZipFile(argument)
    [name] = [name for name in archive.namelist() if name.startswith("orvantis_core.") and name.endswith(".so")]
    return archive.extract(name, scratch)


def check_references(module, own, others):
    """Prints what each interpreter lacks; a problem for each such name the module references strongly."""
    references = {name: kind for kind, name in nm(module, "--undefined-only")}
    from_own = defined(own) & references.keys()
    lacked_by = collections.defaultdict(list)
    for other in others:
        lacking = sorted(from_own - defined(other))
        print(f"  {other.version} ({other.files[0]}) lacks: {' '.join(lacking) or 'nothing'}")
        for name in lacking:
            lacked_by[name].append(other.version)
    return [
        f"strong reference to {name}, which is not in {', '.join(versions)}"
        for name, versions in sorted(lacked_by.items())
        if references[name] == "U"
    ]


def check_exports(module):
    problems = []
    for kind, name in nm(module, "--defined-only"):
        if kind == "u":
            problems.append(f"GNU unique symbol: {name}")
        elif name not in LINKER_SYMBOLS | {"PyInit_orvantis_core"}:
            problems.append(f"exported: {kind} {name}")
    return problems


def main(argument):
    own = probe(sys.executable)
    if own is None or own.version != "3.11":
        sys.exit(f"{sys.executable} is not a CPython 3.11: run this with the module's own interpreter")
    others = other_cpythons()
    if not others:
        sys.exit(
            f"no CPython 3 other than 3.11 on this machine ({WHERE}), so nothing tells which of the module's"
            " references another version lacks. Install another CPython 3 build and run this again: for instance"
            " pyenv's 3.6 and 3.13 (`pyenv install 3.6 3.13`), which together lack every name that"
            " src/c_api_weak.hpp weakens"
        )
    with tempfile.TemporaryDirectory() as scratch:
        module = module_file(argument, scratch)
        print(f"{os.path.basename(module)}: its references to the interpreter that another CPython 3 lacks")
        problems = check_references(module, own, others) + check_exports(module)
    if problems:
        sys.exit("\n".join(problems) + "\n(fix: src/c_api_weak.hpp for a reference, CMakeLists.txt for an export)")
    print("every such reference is weak; PyInit_orvantis_core is the only export, no GNU unique symbol")


main(sys.argv[1])
