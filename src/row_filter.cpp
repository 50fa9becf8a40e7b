// filter_by: a new frame with the rows whose cell in one column equals a value.

#include <optional>

#include "column_kernels.hpp"
#include "kestrane_dataframe.hpp"
#include "messages.hpp"

KestraneDataFrame KestraneDataFrame::filter_by(const std::string& name, double value) {
    KestraneDataFrame result;
    const auto filter_column = data.find(name);
    if (filter_column == data.end()) {
        messages::column_missing(name);
        return result;
    }
    const std::vector<double>& filter_cells = filter_column->second;
    const std::vector<std::size_t> rows = kernels::rows_equal_to({filter_cells.data(), filter_cells.size()}, value);

    // A name listed twice is copied twice into its single result column, row
    // by row: each of its rows' cells as many times in a row as it is listed.
    // A short column has no cell past its end; nothing is invented for it.
    std::map<std::string, std::size_t> listings;
    for (const auto& listed : columns) {
        ++listings[listed];
    }
    result.columns = columns;
    // The filter column's selected cells equal the value, and a double other
    // than 0.0 and -0.0 equals only itself: those are the value, bit for bit.
    const std::optional<double> filter_cell = value != 0.0 ? std::optional<double>(value) : std::nullopt;
    std::vector<kernels::RowCopy> copies;
    copies.reserve(listings.size());
    for (const auto& [name, listed] : listings) {
        const std::vector<double>& source = data.at(name);
        const std::optional<double> known = &source == &filter_cells ? filter_cell : std::nullopt;
        copies.push_back({{source.data(), source.size()}, listed, &result.data[name], known});
    }
    kernels::append_rows(copies, rows);
    return result;
}
