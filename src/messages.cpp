// The texts of the console messages, side by side; console.cpp writes them.

#include "messages.hpp"

#include "console.hpp"

namespace messages {

using console::write_line;

void greeting() { write_line(U"Kestrane'in C++ çekirdeği çalışıyor!"); }

void reading_file(std::string_view path) { write_line(U"C++: ", path, U" dosyası okunuyor..."); }

void file_not_opened() { write_line(U"HATA: Dosya açılamadı!"); }

UnreadableCell::UnreadableCell() : line_(U"C++: '", U"' double'a çevrilemedi. NaN olarak işaretleniyor.") {}

void file_loaded(std::size_t rows, std::size_t columns) {
    write_line(U"C++: ", rows, U" satır ve ", columns, U" sütun başarıyla okundu.");
}

void column_requested(std::string_view name) { write_line(U"C++: ", name, U" sutun verisi isteniyor."); }

void requested_column_missing(std::string_view name) { write_line(U"HATA: ", name, U" sutunu bulunamadi."); }

void column_missing(std::string_view name) { write_line(U"HATA: '", name, U"' sutunu bulunamadi."); }

void preprocessing_started() { write_line(U"C++: Veri otomatik olarak ön isleniyor..."); }

void column_mean(std::string_view name, double mean) {
    write_line(U"C++: '", name, U"' sutununun ortalamasi hesaplandi: ", mean);
}

NanFilled::NanFilled() : line_(U"C++: '", U"' sutunundaki bir NaN degeri ortalama ile dolduruldu.") {}

void preprocessing_finished() { write_line(U"C++: On isleme tamamladi."); }

}  // namespace messages
