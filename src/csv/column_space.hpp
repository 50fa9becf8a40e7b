#pragma once

// Room for the columns of a load, reserved ahead of the rows that fill them.

#include <cstddef>
#include <utility>
#include <vector>

#include "csv/callbacks.hpp"
#include "target_features.hpp"

namespace csv {

// Reserves room in the columns ahead of the rows, so that no column grows by
// a copy while it fills: a growing copy holds a column twice at the peak. The
// room is only reserved: its pages become resident as the values reach them.
// No 2 MiB pages are asked for (madvise): they made large loads faster but
// not small ones, so that the cost per byte depended on the file's size;
// without them it does not.
//
// Room is best effort: when a column's room cannot be had (the address space
// is limited, or memory is not overcommitted), that column and the ones after
// it grow as they fill instead.
class ColumnSpace {
public:
    // `targets` as in Reader::read_rows: a column may stand at several positions.
    explicit ColumnSpace(const std::vector<std::vector<double>*>& targets);

    // Makes room in every column for `rows` more full rows, calling
    // check_interrupt every few thousand columns. Out of line: inlined into
    // the row loop that calls it, it made the loop's code slower per cell.
    ORVANTIS_NOINLINE void reserve_rows(std::size_t rows, const InterruptCheck& check_interrupt);

private:
    std::vector<std::pair<std::vector<double>*, std::size_t>>
        columns_;  // each column once, with its positions in a row
};

}  // namespace csv
