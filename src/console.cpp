// Console lines: the parts' texts joined by spaces, written to sys.stdout.

#include "console.hpp"

namespace py = pybind11;

namespace console {

namespace {

// Takes ownership of a new reference from the C API; a null one carries the
// Python error that the call set.
py::object owned(PyObject* result) {
    if (result == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(result);
}

py::object joined(const py::object* texts, std::size_t count) {
    const py::object items = owned(PyTuple_New(static_cast<Py_ssize_t>(count)));
    for (std::size_t i = 0; i < count; ++i) {
        PyTuple_SET_ITEM(items.ptr(), static_cast<Py_ssize_t>(i), py::object(texts[i]).release().ptr());
    }
    const py::object space = owned(PyUnicode_FromStringAndSize(" ", 1));
    return owned(PyUnicode_Join(space.ptr(), items.ptr()));
}

void call_write(const py::object& write, const py::object& text) {
    owned(PyObject_CallOneArg(write.ptr(), text.ptr()));
}

}  // namespace

py::object text_of(std::string_view text) {
    return owned(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

py::object text_of(std::size_t count) { return owned(PyObject_Str(owned(PyLong_FromSize_t(count)).ptr())); }

py::object text_of(double real) { return owned(PyObject_Str(owned(PyFloat_FromDouble(real)).ptr())); }

void write_joined(const py::object* texts, std::size_t count) {
    const py::object line = joined(texts, count);
    // Borrowed from sys, or null without an error when sys has no stdout. Held
    // while its write is looked up, which may run Python code that replaces it.
    const auto stream = py::reinterpret_borrow<py::object>(PySys_GetObject("stdout"));
    if (!stream) {
        return;
    }
    const py::object write = owned(PyObject_GetAttrString(stream.ptr(), "write"));
    call_write(write, line);
    call_write(write, owned(PyUnicode_FromStringAndSize("\n", 1)));
}

}  // namespace console
