#pragma once

// One console line on the interpreter's sys.stdout, written through the C API.

#include <array>
#include <cstddef>
#include <string_view>

#include <pybind11/pybind11.h>

namespace console {

// The text of one part of a line, as str() gives it: a text by strict UTF-8
// decoding (UnicodeDecodeError otherwise), a count as an int, a real as a float.
pybind11::object text_of(std::string_view text);
pybind11::object text_of(std::size_t count);
pybind11::object text_of(double real);

// Joins the texts with single spaces and writes the line to the sys.stdout of
// the moment: write(line), then write("\n"), both through the one write
// attribute looked up first; no flush. Without a sys.stdout the line is
// dropped; a stream that is None, has no write or whose write raises makes
// the Python exception leave as py::error_already_set.
void write_joined(const pybind11::object* texts, std::size_t count);

// Writes one line made of `parts`. Every part becomes text, in order, before
// anything is written, so a part that cannot become text writes nothing.
template <typename... Parts>
void write_line(const Parts&... parts) {
    const std::array<pybind11::object, sizeof...(Parts)> texts{text_of(parts)...};
    write_joined(texts.data(), texts.size());
}

}  // namespace console
