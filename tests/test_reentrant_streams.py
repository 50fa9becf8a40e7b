"""A message's stream is Python code: it may call back into the frame being worked on."""

import io
import sys

from orvantis_core import KestraneDataFrame


class ReloadingStream(io.StringIO):
    """Reloads `frame` from `path` on the n-th write call."""

    def __init__(self, frame, path, on_write):
        super().__init__()
        self.frame, self.path, self.on_write, self.calls = frame, path, on_write, 0

    def write(self, text):
        self.calls += 1
        if self.calls == self.on_write:
            self.frame.read_csv(self.path)
        return super().write(text)


def test_load_survives_a_reload_from_its_warning(csv_file, monkeypatch):
    frame = KestraneDataFrame()
    monkeypatch.setattr(sys, "stdout", ReloadingStream(frame, csv_file("q\n5\n"), on_write=3))
    result = frame.read_csv(csv_file("a,b\nx,1\ny,2\n"))
    assert sys.stdout.getvalue().count("sütun başarıyla okundu.") == 2
    assert sorted(result["data"]) == sorted(set(result["columns"]))
    assert frame.shape() == (len(result["data"][result["columns"][0]]), len(result["columns"]))


def test_imputation_survives_a_reload_from_its_fill_line(load, csv_file, monkeypatch):
    frame = load("a,b\n,1\n,\n1,\n")
    monkeypatch.setattr(sys, "stdout", ReloadingStream(frame, csv_file("q\n5\n"), on_write=5))
    assert frame.auto_preprocess() == {"columns": ["q"], "data": {"q": [5.0]}}
    assert "' q ' sutununun ortalamasi hesaplandi:  5.0" in sys.stdout.getvalue()
