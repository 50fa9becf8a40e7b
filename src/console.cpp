// Console lines: the parts' texts joined by spaces, written to sys.stdout.

#include "console.hpp"

#include <algorithm>
#include <cstring>

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

py::object name_of_write() { return owned(PyUnicode_InternFromString("write")); }

template <typename To, typename From>
void widen(void* line, Py_ssize_t position, const void* text, Py_ssize_t length) {
    const auto* const from = static_cast<const From*>(text);
    std::copy(from, from + length, static_cast<To*>(line) + position);
}

// Copies `text` into `line` at `position`, its characters widened to the
// line's kind, which is never narrower than the text's.
void copy_into(PyObject* line, Py_ssize_t position, PyObject* text) {
    const int line_kind = PyUnicode_KIND(line);
    const int text_kind = PyUnicode_KIND(text);
    void* const to = PyUnicode_DATA(line);
    const void* const from = PyUnicode_DATA(text);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    if (line_kind == text_kind) {
        std::memcpy(static_cast<char*>(to) + position * line_kind, from, static_cast<std::size_t>(length * text_kind));
    } else if (line_kind == PyUnicode_2BYTE_KIND) {
        widen<Py_UCS2, Py_UCS1>(to, position, from, length);
    } else if (text_kind == PyUnicode_1BYTE_KIND) {
        widen<Py_UCS4, Py_UCS1>(to, position, from, length);
    } else {
        widen<Py_UCS4, Py_UCS2>(to, position, from, length);
    }
}

// The texts joined by single spaces, as str.join gives them.
py::object joined(const py::object* texts, std::size_t count) {
    Py_ssize_t length = static_cast<Py_ssize_t>(count) - 1;
    Py_UCS4 max_char = ' ';
    for (std::size_t i = 0; i < count; ++i) {
        length += PyUnicode_GET_LENGTH(texts[i].ptr());
        max_char = std::max(max_char, PyUnicode_MAX_CHAR_VALUE(texts[i].ptr()));
    }
    py::object line = owned(PyUnicode_New(length, max_char));
    const int kind = PyUnicode_KIND(line.ptr());
    void* const data = PyUnicode_DATA(line.ptr());
    Py_ssize_t position = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) {
            PyUnicode_WRITE(kind, data, position++, ' ');
        }
        copy_into(line.ptr(), position, texts[i].ptr());
        position += PyUnicode_GET_LENGTH(texts[i].ptr());
    }
    return line;
}

// Calls Python code, which may give up the interpreter lock (a file's write
// does); the frames between it and this call hold nothing to destroy.
template <typename Call>
py::object call_python(const Call& call) {
    return owned(unless_thread_ended(call));
}

void call_write(const py::object& write, PyObject* text) {
    call_python([&write, text] { return PyObject_CallOneArg(write.ptr(), text); });
}

// Writes `line` and a line feed to the sys.stdout of the moment through its
// attribute named by `write_name`.
void write_to_stdout(const py::object& line, const py::object& write_name) {
    // Borrowed from sys, or null without an error when sys has no stdout. Held
    // while its write is looked up, which may run Python code that replaces it.
    const auto stream = py::reinterpret_borrow<py::object>(PySys_GetObject("stdout"));
    if (!stream) {
        return;
    }
    const py::object write =
        call_python([&stream, &write_name] { return PyObject_GetAttr(stream.ptr(), write_name.ptr()); });
    call_write(write, line.ptr());
    call_write(write, owned(PyUnicode_FromOrdinal('\n')).ptr());
}

}  // namespace

py::object text_of(std::u32string_view literal) {
    return owned(
        PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, literal.data(), static_cast<Py_ssize_t>(literal.size())));
}

py::object text_of(std::string_view text) {
    return owned(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

py::object text_of(std::size_t count) { return owned(PyObject_Str(owned(PyLong_FromSize_t(count)).ptr())); }

py::object text_of(double real) { return owned(PyObject_Str(owned(PyFloat_FromDouble(real)).ptr())); }

void write(const py::object* texts, std::size_t count) { write_to_stdout(joined(texts, count), name_of_write()); }

RepeatedLine::RepeatedLine(std::u32string_view before, std::u32string_view after)
    : before_(text_of(before)), after_(text_of(after)), write_name_(name_of_write()) {}

void RepeatedLine::write(std::string_view value) const {
    const py::object texts[] = {before_, text_of(value), after_};
    write_to_stdout(joined(texts, std::size(texts)), write_name_);
}

}  // namespace console
