#pragma once

// One CSV cell's value: the cell's rules (missing cells, carriage returns,
// overflow as an error) over the number layer's reading of its text.

#include <string>
#include <string_view>

#include "machine_words.hpp"
#include "number/long_decimal.hpp"
#include "number/short_decimal.hpp"

namespace csv {

// parse_cell for every cell that the paths of plain decimals do not decide: the cell's
// rules in order (carriage returns out, a missing cell is NaN, the number
// layer reads the rest, an overflow is the one error).
bool parse_cell_text(std::string_view cell, std::string& scratch, double& value);

// Sets `value` to the value of one cell, exactly as the C library's strtod
// gives it in the "C" locale (whatever the process locale) and the default
// rounding mode, to nearest, for the cell's text with every carriage return
// removed, up to its first NUL byte: text after the number is ignored. An
// empty cell and the texts "nan" and "NaN" (after removing carriage returns)
// are the quiet NaN without conversion. Returns false, leaving `value` as it
// was, when no number can be read.
// A result too small for a normal double is a value like any other: the
// correctly rounded subnormal or signed zero. Only a result too large for a
// double throws std::out_of_range("stod").
// `scratch` is reused storage for the texts that need the C library; `cell`
// must not point into it.
// An out-parameter rather than std::optional<double>: GCC returns the optional
// through a byte store and a word load, a store-forwarding stall on every cell.
// Inline, so that the loop over a file's cells converts the cells of 1 to 8
// bytes without a call and reaches the paths of longer plain decimals in one;
// only what those do not decide goes on to parse_cell_text.
inline bool parse_cell(std::string_view cell, std::string& scratch, double& value) {
    const bool decided = cell.size() - 1 < words::kWordSize ? number::read_short_decimal(cell, value)
                                                            : number::read_long_decimal(cell, value);
    return decided || parse_cell_text(cell, scratch, value);
}

// parse_cell with every number read by strtod_l in the "C" locale, so that
// the value is rounded in the current floating-point rounding mode, as the C
// library rounds it; parse_cell rounds to nearest. The same missing cells,
// carriage return removal and overflow error as parse_cell; a result too
// large for a double is the largest double under a rounding mode towards
// zero, an overflow too.
bool parse_cell_by_c_library(std::string_view cell, std::string& scratch, double& value);

// `cell` without its carriage returns: `cell` itself when it holds none, else
// a copy in `scratch`, valid until `scratch` changes. `cell` must not point
// into `scratch`.
std::string_view without_carriage_returns(std::string_view cell, std::string& scratch);

}  // namespace csv
