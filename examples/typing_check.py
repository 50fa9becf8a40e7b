"""Every orvantis_core result used with its exact type; `mypy --strict` checks this file.

Each assert_type fails when the stubs declare a different or wider result (object,
Any, a bare tuple, a missing None); the code after it then uses the value as that
type: it indexes the frame dict's keys, adds floats, unpacks the shape tuple.
Run it to see the module's console lines for examples/data/sample.csv.
"""

import math
from collections.abc import Callable
from pathlib import Path
from typing import assert_type

import orvantis_core
from orvantis_core import KestraneDataFrame, get_mean

SAMPLE = Path(__file__).parent / "data" / "sample.csv"


def load(frame: KestraneDataFrame, path: Path) -> dict[str, list[float]]:
    loaded = frame.read_csv(str(path))
    if loaded is None:  # unreachable, and so an error, if the stubs forget None
        print("cannot read", path)
        return {}
    assert_type(loaded["columns"], list[str])
    assert_type(loaded["data"], dict[str, list[float]])
    first: str = loaded["columns"][0]
    print("first column:", first.upper(), loaded["data"][first])
    return loaded["data"]


def finite_sum(cells: list[float]) -> float:
    return math.fsum(x for x in cells if not math.isnan(x))


def main() -> None:
    assert_type(orvantis_core.merhaba_kestrane, Callable[[], None])
    orvantis_core.merhaba_kestrane()

    frame = KestraneDataFrame()
    columns = load(frame, SAMPLE)

    assert_type(frame.shape(), tuple[int, int])
    rows, width = frame.shape()
    print("cells:", rows * width)

    prices = frame.get_column(b"fiyat")
    assert_type(prices, list[float] | None)
    if prices is not None:
        print("sum of fiyat:", finite_sum(prices))

    missing = frame.count_nan(bytearray(b"adet"))
    assert_type(missing, int)
    print("NaN cells in adet:", missing, "of", rows)

    summary = frame.describe()
    assert_type(summary, dict[str, dict[str, float]])
    print("mean + std of adet:", summary["adet"]["mean"] + summary["adet"]["std"])

    mean = get_mean(x for x in columns["fiyat"] if not math.isnan(x))
    assert_type(mean, float)
    print("mean of fiyat:", round(mean, 3))
    assert_type(get_mean(map(float, ["1", "2"])), float)

    cheap = frame.filter_by("fiyat", 12.5)
    assert_type(cheap, KestraneDataFrame)

    filled = cheap.auto_preprocess()
    assert_type(filled["columns"], list[str])
    assert_type(filled["data"], dict[str, list[float]])
    print("filled rows:", len(filled["data"][filled["columns"][0]]))


if __name__ == "__main__":
    main()
