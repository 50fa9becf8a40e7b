// The texts of the console messages, side by side; console.cpp writes them.

#include "messages.hpp"

#include "console.hpp"

namespace messages {

using console::write_line;
using std::string_view_literals::operator""sv;

void greeting() { write_line("Kestrane'in C++ çekirdeği çalışıyor!"sv); }

void reading_file(std::string_view path) { write_line("C++: "sv, path, " dosyası okunuyor..."sv); }

void file_not_opened() { write_line("HATA: Dosya açılamadı!"sv); }

void unreadable_cell(std::string_view text) {
    write_line("C++: '"sv, text, "' double'a çevrilemedi. NaN olarak işaretleniyor."sv);
}

void file_loaded(std::size_t rows, std::size_t columns) {
    write_line("C++: "sv, rows, " satır ve "sv, columns, " sütun başarıyla okundu."sv);
}

void column_requested(std::string_view name) { write_line("C++: "sv, name, " sutun verisi isteniyor."sv); }

void requested_column_missing(std::string_view name) { write_line("HATA: "sv, name, " sutunu bulunamadi."sv); }

void column_missing(std::string_view name) { write_line("HATA: '"sv, name, "' sutunu bulunamadi."sv); }

void preprocessing_started() { write_line("C++: Veri otomatik olarak ön isleniyor..."sv); }

void column_mean(std::string_view name, double mean) {
    write_line("C++: '"sv, name, "' sutununun ortalamasi hesaplandi: "sv, mean);
}

void nan_filled(std::string_view name) {
    write_line("C++: '"sv, name, "' sutunundaki bir NaN degeri ortalama ile dolduruldu."sv);
}

void preprocessing_finished() { write_line("C++: On isleme tamamladi."sv); }

}  // namespace messages
