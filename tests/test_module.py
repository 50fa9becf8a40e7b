import importlib
import json
import sys

import pytest
from message_texts import GREETING
from other_cpythons import WHERE, other_cpythons

import orvantis_core
from orvantis_core import KestraneDataFrame, get_mean, merhaba_kestrane

SELF = "self: orvantis_core.KestraneDataFrame"
METHODS = {
    "__init__": f"({SELF}) -> None",
    "read_csv": f"({SELF}, arg0: str) -> object",
    "auto_preprocess": f"({SELF}) -> object",
    "get_column": f"({SELF}, arg0: str) -> object",
    "describe": f"({SELF}) -> dict[str, dict[str, float]]",
    "shape": f"({SELF}) -> tuple",
    "count_nan": f"({SELF}, arg0: str) -> int",
    "filter_by": f"({SELF}, arg0: str, arg1: typing.SupportsFloat) -> orvantis_core.KestraneDataFrame",
}


def test_docstrings_are_signature_lines():
    assert orvantis_core.__doc__ == "Kestrane'in C++ ile yazılmış performans çekirdeği."
    assert {name: getattr(KestraneDataFrame, name).__doc__ for name in METHODS} == {
        name: f"{name}{signature}\n" for name, signature in METHODS.items()
    }
    assert merhaba_kestrane.__doc__ == "merhaba_kestrane() -> None\n"
    assert get_mean.__doc__ == (
        "get_mean(arg0: collections.abc.Sequence[typing.SupportsFloat]) -> float\n"
        "\nGet the mean of the specified column.\n"
    )


def test_class_attributes_follow_registration_order():
    # __init__ keeps the place that the type's own initialiser slot took when the type was made.
    registered = ["_pybind11_conduit_v1_", *list(METHODS)[1:]]
    assert [name for name in KestraneDataFrame.__dict__ if name in registered] == registered
    assert "__init__" in KestraneDataFrame.__dict__


def test_reimport_after_removal_yields_the_same_module(monkeypatch):
    monkeypatch.delitem(sys.modules, "orvantis_core")
    reimported = importlib.import_module("orvantis_core")
    assert (reimported, reimported.KestraneDataFrame) == (orvantis_core, KestraneDataFrame)


# Imports the module from the folder argv[1] and prints the outcome and sys.version as JSON.
IMPORT_FROM = """
import json, sys
sys.path.insert(0, sys.argv[1])
try:
    import orvantis_core
    outcome = ["imported", orvantis_core.__file__]
except ImportError as error:
    outcome = [type(error).__name__, str(error)]
print(json.dumps(outcome + [sys.version]))
"""


OTHER_CPYTHONS = [pytest.param(other.executable, id=other.version) for other in other_cpythons()] or [
    pytest.param(None, id="none", marks=pytest.mark.skip(reason=f"no CPython 3 other than 3.11 ({WHERE})"))
]


@pytest.mark.parametrize("python", OTHER_CPYTHONS)
def test_other_interpreter_versions_refuse_the_module(tmp_path, children, python):
    # The loader must let every such interpreter reach the version check, whatever it exports.
    (tmp_path / "orvantis_core.so").symlink_to(orvantis_core.__file__)
    out, _ = children.run(IMPORT_FROM, tmp_path, python=(python, "-I"), timeout=60)
    outcome, message, version = json.loads(out)
    assert (outcome, message) == (
        "ImportError",
        "Python version mismatch: module was compiled for Python 3.11, "
        f"but the interpreter version is incompatible: {version}.",
    )


def test_greeting_writes_text_then_line_feed_to_current_stdout(console, monkeypatch):
    assert merhaba_kestrane() is None
    assert (console.writes, console.flushes) == ([GREETING, "\n"], 0)
    monkeypatch.setattr(sys, "stdout", type(console)())
    merhaba_kestrane()
    assert (console.lines(), sys.stdout.lines()) == ([GREETING], [GREETING])


