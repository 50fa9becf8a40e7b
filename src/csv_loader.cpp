// read_csv: a CSV file into the frame, through the Python-free csv::Reader.

#include <cerrno>
#include <optional>
#include <utility>

#include "csv/reader.hpp"
#include "kestrane_dataframe.hpp"
#include "messages.hpp"
#include "python_bridge.hpp"

namespace py = pybind11;

namespace {

using Column = std::vector<double>;

// Names handled between two signal checks while a wide header's columns are
// set up: a few milliseconds of work.
constexpr std::size_t kNamesPerSignalCheck = 4096;

void check_signals_every_few_names(std::size_t index) {
    if (index % kNamesPerSignalCheck == kNamesPerSignalCheck - 1) {
        check_signals();
    }
}

// One empty column per distinct name.
std::map<std::string, Column> empty_columns(const std::vector<std::string>& names) {
    std::map<std::string, Column> columns;
    for (std::size_t index = 0; index < names.size(); ++index) {
        check_signals_every_few_names(index);
        columns.try_emplace(names[index]);
    }
    return columns;
}

// The column of each header position, looked up once for the whole load. The
// frame stays busy while the rows are read, so no Python code can change its
// map and the pointers stay valid across the console messages.
std::vector<Column*> columns_by_position(std::map<std::string, Column>& data, const std::vector<std::string>& names) {
    std::vector<Column*> targets;
    targets.reserve(names.size());
    for (std::size_t index = 0; index < names.size(); ++index) {
        check_signals_every_few_names(index);
        targets.push_back(&data.at(names[index]));
    }
    return targets;
}

[[noreturn]] void raise_os_error(const csv::ReadError& error, const std::string& path) {
    at_python_point([&error, &path] {
        errno = error.code().value();
        return PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    });
    throw_python_error();
}

}  // namespace

py::object KestraneDataFrame::read_csv(const std::string& path) {
    messages::reading_file(path);
    std::optional<PyRef> loaded = load(path);
    // A file that cannot be opened leaves the frame idle again before the message.
    if (!loaded) {
        messages::file_not_opened();
        return py::none();
    }
    return to_result(std::move(*loaded));
}

std::optional<PyRef> KestraneDataFrame::load(const std::string& path) {
    // Busy from before the open, which may let other threads run (opening and
    // reading may wait for another thread of this process to write to the
    // file: a FIFO, a pipe). Nothing else the load does gives up the lock.
    const auto scope = mark_busy();
    csv::Reader reader(path, check_signals, csv::Reader::kDefaultChunkSize, without_interpreter_lock);
    if (!reader.is_open()) {
        return std::nullopt;
    }
    const messages::UnreadableCell unreadable_cell;
    try {
        // The header and its columns are built aside, so a failure while
        // reading the header (a read error, MemoryError) leaves the frame as it was.
        std::vector<std::string> names = reader.read_header();
        std::map<std::string, Column> fresh = empty_columns(names);
        columns = std::move(names);
        data = std::move(fresh);
        reader.read_rows(columns_by_position(data, columns),
                         [&unreadable_cell](std::string_view text) { unreadable_cell(text); });
    } catch (const csv::ReadError& error) {
        raise_os_error(error, path);
    }

    // The rows of the first column in name order (shape() counts the first in
    // header order): the count this line has always printed, ragged files included.
    const std::size_t rows = data.empty() ? 0 : data.begin()->second.size();
    messages::file_loaded(rows, columns.size());
    return frame_dict();
}
