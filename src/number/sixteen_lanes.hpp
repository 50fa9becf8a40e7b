#pragma once

// Sixteen digit values at once: SSE2 registers where the target has them, a
// pair of 64-bit words (SWAR) elsewhere. Both give the same results.

#include <array>
#include <cstddef>
#include <cstdint>

#include "machine_words.hpp"
#include "number/word_digits.hpp"
#include "target_features.hpp"

namespace number {

#if defined(ORVANTIS_SSE2)

// Byte i of the 16 is lane i, the byte at the lowest address lane 0.
using SixteenValues = __m128i;

// The 16 bytes at `text` as digit values, each XOR '0'.
inline SixteenValues load_16_values(const char* text) {
    return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text)), _mm_set1_epi8('0'));
}

// `low` in lanes 0..7, `high` in lanes 8..15.
inline SixteenValues join_words(std::uint64_t low, std::uint64_t high) {
    return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
}

// Bit i set when lane i is at most 9.
inline unsigned digit_lanes(SixteenValues values) {
    const __m128i above_nine = _mm_subs_epu8(values, _mm_set1_epi8(9));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(above_nine, _mm_setzero_si128())));
}

inline bool all_digits(SixteenValues values) { return digit_lanes(values) == 0xFFFF; }

// The first lane above 9, or 16 when every lane is a digit.
inline std::size_t first_non_digit_lane(SixteenValues values) {
    return static_cast<std::size_t>(__builtin_ctz(~digit_lanes(values)));
}

// `values` with the lanes set in `up_to_point` (the point's lane included)
// moved up one lane over the point; a zero digit comes in at lane 0. As
// without_point, over 16 lanes.
inline SixteenValues without_point(SixteenValues values, const std::array<std::uint64_t, 2>& up_to_point) {
    const __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(up_to_point.data()));
    return _mm_xor_si128(values, _mm_and_si128(_mm_xor_si128(values, _mm_slli_si128(values, 1)), mask));
}

// `values` moved down one lane: lane 0 is dropped, a zero digit comes in at 15.
inline SixteenValues without_first_lane(SixteenValues values) { return _mm_srli_si128(values, 1); }

// The numbers written by lanes 0..7 and by lanes 8..15 (digit values, the most
// significant first), in the low and the high 32 bits. The steps are
// eight_digits_value's: byte pairs (10 · d0 + d1, by a 16-bit multiplication
// whose spill into the upper byte, 10 · d1 · 256, is masked off), then 16-bit
// pairs by 100 and 1, 32-bit pairs by 10^4 and 1.
inline std::uint64_t two_eight_digit_numbers(SixteenValues digits) {
    const __m128i tens = _mm_add_epi16(_mm_mullo_epi16(digits, _mm_set1_epi16(10)), _mm_srli_epi16(digits, 8));
    const __m128i pairs = _mm_and_si128(tens, _mm_set1_epi16(0xFF));
    const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(100 | 1 << 16));
    const __m128i eights = _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32(10000 | 1 << 16));
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(eights));
}

#else

// Lanes 0..7 in `low`, 8..15 in `high`, each the byte at the lower address
// the lower one (the little-endian order of machine_words.hpp).
struct SixteenValues {
    std::uint64_t low;
    std::uint64_t high;
};

inline SixteenValues load_16_values(const char* text) {
    return {words::load_8(text) ^ kZeroDigits, words::load_8(text + words::kWordSize) ^ kZeroDigits};
}

inline SixteenValues join_words(std::uint64_t low, std::uint64_t high) { return {low, high}; }

inline bool all_digits(SixteenValues values) {
    return (non_digit_bytes(values.low) | non_digit_bytes(values.high)) == 0;
}

// The lowest flag of non_digit_bytes is always a non-digit, so its place is exact.
inline std::size_t first_non_digit_lane(SixteenValues values) {
    if (const std::uint64_t low_others = non_digit_bytes(values.low)) {
        return static_cast<std::size_t>(__builtin_ctzll(low_others)) / 8;
    }
    const std::uint64_t high_others = non_digit_bytes(values.high);
    return high_others != 0 ? words::kWordSize + static_cast<std::size_t>(__builtin_ctzll(high_others)) / 8
                            : 2 * words::kWordSize;
}

inline SixteenValues without_point(SixteenValues values, const std::array<std::uint64_t, 2>& up_to_point) {
    const std::uint64_t low_moved = values.low << 8;
    const std::uint64_t high_moved = values.high << 8 | values.low >> 56;
    return {values.low ^ ((values.low ^ low_moved) & up_to_point[0]),
            values.high ^ ((values.high ^ high_moved) & up_to_point[1])};
}

inline SixteenValues without_first_lane(SixteenValues values) {
    return {values.low >> 8 | values.high << 56, values.high >> 8};
}

inline std::uint64_t two_eight_digit_numbers(SixteenValues digits) {
    return eight_digits_value(digits.low) | eight_digits_value(digits.high) << 32;
}

#endif

}  // namespace number
