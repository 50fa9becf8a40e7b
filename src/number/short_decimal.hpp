#pragma once

// Plain decimals of 1 to 8 bytes read in one machine word: the whole path of
// the usual short numbers, always inlined into its caller.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "machine_words.hpp"
#include "number/word_digits.hpp"
#include "target_features.hpp"

namespace number {

// Reads a text of 1 to 8 bytes of the form -?D*(.D*)? with a digit into
// `value`; false for any other text. The digit values go to the top of a
// word, so that zero digits fill in below; the point's byte is then the lowest
// byte above 9, it must be the only one, and it is cut out. At most 8 digits,
// at most 7 after the point: the quotient of two exact doubles. No branch
// depends on where the point is or whether there is one, which varies from
// one series of numbers to another. Always inlined: as a function of its own
// it saved and restored registers on every number it read.
ORVANTIS_ALWAYS_INLINE bool read_short_decimal(std::string_view text, double& value) {
    const std::size_t size = text.size();
    const std::uint64_t bytes = words::load_short(text);
    const bool negative = starts_negative(bytes);
    const std::uint64_t values = unsigned_values(bytes, negative) << 8 * (words::kWordSize - size);
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
    // Only a zero can be a text without digits ("-", ".", "-."): a rare test.
    if (digits_value == 0 && size == std::size_t{negative} + has_point) {
        return false;
    }
    value = static_cast<double>(digits_value) / kSignedPowersOfTen[negative][fraction_digits];
    return true;
}

}  // namespace number
