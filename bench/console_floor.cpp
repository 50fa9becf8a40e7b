// The floor of a console line: an extension module that writes, for each cell
// given, the line "<before><cell><after>" to sys.stdout doing only what every
// such line must do, nothing more:
//   1. decode the cell by strict UTF-8;
//   2. join it with the line's two fixed parts, given as str;
//   3. look up sys.stdout afresh, and its write attribute once;
//   4. call write(line), then write("\n").
// The name "write" and the line feed are made once per call, not per line.
// bench/messages.py times it in turn with the module's own lines.
//
// Built by CMake (-DORVANTIS_BUILD_BENCH=ON, target console_floor); used as
//   console_floor.write_lines(cells: list[bytes], before: str, after: str) -> None

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>

namespace {

// Step 2: a new str of the three parts, or null with an error set.
PyObject* joined(PyObject* before, PyObject* text, PyObject* after) {
    PyObject* const parts[] = {before, text, after};
    Py_ssize_t length = 0;
    Py_UCS4 max_char = 0;
    for (PyObject* const part : parts) {
        length += PyUnicode_GET_LENGTH(part);
        max_char = std::max(max_char, PyUnicode_MAX_CHAR_VALUE(part));
    }
    PyObject* const line = PyUnicode_New(length, max_char);
    Py_ssize_t position = 0;
    for (PyObject* const part : parts) {
        if (line == nullptr || PyUnicode_CopyCharacters(line, position, part, 0, PyUnicode_GET_LENGTH(part)) < 0) {
            Py_XDECREF(line);
            return nullptr;
        }
        position += PyUnicode_GET_LENGTH(part);
    }
    return line;
}

// Steps 3 and 4 for one line; false with an error set on failure.
bool write_line(PyObject* line, PyObject* name, PyObject* line_feed) {
    PyObject* const stream = PySys_GetObject("stdout");
    if (stream == nullptr) {
        return true;
    }
    Py_INCREF(stream);
    PyObject* const write = PyObject_GetAttr(stream, name);
    Py_DECREF(stream);
    if (write == nullptr) {
        return false;
    }
    PyObject* result = PyObject_CallOneArg(write, line);
    if (result != nullptr) {
        Py_DECREF(result);
        result = PyObject_CallOneArg(write, line_feed);
    }
    Py_DECREF(write);
    Py_XDECREF(result);
    return result != nullptr;
}

bool write_cell(PyObject* cell, PyObject* before, PyObject* after, PyObject* name, PyObject* line_feed) {
    PyObject* const text = PyUnicode_DecodeUTF8(PyBytes_AS_STRING(cell), PyBytes_GET_SIZE(cell), nullptr);
    if (text == nullptr) {
        return false;
    }
    PyObject* const line = joined(before, text, after);
    Py_DECREF(text);
    if (line == nullptr) {
        return false;
    }
    const bool written = write_line(line, name, line_feed);
    Py_DECREF(line);
    return written;
}

PyObject* write_lines(PyObject*, PyObject* args) {
    PyObject *cells = nullptr, *before = nullptr, *after = nullptr;
    if (!PyArg_ParseTuple(args, "O!UU", &PyList_Type, &cells, &before, &after)) {
        return nullptr;
    }
    PyObject* const name = PyUnicode_InternFromString("write");
    PyObject* const line_feed = PyUnicode_FromOrdinal('\n');
    bool written = name != nullptr && line_feed != nullptr;
    for (Py_ssize_t i = 0; written && i < PyList_GET_SIZE(cells); ++i) {
        PyObject* const cell = PyList_GET_ITEM(cells, i);
        if (!PyBytes_Check(cell)) {
            PyErr_SetString(PyExc_TypeError, "cells must be bytes");
            written = false;
        } else {
            Py_INCREF(cell);
            written = write_cell(cell, before, after, name, line_feed);
            Py_DECREF(cell);
        }
    }
    Py_XDECREF(name);
    Py_XDECREF(line_feed);
    if (!written) {
        return nullptr;
    }
    Py_RETURN_NONE;
}

PyMethodDef methods[] = {
    {"write_lines", write_lines, METH_VARARGS, "Writes before + cell + after, then a line feed, for each cell."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {PyModuleDef_HEAD_INIT,
                      "console_floor",
                      "The floor of a console line.",
                      -1,
                      methods,
                      nullptr,
                      nullptr,
                      nullptr,
                      nullptr};

}  // namespace

// NOLINTNEXTLINE(readability-identifier-naming): the name the interpreter looks for.
PyMODINIT_FUNC PyInit_console_floor() { return PyModule_Create(&module); }
