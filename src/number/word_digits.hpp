#pragma once

// Cells read a word at a time: the short cells' whole path, which parse_cell
// inlines into the loop that reads the rows, and the pieces that the longer
// cells' paths in word_cells.cpp share with it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace number::words {

// Decimal digits, eight at a time, in little-endian words: the byte at the
// lowest address is the lowest byte of the word. Bytes are taken as digit
// values, each XOR '0': the digits, and only them, become 0..9.

inline constexpr std::size_t kWordSize = 8;
inline constexpr std::uint64_t kEveryByte = 0x0101010101010101;
inline constexpr std::uint64_t kTopBitOfEveryByte = 0x8080808080808080;
inline constexpr std::uint64_t kZeroDigits = '0' * kEveryByte;
inline constexpr std::uint64_t kMinusValue = '-' ^ '0';
inline constexpr std::uint64_t kPointValues = ('.' ^ '0') * kEveryByte;

// The top bit of each byte of `values` above 9, and maybe of bytes above
// such a byte: adding 0x76 sets the top bit of every byte at 10 or more, and a
// byte at 0x8A or more (already flagged) carries into the next one. So the
// lowest flag is always a non-digit, and no flag means only digits.
inline std::uint64_t non_digit_bytes(std::uint64_t values) {
    return ((values + 0x76 * kEveryByte) | values) & kTopBitOfEveryByte;
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

inline std::uint64_t load_8(const char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

inline std::uint64_t load_4(const char* bytes) {
    std::uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// The 1 to 8 bytes of `text` in a word, zero above them: two overlapping
// 4-byte loads for 4 to 8 bytes, three single bytes for 1 to 3. A branch
// rather than computing both and selecting one: the length of a column's
// cells varies little, so it is well predicted.
inline std::uint64_t load_short(std::string_view text) {
    const std::size_t size = text.size();
    if (size >= 4) {
        return load_4(&text[0]) | load_4(&text[size - 4]) << 8 * (size - 4);
    }
    const auto byte_at = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(text[i])} << 8 * i; };
    return byte_at(0) | byte_at(size / 2) | byte_at(size - 1);
}

// The digit values of `bytes`, the sign's byte made zero.
inline std::uint64_t unsigned_values(std::uint64_t bytes, bool negative) {
    return bytes ^ (negative ? kZeroDigits ^ kMinusValue : kZeroDigits);
}

inline bool starts_negative(std::uint64_t bytes) { return (bytes & 0xFF) == '-'; }

// 10^0..10^15, then their negatives: the powers of ten that doubles hold
// exactly, up to the 15 digits after the point of a 16-byte cell. IEEE
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

// Reads a cell of 1 to 8 bytes of the form -?D*(.D*)? with a digit into
// `value`; false for any other text. The digit values go to the top of a
// word, so that zero digits fill in below; the point's byte is then the lowest
// byte above 9, it must be the only one, and it is cut out. At most 8 digits,
// at most 7 after the point: the quotient of two exact doubles. No branch
// depends on where the point is or whether there is one, which varies from
// column to column. Always inlined: as a call of its own it saved and
// restored registers on every cell.
__attribute__((always_inline)) inline bool read_short_cell(std::string_view cell, double& value) {
    const std::size_t size = cell.size();
    const std::uint64_t bytes = load_short(cell);
    const bool negative = starts_negative(bytes);
    const std::uint64_t values = unsigned_values(bytes, negative) << 8 * (kWordSize - size);
    const std::uint64_t others = non_digit_bytes(values);
    const std::uint64_t point = others & (0 - others);
    const std::uint64_t point_byte = (point >> 7) * 0xFF;
    const bool has_point = point != 0;
    if ((others ^ point) != 0 || ((values ^ kPointValues) & point_byte) != 0) {
        return false;
    }
    // The bytes up to the point; all bytes for a point in the last one, none
    // without a point ((point - 1) >> 63 is 1 for no point only).
    const std::uint64_t up_to_point = (point << 1) - 1 + ((point - 1) >> 63);
    const std::uint64_t digits = without_point(values, up_to_point);
    // Bytes after the point: 7 - i for the point at byte i, picked from byte
    // 7 - i of the multiplier, whose byte k is k; 0 without a point.
    const std::uint64_t fraction_digits = ((point >> 7) * 0x0706050403020100) >> 56;
    const auto digits_value = static_cast<std::int64_t>(eight_digits_value(digits));
    // Only a zero can be a cell without digits ("-", ".", "-."): a rare test.
    if (digits_value == 0 && size == std::size_t{negative} + has_point) {
        return false;
    }
    value = static_cast<double>(digits_value) / kSignedPowersOfTen[negative][fraction_digits];
    return true;
}

}  // namespace number::words
