// Room for the columns of a load, reserved ahead of the rows that fill them.

#include "csv/column_space.hpp"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace csv {

ColumnSpace::ColumnSpace(const std::vector<std::vector<double>*>& targets) {
    std::vector<std::vector<double>*> sorted = targets;
    std::sort(sorted.begin(), sorted.end());
    for (std::vector<double>* column : sorted) {
        if (!columns_.empty() && columns_.back().first == column) {
            ++columns_.back().second;
        } else {
            columns_.emplace_back(column, 1);
        }
    }
}

void ColumnSpace::reserve_rows(std::size_t rows, const InterruptCheck& check_interrupt) {
    constexpr std::size_t kColumnsPerInterruptCheck = 4096;
    for (std::size_t index = 0; index < columns_.size(); ++index) {
        if (index % kColumnsPerInterruptCheck == kColumnsPerInterruptCheck - 1) {
            check_interrupt();
        }
        const auto& [column, cells_per_row] = columns_[index];
        try {
            column->reserve(column->size() + rows * cells_per_row);
        } catch (const std::bad_alloc&) {
            return;
        } catch (const std::length_error&) {
            return;
        }
    }
}

}  // namespace csv
