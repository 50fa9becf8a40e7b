// Signal checks, lists of floats, and threads that the interpreter ends.

#include "python_bridge.hpp"

#include <unistd.h>

namespace py = pybind11;

void check_signals() {
    if (PyErr_CheckSignals() != 0) {
        throw py::error_already_set();
    }
}

void wait_for_process_exit() {
    for (;;) {
        pause();
    }
}

py::list to_float_list(const std::vector<double>& values) {
    constexpr std::size_t kValuesPerSignalCheck = std::size_t{1} << 20;
    return filled_list(values.size(), kValuesPerSignalCheck,
                       [&values](std::size_t i) { return PyFloat_FromDouble(values[i]); });
}
