#include "cell_parse.hpp"

#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

#include <locale.h>

namespace csv {

namespace {

bool is_missing(std::string_view cell) { return cell.empty() || cell == "nan" || cell == "NaN"; }

bool has_nonzero_digit_before_exponent(std::string_view text) {
    for (const char c : text) {
        if (c == 'e' || c == 'E') {
            return false;
        }
        if (c >= '1' && c <= '9') {
            return true;
        }
    }
    return false;
}

// Plain decimal text ("-12.5e3"), read with std::from_chars, which is
// correctly rounded like strtod. Returns nullopt wherever the two could
// differ or strtod could report a range error: signs other than a leading
// minus, white space, hexadecimal, infinities and NaNs, trailing text, and
// results that are zero from nonzero digits, not above DBL_MIN, or out of range.
std::optional<double> parse_plain_decimal(std::string_view text) {
    std::size_t digits_start = text[0] == '-' ? 1 : 0;
    if (digits_start >= text.size()) {
        return std::nullopt;
    }
    const char first = text[digits_start];
    if (!((first >= '0' && first <= '9') || first == '.')) {
        return std::nullopt;
    }
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    if (value == 0.0) {
        if (has_nonzero_digit_before_exponent(text)) {
            return std::nullopt;
        }
        return value;
    }
    // glibc reports a range error for results that are tiny before rounding,
    // which includes texts just below DBL_MIN that round up to it.
    if (!(std::fabs(value) > DBL_MIN && std::fabs(value) <= DBL_MAX)) {
        return std::nullopt;
    }
    return value;
}

// std::stod's reading of the text, with '.' as the decimal point whatever the
// process locale, like the plain decimal path: a cell must not change its
// value because the program set a locale with a decimal comma.
std::optional<double> parse_with_strtod(std::string_view text, std::string& scratch) {
    scratch.assign(text.data(), text.size());
    const char* begin = scratch.c_str();
    char* end = nullptr;
    const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    if (c_locale == static_cast<locale_t>(0)) {
        throw std::bad_alloc();
    }
    const int saved_errno = errno;
    errno = 0;
    const double value = ::strtod_l(begin, &end, c_locale);
    const bool out_of_range = errno == ERANGE;
    errno = saved_errno;
    ::freelocale(c_locale);
    if (end == begin) {
        return std::nullopt;
    }
    if (out_of_range) {
        throw std::out_of_range("stod");
    }
    return value;
}

}  // namespace

std::optional<double> parse_cell(std::string_view cell, std::string& scratch) {
    if (is_missing(cell)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (const auto value = parse_plain_decimal(cell)) {
        return value;
    }
    return parse_with_strtod(cell, scratch);
}

}  // namespace csv
