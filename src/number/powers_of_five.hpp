#pragma once

// The leading 128 bits of 5^q for every power of ten a double can need, built
// at compile time from exact integers.

#include <array>
#include <cstdint>

namespace number {

inline constexpr int kMinPowerOfTen = -342;  // 10^19 · 10^-343 is below half the smallest subnormal
inline constexpr int kMaxPowerOfTen = 308;   // 1 · 10^309 is above the largest double

// 5^q ≈ (high · 2^64 + low) · 2^exponent, with the top bit of `high` set; the
// 128 bits are 5^q's leading bits, truncated. `exact` when nothing was cut.
struct PowerOfFive {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    int exponent = 0;
    bool exact = false;
};

// A nonnegative integer below 2^1056, least significant 32 bits first.
struct BigInteger {
    static constexpr int kLimbs = 33;
    std::array<std::uint32_t, kLimbs> limbs{};
};

constexpr void multiply_by_five(BigInteger& number) {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : number.limbs) {
        const std::uint64_t product = std::uint64_t{limb} * 5 + carry;
        limb = static_cast<std::uint32_t>(product);
        carry = product >> 32;
    }
}

// Rounds down, so repeated divisions give floor(number / 5^n).
constexpr void divide_by_five(BigInteger& number) {
    std::uint64_t remainder = 0;
    for (int i = BigInteger::kLimbs - 1; i >= 0; --i) {
        const std::uint64_t dividend = remainder << 32 | number.limbs[i];
        number.limbs[i] = static_cast<std::uint32_t>(dividend / 5);
        remainder = dividend % 5;
    }
}

constexpr int bit_length(const BigInteger& number) {
    for (int i = BigInteger::kLimbs - 1; i >= 0; --i) {
        if (number.limbs[i] != 0) {
            return 32 * i + 32 - __builtin_clz(number.limbs[i]);
        }
    }
    return 0;
}

// Bits [position, position + 32) of `number`; bits below 0 read as zero.
constexpr std::uint32_t bits_at(const BigInteger& number, int position) {
    if (position <= -32) {
        return 0;
    }
    if (position < 0) {
        return number.limbs[0] << -position;
    }
    const int index = position / 32;
    const int offset = position % 32;
    const std::uint32_t low = index < BigInteger::kLimbs ? number.limbs[index] >> offset : 0;
    const std::uint32_t high =
        offset != 0 && index + 1 < BigInteger::kLimbs ? number.limbs[index + 1] << (32 - offset) : 0;
    return low | high;
}

// The leading 128 bits of number · 2^scale.
constexpr PowerOfFive leading_bits(const BigInteger& number, int scale, bool exact_number) {
    const int length = bit_length(number);
    const int start = length - 128;
    const auto bits_64 = [&](int position) {
        return std::uint64_t{bits_at(number, position + 32)} << 32 | bits_at(number, position);
    };
    PowerOfFive power;
    power.high = bits_64(start + 64);
    power.low = bits_64(start);
    power.exponent = start + scale;
    power.exact = exact_number && start <= 0;
    return power;
}

// 5^q for q >= 0 is an integer. For q < 0 the table holds floor(2^1024 / 5^-q)
// (at least 229 bits for q >= -342), scaled by 2^-1024; truncating that to 128
// bits gives floor(2^k / 5^-q) for the matching k, so every entry is the true
// value rounded down by less than one unit of its last bit.
constexpr std::array<PowerOfFive, kMaxPowerOfTen - kMinPowerOfTen + 1> make_powers_of_five() {
    std::array<PowerOfFive, kMaxPowerOfTen - kMinPowerOfTen + 1> table{};
    BigInteger power;
    power.limbs[0] = 1;
    for (int q = 0; q <= kMaxPowerOfTen; ++q) {
        table[q - kMinPowerOfTen] = leading_bits(power, 0, true);
        multiply_by_five(power);
    }
    constexpr int kReciprocalScale = 1024;
    BigInteger reciprocal;
    reciprocal.limbs[kReciprocalScale / 32] = 1;
    for (int q = -1; q >= kMinPowerOfTen; --q) {
        divide_by_five(reciprocal);
        table[q - kMinPowerOfTen] = leading_bits(reciprocal, -kReciprocalScale, false);
    }
    return table;
}

inline constexpr auto kPowersOfFive = make_powers_of_five();

}  // namespace number
