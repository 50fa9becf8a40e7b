#pragma once

// The numeric passes over columns of doubles behind describe, count_nan and
// filter_by, without Python. Each gives exactly what the plain loop in row
// order gives: a column's values are added one after another in row order,
// in plain double arithmetic, and NaN equals nothing. Speed comes from
// overlapping independent work (several columns' chains of additions at once),
// from vectors (SSE2 on x86-64, and AVX2 where the processor has it; NEON on
// aarch64; plain C++ where ORVANTIS_PORTABLE asks for it) and from reading
// memory as several streams, each asked for ahead of its reads; never from
// reordering a column's additions.

#include <cstddef>
#include <optional>
#include <vector>

namespace kernels {

// `size` cells from `cells`, in row order.
struct ColumnView {
    const double* cells = nullptr;
    std::size_t size = 0;
};

// describe's figures of the cells that are not NaN: the count; the mean, their
// sum in row order divided by the count; the sample standard deviation, the
// square root of the squared deviations from that mean (added in row order)
// over count - 1, or 0 for one cell; the first greatest and the first least
// cell in row order (so of 0.0 and -0.0 the one that comes first).
// All but the count are meaningless when the count is 0.
struct ColumnSummary {
    std::size_t count = 0;
    double mean = 0.0;
    double std_dev = 0.0;
    double min = 0.0;
    double max = 0.0;
};

// The summary of each column, in the order given, in two passes over the rows
// (the deviations need the mean); several columns advance together.
std::vector<ColumnSummary> summarise_columns(const std::vector<ColumnView>& columns);

// The number of NaN cells.
std::size_t count_nan(ColumnView column);

// The rows whose cell == value (so none for NaN, and 0.0 and -0.0 match
// each other), ascending.
std::vector<std::size_t> rows_equal_to(ColumnView column, double value);

// A column, and where its cells at some rows go: appended to `target`, each
// `copies` times in a row. When every one of those cells is known to hold the
// same double, bit for bit, `known` holds it and the column is not read.
struct RowCopy {
    ColumnView column;
    std::size_t copies = 1;
    std::vector<double>* target = nullptr;
    std::optional<double> known;
};

// For each copy, appends the cells of its column at `rows` (ascending) that
// the column has. The targets are distinct vectors, none of them a column read.
void append_rows(const std::vector<RowCopy>& copies, const std::vector<std::size_t>& rows);

}  // namespace kernels
