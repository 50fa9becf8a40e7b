// The frame dict: a whole frame as {"columns": [...], "data": {...}}.

#include "kestrane_dataframe.hpp"
#include "python_bridge.hpp"

namespace {

PyRef key_text(const char* key) {
    return new_reference([key] { return PyUnicode_FromString(key); });
}

}  // namespace

PyRef KestraneDataFrame::frame_dict() const {
    constexpr std::size_t kHeaderNamesPerSignalCheck = std::size_t{1} << 16;
    PyRef names = filled_list(columns.size(), kHeaderNamesPerSignalCheck,
                              [this](std::size_t i) { return utf8_text(columns[i]); });
    // A signal check per column as well: a wide frame is many short lists.
    PyRef columns_by_name = new_dict();
    for (const auto& [name, cells] : data) {
        check_signals();
        set_item(columns_by_name, utf8_text(name), to_float_list(cells));
    }
    PyRef result = new_dict();
    set_item(result, key_text("columns"), names);
    set_item(result, key_text("data"), columns_by_name);
    return result;
}
