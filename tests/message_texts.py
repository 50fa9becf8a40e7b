"""The module's console lines as the tests expect them, byte for byte: the fixed ones, and a
function of its parts for each of the others."""

GREETING = "Kestrane'in C++ çekirdeği çalışıyor!"
FILE_NOT_OPENED = "HATA: Dosya açılamadı!"
PREPROCESSING_STARTED = "C++: Veri otomatik olarak ön isleniyor..."
PREPROCESSING_FINISHED = "C++: On isleme tamamladi."


def reading(path):
    return f"C++:  {path}  dosyası okunuyor..."


def unreadable(cell):
    return f"C++: ' {cell} ' double'a çevrilemedi. NaN olarak işaretleniyor."


def loaded(rows, columns):
    return f"C++:  {rows}  satır ve  {columns}  sütun başarıyla okundu."


def column_requested(name):
    return f"C++:  {name}  sutun verisi isteniyor."


def requested_column_missing(name):
    return f"HATA:  {name}  sutunu bulunamadi."


def column_missing(name):
    return f"HATA: ' {name} ' sutunu bulunamadi."


def column_mean(name, mean_text):
    return f"C++: ' {name} ' sutununun ortalamasi hesaplandi:  {mean_text}"


def nan_filled(name):
    return f"C++: ' {name} ' sutunundaki bir NaN degeri ortalama ile dolduruldu."
