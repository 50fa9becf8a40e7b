"""The benchmark's input files: generated with a fixed seed, never stored in git.

Cells are built as byte matrices with numpy, one chunk of rows at a time: every cell is
a fixed-width run of bytes where 0 means "no character", so a whole chunk becomes CSV
text by appending the separators and dropping the zero bytes.
"""

import dataclasses
import math
from collections.abc import Callable
from functools import partial
from pathlib import Path

import numpy as np

SEED = 20240611
FORMAT_VERSION = 1  # part of every file name: bump it when the generated text changes
EMPTY_SHARE = 0.02
CHUNK_CELLS = 4_000_000
SAMPLE_ROWS = 10_000
DOT, MINUS = ord("."), ord("-")


@dataclasses.dataclass(frozen=True)
class Shape:
    key: str
    description: str
    rows: int
    columns: int
    cells: Callable[[np.random.Generator, int, int], np.ndarray]
    line_end: bytes = b"\n"
    warnings_per_row: int = 0

    @property
    def names(self):
        return [f"c{index}" for index in range(1, self.columns + 1)]

    def file_name(self):
        return f"shape_{self.key}_{self.rows}x{self.columns}_seed{SEED}_v{FORMAT_VERSION}.csv"

    def resized(self, rows):
        return dataclasses.replace(self, rows=rows)


