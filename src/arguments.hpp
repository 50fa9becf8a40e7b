#pragma once

// The conversions of the arguments that Python code can take part in: a
// real number (filter_by's value, each item of get_mean's sequence) and a
// sequence of them. They accept and refuse what the binding library's own
// conversions accept and refuse, and call the same special methods in the
// same order, but at Python points, holding what they take as PyRef.
//
// A conversion that fails with an Exception refuses the argument (the
// binding library then raises its TypeError, as before); any other
// exception (KeyboardInterrupt, SystemExit, GeneratorExit) is thrown as
// pybind11::error_already_set and reaches the caller unchanged.

#include <vector>

#include <Python.h>

// Reads `source` as a double into `value`: a float always; with `convert`,
// anything that __float__ or __index__ turn into one.
bool load_real(PyObject* source, bool convert, double& value);

// Reads the items of `source`, a sequence or an iterable that is not one
// (read through tuple() first, and only with `convert`), into `values`.
// Errors of len(), iter() and next() are thrown as error_already_set.
bool load_reals(PyObject* source, bool convert, std::vector<double>& values);
