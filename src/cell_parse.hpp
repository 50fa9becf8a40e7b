#pragma once

// Turning one CSV cell's text into a double, without Python.

#include <optional>
#include <string>
#include <string_view>

namespace csv {

// The value of one cell, exactly as std::stod gives it in the "C" locale for
// the cell's text up to its first NUL byte. An empty cell and the texts "nan"
// and "NaN" are the quiet NaN without conversion. Returns nullopt when no
// number can be read.
// Throws std::out_of_range("stod") when the conversion reports a range error.
// `scratch` is reused storage for the texts that need the C library.
std::optional<double> parse_cell(std::string_view cell, std::string& scratch);

}  // namespace csv
