"""Types of orvantis_core: a numeric table, KestraneDataFrame, and two module functions."""

from _collections_abc import dict_values
from collections.abc import Generator, Sequence
from collections.abc import Set as AbstractSet
from typing import Any, SupportsFloat, SupportsIndex, TypeAlias, TypedDict, TypeVar, type_check_only

# A number as the bindings convert it to a double: a float, an int or bool, or any
# object with __float__ or __index__. A str is refused.
_Real: TypeAlias = SupportsFloat | SupportsIndex
_RealT = TypeVar("_RealT", bound=_Real)

# A column name or a file path: a str is encoded to UTF-8, the bytes of a bytes or
# bytearray object are taken as they are. A path-like object is refused.
_Name: TypeAlias = str | bytes | bytearray

# The collections of numbers that get_mean accepts. The binding takes any sequence
# but a str or bytes, and also a generator, a set or frozenset, a dict's keys or
# values view, or a map object (which it first turns into a tuple). Iterable would
# be too wide: a dict, a list iterator, a filter object or itertools.chain are
# Iterable but raise TypeError. A dict's items view and a zip object pass the
# binding's container test but yield tuples, which never convert, so they are left
# out. map is invariant, hence the type variable there, so that a map[float] fits.
# What the static type cannot exclude: bytes (a Sequence[int]), classes that only
# derive from the abstract Set or Generator, an OrderedDict's views and subclasses
# of map; those raise TypeError at run time.
_Numbers: TypeAlias = (
    Sequence[_Real] | AbstractSet[_Real] | dict_values[Any, _Real] | Generator[_Real, Any, Any] | map[_RealT]
)

@type_check_only
class _FrameDict(TypedDict):
    columns: list[str]
    data: dict[str, list[float]]

class KestraneDataFrame:
    def __init__(self) -> None:
        """Create an empty frame, without columns. Prints nothing."""

    def read_csv(self, path: _Name, /) -> _FrameDict | None:
        """Replace the frame's content with a numeric CSV file and return it as a frame dict.

        Prints the file being read, a warning for each unreadable cell and the row and
        column counts; returns None after an error line when the file cannot be opened.
        """

    def auto_preprocess(self) -> _FrameDict:
        """Fill every NaN cell with its column's mean, in place, and return the frame dict.

        Prints a start line, each column's mean, one line per filled cell and an end line.
        """

    def get_column(self, name: _Name, /) -> list[float] | None:
        """Return a new list of a column's cells, or None after an error line if there is no such column.

        Prints the requested column's name first.
        """

    def describe(self) -> dict[str, dict[str, float]]:
        """Return count, max, mean, min and std of each column's non-NaN cells, by column name. Prints nothing."""

    def shape(self) -> tuple[int, int]:
        """Return (rows, columns): the rows of the first header column and the header's length. Prints nothing."""

    def count_nan(self, name: _Name, /) -> int:
        """Return the number of NaN cells in a column; 0 after an error line if there is no such column."""

    def filter_by(self, name: _Name, value: _Real, /) -> KestraneDataFrame:
        """Return a new frame with the rows whose cell in the column equals value exactly.

        Prints an error line and returns a frame without columns if there is no such column.
        """

def get_mean(values: _Numbers[_RealT], /) -> float:
    """Return the mean of the numbers in order of iteration (0.0 when empty). Prints nothing."""

def merhaba_kestrane() -> None:
    """Print the greeting line "Kestrane'in C++ çekirdeği çalışıyor!"."""
