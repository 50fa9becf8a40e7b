#pragma once

// A decimal number as strtod reads it from text: its digits and power of ten,
// and their value as the nearest double when that can be decided exactly.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace number {

// More significant digits than this do not fit the 64-bit mantissa.
inline constexpr std::size_t kMaxDigits = 19;

inline constexpr std::array<std::uint64_t, kMaxDigits + 1> kPowersOfTen = [] {
    std::array<std::uint64_t, kMaxDigits + 1> powers{};
    std::uint64_t power = 1;
    for (std::uint64_t& entry : powers) {
        entry = power;
        power *= 10;
    }
    return powers;
}();

// digits · 10^exponent, negated when `negative`; with `truncated`, the
// number's first kMaxDigits significant digits, followed by more that are not
// all zeros.
struct Decimal {
    std::uint64_t digits = 0;
    std::size_t digit_count = 0;  // the significant digits in `digits`
    std::int64_t exponent = 0;
    bool negative = false;
    bool truncated = false;
};

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The bytes that can open a number for strtod: white space, a sign, a digit,
// the point, and the first letters of "inf", "infinity" and "nan".
inline constexpr std::array<bool, 256> kNumberStarts = [] {
    std::array<bool, 256> starts{};
    for (const unsigned char c : std::string_view(" \t\n\v\f\r+-.0123456789iInN")) {
        starts[c] = true;
    }
    return starts;
}();

inline bool can_start_number(char c) { return kNumberStarts[static_cast<unsigned char>(c)]; }

// Whether a text that begins with `head` can hold a number, for `head` the
// text's first three bytes, or all of it when shorter: its first byte must be
// one of kNumberStarts, and a letter there must begin "inf" or "nan", in any
// case, as no other run of letters is a number.
inline bool can_start_number(std::string_view head) {
    if (head.empty() || !can_start_number(head[0])) {
        return false;
    }
    const char first = static_cast<char>(head[0] | 0x20);
    if (first != 'i' && first != 'n') {
        return true;
    }
    const std::string_view letters = first == 'i' ? "inf" : "nan";
    return head.size() == letters.size() && (head[1] | 0x20) == letters[1] && (head[2] | 0x20) == letters[2];
}

// What read_decimal found at the start of a text.
enum class NumberForm { decimal, infinity, none, other };

// Reads the number that starts `text` as strtod does: white space, a sign,
// digits with at most one point (at least one digit), an exponent if digits
// follow its 'e'; the bytes after it are ignored. `none` when no number
// starts the text; `other` for the forms left to the C library: hexadecimal,
// NaN, and an exponent beyond a million. `decimal.negative` is set for
// `infinity` too.
NumberForm read_decimal(std::string_view text, Decimal& decimal);

// The value of `decimal` correctly rounded to nearest-even (infinity beyond
// the largest double), or nullopt when the exact methods cannot decide it.
std::optional<double> decimal_value(const Decimal& decimal);

}  // namespace number
