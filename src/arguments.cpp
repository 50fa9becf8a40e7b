// Real numbers and sequences of them from Python arguments, at Python points.

#include "arguments.hpp"

#include "python_bridge.hpp"

namespace {

// Clears the pending error when it is an Exception, so that the argument is
// refused; throws any other.
void refuse_unless_interrupted() {
    if (!PyErr_ExceptionMatches(PyExc_Exception)) {
        throw_python_error();
    }
    at_python_point([] { PyErr_Clear(); });
}

bool load_items(PyObject* sequence, bool convert, std::vector<double>& values) {
    values.clear();
    const Py_ssize_t size = at_python_point([sequence] { return PySequence_Size(sequence); });
    if (size == -1) {
        throw_python_error();
    }
    values.reserve(static_cast<std::size_t>(size));
    const PyRef iterator = new_reference([sequence] { return PyObject_GetIter(sequence); });
    // The item last read is released once the next one has been read.
    PyRef item;
    for (;;) {
        item = PyRef(at_python_point([&iterator] { return PyIter_Next(iterator.get()); }));
        if (!item) {
            if (PyErr_Occurred() != nullptr) {
                throw_python_error();
            }
            return true;
        }
        double value = 0.0;
        if (!load_real(item.get(), convert, value)) {
            return false;
        }
        values.push_back(value);
    }
}

}  // namespace

bool load_real(PyObject* source, bool convert, double& value) {
    if (!convert && !PyFloat_Check(source)) {
        return false;
    }
    const double read = at_python_point([source] { return PyFloat_AsDouble(source); });
    if (read != -1.0 || PyErr_Occurred() == nullptr) {
        value = read;
        return true;
    }
    refuse_unless_interrupted();
    if (!convert || PyNumber_Check(source) == 0) {
        return false;
    }
    const PyRef number(at_python_point([source] { return PyNumber_Float(source); }));
    if (!number) {
        refuse_unless_interrupted();
        return false;
    }
    return load_real(number.get(), false, value);
}

bool load_reals(PyObject* source, bool convert, std::vector<double>& values) {
    if (PySequence_Check(source) != 0) {
        return load_items(source, convert, values);
    }
    if (!convert) {
        return false;
    }
    const PyRef items = new_reference([source] { return PySequence_Tuple(source); });
    return load_items(items.get(), convert, values);
}