def digit_bytes(values, width, strip_leading_zeros=False):
    """ASCII digits of non-negative integers, `width` bytes each, optionally without leading zeros."""
    powers = 10 ** np.arange(width - 1, -1, -1, dtype=np.int64)
    digits = (values[..., None] // powers) % 10
    text = (digits + ord("0")).astype(np.uint8)
    if strip_leading_zeros:
        leading = np.cumsum(digits, axis=-1) == 0
        leading[..., -1] = False
        text[leading] = 0
    return text


def single_bytes(code, shape):
    return np.full(shape + (1,), code, dtype=np.uint8)


def blank_some(rng, cells, share):
    if share:
        cells[rng.random(cells.shape[:2]) < share] = 0
    return cells


def signed_fixed_cells(rng, rows, columns, empty_share=EMPTY_SHARE):
    """`-698301.652151`: random sign, six integer digits, six decimals; some empty cells."""
    shape = (rows, columns)
    signs = np.where(rng.random(shape) < 0.5, MINUS, 0).astype(np.uint8)[..., None]
    whole = digit_bytes(rng.integers(100_000, 1_000_000, shape), 6)
    fraction = digit_bytes(rng.integers(0, 1_000_000, shape), 6)
    cells = np.concatenate([signs, whole, single_bytes(DOT, shape), fraction], axis=2)
    return blank_some(rng, cells, empty_share)


def price_cells(rng, rows):
    """`12.50`: 0.00 to 99.99, always two decimals."""
    whole = digit_bytes(rng.integers(0, 100, rows), 2, strip_leading_zeros=True)
    fraction = digit_bytes(rng.integers(0, 100, rows), 2)
    return np.concatenate([whole, single_bytes(DOT, (rows,)), fraction], axis=1)


def integer_cells(rng, rows, digits):
    return digit_bytes(rng.integers(0, 10**digits, rows), digits, strip_leading_zeros=True)


def short_cells(rng, rows, columns):
    """Prices and integers by turns: c1 price, c2 integer 0..9, c3 price, c4 integer 0..99, ...

    The integers get one to four digits by turns; 2% empty cells."""
    width = 5
    cells = np.zeros((rows, columns, width), dtype=np.uint8)
    for column in range(columns):
        text = price_cells(rng, rows) if column % 2 == 0 else integer_cells(rng, rows, column // 2 % 4 + 1)
        cells[:, column, : text.shape[1]] = text
    return blank_some(rng, cells, EMPTY_SHARE)


def repr_cells(rng, rows, columns):
    """`repr(random.random())`: full-precision shortest round-trip text of values in [0, 1)."""
    text = rng.random((rows, columns)).astype("S")
    return text.view(np.uint8).reshape(rows, columns, text.dtype.itemsize)


def vocabulary_cells(rng, rows, words):
    """One of `words` per row, as a (rows, width) byte matrix padded with zero bytes."""
    vocabulary = np.array(words, dtype=bytes)
    picked = vocabulary[rng.integers(0, len(words), rows)]
    return picked.view(np.uint8).reshape(rows, vocabulary.dtype.itemsize)


QUOTED_DATES = [f'"2024-{month:02}-{day:02}"'.encode() for month in range(1, 13) for day in range(1, 29)]
LABELS = [b"north", b"south", b"east", b"west", b"centre", b"n/a", b"other"]


def text_column_cells(rng, rows, columns):
    """Cells as a, but c1 holds a quoted date (`"2024-03-17"`) and c2 a short label (`north`): no
    number starts either, so each of their cells is NaN after a warning line."""
    cells = signed_fixed_cells(rng, rows, columns)
    for column, words in enumerate((QUOTED_DATES, LABELS)):
        text = vocabulary_cells(rng, rows, words)
        cells[:, column, :] = 0
        cells[:, column, : text.shape[1]] = text
    return cells


def csv_text(cells, line_end):
    """One chunk of CSV lines from a (rows, columns, width) byte matrix."""
    rows, columns, _ = cells.shape
    separators = np.zeros((rows, columns, len(line_end)), dtype=np.uint8)
    separators[:, :-1, 0] = ord(",")
    separators[:, -1, :] = np.frombuffer(line_end, dtype=np.uint8)
    text = np.concatenate([cells, separators], axis=2).reshape(-1)
    return text[text != 0].tobytes()


def chunk_sizes(shape):
    per_chunk = max(1, CHUNK_CELLS // shape.columns)
    for start in range(0, shape.rows, per_chunk):
        yield min(per_chunk, shape.rows - start)


def write_csv(shape, path):
    rng = np.random.default_rng(SEED)
    unfinished = path.with_suffix(".partial")
    with open(unfinished, "wb") as out:
        out.write(",".join(shape.names).encode() + shape.line_end)
        for rows in chunk_sizes(shape):
            out.write(csv_text(shape.cells(rng, rows, shape.columns), shape.line_end))
    unfinished.rename(path)


def ensure_csv(shape, data_dir):
    path = Path(data_dir) / shape.file_name()
    if not path.exists():
        path.parent.mkdir(parents=True, exist_ok=True)
        write_csv(shape, path)
    return path


def rows_for_size(shape, megabytes):
    """Rows that make a file of about `megabytes` (10^6 bytes) in the style of `shape`."""
    sample = csv_text(shape.cells(np.random.default_rng(SEED), SAMPLE_ROWS, shape.columns), shape.line_end)
    return max(1, math.ceil(megabytes * 1e6 / (len(sample) / SAMPLE_ROWS)))


SHAPES = [
    Shape("a", "`-698301.652151`, 2% empty", 1_000_000, 8, signed_fixed_cells),
    Shape("b", "short prices and integers (`12.50`, `7`), 2% empty", 1_000_000, 8, short_cells),
    Shape("c", "full-precision `repr(random.random())`", 200_000, 40, repr_cells),
    # A one-column row with an empty cell would be a blank line, which loaders skip or keep
    # as they like: this shape has no empty cells.
    Shape("d", "one column, cells as a, none empty", 8_000_000, 1, partial(signed_fixed_cells, empty_share=0)),
    Shape("e", "a with CRLF line ends", 1_000_000, 8, signed_fixed_cells, b"\r\n"),
    Shape("f", "wide, cells as b", 100_000, 1_000, short_cells),
    Shape("g", "a with two text columns: quoted dates, labels", 1_000_000, 8, text_column_cells, warnings_per_row=2),
]