@pytest.mark.parametrize(
    "call",
    [
        lambda load: merhaba_kestrane(1),
        lambda load: KestraneDataFrame(1),
        lambda load: load("a\n1\n").read_csv(path="data.csv"),
        lambda load: load("a\n1\n").filter_by("a", "1"),
    ],
    ids=["greeting", "constructor", "keyword-path", "str-value"],
)
def test_bad_arguments_raise_type_error_silently(call, load, console):
    with pytest.raises(TypeError):
        call(load)
    assert console.writes == []


ARGUMENT_CONVERSIONS = {
    "get_mean's list": lambda load, item: get_mean([1.0, item]),
    "get_mean's generator": lambda load, item: get_mean(x for x in [item]),
    "filter_by's value": lambda load, item: load("a\n1\n").filter_by("a", item),
}


@pytest.mark.parametrize("method", ["__float__", "__index__"])
@pytest.mark.parametrize("call", ARGUMENT_CONVERSIONS.values(), ids=ARGUMENT_CONVERSIONS.keys())
@pytest.mark.parametrize(
    "raised, seen", [(KeyboardInterrupt,) * 2, (SystemExit,) * 2, (GeneratorExit,) * 2, (ValueError, TypeError)]
)
def test_only_an_exception_refuses_an_argument(load, method, call, raised, seen):
    # Ctrl-C (and any other exception that is not an Exception) in an argument's
    # conversion reaches the caller as it is; an Exception refuses the argument.
    def fail(self):
        raise raised("from the conversion")

    with pytest.raises(seen) as caught:
        call(load, type("Number", (), {method: fail})())
    assert (str(caught.value) == "from the conversion") == (raised is seen)


def test_python_subclass_loads_and_queries(csv_file, console):
    frame = type("Frame", (KestraneDataFrame,), {"rows": lambda self: self.shape()[0]})()
    frame.read_csv(csv_file("a,b\n1,2\n3,4\n"))
    assert (frame.rows(), frame.describe()["b"]["mean"]) == (2, 3.0)


def test_new_frame_is_empty_silent_and_takes_no_new_attributes(console):
    frame = KestraneDataFrame()
    assert (frame.shape(), frame.describe(), console.writes) == ((0, 0), {}, [])
    with pytest.raises(AttributeError):
        frame.label = "x"


def _uninitialised_subclass(call):
    class EarlyCall(KestraneDataFrame):
        def __init__(self):
            call(self)
            super().__init__()

    return EarlyCall()


@pytest.mark.forked  # a regression would crash the interpreter
@pytest.mark.parametrize(
    "call_on",
    [
        lambda call: call(None),
        lambda call: call(KestraneDataFrame.__new__(KestraneDataFrame)),
        _uninitialised_subclass,  # the call is made by its __init__, before the base class's
    ],
    ids=["none", "new-without-init", "subclass-before-super-init"],
)
@pytest.mark.parametrize("method", list(METHODS)[1:])
def test_methods_without_a_built_frame_raise_type_error_silently(console, call_on, method):
    args = {"read_csv": ("data.csv",), "get_column": ("a",), "count_nan": ("a",), "filter_by": ("a", 1.0)}
    with pytest.raises(TypeError, match="initialised KestraneDataFrame"):
        call_on(lambda frame: getattr(KestraneDataFrame, method)(frame, *args.get(method, ())))
    assert console.writes == []


@pytest.mark.parametrize("import_in_main_first", [False, True])
def test_sub_interpreters_refuse_the_module(children, import_in_main_first):
    script = (
        "import _xxsubinterpreters as si\n"
        + ("import orvantis_core\n" if import_in_main_first else "")
        + "try:\n    si.run_string(si.create(), 'import orvantis_core')\n"
        "except si.RunFailedError as e:\n    print(e)\n"
        "import orvantis_core\norvantis_core.merhaba_kestrane()\n"
    )
    out, _ = children.run(script, timeout=60)
    assert out.splitlines() == [
        "<class 'ImportError'>: orvantis_core does not support sub-interpreters; import it in the main interpreter",
        GREETING,
    ]
