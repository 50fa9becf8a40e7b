#include <cerrno>
#include <utility>

#include "csv_text.hpp"
#include "kestrane_dataframe.hpp"
#include "messages.hpp"

namespace py = pybind11;

namespace {

using Column = std::vector<double>;

// One empty column per distinct name.
std::map<std::string, Column> empty_columns(const std::vector<std::string>& names) {
    std::map<std::string, Column> columns;
    for (const auto& name : names) {
        columns.try_emplace(name);
    }
    return columns;
}

// The column of each header position, looked up once for the whole load. The
// frame stays busy while the rows are read, so no Python code can change its
// map and the pointers stay valid across the console messages.
std::vector<Column*> columns_by_position(std::map<std::string, Column>& data, const std::vector<std::string>& names) {
    std::vector<Column*> targets;
    targets.reserve(names.size());
    for (const auto& name : names) {
        targets.push_back(&data.at(name));
    }
    return targets;
}

[[noreturn]] void raise_os_error(const csv::ReadError& error, const std::string& path) {
    errno = error.code().value();
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
}

}  // namespace

py::object KestraneDataFrame::read_csv(const std::string& path) {
    messages::reading_file(path);
    csv::Reader reader(path, check_signals);
    if (!reader.is_open()) {
        messages::file_not_opened();
        return py::none();
    }
    const auto scope = walk();
    try {
        // The header and its columns are built aside, so a failure while
        // reading the header (a read error, MemoryError) leaves the frame as it was.
        std::vector<std::string> names = reader.read_header();
        std::map<std::string, Column> fresh = empty_columns(names);
        columns = std::move(names);
        data = std::move(fresh);
        reader.read_rows(columns_by_position(data, columns), messages::unreadable_cell);
    } catch (const csv::ReadError& error) {
        raise_os_error(error, path);
    }

    const std::size_t rows = data.empty() ? 0 : data.begin()->second.size();
    messages::file_loaded(rows, columns.size());
    return frame_dict();
}
