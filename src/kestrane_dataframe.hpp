#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>

// Set while an operation walks a frame across a point where Python code can
// run (a console message, the allocation of a Python object). The mark belongs
// to its frame: copying or moving a frame never carries it along.
class BusyMark {
public:
    BusyMark() = default;
    BusyMark(const BusyMark&) noexcept {}
    BusyMark& operator=(const BusyMark&) noexcept { return *this; }

    // Throws std::runtime_error (RuntimeError in Python) when the mark is set.
    void ensure_unset() const;

private:
    friend class BusyScope;
    bool set_ = false;
};

// Marks a frame busy for the scope's lifetime. Any method called on a busy
// frame raises RuntimeError instead of touching it.
class BusyScope {
public:
    explicit BusyScope(BusyMark& mark);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    BusyMark& mark_;
};

// A column-oriented numeric table. `data` maps each column name (a byte
// string, ordered bytewise) to its cells in row order; `columns` lists the
// names in header order, duplicates included. Every name in `columns` has an
// entry in `data` and `data` holds no other name.
class KestraneDataFrame {
public:
    std::map<std::string, std::vector<double>> data;
    std::vector<std::string> columns;

    // Raises RuntimeError when the frame is busy; every method starts with it.
    void ensure_idle() const { busy_.ensure_unset(); }

    pybind11::object read_csv(const std::string& path);
    pybind11::object auto_preprocess();
    pybind11::object get_column(const std::string& name);
    std::map<std::string, std::map<std::string, double>> describe();
    pybind11::tuple shape();
    std::size_t count_nan(const std::string& name);
    KestraneDataFrame filter_by(const std::string& name, double value);

    // Holds the busy mark while an operation walks the frame.
    BusyScope walk() { return BusyScope(busy_); }

private:
    // {"columns": names in header order, "data": {name: cells} in map order}.
    pybind11::dict frame_dict() const;

    BusyMark busy_;
};

double get_mean(const std::vector<double>& values);

// Runs pending signal handlers; a KeyboardInterrupt, or any exception a
// handler raises, is thrown as py::error_already_set.
void check_signals();

// A new list holding one float per value, in order. Checks for signals every
// 2^20 values, so that Ctrl-C stops a long one.
pybind11::list to_float_list(const std::vector<double>& values);
