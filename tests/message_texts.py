"""The module's console lines as the tests expect them, byte for byte: the fixed ones, and a
function of its parts for each of the others; and the stream that records them."""

import io

GREETING = "Kestrane'in C++ çekirdeği çalışıyor!"
FILE_NOT_OPENED = "HATA: Dosya açılamadı!"
PREPROCESSING_STARTED = "C++: Veri otomatik olarak ön isleniyor..."
PREPROCESSING_FINISHED = "C++: On isleme tamamladi."

reading = "C++:  {}  dosyası okunuyor...".format  # (path)
unreadable = "C++: ' {} ' double'a çevrilemedi. NaN olarak işaretleniyor.".format  # (cell)
loaded = "C++:  {}  satır ve  {}  sütun başarıyla okundu.".format  # (rows, columns)
column_requested = "C++:  {}  sutun verisi isteniyor.".format  # (name)
requested_column_missing = "HATA:  {}  sutunu bulunamadi.".format  # (name)
column_missing = "HATA: ' {} ' sutunu bulunamadi.".format  # (name)
column_mean = "C++: ' {} ' sutununun ortalamasi hesaplandi:  {}".format  # (name, mean_text)
nan_filled = "C++: ' {} ' sutunundaki bir NaN degeri ortalama ile dolduruldu.".format  # (name)


class RecordingStream(io.StringIO):
    """A text stream that remembers every write call and counts flushes. At the write call
    numbered `at` (from 1) it first runs `action(stream)`, which may raise or switch streams."""

    def __init__(self, at=0, action=None):
        super().__init__()
        self.writes, self.flushes, self.at, self.action = [], 0, at, action

    def write(self, text):
        self.writes.append(text)
        if len(self.writes) == self.at:
            self.action(self)
        return super().write(text)

    def flush(self):
        self.flushes += 1
        super().flush()

    def lines(self):
        return self.getvalue().splitlines()

    def reset(self):
        self.seek(0)
        self.truncate()
        self.writes.clear()
