#include "kestrane_dataframe.hpp"

namespace py = pybind11;

namespace {

// Replaces every NaN cell of the column by the mean of its other cells,
// announcing the mean and each fill. An empty or all-NaN column is left as it is.
void fill_with_mean(const std::string& name, std::vector<double>& cells) {
    double sum = 0.0;
    std::size_t count = 0;
    for (const double x : cells) {
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
    for (double& cell : cells) {
        if (cell != cell) {
            cell = mean;
            print_message(py::make_tuple("C++: '", name, "' sutunundaki bir NaN degeri ortalama ile dolduruldu."));
        }
    }
}

}  // namespace

py::object KestraneDataFrame::auto_preprocess() {
    const auto scope = walk();
    print_message(py::make_tuple("C++: Veri otomatik olarak ön isleniyor..."));
    for (auto& [name, cells] : data) {
        fill_with_mean(name, cells);
    }
    print_message(py::make_tuple("C++: On isleme tamamladi."));
    return frame_dict();
}
