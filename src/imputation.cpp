#include "kestrane_dataframe.hpp"

namespace py = pybind11;

namespace {

using ColumnMap = std::map<std::string, std::vector<double>>;

// Writing a message runs Python code (the stream's write method), which may
// reload this very frame; after each message the column is looked up again.
std::vector<double>* find_column(ColumnMap& data, const std::string& name) {
    const auto found = data.find(name);
    return found == data.end() ? nullptr : &found->second;
}

// Replaces every NaN cell of the column by the mean of its other cells,
// announcing the mean and each fill. An empty or all-NaN column is left as it is.
void fill_with_mean(ColumnMap& data, const std::string& name) {
    std::vector<double>* cells = find_column(data, name);
    double sum = 0.0;
    std::size_t count = 0;
    for (const double x : *cells) {
        if (x == x) {
            sum += x;
            ++count;
        }
    }
    if (count == 0) {
        return;
    }
    const double mean = sum / static_cast<double>(count);
    print_message(py::make_tuple("C++: '", name, "' sutununun ortalamasi hesaplandi: ", mean));
    cells = find_column(data, name);
    for (std::size_t i = 0; cells != nullptr && i < cells->size(); ++i) {
        if ((*cells)[i] != (*cells)[i]) {
            (*cells)[i] = mean;
            print_message(py::make_tuple("C++: '", name, "' sutunundaki bir NaN degeri ortalama ile dolduruldu."));
            cells = find_column(data, name);
        }
    }
}

}  // namespace

py::object KestraneDataFrame::auto_preprocess() {
    print_message(py::make_tuple("C++: Veri otomatik olarak ön isleniyor..."));
    for (auto column = data.begin(); column != data.end();) {
        const std::string name = column->first;
        fill_with_mean(data, name);
        column = data.upper_bound(name);
    }
    print_message(py::make_tuple("C++: On isleme tamamladi."));
    return frame_dict();
}
