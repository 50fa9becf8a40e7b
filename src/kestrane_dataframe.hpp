#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>

// A column-oriented numeric table. `data` maps each column name (a byte
// string, ordered bytewise) to its cells in row order; `columns` lists the
// names in header order, duplicates included. Every name in `columns` has an
// entry in `data` and `data` holds no other name.
class KestraneDataFrame {
public:
    std::map<std::string, std::vector<double>> data;
    std::vector<std::string> columns;

    pybind11::object read_csv(const std::string& path);
    pybind11::object auto_preprocess();
    pybind11::object get_column(const std::string& name);
    std::map<std::string, std::map<std::string, double>> describe();
    pybind11::tuple shape();
    std::size_t count_nan(const std::string& name);
    KestraneDataFrame filter_by(const std::string& name, double value);

private:
    // {"columns": names in header order, "data": {name: cells} in map order}.
    pybind11::dict frame_dict() const;
};

double get_mean(const std::vector<double>& values);

// Writes one console line: str() of every part, joined by single spaces,
// then "\n", to the sys.stdout of the moment, without flushing.
void print_message(const pybind11::tuple& parts);

// A new list holding one float per value, in order.
pybind11::list to_float_list(const std::vector<double>& values);
