#pragma once

// One console line on the interpreter's sys.stdout, written through the C API.

#include <array>
#include <cstddef>
#include <string_view>

#include <pybind11/pybind11.h>

namespace console {

// One part of a line: a fixed text of the module, given as code points so
// that it needs no decoding, or a Python str.
struct Piece {
    std::u32string_view literal;
    pybind11::object text;
};

// The pieces of the parts of a line, as str() gives them: a text value by
// strict UTF-8 decoding (UnicodeDecodeError otherwise), a count as an int, a
// real as a float.
inline Piece piece_of(std::u32string_view literal) { return {literal, {}}; }
Piece piece_of(std::string_view text);
Piece piece_of(std::size_t count);
Piece piece_of(double real);

// Joins the pieces with single spaces and writes the line to the sys.stdout
// of the moment: write(line), then write("\n"), both through the one write
// attribute looked up first; no flush. Without a sys.stdout the line is
// dropped. A stream that is None, has no write or whose write raises makes the
// Python exception leave as py::error_already_set.
void write(const Piece* pieces, std::size_t count);

// Writes one line made of `parts`. Every part becomes a piece, in order,
// before anything is written, so a text that is not UTF-8 writes nothing.
template <typename... Parts>
void write_line(const Parts&... parts) {
    const std::array<Piece, sizeof...(Parts)> pieces{piece_of(parts)...};
    write(pieces.data(), pieces.size());
}

}  // namespace console
