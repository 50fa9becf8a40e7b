// describe: count, mean, sample standard deviation, minimum and maximum per column.

#include "column_kernels.hpp"
#include "kestrane_dataframe.hpp"

namespace {

using Summary = KestraneDataFrame::Summary;

Summary to_summary(const kernels::ColumnSummary& figures) {
    return Summary{{"count", static_cast<double>(figures.count)},
                   {"mean", figures.mean},
                   {"std", figures.std_dev},
                   {"min", figures.min},
                   {"max", figures.max}};
}

// The summaries as Python dicts, in name order; each summary's keys in
// their own order (count, max, mean, min, std).
PyRef to_dicts(const std::map<std::string, Summary>& summaries) {
    PyRef by_name = new_dict();
    for (const auto& [name, summary] : summaries) {
        PyRef statistics = new_dict();
        for (const auto& [key, value] : summary) {
            set_item(statistics, utf8_text(key), new_reference([value = value] { return PyFloat_FromDouble(value); }));
        }
        set_item(by_name, utf8_text(name), statistics);
    }
    return by_name;
}

}  // namespace

// Count, mean, sample standard deviation, minimum and maximum of the cells
// that are not NaN, per column (kernels::summarise_columns); a column without
// such a cell has no summary.
std::map<std::string, Summary> KestraneDataFrame::summaries() const {
    std::vector<kernels::ColumnView> views;
    views.reserve(data.size());
    for (const auto& [name, cells] : data) {
        views.push_back({cells.data(), cells.size()});
    }
    const std::vector<kernels::ColumnSummary> figures = kernels::summarise_columns(views);
    std::map<std::string, Summary> result;
    auto column = figures.begin();
    for (const auto& entry : data) {
        if (column->count != 0) {
            result.emplace_hint(result.end(), entry.first, to_summary(*column));
        }
        ++column;
    }
    return result;
}

KestraneDataFrame::DescribeResult KestraneDataFrame::describe() {
    return to_result<DescribeResult>(to_dicts(summaries()));
}
