#pragma once

// The calls from the frame's operations into the interpreter besides console
// lines: each can run Python code (signal handlers, garbage collection).

#include <cstddef>
#include <vector>

#include <pybind11/pybind11.h>

// Runs pending signal handlers; a KeyboardInterrupt, or any exception a
// handler raises, is thrown as py::error_already_set.
void check_signals();

// A new list of `size` empty slots; every slot must be set before the list
// reaches Python code.
pybind11::list new_list(std::size_t size);

// A new list holding one float per value, in order. Checks for signals every
// 2^20 values, so that Ctrl-C stops a long one.
pybind11::list to_float_list(const std::vector<double>& values);
