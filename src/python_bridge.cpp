// Python points, owned references, signal checks and the lists and dicts of results.

#include "python_bridge.hpp"

#include <unistd.h>

namespace py = pybind11;

void wait_for_process_exit() {
    for (;;) {
        pause();
    }
}

void throw_python_error() {
    at_python_point([] {
        PyObject* type = nullptr;
        PyObject* value = nullptr;
        PyObject* traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);
        PyErr_NormalizeException(&type, &value, &traceback);
        PyErr_Restore(type, value, traceback);
    });
    throw py::error_already_set();
}

void check_signals() {
    checked_call([] { return PyErr_CheckSignals(); });
}

void without_interpreter_lock(const std::function<void()>& system_call) {
    PyThreadState* const state = PyEval_SaveThread();
    system_call();
    at_python_point([state] { PyEval_RestoreThread(state); });
}

PyRef to_float_list(const std::vector<double>& values) {
    constexpr std::size_t kValuesPerSignalCheck = std::size_t{1} << 20;
    return filled_list(values.size(), kValuesPerSignalCheck, [&values](std::size_t i) {
        return new_reference([value = values[i]] { return PyFloat_FromDouble(value); });
    });
}

PyRef new_dict() {
    return new_reference([] { return PyDict_New(); });
}

void set_item(const PyRef& dict, const PyRef& key, const PyRef& value) {
    checked_call([&] { return PyDict_SetItem(dict.get(), key.get(), value.get()); });
}

PyRef utf8_text(std::string_view bytes) {
    return new_reference(
        [bytes] { return PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr); });
}
