"""The module's console lines as the tests expect them, byte for byte: the fixed ones, and a
function of its parts for each of the others."""

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
