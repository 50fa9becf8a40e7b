// Reading a decimal number's digits and exponent from text, byte by byte, as strtod reads it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "machine_words.hpp"
#include "number/decimal.hpp"
#include "number/word_digits.hpp"

namespace number {

namespace {

using words::kWordSize;

// The white space that strtod skips in the "C" locale.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The byte at `offset`, or NUL past the end: strtod stops at either.
char byte_at(std::string_view text, std::size_t offset) { return offset < text.size() ? text[offset] : '\0'; }

// Beyond this an exponent is left to the C library, so sums stay far from overflow.
constexpr std::int64_t kMaxExponentDigitsValue = 1000000;

// Adds the exponent whose optional sign and digits start at `offset` to
// `decimal.exponent`: nothing when no digit follows, as strtod then leaves
// the 'e' unread. False for an exponent beyond kMaxExponentDigitsValue.
bool add_exponent(std::string_view text, std::size_t offset, Decimal& decimal) {
    const bool negative = byte_at(text, offset) == '-';
    offset += negative || byte_at(text, offset) == '+';
    std::int64_t value = 0;
    for (; is_digit(byte_at(text, offset)); ++offset) {
        value = value * 10 + (text[offset] - '0');
        if (value > kMaxExponentDigitsValue) {
            return false;
        }
    }
    decimal.exponent += negative ? -value : value;
    return true;
}

// The digit values of the 8 bytes at `offset`, or nullopt when `text` ends
// before them or one of them is not a digit.
std::optional<std::uint64_t> eight_digits_at(std::string_view text, std::size_t offset, std::size_t limit) {
    if (limit - offset < kWordSize) {
        return std::nullopt;
    }
    const std::uint64_t values = words::load_8(&text[offset]) ^ kZeroDigits;
    if (non_digit_bytes(values) != 0) {
        return std::nullopt;
    }
    return values;
}

// Adds the digits at `offset`, before or after the point, to `decimal`, and
// returns the offset after them: leading zeros only scale, and digits past
// kMaxDigits significant ones are dropped, noted in `truncated`. Long runs
// go eight digits at a time.
template <bool AfterPoint>
std::size_t add_digits(std::string_view text, std::size_t offset, Decimal& decimal) {
    const std::size_t size = text.size();
    const std::size_t first = offset;
    if (decimal.digits == 0) {
        while (offset < size && text[offset] == '0') {
            ++offset;
        }
    }
    const std::size_t significant = offset;
    const std::size_t kept_limit = std::min(size, offset + kMaxDigits - decimal.digit_count);
    std::uint64_t digits = decimal.digits;
    while (const std::optional<std::uint64_t> eight = eight_digits_at(text, offset, kept_limit)) {
        digits = digits * kPowersOfTen[kWordSize] + eight_digits_value(*eight);
        offset += kWordSize;
    }
    for (; offset < kept_limit && is_digit(text[offset]); ++offset) {
        digits = digits * 10 + static_cast<std::uint64_t>(text[offset] - '0');
    }
    decimal.digits = digits;
    decimal.digit_count += offset - significant;
    const std::size_t kept_end = offset;
    std::uint64_t dropped = 0;
    while (const std::optional<std::uint64_t> eight = eight_digits_at(text, offset, size)) {
        dropped |= *eight;
        offset += kWordSize;
    }
    for (; offset < size && is_digit(text[offset]); ++offset) {
        dropped |= static_cast<std::uint64_t>(text[offset] - '0');
    }
    decimal.truncated |= dropped != 0;
    // A digit after the point, unless dropped, takes a power of ten away; a
    // dropped one before the point adds one.
    decimal.exponent +=
        AfterPoint ? -static_cast<std::int64_t>(kept_end - first) : static_cast<std::int64_t>(offset - kept_end);
    return offset;
}

// `text` at `offset` starts with `letters` (lower case), in upper or lower case.
bool starts_with_letters(std::string_view text, std::size_t offset, std::string_view letters) {
    for (std::size_t i = 0; i < letters.size(); ++i) {
        if ((byte_at(text, offset + i) | 0x20) != letters[i]) {
            return false;
        }
    }
    return true;
}

// The form of a number that starts with neither a digit nor the point at
// `offset`: strtod reads "inf" and "infinity" as infinity and "nan" as a NaN,
// in any case. NaNs and their payloads are left to the C library.
NumberForm inf_nan_form(std::string_view text, std::size_t offset) {
    if (starts_with_letters(text, offset, "inf")) {
        return NumberForm::infinity;
    }
    return starts_with_letters(text, offset, "nan") ? NumberForm::other : NumberForm::none;
}

}  // namespace

NumberForm read_decimal(std::string_view text, Decimal& decimal) {
    std::size_t offset = 0;
    while (is_space(byte_at(text, offset))) {
        ++offset;
    }
    decimal.negative = byte_at(text, offset) == '-';
    offset += decimal.negative || byte_at(text, offset) == '+';
    const std::size_t start = offset;
    const char first = byte_at(text, start);
    if (!is_digit(first) && first != '.') {
        return inf_nan_form(text, start);
    }
    if (first == '0' && (byte_at(text, start + 1) | 0x20) == 'x') {
        return NumberForm::other;  // hexadecimal, or 0 before an 'x'
    }
    offset = add_digits<false>(text, offset, decimal);
    const bool has_point = byte_at(text, offset) == '.';
    if (has_point) {
        offset = add_digits<true>(text, offset + 1, decimal);
    }
    if (offset == start + has_point) {
        return NumberForm::none;  // a point without digits
    }
    if ((byte_at(text, offset) | 0x20) == 'e' && !add_exponent(text, offset + 1, decimal)) {
        return NumberForm::other;
    }
    return NumberForm::decimal;
}

}  // namespace number
