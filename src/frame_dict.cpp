#include "kestrane_dataframe.hpp"

namespace py = pybind11;

namespace {

// Allocates a list of `size` empty slots; every slot must be set before use.
py::list new_list(std::size_t size) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(size));
    if (list == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::list>(list);
}

}  // namespace

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

py::dict KestraneDataFrame::frame_dict() const {
    py::list names = new_list(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        PyList_SET_ITEM(names.ptr(), static_cast<Py_ssize_t>(i), py::str(columns[i]).release().ptr());
    }
    // A signal check per column as well: a wide frame is many short lists.
    py::dict columns_by_name;
    for (const auto& [name, cells] : data) {
        check_signals();
        columns_by_name[py::str(name)] = to_float_list(cells);
    }
    py::dict result;
    result["columns"] = std::move(names);
    result["data"] = std::move(columns_by_name);
    return result;
}
