// shape, get_column and count_nan, and the module function get_mean.

#include "column_kernels.hpp"
#include "kestrane_dataframe.hpp"
#include "mean.hpp"
#include "messages.hpp"
#include "python_bridge.hpp"

namespace py = pybind11;

py::tuple KestraneDataFrame::shape() {
    // Rows are those of the first column in header order. read_csv's summary
    // line counts the first column in name order instead: the two differ only
    // for ragged columns, and each is what callers of that method have seen.
    const std::size_t rows = columns.empty() ? 0 : data.at(columns.front()).size();
    const PyRef row_count = new_reference([rows] { return PyLong_FromSize_t(rows); });
    const PyRef column_count = new_reference([this] { return PyLong_FromSize_t(columns.size()); });
    return to_result<py::tuple>(new_reference([&] { return PyTuple_Pack(2, row_count.get(), column_count.get()); }));
}

py::object KestraneDataFrame::get_column(const std::string& name) {
    messages::column_requested(name);
    const auto found = data.find(name);
    if (found == data.end()) {
        messages::requested_column_missing(name);
        return py::none();
    }
    const auto scope = mark_busy();
    return to_result(to_float_list(found->second));
}

std::size_t KestraneDataFrame::count_nan(const std::string& name) {
    const auto found = data.find(name);
    if (found == data.end()) {
        messages::column_missing(name);
        return 0;
    }
    return kernels::count_nan({found->second.data(), found->second.size()});
}

double get_mean(const std::vector<double>& values) {
    if (values.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (const double x : values) {
        sum += x;
    }
    return sum / static_cast<double>(values.size());
}
