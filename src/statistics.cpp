// describe: count, mean, sample standard deviation, minimum and maximum per column.

#include <cmath>
#include <limits>
#include <optional>

#include "kestrane_dataframe.hpp"

namespace {

using Summary = std::map<std::string, double>;

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

}  // namespace

std::map<std::string, Summary> KestraneDataFrame::describe() {
    std::map<std::string, Summary> result;
    for (const auto& [name, cells] : data) {
        if (auto summary = summarise(cells)) {
            result.emplace_hint(result.end(), name, std::move(*summary));
        }
    }
    return result;
}
