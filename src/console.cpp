// Console lines: the parts' texts joined by spaces, written to sys.stdout.

#include "console.hpp"

#include <algorithm>

#include "python_bridge.hpp"

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

Py_ssize_t length_of(const Piece& piece) {
    return piece.text ? PyUnicode_GET_LENGTH(piece.text.ptr()) : static_cast<Py_ssize_t>(piece.literal.size());
}

Py_UCS4 max_char_of(const Piece& piece) {
    if (piece.text) {
        return PyUnicode_MAX_CHAR_VALUE(piece.text.ptr());
    }
    return piece.literal.empty() ? 0 : *std::max_element(piece.literal.begin(), piece.literal.end());
}

// Copies `piece` into `line` at `position`; returns the position after it.
Py_ssize_t copy_into(const py::object& line, Py_ssize_t position, const Piece& piece) {
    if (piece.text) {
        const Py_ssize_t length = PyUnicode_GET_LENGTH(piece.text.ptr());
        if (PyUnicode_CopyCharacters(line.ptr(), position, piece.text.ptr(), 0, length) < 0) {
            throw py::error_already_set();
        }
        return position + length;
    }
    const int kind = PyUnicode_KIND(line.ptr());
    void* const data = PyUnicode_DATA(line.ptr());
    for (const char32_t code_point : piece.literal) {
        PyUnicode_WRITE(kind, data, position++, code_point);
    }
    return position;
}

// The pieces joined by single spaces, as str.join gives them.
py::object joined(const Piece* pieces, std::size_t count) {
    Py_ssize_t length = static_cast<Py_ssize_t>(count) - 1;
    Py_UCS4 max_char = ' ';
    for (std::size_t i = 0; i < count; ++i) {
        length += length_of(pieces[i]);
        max_char = std::max(max_char, max_char_of(pieces[i]));
    }
    py::object line = owned(PyUnicode_New(length, max_char));
    Py_ssize_t position = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) {
            PyUnicode_WRITE(PyUnicode_KIND(line.ptr()), PyUnicode_DATA(line.ptr()), position++, ' ');
        }
        position = copy_into(line, position, pieces[i]);
    }
    return line;
}

// Calls Python code, which may give up the interpreter lock (a file's write
// does); the frames between it and this call hold nothing to destroy.
template <typename Call>
py::object call_python(const Call& call) {
    return owned(unless_thread_ended(call));
}

void call_write(const py::object& write, const py::object& text) {
    call_python([&write, &text] { return PyObject_CallOneArg(write.ptr(), text.ptr()); });
}

}  // namespace

Piece piece_of(std::string_view text) {
    return {{}, owned(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr))};
}

Piece piece_of(std::size_t count) { return {{}, owned(PyObject_Str(owned(PyLong_FromSize_t(count)).ptr()))}; }

Piece piece_of(double real) { return {{}, owned(PyObject_Str(owned(PyFloat_FromDouble(real)).ptr()))}; }

void write(const Piece* pieces, std::size_t count) {
    const py::object line = joined(pieces, count);
    // Borrowed from sys, or null without an error when sys has no stdout. Held
    // while its write is looked up, which may run Python code that replaces it.
    const auto stream = py::reinterpret_borrow<py::object>(PySys_GetObject("stdout"));
    if (!stream) {
        return;
    }
    const py::object write = call_python([&stream] { return PyObject_GetAttrString(stream.ptr(), "write"); });
    call_write(write, line);
    call_write(write, owned(PyUnicode_FromOrdinal('\n')));
}

}  // namespace console
