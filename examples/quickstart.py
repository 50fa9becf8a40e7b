"""A tour of orvantis_core on the sample CSV next to this script."""

from pathlib import Path

import orvantis_core
from orvantis_core import KestraneDataFrame, get_mean

SAMPLE = Path(__file__).parent / "data" / "sample.csv"


def main() -> None:
    orvantis_core.merhaba_kestrane()

    frame = KestraneDataFrame()
    print("frame dict:", frame.read_csv(str(SAMPLE)))
    print("shape:", frame.shape())

    prices = frame.get_column("fiyat")
    print("fiyat:", prices)
    print("NaN cells in adet:", frame.count_nan("adet"))
    print("mean of [1, 2, 3, 4]:", get_mean([1, 2, 3, 4]))
    print("describe:", frame.describe())

    cheap = frame.filter_by("fiyat", 12.5)
    print("rows with fiyat == 12.5:", cheap.shape())

    print("filled:", frame.auto_preprocess())
    print("NaN cells in adet after filling:", frame.count_nan("adet"))


if __name__ == "__main__":
    main()
