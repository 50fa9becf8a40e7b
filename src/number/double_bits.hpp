#pragma once

// A double's bits: its fields, and values built from them without arithmetic.

#include <cstdint>
#include <cstring>
#include <limits>

namespace number {

__extension__ typedef unsigned __int128 uint128;

inline constexpr int kMantissaBits = 52;  // stored bits of a double's significand
inline constexpr int kMinNormalExponent = -1022;
inline constexpr int kMaxExponent = 1023;
inline constexpr int kMinSubnormalExponent = kMinNormalExponent - kMantissaBits;

inline double from_bits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// `magnitude` with its sign bit set when `negative`: a bit operation, not a
// branch, as signs in data are often random.
inline double with_sign(double magnitude, bool negative) {
    std::uint64_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    bits |= std::uint64_t{negative} << 63;
    std::memcpy(&magnitude, &bits, sizeof bits);
    return magnitude;
}

inline double signed_zero(bool negative) { return with_sign(0.0, negative); }
inline double signed_infinity(bool negative) { return with_sign(std::numeric_limits<double>::infinity(), negative); }

}  // namespace number
