// Plain decimals of 9 to 24 bytes, read a machine word at a time.

#include "number/long_decimal.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "number/decimal.hpp"
#include "number/double_bits.hpp"
#include "number/eisel_lemire.hpp"
#include "number/powers_of_five.hpp"
#include "number/sixteen_lanes.hpp"
#include "number/word_digits.hpp"
#include "target_features.hpp"

namespace number {

namespace {

using words::kWordSize;
using words::load_8;

// Doubles hold every integer up to 2^53 exactly.
constexpr std::uint64_t kMaxExactInteger = std::uint64_t{1} << 53;

// Where the point of a text of 9 to 24 bytes sits among its words: the first
// word holds the text's first 1 to 8 bytes (moved to its top), the second and
// the third the next 8 each. The point is cut out of the word that holds it;
// when that is not the first word, the words after the first hold one digit
// fewer, so the first is worth 10^7 times the second rather than 10^8.
struct PointPlace {
    std::uint64_t first_up_to_point = 0;
    std::array<std::uint64_t, 2> later_up_to_point{};  // in the second and the third word
    std::uint64_t first_scale = 0;
};

// Indexed by the point's byte in the words (0..23; 8 and up are in the
// second word, 16 and up in the third), or kNoPoint.
constexpr std::size_t kNoPoint = 3 * kWordSize;
constexpr std::array<PointPlace, kNoPoint + 1> kPointPlaces = [] {
    std::array<PointPlace, kNoPoint + 1> places{};
    for (std::size_t i = 0; i < kNoPoint; ++i) {
        const std::uint64_t up_to_byte = ~std::uint64_t{0} >> 8 * (kWordSize - 1 - i % kWordSize);
        const std::size_t word = i / kWordSize;
        places[i].first_up_to_point = word == 0 ? up_to_byte : 0;
        if (word == 1) {
            places[i].later_up_to_point[0] = up_to_byte;
        }
        if (word == 2) {
            places[i].later_up_to_point = {~std::uint64_t{0}, up_to_byte};
        }
        places[i].first_scale = word == 0 ? kPowersOfTen[8] : kPowersOfTen[7];
    }
    places[kNoPoint].first_scale = kPowersOfTen[8];
    return places;
}();

std::uint64_t low_number(std::uint64_t numbers) { return numbers & 0xFFFFFFFF; }
std::uint64_t high_number(std::uint64_t numbers) { return numbers >> 32; }

// The digits of a text of 9 to 16 bytes: `first`, the digit values of its
// first bytes as below, and the 8 bytes at `second`; false if a byte is not a
// digit. Both words are converted at once, in sixteen lanes.
bool read_two_words(std::uint64_t first, const char* second, const PointPlace& place, std::uint64_t& digits) {
    const std::uint64_t second_values = without_point(load_8(second) ^ kZeroDigits, place.later_up_to_point[0]);
    const SixteenValues values = join_words(first, second_values);
    const std::uint64_t numbers = two_eight_digit_numbers(values);
    digits = low_number(numbers) * place.first_scale + high_number(numbers);
    return all_digits(values);
}

// The same for a text of 17 to 24 bytes, whose last 16 bytes are at `rest`
// and are converted at once; false also for more than 19 digits. `first`
// is converted on its own: with the other two, in a third lane group, it
// took more instructions.
bool read_three_words(std::uint64_t first, const char* rest, const PointPlace& place, std::uint64_t& digits) {
    const std::uint64_t leading = eight_digits_value(first);
    if (non_digit_bytes(first) != 0 || leading > 999) {
        return false;
    }
    const SixteenValues values = without_point(load_16_values(rest), place.later_up_to_point);
    const std::uint64_t numbers = two_eight_digit_numbers(values);
    digits = (leading * place.first_scale + low_number(numbers)) * kPowersOfTen[8] + high_number(numbers);
    return all_digits(values);
}

// The first byte of a text of 9 to 8 · Words bytes that is not a digit, the
// sign excepted, or 0 (the sign or a digit) if there is none; `head` holds
// the digit values of its first 8 bytes. The rest of the text is looked at
// only when those are all digits: integers, and integer parts of 8 digits or
// more (1767208900.261), which would otherwise take the byte-by-byte path.
template <std::size_t Words>
std::size_t first_non_digit(const char* text, std::size_t size, std::uint64_t head) {
    const std::uint64_t head_others = non_digit_bytes(head);
    if (ORVANTIS_LIKELY(head_others != 0)) {
        return __builtin_ctzll(head_others) / 8;
    }
    if (Words == 2) {
        const std::uint64_t last_others = non_digit_bytes(load_8(text + size - kWordSize) ^ kZeroDigits);
        return last_others != 0 ? size - kWordSize + __builtin_ctzll(last_others) / 8 : 0;
    }
    const std::size_t last_other = first_non_digit_lane(load_16_values(text + size - 2 * kWordSize));
    return last_other < 2 * kWordSize ? size - 2 * kWordSize + last_other : 0;
}

// A text of 9 to 8 · Words bytes (Words 2 or 3), read as Words words that
// end at the text's end, the first of them the text's first bytes moved up.
// False for any other text, more than 19 digits, and what round_product
// leaves open.
template <std::size_t Words>
bool read_words(std::string_view decimal, double& value) {
    const char* text = decimal.data();
    const std::size_t size = decimal.size();
    const std::size_t first_size = size - kWordSize * (Words - 1);
    const std::uint64_t head_bytes = load_8(text);
    const bool negative = starts_negative(head_bytes);
    const std::uint64_t head = unsigned_values(head_bytes, negative);
    const std::size_t point = first_non_digit<Words>(text, size, head);
    const bool has_point = text[point] == '.';
    const PointPlace& place = kPointPlaces[has_point ? point + kWordSize - first_size : kNoPoint];
    const std::uint64_t first = without_point(head << 8 * (kWordSize - first_size), place.first_up_to_point);
    std::uint64_t digits;
    const bool read = Words == 3 ? read_three_words(first, text + first_size, place, digits)
                                 : read_two_words(first, text + first_size, place, digits);
    if (!read) {
        return false;
    }
    const int exponent = has_point ? static_cast<int>(point + 1 - size) : 0;
    if (Words == 2 && digits <= kMaxExactInteger) {
        value = static_cast<double>(static_cast<std::int64_t>(digits)) / kSignedPowersOfTen[negative][-exponent];
        return true;
    }
    if (digits == 0) {
        value = signed_zero(negative);
        return true;
    }
    // Between 10^-23 and 2^64: a normal double.
    return round_product<true>(digits, exponent, negative, value);
}

// Texts of 17 to 24 bytes with the point among their first size - 16 bytes,
// such as 0.18964089720394417: 16 digits after the first word, and the point
// is at one of 8 places, so the power of ten is one of 8.

constexpr std::size_t kMaxPointPlace = kWordSize - 1;
constexpr int kFractionExponent = -static_cast<int>(2 * kWordSize + kMaxPointPlace);

// 5^q's high half for q = kFractionExponent + i, the power's binary exponent
// folded with q and the bias of the exponent field, so that a result's field
// is `bias` + leading bit - normalising shift (see round_product).
struct FractionPower {
    std::uint64_t high = 0;
    std::int64_t bias = 0;
};

constexpr std::array<FractionPower, kMaxPointPlace + 1> kFractionPowers = [] {
    std::array<FractionPower, kMaxPointPlace + 1> powers{};
    for (std::size_t i = 0; i <= kMaxPointPlace; ++i) {
        const int exponent10 = kFractionExponent + static_cast<int>(i);
        const PowerOfFive& power = kPowersOfFive[exponent10 - kMinPowerOfTen];
        powers[i].high = power.high;
        powers[i].bias = power.exponent + exponent10 + 190 - kMinNormalExponent;
    }
    return powers;
}();

// round_product<true> for digits · 10^(kFractionExponent + place), digits
// between 1 and 10^18: the rounding bit is bit 9 or 10 of the product's top
// word, and the power of five is never exact, so the rest below it is never
// zero and it alone says whether to round up. Gives up when bits 0..8 are all
// ones, which covers bits 0..9 too, in fewer instructions than the exact
// test; the few more texts it gives up on take the byte-by-byte path.
bool round_fraction(std::uint64_t digits, std::size_t place, bool negative, double& value) {
    const FractionPower& power = kFractionPowers[place];
    const int shift = __builtin_clzll(digits);
    const std::uint64_t top = static_cast<std::uint64_t>((uint128{digits << shift} * power.high) >> 64);
    if (((top + 1) & 0x1FF) == 0) {
        return false;
    }
    const std::uint64_t leading_bit = top >> 63;
    const std::uint64_t with_rounding_bit = top >> (9 + leading_bit);
    const std::uint64_t significand = (with_rounding_bit + 1) >> 1;
    const auto biased_exponent =
        static_cast<std::uint64_t>(power.bias + static_cast<std::int64_t>(leading_bit) - shift);
    value = with_sign(from_bits((biased_exponent << kMantissaBits) + significand), negative);
    return true;
}

// The digits of a text of 17 to 24 bytes whose point is among its first
// size - 15 bytes, and the place of the point (see kFractionPowers); false
// for any other text. `first` holds the digit values of the text's first
// size - 16 bytes at its top, of which at most two may be nonzero digits;
// the other 16 bytes, at `rest`, are digits but for a point in their first
// byte (0.123456789012345: 1 in 15 random fractions, hence marked
// unlikely). That point is
// cut out and a zero digit comes in at the end, as if the point were the last
// byte of `first`.
bool read_fraction_digits(const char* rest, std::uint64_t first, std::uint64_t& digits, std::size_t& place) {
    const std::uint64_t others = non_digit_bytes(first);
    const std::uint64_t point = others & (0 - others);
    SixteenValues values = load_16_values(rest);
    std::uint64_t leading_digits = first;
    if (ORVANTIS_UNLIKELY(others == 0)) {
        if (rest[0] != '.') {
            return false;
        }
        values = without_first_lane(values);
        place = kMaxPointPlace;
    } else {
        place = static_cast<unsigned>(__builtin_ctzll(point)) / 8;
        const auto point_offset = static_cast<std::ptrdiff_t>(place) - static_cast<std::ptrdiff_t>(kWordSize);
        if (others != point || rest[point_offset] != '.') {
            return false;
        }
        leading_digits = without_point(first, (point << 1) - 1);
    }
    if ((leading_digits << 16) != 0 || !all_digits(values)) {
        return false;
    }
    const std::uint64_t leading = ((leading_digits >> 48) * (1 + (10 << 8)) >> 8) & 0xFF;
    const std::uint64_t numbers = two_eight_digit_numbers(values);
    digits = (leading * kPowersOfTen[8] + low_number(numbers)) * kPowersOfTen[8] + high_number(numbers);
    return true;
}

// read_words<3>, kept out of line: inlined into read_three_word_decimal, its
// registers would be saved and restored on the fraction path too.
ORVANTIS_NOINLINE bool read_three_words_any_point(std::string_view decimal, double& value) {
    return read_words<3>(decimal, value);
}

}  // namespace

// Those that read_fraction_digits does not take go to read_words<3>.
bool read_three_word_decimal(std::string_view decimal, double& value) {
    const char* text = decimal.data();
    const std::size_t first_size = decimal.size() - 2 * kWordSize;
    const std::uint64_t head_bytes = load_8(text);
    const bool negative = starts_negative(head_bytes);
    const std::uint64_t first = unsigned_values(head_bytes, negative) << 8 * (kWordSize - first_size);
    std::uint64_t digits;
    std::size_t place;
    if (!read_fraction_digits(text + first_size, first, digits, place)) {
        // Only text that starts as -?D*(.D*)? can be for the next path.
        return (is_digit(text[0]) || text[0] == '-' || text[0] == '.') && read_three_words_any_point(decimal, value);
    }
    if (digits == 0) {
        value = signed_zero(negative);
        return true;
    }
    return round_fraction(digits, place, negative, value);
}

bool read_two_word_decimal(std::string_view decimal, double& value) { return read_words<2>(decimal, value); }

}  // namespace number
