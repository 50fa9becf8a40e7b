// auto_preprocess: every NaN cell replaced by its column's mean.

#include "kestrane_dataframe.hpp"
#include "messages.hpp"

namespace py = pybind11;

namespace {

// Replaces every NaN cell of the column by the mean of its other cells,
// announcing the mean and each fill. An empty or all-NaN column is left as it is.
void fill_with_mean(const std::string& name, std::vector<double>& cells, const messages::NanFilled& nan_filled) {
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
    messages::column_mean(name, mean);
    for (double& cell : cells) {
        if (cell != cell) {
            cell = mean;
            nan_filled(name);
        }
    }
}

}  // namespace

py::object KestraneDataFrame::auto_preprocess() {
    const auto scope = mark_busy();
    const messages::NanFilled nan_filled;
    messages::preprocessing_started();
    for (auto& [name, cells] : data) {
        fill_with_mean(name, cells, nan_filled);
    }
    messages::preprocessing_finished();
    return to_result(frame_dict());
}
