#pragma once

// Decimal digits eight to a machine word: the pieces that the paths of short
// and long decimals (short_decimal.hpp, long_decimal.cpp) share.

#include <array>
#include <cstddef>
#include <cstdint>

#include "machine_words.hpp"

namespace number {

// Digits in little-endian words (machine_words.hpp): bytes are taken as digit
// values, each XOR '0': the digits, and only them, become 0..9.

inline constexpr std::uint64_t kZeroDigits = '0' * words::kEveryByte;
inline constexpr std::uint64_t kMinusValue = '-' ^ '0';
inline constexpr std::uint64_t kPointValues = ('.' ^ '0') * words::kEveryByte;

// The top bit of each byte of `values` above 9, and maybe of bytes above
// such a byte: adding 0x76 sets the top bit of every byte at 10 or more, and a
// byte at 0x8A or more (already flagged) carries into the next one. So the
// lowest flag is always a non-digit, and no flag means only digits.
inline std::uint64_t non_digit_bytes(std::uint64_t values) {
    return ((values + 0x76 * words::kEveryByte) | values) & words::kTopBitOfEveryByte;
}

// The number written by eight digit values (0..9), the most significant in the
// lowest byte, in three steps that each join neighbouring lanes: bytes into
// two-digit numbers (d0 · 10 + d1 in the lower byte of each byte pair), pairs
// into four-digit numbers (16-bit lanes), and those into the eight-digit one.
// Each multiplication puts lane i · base + lane i + 1 into the upper lane,
// which the shift moves down; no lane overflows into the next (99, 9999 and
// 99999999 fit).
inline std::uint64_t eight_digits_value(std::uint64_t digits) {
    const std::uint64_t pairs = ((digits * (1 + (10 << 8))) >> 8) & 0x00FF00FF00FF00FF;
    const std::uint64_t quads = ((pairs * (1 + (100 << 16))) >> 16) & 0x0000FFFF0000FFFF;
    return (quads * (1 + (std::uint64_t{10000} << 32))) >> 32;
}

// The digit values of `bytes`, the sign's byte made zero.
inline std::uint64_t unsigned_values(std::uint64_t bytes, bool negative) {
    return bytes ^ (negative ? kZeroDigits ^ kMinusValue : kZeroDigits);
}

inline bool starts_negative(std::uint64_t bytes) { return (bytes & 0xFF) == '-'; }

// 10^0..10^15, then their negatives: the powers of ten that doubles hold
// exactly, up to the 15 digits after the point of a 16-byte decimal. IEEE
// division is symmetric in the signs (0 / -1 is -0), so dividing by the
// signed power gives the sign without a step of its own.
inline constexpr std::size_t kSignedPowers = 16;
inline constexpr std::array<std::array<double, kSignedPowers>, 2> kSignedPowersOfTen = [] {
    std::array<std::array<double, kSignedPowers>, 2> powers{};
    double power = 1;
    for (std::size_t i = 0; i < kSignedPowers; ++i) {
        powers[0][i] = power;
        powers[1][i] = -power;
        power *= 10;
    }
    return powers;
}();

// `values` with the bytes up to the point (`up_to_point` set on them, the
// point's byte included) moved up one byte over the point; a zero digit comes
// in at the bottom.
inline std::uint64_t without_point(std::uint64_t values, std::uint64_t up_to_point) {
    return values ^ ((values ^ (values << 8)) & up_to_point);
}

}  // namespace number
