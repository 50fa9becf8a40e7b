#pragma once

// One CSV cell's value: the cell's rules (carriage returns, missing cells,
// the rounding mode, overflow as an error) over the number layer's reading of
// its text.

#include <string>
#include <string_view>

#include "csv/callbacks.hpp"
#include "machine_words.hpp"
#include "number/long_decimal.hpp"
#include "number/read_number.hpp"
#include "number/short_decimal.hpp"
#include "target_features.hpp"

namespace csv {

// The cell's rules in order: carriage returns out, a missing cell is NaN,
// the number layer reads the rest, rounded as `rounding` says, and an
// overflow is the one error. parse_cell ends here for every cell that its
// paths of plain decimals do not decide. In a rounding mode other than to
// nearest every cell comes here, with Rounding::current_mode: the C library
// reads each number, rounding in that mode, and under a mode towards zero a
// result beyond the largest double (given as the largest double) is an
// overflow too.
bool parse_cell_text(std::string_view cell, number::Rounding rounding, std::string& scratch, double& value);

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
    return decided || parse_cell_text(cell, number::Rounding::to_nearest, scratch, value);
}

// `cell` without its carriage returns: `cell` itself when it holds none, else
// a copy in `scratch`, valid until `scratch` changes. `cell` must not point
// into `scratch`.
std::string_view without_carriage_returns(std::string_view cell, std::string& scratch);

// Converts the cells of one load, calling back for those without a number.
// The rounding mode is read once, when the converter is made: parse_cell
// rounds to nearest, so in any other mode every cell goes to the C library,
// which rounds in the current mode.
class CellConverter {
public:
    explicit CellConverter(const OnUnreadableCell& on_unreadable_cell);

    // The value of `cell`, which holds a carriage return when `has_cr`: as
    // parse_cell gives it, or NaN after on_unreadable_cell with the cell's
    // text without carriage returns. Carriage returns at the end of a cell
    // (CR LF line ends) are dropped here, which keeps the cell on
    // parse_cell's fast path; parse_cell removes any others itself.
    double operator()(std::string_view cell, bool has_cr) {
        if (has_cr) {
            cell = cell.substr(0, cell.find_last_not_of('\r') + 1);
        }
        double value;
        const bool converted = ORVANTIS_LIKELY(rounds_to_nearest_)
                                   ? parse_cell(cell, scratch_, value)
                                   : parse_cell_text(cell, number::Rounding::current_mode, scratch_, value);
        return converted ? value : unreadable(cell);
    }

private:
    // NaN, after the callback for `cell`.
    double unreadable(std::string_view cell);

    const OnUnreadableCell& on_unreadable_cell_;
    std::string cell_text_;  // the text of an unreadable cell without its carriage returns
    std::string scratch_;    // parse_cell's
    // A bool rather than a number::Rounding: the row loop tested the enum
    // with one instruction more per cell.
    bool rounds_to_nearest_;
};

}  // namespace csv
