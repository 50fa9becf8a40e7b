// filter_by: a new frame with the rows whose cell in one column equals a value.

#include "kestrane_dataframe.hpp"
#include "messages.hpp"

namespace {

std::vector<std::size_t> matching_rows(const std::vector<double>& cells, double value) {
    std::vector<std::size_t> rows;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (cells[i] == value) {
            rows.push_back(i);
        }
    }
    return rows;
}

}  // namespace

KestraneDataFrame KestraneDataFrame::filter_by(const std::string& name, double value) {
    KestraneDataFrame result;
    const auto filter_column = data.find(name);
    if (filter_column == data.end()) {
        messages::column_missing(name);
        return result;
    }
    const std::vector<std::size_t> rows = matching_rows(filter_column->second, value);

    // One source and one target per listed name; a name listed twice is
    // copied twice into its single result column, row by row.
    std::vector<const std::vector<double>*> sources;
    std::vector<std::vector<double>*> targets;
    result.columns = columns;
    for (const auto& listed : columns) {
        sources.push_back(&data.at(listed));
        targets.push_back(&result.data[listed]);
    }
    for (std::size_t p = 0; p < targets.size(); ++p) {
        targets[p]->reserve(targets[p]->capacity() + rows.size());
    }
    for (const std::size_t row : rows) {
        for (std::size_t p = 0; p < sources.size(); ++p) {
            // A short column has no cell at this row; nothing is invented for it.
            if (row < sources[p]->size()) {
                targets[p]->push_back((*sources[p])[row]);
            }
        }
    }
    return result;
}
