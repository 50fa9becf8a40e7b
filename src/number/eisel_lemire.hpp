#pragma once

// Rounding digits · 10^q to the nearest double from a 192-bit product with a
// truncated power of five, as Eisel and Lemire's algorithm (Lemire, "Number
// Parsing at a Gigabyte per Second", 2021) does, and knowing when it cannot.

#include <algorithm>
#include <cstdint>

#include "number/double_bits.hpp"
#include "number/powers_of_five.hpp"
#include "target_features.hpp"

namespace number {

// The 192-bit product of a 64-bit and a 128-bit number, in three words.
struct Product192 {
    std::uint64_t top;     // bits 128..191
    std::uint64_t middle;  // bits 64..127
    std::uint64_t bottom;  // bits 0..63
};

inline Product192 multiply(std::uint64_t factor, const PowerOfFive& power) {
    const uint128 low = uint128{factor} * power.low;
    const uint128 upper = uint128{factor} * power.high + (low >> 64);
    return {static_cast<std::uint64_t>(upper >> 64), static_cast<std::uint64_t>(upper),
            static_cast<std::uint64_t>(low)};
}

// The product with the power's high half only: the rest, factor · low, is
// left out (`bottom` zero).
inline Product192 multiply_high(std::uint64_t factor, const PowerOfFive& power) {
    const uint128 upper = uint128{factor} * power.high;
    return {static_cast<std::uint64_t>(upper >> 64), static_cast<std::uint64_t>(upper), 0};
}

// digits · 10^exponent10 as X · 2^scale, for digits != 0 and exponent10
// within the table: `x` is the 192-bit product of the digits shifted to a top
// bit of 2^63 and the truncated power of five (KnownNormal: with its high half
// only), so the value's leading bit is bit 190 or 191 of X, at `leading`.
struct ScaledProduct {
    Product192 x;
    int scale;
    int leading;
    const PowerOfFive& power;
};

template <bool KnownNormal>
ORVANTIS_ALWAYS_INLINE ScaledProduct scale_product(std::uint64_t digits, int exponent10) {
    const PowerOfFive& power = kPowersOfFive[exponent10 - kMinPowerOfTen];
    const int shift = __builtin_clzll(digits);
    const Product192 x = KnownNormal ? multiply_high(digits << shift, power) : multiply(digits << shift, power);
    const int scale = power.exponent + exponent10 - shift;
    return {x, scale, 190 + static_cast<int>(x.top >> 63) + scale, power};
}

// The double whose significand, leading bit included, is `significand`, for
// a leading bit at `leading` (or subnormal below kMinNormalExponent). A
// normal significand's leading bit adds one to the exponent field, hence the
// bias of 1022; a carry out of rounding moves on into it the same way, up to
// infinity.
template <bool KnownNormal>
ORVANTIS_ALWAYS_INLINE double from_significand(std::uint64_t significand, int leading, bool negative) {
    const std::uint64_t biased_exponent =
        KnownNormal || leading >= kMinNormalExponent ? leading - kMinNormalExponent : 0;
    return with_sign(from_bits((biased_exponent << kMantissaBits) + significand), negative);
}

// Sets `value` to digits · 10^exponent10 correctly rounded to nearest-even,
// for digits != 0 and exponent10 within the table: infinity on overflow.
// False when the truncated power of five leaves the rounding open.
//
// With w = digits shifted to a top bit of 2^63 and T the 128-bit table entry,
// X = w · 5^q lies in [P, P + 2^64) for the exact 192-bit product P = w · T,
// since T is at most one unit below the true value and w < 2^64. Adding less
// than 2^64 to P changes its bits from the rounding bit up only when the bits
// between bit 64 and the rounding bit are all ones: exactly then we give up.
// Otherwise the rounding bit and everything above is that of X, and the rest
// of X is nonzero unless T is exact and P's rest is zero.
//
// KnownNormal, for exponent10 <= 0 and a normal double as the result: no
// tests for overflow and underflow, and only w · T_high computed, one
// multiplication instead of two. With A the top 64 bits of w · T_high · 2^64, the left-out w · T_low
// adds less than 2^128 to P, so X's top 64 bits are A or A + 1; these differ
// from the rounding bit up only when the bits below it in A are all ones, and
// then we give up. If X's bits below the rounding bit are all zero, A, from a
// product below X, is X's top minus one, with those bits all ones: so when we
// do not give up, X's rest is nonzero, as `sticky` says for an inexact T. For
// exponent10 <= 0, T is exact only for 5^0, whose low half is zero: then
// w · T_high · 2^64 is X itself.
// Always inlined: the usual long decimals come here, and a call would save
// and restore registers on each of them.
template <bool KnownNormal>
ORVANTIS_ALWAYS_INLINE bool round_product(std::uint64_t digits, int exponent10, bool negative, double& value) {
    const ScaledProduct scaled = scale_product<KnownNormal>(digits, exponent10);
    // Copied out: read through `scaled`, GCC's code for the longer decimals came out slower.
    const Product192 product = scaled.x;
    const int scale = scaled.scale;
    const int leading = scaled.leading;
    if (!KnownNormal && leading > kMaxExponent) {
        value = signed_infinity(negative);
        return true;
    }
    const int last_kept =
        KnownNormal ? leading - kMantissaBits : std::max(leading - kMantissaBits, kMinSubnormalExponent);
    const int rounding_bit = last_kept - 1 - scale - 128;  // in `top`, at least 9
    if (!KnownNormal && rounding_bit >= 64) {
        value = signed_zero(negative);  // below half the smallest subnormal
        return true;
    }
    const std::uint64_t below_mask = (std::uint64_t{1} << rounding_bit) - 1;
    const std::uint64_t below = product.top & below_mask;
    if (below == below_mask && (KnownNormal || product.middle == ~std::uint64_t{0})) {
        return false;
    }
    const std::uint64_t with_rounding_bit = product.top >> rounding_bit;
    const bool sticky = !scaled.power.exact || below != 0 || product.middle != 0 || product.bottom != 0;
    const bool round_up = (with_rounding_bit & 1) != 0 && (sticky || (with_rounding_bit & 2) != 0);
    value = from_significand<KnownNormal>((with_rounding_bit >> 1) + round_up, leading, negative);
    return true;
}

// Sets `value` to the nearest double of every value strictly between
// digits · 10^exponent10 and (digits + 1) · 10^exponent10, for digits of 19
// significant digits (at least 10^18) and exponent10 within the table: the
// value of a longer decimal whose first 19 digits these are. False when that
// interval may hold a halfway point between two doubles, where the digits
// after the 19th decide, and for results near the smallest subnormal.
//
// With w, T, P and X as for round_product, X lies in [P, P + 2^64). One more
// unit in the digits adds 2^shift to w, so the interval's upper end is X plus
// 2^shift times 5^q's exact scaled value, which is below 2^128: every value V
// in it lies in (P, P + (2^shift + 1) · 2^128), within that many units of P's
// top word. Below the halfway point by more than that, P's bits from the
// rounding bit down say that V rounds down; above it, that V rounds up, also
// when V's bits carry into the significand or the next binade, as P's
// rounding does. Digits of at least 10^18 have a shift of at most 4, so the
// margin is at most 17 units, far below the halfway point's 2^9 or more.
inline bool round_between(std::uint64_t digits, int exponent10, bool negative, double& value) {
    const std::uint64_t margin = (std::uint64_t{1} << __builtin_clzll(digits)) + 1;
    const ScaledProduct scaled = scale_product<false>(digits, exponent10);
    if (scaled.leading > kMaxExponent) {
        value = signed_infinity(negative);
        return true;
    }
    const int last_kept = std::max(scaled.leading - kMantissaBits, kMinSubnormalExponent);
    const int rounding_bit = last_kept - 1 - scaled.scale - 128;  // in `top`, at least 9
    if (rounding_bit >= 63) {
        return false;
    }
    const std::uint64_t halfway = std::uint64_t{1} << rounding_bit;
    const std::uint64_t from_rounding_bit = scaled.x.top & (2 * halfway - 1);
    if (from_rounding_bit - (halfway - margin) <= margin) {
        return false;
    }
    const std::uint64_t significand = (scaled.x.top >> (rounding_bit + 1)) + (from_rounding_bit > halfway);
    value = from_significand<false>(significand, scaled.leading, negative);
    return true;
}

}  // namespace number
