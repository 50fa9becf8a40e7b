#pragma once

// One console line on the interpreter's sys.stdout, written through the C API.

#include <array>
#include <cstddef>
#include <string_view>

#include "python_bridge.hpp"

namespace console {

// The parts of a line as Python str, as str() gives them: a fixed text of the
// module (given as code points, so that it needs no decoding), a text value by
// strict UTF-8 decoding (UnicodeDecodeError otherwise), a count as an int, a
// real as a float.
PyRef text_of(std::u32string_view literal);
PyRef text_of(std::string_view text);
PyRef text_of(std::size_t count);
PyRef text_of(double real);

// Joins the texts with single spaces and writes the line to the sys.stdout of
// the moment: write(line), then write("\n"), both through the one write
// attribute looked up first; no flush. Without a sys.stdout the line is
// dropped. A stream that is None, has no write or whose write raises makes the
// Python exception leave as pybind11::error_already_set.
void write(const PyRef* texts, std::size_t count);

// Writes one line made of `parts`. Every part becomes a text, in order,
// before anything is written, so a text that is not UTF-8 writes nothing.
template <typename... Parts>
void write_line(const Parts&... parts) {
    const std::array<PyRef, sizeof...(Parts)> texts{text_of(parts)...};
    write(texts.data(), texts.size());
}

// A line written once for each of many values within one operation call (a
// warning per unreadable cell, a notice per filled cell): "<before> <value>
// <after>". Its fixed parts and the name of the stream's write are made once,
// with the object; each line is written as write_line writes it.
class RepeatedLine {
public:
    RepeatedLine(std::u32string_view before, std::u32string_view after);
    void write(std::string_view value) const;

private:
    PyRef before_;
    PyRef after_;
    PyRef write_name_;
};

}  // namespace console
