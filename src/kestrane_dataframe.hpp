#pragma once

// The frame: its two members, their invariant, and its operations, one source each.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>

#include "busy_frame.hpp"

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
    std::map<std::string, std::map<std::string, double>> describe();
    pybind11::tuple shape();
    std::size_t count_nan(const std::string& name);
    KestraneDataFrame filter_by(const std::string& name, double value);

    // Holds the busy mark while an operation walks the frame.
    BusyScope mark_busy() { return BusyScope(busy_); }

private:
    // {"columns": names in header order, "data": {name: cells} in map order}.
    pybind11::dict frame_dict() const;

    BusyMark busy_;
};
