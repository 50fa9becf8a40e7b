// One CSV cell's value: carriage returns, missing cells, the rounding mode and the overflow error, once each.

#include "csv/cell_value.hpp"

#include <algorithm>
#include <cfenv>
#include <cstring>
#include <iterator>
#include <limits>
#include <stdexcept>

#include "machine_words.hpp"
#include "number/decimal.hpp"
#include "number/read_number.hpp"

namespace csv {

namespace {

using words::kWordSize;

bool is_missing(std::string_view text) {
    return text.empty() || (text.size() == 3 && (text == "nan" || text == "NaN"));
}

// Whether `cell` holds a carriage return; a word at a time, the last word
// overlapping the one before, and without a call for up to 64 bytes.
bool has_carriage_return(std::string_view cell) {
    constexpr std::size_t kMaxWords = 8;
    const std::size_t size = cell.size();
    if (size - 1 < kWordSize) {
        return words::has_byte(words::load_short(cell), '\r');
    }
    if (size - 1 >= kMaxWords * kWordSize) {
        return size != 0 && std::memchr(cell.data(), '\r', size) != nullptr;
    }
    bool crs_found = words::has_byte(words::load_8(&cell[size - kWordSize]), '\r');
    for (std::size_t offset = 0; offset + kWordSize < size; offset += kWordSize) {
        crs_found |= words::has_byte(words::load_8(&cell[offset]), '\r');
    }
    return crs_found;
}

// A cell that no number can start: a label, a quoted date. It is refused
// before its carriage returns are looked for. A carriage return can start a
// number (as white space), so a first byte that cannot is the text's first
// byte too. A letter that can is followed by "nf" or "an" in the text; the
// cell's next two bytes tell, unless one of them is a carriage return.
bool cannot_start_number(std::string_view cell) {
    if (cell.empty()) {
        return false;
    }
    if (!number::can_start_number(cell[0])) {
        return true;
    }
    const std::string_view head = cell.substr(0, 3);
    return !number::can_start_number(head) && std::none_of(head.begin(), head.end(), [](char c) { return c == '\r'; });
}

}  // namespace

std::string_view without_carriage_returns(std::string_view cell, std::string& scratch) {
    if (!has_carriage_return(cell)) {
        return cell;
    }
    scratch.clear();
    std::remove_copy(cell.begin(), cell.end(), std::back_inserter(scratch), '\r');
    return scratch;
}

bool parse_cell_text(std::string_view cell, number::Rounding rounding, std::string& scratch, double& value) {
    if (cannot_start_number(cell)) {
        return false;
    }
    const std::string_view text = without_carriage_returns(cell, scratch);
    if (is_missing(text)) {
        value = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    const number::Outcome outcome = number::read_number(text, rounding, scratch, value);
    if (outcome == number::Outcome::overflow) {
        throw std::out_of_range("stod");
    }
    return outcome == number::Outcome::value;
}

CellConverter::CellConverter(const OnUnreadableCell& on_unreadable_cell)
    : on_unreadable_cell_(on_unreadable_cell), rounds_to_nearest_(std::fegetround() == FE_TONEAREST) {}

double CellConverter::unreadable(std::string_view cell) {
    on_unreadable_cell_(without_carriage_returns(cell, cell_text_));
    return std::numeric_limits<double>::quiet_NaN();
}

}  // namespace csv
