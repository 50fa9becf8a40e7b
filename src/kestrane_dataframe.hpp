#pragma once

// The frame: its two members, their invariant, and its operations, one source each.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/typing.h>

#include "busy_frame.hpp"
#include "python_bridge.hpp"

// A column-oriented numeric table. `data` maps each column name (a byte
// string, ordered bytewise) to its cells in row order; `columns` lists the
// names in header order, duplicates included. Every name in `columns` has an
// entry in `data` and `data` holds no other name.
class KestraneDataFrame {
public:
    std::map<std::string, std::vector<double>> data;
    std::vector<std::string> columns;

    // Raises RuntimeError when the frame is busy; every method starts with it.
    void refuse_if_busy() const { busy_.refuse_if_busy(); }

    pybind11::object read_csv(const std::string& path);
    pybind11::object auto_preprocess();
    pybind11::object get_column(const std::string& name);
    // Count, max, mean, min and std (in key order) of a column's cells other than NaN.
    using Summary = std::map<std::string, double>;
    using DescribeResult =
        pybind11::typing::Dict<pybind11::str, pybind11::typing::Dict<pybind11::str, pybind11::float_>>;
    DescribeResult describe();
    pybind11::tuple shape();
    std::size_t count_nan(const std::string& name);
    KestraneDataFrame filter_by(const std::string& name, double value);

    // Holds the busy mark while an operation walks the frame.
    BusyScope mark_busy() { return BusyScope(busy_); }

private:
    // The summary of each column that has a cell other than NaN, by name.
    std::map<std::string, Summary> summaries() const;

    // {"columns": names in header order, "data": {name: cells} in map order}.
    PyRef frame_dict() const;

    // The load of read_csv, busy throughout; nothing when the file cannot be opened.
    std::optional<PyRef> load(const std::string& path);

    BusyMark busy_;
};
