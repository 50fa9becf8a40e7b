// describe: count, mean, sample standard deviation, minimum and maximum per column.

#include <cmath>
#include <limits>
#include <optional>

#include "kestrane_dataframe.hpp"

namespace {

using Summary = KestraneDataFrame::Summary;

bool is_nan(double x) { return x != x; }

// Count, mean, sample standard deviation, minimum and maximum of the cells
// that are not NaN, in two passes in row order; nothing when there is none.
std::optional<Summary> summarise(const std::vector<double>& cells) {
    std::size_t count = 0;
    double sum = 0.0;
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    for (const double x : cells) {
        if (is_nan(x)) {
            continue;
        }
        ++count;
        sum += x;
        if (x > max) {
            max = x;
        }
        if (x < min) {
            min = x;
        }
    }
    if (count == 0) {
        return std::nullopt;
    }
    const double mean = sum / static_cast<double>(count);
    double squares = 0.0;
    for (const double x : cells) {
        if (is_nan(x)) {
            continue;
        }
        const double deviation = x - mean;
        squares += deviation * deviation;
    }
    const double std_dev = count == 1 ? 0.0 : std::sqrt(squares / static_cast<double>(count - 1));
    return Summary{{"count", static_cast<double>(count)}, {"mean", mean}, {"std", std_dev}, {"min", min}, {"max", max}};
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

std::map<std::string, Summary> KestraneDataFrame::summaries() const {
    std::map<std::string, Summary> result;
    for (const auto& [name, cells] : data) {
        if (auto summary = summarise(cells)) {
            result.emplace_hint(result.end(), name, std::move(*summary));
        }
    }
    return result;
}

KestraneDataFrame::DescribeResult KestraneDataFrame::describe() {
    return to_result<DescribeResult>(to_dicts(summaries()));
}
