// The frame dict: a whole frame as {"columns": [...], "data": {...}}.

#include "kestrane_dataframe.hpp"
#include "python_bridge.hpp"

namespace py = pybind11;

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
