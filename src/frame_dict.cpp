// The frame dict: a whole frame as {"columns": [...], "data": {...}}.

#include "kestrane_dataframe.hpp"
#include "python_bridge.hpp"

namespace py = pybind11;

namespace {

// A str of the name's bytes by strict UTF-8 decoding (UnicodeDecodeError otherwise).
py::str name_as_str(const std::string& name) {
    PyObject* const text = PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), nullptr);
    if (text == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(text);
}

}  // namespace

py::dict KestraneDataFrame::frame_dict() const {
    constexpr std::size_t kHeaderNamesPerSignalCheck = std::size_t{1} << 16;
    py::list names = filled_list(columns.size(), kHeaderNamesPerSignalCheck,
                                 [this](std::size_t i) { return name_as_str(columns[i]).release().ptr(); });
    // A signal check per column as well: a wide frame is many short lists.
    py::dict columns_by_name;
    for (const auto& [name, cells] : data) {
        check_signals();
        columns_by_name[name_as_str(name)] = to_float_list(cells);
    }
    py::dict result;
    result["columns"] = std::move(names);
    result["data"] = std::move(columns_by_name);
    return result;
}
