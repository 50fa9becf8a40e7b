#include <limits>

#include "cell_parse.hpp"
#include "csv_text.hpp"
#include "kestrane_dataframe.hpp"

namespace py = pybind11;

namespace {

using Column = std::vector<double>;

// The column of each header position, resolved once instead of a lookup per cell.
std::vector<Column*> columns_by_position(std::map<std::string, Column>& data,
                                         const std::vector<std::string>& names) {
    std::vector<Column*> targets;
    targets.reserve(names.size());
    for (const auto& name : names) {
        targets.push_back(&data.at(name));
    }
    return targets;
}

void read_header(csv::LineReader& reader, std::vector<std::string>& names) {
    std::string_view line;
    if (!reader.next_line(line)) {
        return;
    }
    csv::split_pieces(line, csv::TrailingPiece::dropped_when_empty, [&](std::string_view piece) {
        names.emplace_back(piece);
        return true;
    });
}

// Appends one value per cell to the column of the cell's position. Cells past
// the last header position are ignored unread. A trailing empty cell is a
// missing value like any other empty cell.
void read_rows(csv::LineReader& reader, std::map<std::string, Column>& data,
               const std::vector<std::string>& names) {
    const std::vector<Column*> targets = columns_by_position(data, names);
    std::string scratch;
    std::string_view line;
    while (reader.next_line(line)) {
        std::size_t position = 0;
        csv::split_pieces(line, csv::TrailingPiece::kept, [&](std::string_view cell) {
            if (position >= targets.size()) {
                return false;
            }
            std::optional<double> value = csv::parse_cell(cell, scratch);
            if (!value) {
                print_message(py::make_tuple("C++: '", cell, "' double'a çevrilemedi. NaN olarak işaretleniyor."));
                value = std::numeric_limits<double>::quiet_NaN();
            }
            targets[position++]->push_back(*value);
            return true;
        });
    }
}

}  // namespace

py::object KestraneDataFrame::read_csv(const std::string& path) {
    print_message(py::make_tuple("C++: ", path, " dosyası okunuyor..."));
    csv::LineReader reader(path);
    if (!reader.is_open()) {
        print_message(py::make_tuple("HATA: Dosya açılamadı!"));
        return py::none();
    }
    const auto scope = walk();
    columns.clear();
    read_header(reader, columns);
    data.clear();
    for (const auto& name : columns) {
        data.try_emplace(name);
    }
    read_rows(reader, data, columns);

    const std::size_t rows = data.empty() ? 0 : data.begin()->second.size();
    print_message(py::make_tuple("C++: ", rows, " satır ve ", columns.size(), " sütun başarıyla okundu."));
    return frame_dict();
}
