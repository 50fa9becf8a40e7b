// A decimal's nearest double by exact methods: Clinger's fast path, Eisel-Lemire, the bounds of a long decimal.

#include <cmath>
#include <cstdint>
#include <optional>

#include "number/decimal.hpp"
#include "number/double_bits.hpp"
#include "number/eisel_lemire.hpp"
#include "number/powers_of_five.hpp"

namespace number {

namespace {

// Few digits and a small power of ten: both factors are exact doubles, so one
// IEEE operation rounds the exact product or quotient correctly (Clinger,
// "How to Read Floating Point Numbers Accurately", 1990).

constexpr std::size_t kMaxExactDigits = 15;
constexpr int kMaxExactPowerOfTen = 22;
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

bool is_exact_product(const Decimal& decimal) {
    return decimal.digit_count <= kMaxExactDigits && decimal.exponent >= -kMaxExactPowerOfTen &&
           decimal.exponent <= kMaxExactPowerOfTen;
}

double exact_product(const Decimal& decimal) {
    const double digits = static_cast<double>(decimal.digits);
    const double magnitude = decimal.exponent < 0 ? digits / kExactPowersOfTen[-decimal.exponent]
                                                  : digits * kExactPowersOfTen[decimal.exponent];
    return with_sign(magnitude, decimal.negative);
}

// The product rounding of Eisel-Lemire: round_product for a Decimal's own
// value, round_between for a truncated one. Either sets a value and returns
// true, or leaves the rounding open.
using ProductRounding = bool (*)(std::uint64_t digits, int exponent10, bool negative, double& value);

// A Decimal's value by `Round`, which takes the powers of ten within the
// table; beyond them the value is a signed zero or infinity. nullopt when the
// rounding is left open. A template argument, so that `Round` is inlined.
template <ProductRounding Round>
std::optional<double> rounded_product(const Decimal& decimal) {
    if (decimal.digits == 0 || decimal.exponent < kMinPowerOfTen) {
        return signed_zero(decimal.negative);
    }
    if (decimal.exponent > kMaxPowerOfTen) {
        return signed_infinity(decimal.negative);
    }
    double value;
    if (!Round(decimal.digits, static_cast<int>(decimal.exponent), decimal.negative, value)) {
        return std::nullopt;
    }
    return value;
}

// digits · 10^exponent when it is an integer times a power of two: with
// exponent = -n, 5^n divides the digits (possible for n <= 27 only), and the
// value is (digits / 5^n) · 2^-n. The integer's conversion rounds correctly and
// the scaling is exact. The 192-bit product cannot round these values: the
// truncated power of five puts them just below a rounding boundary.
std::optional<double> dyadic_value(const Decimal& decimal) {
    constexpr int kMaxPowerOfFiveBelow2To64 = 27;
    if (decimal.exponent >= 0 || decimal.exponent < -kMaxPowerOfFiveBelow2To64) {
        return std::nullopt;
    }
    std::uint64_t power_of_five = 1;
    for (std::int64_t i = decimal.exponent; i < 0; ++i) {
        power_of_five *= 5;
    }
    if (decimal.digits % power_of_five != 0) {
        return std::nullopt;
    }
    const double magnitude =
        // NOLINTNEXTLINE(bugprone-integer-division): exact, the digits are a multiple of the power of five
        std::ldexp(static_cast<double>(decimal.digits / power_of_five), static_cast<int>(decimal.exponent));
    return with_sign(magnitude, decimal.negative);
}

}  // namespace

// The exact methods in turn: a long decimal by its bounds, then Clinger's
// product, Eisel-Lemire, and the dyadic values that Eisel-Lemire leaves open.
std::optional<double> decimal_value(const Decimal& decimal) {
    if (decimal.truncated) {
        // Its value lies strictly between digits · 10^exponent and
        // (digits + 1) · 10^exponent, which round_between rounds when no
        // halfway point between doubles lies there too.
        return rounded_product<round_between>(decimal);
    }
    if (is_exact_product(decimal)) {
        return exact_product(decimal);
    }
    if (const std::optional<double> value = rounded_product<round_product<false>>(decimal)) {
        return value;
    }
    return dyadic_value(decimal);
}

}  // namespace number
