// Signal checks and lists of floats, through the C API.

#include "python_bridge.hpp"

namespace py = pybind11;

void check_signals() {
    if (PyErr_CheckSignals() != 0) {
        throw py::error_already_set();
    }
}

py::list new_list(std::size_t size) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(size));
    if (list == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::list>(list);
}

py::list to_float_list(const std::vector<double>& values) {
    py::list list = new_list(values.size());
    constexpr std::size_t kValuesPerSignalCheck = std::size_t{1} << 20;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i % kValuesPerSignalCheck == kValuesPerSignalCheck - 1) {
            check_signals();
        }
        PyObject* item = PyFloat_FromDouble(values[i]);
        if (item == nullptr) {
            throw py::error_already_set();
        }
        PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i), item);
    }
    return list;
}
