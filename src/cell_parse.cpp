// One CSV cell's text to a double, exactly as strtod reads it.

#include "cell_parse.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>

#include <locale.h>

#include "byte_lanes.hpp"

// A cell is read as strtod reads it in the "C" locale: white space, a sign,
// the number, then any text, which is ignored. A cell whose first byte cannot
// start a number converts to nothing at once. A decimal number is converted
// exactly, by the first of these that applies:
// 1. At most 15 significant digits and a power of ten up to 1e22: one IEEE
//    multiplication or division of two exactly representable numbers, hence
//    correctly rounded.
// 2. At most 19 significant digits: rounded from a 192-bit product with a
//    truncated 128-bit power of five, whose error bound tells when it cannot
//    decide the rounding.
// 3. More digits: the value lies strictly between its first 19 digits and
//    those plus one unit in their last place; when step 2 rounds both to the
//    same double, the value rounds to it too.
// 4. Hexadecimal numbers, infinities, NaNs, and what steps 2 and 3 cannot
//    decide: strtod_l, called once.
// The usual cells, -?D*(.D*)? of up to 24 bytes with the point, if any, among
// the first 8, are read a word at a time, by length: up to 8 bytes (step 1
// always; cell_words.hpp, inlined where parse_cell is called), 9 to 16 (step 1
// or 2) and 17 to 24 (step 2). Any other cell, and what these cannot decide,
// is read byte by byte and takes the steps in turn.

namespace csv {

using namespace words;

namespace {

__extension__ typedef unsigned __int128 uint128;

constexpr double kQuietNaN = std::numeric_limits<double>::quiet_NaN();

bool is_missing(std::string_view cell) {
    return cell.empty() || (cell.size() == 3 && (cell == "nan" || cell == "NaN"));
}

[[noreturn]] void throw_overflow() { throw std::out_of_range("stod"); }

// `magnitude` with its sign bit set when `negative`: a bit operation, not a
// branch, as signs in data are often random.
double with_sign(double magnitude, bool negative) {
    std::uint64_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    bits |= std::uint64_t{negative} << 63;
    std::memcpy(&magnitude, &bits, sizeof bits);
    return magnitude;
}

// ---------------------------------------------------------------------------
// The C library's reading, for every text the exact paths below do not take.

// Created once: the locale stays valid for the life of the process.
locale_t c_locale() {
    static const locale_t locale = [] {
        const locale_t created = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        if (created == static_cast<locale_t>(0)) {
            throw std::bad_alloc();
        }
        return created;
    }();
    return locale;
}

// strtod with '.' as the decimal point whatever the process locale: a cell
// must not change its value because the program set a locale with a decimal
// comma. Sets `value`, or returns false when no number starts `text`.
bool strtod_in_c_locale(const char* text, double& value) {
    char* end = nullptr;
    const int saved_errno = errno;
    errno = 0;
    const double result = ::strtod_l(text, &end, c_locale());
    const bool range_error = errno == ERANGE;
    errno = saved_errno;
    if (end == text) {
        return false;
    }
    // glibc reports an underflow as a range error too, with a result of at
    // most the smallest normal double; only an overflow is one here. It gives
    // infinity, or the largest double when the rounding mode is towards zero.
    if (range_error && std::fabs(result) > 1) {
        throw_overflow();
    }
    value = result;
    return true;
}

// strtod_in_c_locale for `text`, which is all of `scratch` or lies outside
// it, copied with a terminating NUL: a short text to the stack, which saves
// the string's bookkeeping, a longer one to `scratch`.
bool strtod_for_text(std::string_view text, std::string& scratch, double& value) {
    if (text.data() == scratch.data()) {
        return strtod_in_c_locale(scratch.c_str(), value);
    }
    std::array<char, 64> copy{};
    if (text.size() < copy.size()) {
        std::memcpy(copy.data(), text.data(), text.size());
        copy[text.size()] = '\0';
        return strtod_in_c_locale(copy.data(), value);
    }
    scratch.assign(text.data(), text.size());
    return strtod_in_c_locale(scratch.c_str(), value);
}

// More significant digits than this do not fit the 64-bit mantissa.
constexpr std::size_t kMaxDigits = 19;

constexpr std::array<std::uint64_t, kMaxDigits + 1> kPowersOfTen = [] {
    std::array<std::uint64_t, kMaxDigits + 1> powers{};
    std::uint64_t power = 1;
    for (std::uint64_t& entry : powers) {
        entry = power;
        power *= 10;
    }
    return powers;
}();

// ---------------------------------------------------------------------------
// Plain decimal text.

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

// ---------------------------------------------------------------------------
// Any cell, byte by byte, as strtod reads it.

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The white space that strtod skips in the "C" locale.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The bytes that can open a number for strtod: white space, a sign, a digit,
// the point, and the first letters of "inf", "infinity" and "nan".
constexpr std::array<bool, 256> kNumberStarts = [] {
    std::array<bool, 256> starts{};
    for (const unsigned char c : std::string_view(" \t\n\v\f\r+-.0123456789iInN")) {
        starts[c] = true;
    }
    return starts;
}();

bool can_start_number(char c) { return kNumberStarts[static_cast<unsigned char>(c)]; }

// Whether a word holds a carriage return: the XOR makes them its only zero
// bytes, and the subtraction borrows into the top bit of a zero byte.
bool has_carriage_return(std::uint64_t word) {
    const std::uint64_t crs_zero = word ^ ('\r' * kEveryByte);
    return ((crs_zero - kEveryByte) & ~crs_zero & kTopBitOfEveryByte) != 0;
}

// Whether `cell` holds a carriage return; without a call for up to 16 bytes.
bool has_carriage_return(std::string_view cell) {
    const std::size_t size = cell.size();
    if (size - 1 < kWordSize) {
        return has_carriage_return(load_short(cell));
    }
    if (size - 1 < 2 * kWordSize) {
        return has_carriage_return(load_8(&cell[0])) || has_carriage_return(load_8(&cell[size - kWordSize]));
    }
    return size != 0 && std::memchr(cell.data(), '\r', size) != nullptr;
}

// The byte at `offset`, or NUL past the end: strtod stops at either.
char byte_at(std::string_view text, std::size_t offset) { return offset < text.size() ? text[offset] : '\0'; }

// Beyond this an exponent is left to the C library, so sums stay far from overflow.
constexpr std::int64_t kMaxExponentDigitsValue = 1000000;

// Adds the exponent whose optional sign and digits start at `offset` to
// `decimal.exponent`: nothing when no digit follows, as strtod then leaves
// the 'e' unread. False for an exponent beyond kMaxExponentDigitsValue.
bool add_exponent(std::string_view text, std::size_t offset, Decimal& decimal) {
    const bool negative = byte_at(text, offset) == '-';
    offset += negative || byte_at(text, offset) == '+';
    std::int64_t value = 0;
    for (; is_digit(byte_at(text, offset)); ++offset) {
        value = value * 10 + (text[offset] - '0');
        if (value > kMaxExponentDigitsValue) {
            return false;
        }
    }
    decimal.exponent += negative ? -value : value;
    return true;
}

// The digit values of the 8 bytes at `offset`, or nullopt when `text` ends
// before them or one of them is not a digit.
std::optional<std::uint64_t> eight_digits_at(std::string_view text, std::size_t offset, std::size_t limit) {
    if (limit - offset < kWordSize) {
        return std::nullopt;
    }
    const std::uint64_t values = load_8(&text[offset]) ^ kZeroDigits;
    if (non_digit_bytes(values) != 0) {
        return std::nullopt;
    }
    return values;
}

// Adds the digits at `offset`, before or after the point, to `decimal`, and
// returns the offset after them: leading zeros only scale, and digits past
// kMaxDigits significant ones are dropped, noted in `truncated`. Long runs
// go eight digits at a time.
template <bool AfterPoint>
std::size_t add_digits(std::string_view text, std::size_t offset, Decimal& decimal) {
    const std::size_t size = text.size();
    const std::size_t first = offset;
    if (decimal.digits == 0) {
        while (offset < size && text[offset] == '0') {
            ++offset;
        }
    }
    const std::size_t significant = offset;
    const std::size_t kept_limit = std::min(size, offset + kMaxDigits - decimal.digit_count);
    std::uint64_t digits = decimal.digits;
    while (const std::optional<std::uint64_t> eight = eight_digits_at(text, offset, kept_limit)) {
        digits = digits * kPowersOfTen[kWordSize] + eight_digits_value(*eight);
        offset += kWordSize;
    }
    for (; offset < kept_limit && is_digit(text[offset]); ++offset) {
        digits = digits * 10 + static_cast<std::uint64_t>(text[offset] - '0');
    }
    decimal.digits = digits;
    decimal.digit_count += offset - significant;
    const std::size_t kept_end = offset;
    std::uint64_t dropped = 0;
    while (const std::optional<std::uint64_t> eight = eight_digits_at(text, offset, size)) {
        dropped |= *eight;
        offset += kWordSize;
    }
    for (; offset < size && is_digit(text[offset]); ++offset) {
        dropped |= static_cast<std::uint64_t>(text[offset] - '0');
    }
    decimal.truncated |= dropped != 0;
    // A digit after the point, unless dropped, takes a power of ten away; a
    // dropped one before the point adds one.
    decimal.exponent +=
        AfterPoint ? -static_cast<std::int64_t>(kept_end - first) : static_cast<std::int64_t>(offset - kept_end);
    return offset;
}

// `text` at `offset` starts with `word` in upper or lower case letters.
bool starts_with_word(std::string_view text, std::size_t offset, std::string_view word) {
    for (std::size_t i = 0; i < word.size(); ++i) {
        if ((byte_at(text, offset + i) | 0x20) != word[i]) {
            return false;
        }
    }
    return true;
}

// What read_decimal found at the start of a text.
enum class NumberForm { decimal, infinity, none, other };

// The form of a number that starts with neither a digit nor the point at
// `offset`: strtod reads "inf" and "infinity" as infinity and "nan" as a NaN,
// in any case. NaNs and their payloads are left to the C library.
NumberForm word_form(std::string_view text, std::size_t offset) {
    if (starts_with_word(text, offset, "inf")) {
        return NumberForm::infinity;
    }
    return starts_with_word(text, offset, "nan") ? NumberForm::other : NumberForm::none;
}

// Reads the number that starts `text` as strtod does: white space, a sign,
// digits with at most one point (at least one digit), an exponent if digits
// follow its 'e'; the bytes after it are ignored. `none` when no number
// starts the text; `other` for the forms left to the C library: hexadecimal,
// NaN, and an exponent beyond kMaxExponentDigitsValue.
NumberForm read_decimal(std::string_view text, Decimal& decimal) {
    std::size_t offset = 0;
    while (is_space(byte_at(text, offset))) {
        ++offset;
    }
    decimal.negative = byte_at(text, offset) == '-';
    offset += decimal.negative || byte_at(text, offset) == '+';
    const std::size_t start = offset;
    const char first = byte_at(text, start);
    if (!is_digit(first) && first != '.') {
        return word_form(text, start);
    }
    if (first == '0' && (byte_at(text, start + 1) | 0x20) == 'x') {
        return NumberForm::other;  // hexadecimal, or 0 before an 'x'
    }
    offset = add_digits<false>(text, offset, decimal);
    const bool has_point = byte_at(text, offset) == '.';
    if (has_point) {
        offset = add_digits<true>(text, offset + 1, decimal);
    }
    if (offset == start + has_point) {
        return NumberForm::none;  // a point without digits
    }
    if ((byte_at(text, offset) | 0x20) == 'e' && !add_exponent(text, offset + 1, decimal)) {
        return NumberForm::other;
    }
    return NumberForm::decimal;
}

// ---------------------------------------------------------------------------
// Few digits and a small power of ten: both factors are exact doubles, so one
// IEEE operation rounds the exact product or quotient correctly.

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

// ---------------------------------------------------------------------------
// 128-bit powers of five, built at compile time from exact integers.

constexpr int kMinPowerOfTen = -342;  // 10^19 · 10^-343 is below half the smallest subnormal
constexpr int kMaxPowerOfTen = 308;   // 1 · 10^309 is above the largest double

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

constexpr auto kPowersOfFive = make_powers_of_five();

// ---------------------------------------------------------------------------
// Any number of at most 19 digits (Eisel-Lemire).

constexpr int kMantissaBits = 52;  // stored bits of a double's significand
constexpr int kMinNormalExponent = -1022;
constexpr int kMaxExponent = 1023;
constexpr int kMinSubnormalExponent = kMinNormalExponent - kMantissaBits;

double from_bits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double signed_zero(bool negative) { return with_sign(0.0, negative); }
double signed_infinity(bool negative) { return with_sign(std::numeric_limits<double>::infinity(), negative); }

// The 192-bit product of a 64-bit and a 128-bit number, in three words.
struct Product192 {
    std::uint64_t top;     // bits 128..191
    std::uint64_t middle;  // bits 64..127
    std::uint64_t bottom;  // bits 0..63
};

Product192 multiply(std::uint64_t factor, const PowerOfFive& power) {
    const uint128 low = uint128{factor} * power.low;
    const uint128 upper = uint128{factor} * power.high + (low >> 64);
    return {static_cast<std::uint64_t>(upper >> 64), static_cast<std::uint64_t>(upper),
            static_cast<std::uint64_t>(low)};
}

// The product with the power's high half only: the rest, factor · low, is
// left out (`bottom` zero).
Product192 multiply_high(std::uint64_t factor, const PowerOfFive& power) {
    const uint128 upper = uint128{factor} * power.high;
    return {static_cast<std::uint64_t>(upper >> 64), static_cast<std::uint64_t>(upper), 0};
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
// multiplication instead of two (c-shaped cells: 185 -> 161 instructions per
// cell). With A the top 64 bits of w · T_high · 2^64, the left-out w · T_low
// adds less than 2^128 to P, so X's top 64 bits are A or A + 1; these differ
// from the rounding bit up only when the bits below it in A are all ones, and
// then we give up. If X's bits below the rounding bit are all zero, A, from a
// product below X, is X's top minus one, with those bits all ones: so when we
// do not give up, X's rest is nonzero, as `sticky` says for an inexact T. For
// exponent10 <= 0, T is exact only for 5^0, whose low half is zero: then
// w · T_high · 2^64 is X itself.
// Always inlined: the usual long cells come here.
template <bool KnownNormal>
__attribute__((always_inline)) inline bool round_product(std::uint64_t digits, int exponent10, bool negative,
                                                         double& value) {
    const PowerOfFive& power = kPowersOfFive[exponent10 - kMinPowerOfTen];
    const int shift = __builtin_clzll(digits);
    const Product192 product = KnownNormal ? multiply_high(digits << shift, power) : multiply(digits << shift, power);

    // The value is X · 2^scale; its leading bit is bit 190 or 191 of X.
    const int scale = power.exponent + exponent10 - shift;
    const int leading = 190 + static_cast<int>(product.top >> 63) + scale;
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
    const bool sticky = !power.exact || below != 0 || product.middle != 0 || product.bottom != 0;
    const bool round_up = (with_rounding_bit & 1) != 0 && (sticky || (with_rounding_bit & 2) != 0);
    const std::uint64_t significand = (with_rounding_bit >> 1) + round_up;
    // A normal significand's leading bit adds one to the exponent field, hence
    // the bias of 1022; a carry out of rounding moves on into it the same way.
    const std::uint64_t biased_exponent =
        KnownNormal || leading >= kMinNormalExponent ? leading - kMinNormalExponent : 0;
    value = with_sign(from_bits((biased_exponent << kMantissaBits) + significand), negative);
    return true;
}

// Any Decimal's value the same way; nullopt when the rounding is left open.
std::optional<double> nearest_double(const Decimal& decimal) {
    if (decimal.digits == 0 || decimal.exponent < kMinPowerOfTen) {
        return signed_zero(decimal.negative);
    }
    if (decimal.exponent > kMaxPowerOfTen) {
        return signed_infinity(decimal.negative);
    }
    double value;
    if (!round_product<false>(decimal.digits, static_cast<int>(decimal.exponent), decimal.negative, value)) {
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

// A truncated Decimal's value lies strictly between digits · 10^exponent and
// (digits + 1) · 10^exponent. Rounding to nearest never decreases as its
// argument grows, so when both bounds round to the same double, so does the
// value; nullopt when they do not, or when either rounding is left open.
std::optional<double> truncated_value(const Decimal& decimal) {
    Decimal above = decimal;
    ++above.digits;
    const std::optional<double> below_value = nearest_double(decimal);
    const std::optional<double> above_value = nearest_double(above);
    if (below_value && above_value && *below_value == *above_value) {
        return below_value;
    }
    return std::nullopt;
}

std::optional<double> decimal_value(const Decimal& decimal) {
    if (decimal.truncated) {
        return truncated_value(decimal);
    }
    if (is_exact_product(decimal)) {
        return exact_product(decimal);
    }
    if (const std::optional<double> value = nearest_double(decimal)) {
        return value;
    }
    return dyadic_value(decimal);
}

// Every cell but the short plain decimals that the exact paths convert: kept
// out of line, so that those common cells do not pay for its set-up.
__attribute__((noinline)) bool parse_other_cell(std::string_view cell, std::string& scratch, double& value) {
    if (!cell.empty() && !can_start_number(cell[0])) {
        return false;
    }
    const std::string_view text = has_carriage_return(cell) ? without_carriage_returns(cell, scratch) : cell;
    if (is_missing(text)) {
        value = kQuietNaN;
        return true;
    }
    Decimal decimal;
    switch (read_decimal(text, decimal)) {
        case NumberForm::decimal:
            if (const std::optional<double> exact = decimal_value(decimal)) {
                if (std::isinf(*exact)) {
                    throw_overflow();
                }
                value = *exact;
                return true;
            }
            break;
        case NumberForm::infinity:
            value = signed_infinity(decimal.negative);
            return true;
        case NumberForm::none:
            return false;
        case NumberForm::other:
            break;
    }
    return strtod_for_text(text, scratch, value);
}

// ---------------------------------------------------------------------------
// Cells of up to 24 bytes of the form -?D*(.D*)?, the usual ones, a word at a
// time. The sign's byte, if any, is read as a zero digit.

// Doubles hold every integer up to 2^53 exactly.
constexpr std::uint64_t kMaxExactInteger = std::uint64_t{1} << 53;

// Where the point of a cell of 9 to 24 bytes sits among its words: the first
// word holds the cell's first 1 to 8 bytes (moved to its top), the second and
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

// The digits of a cell of 9 to 16 bytes: `first`, the digit values of its
// first bytes as below, and the 8 bytes at `second`; false if a byte is not a
// digit. Both words are converted at once (a-shaped cells: 118 -> 99
// instructions).
bool read_two_words(std::uint64_t first, const char* second, const PointPlace& place, std::uint64_t& digits) {
    const std::uint64_t second_values = without_point(load_8(second) ^ kZeroDigits, place.later_up_to_point[0]);
    const SixteenValues values = join_words(first, second_values);
    const std::uint64_t numbers = two_eight_digit_numbers(values);
    digits = low_number(numbers) * place.first_scale + high_number(numbers);
    return all_digits(values);
}

// The same for a cell of 17 to 24 bytes, whose last 16 bytes are at `rest`
// and are converted at once; false also for more than 19 digits. Converting
// `first` with them took more instructions (159 -> 164 on c-shaped cells).
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

// The first byte of a cell of 9 to 8 · Words bytes that is not a digit, the
// sign excepted, or 0 (the sign or a digit) if there is none; `head` holds
// the digit values of its first 8 bytes. The rest of the cell is looked at
// only when those are all digits: integers, and integer parts of 8 digits or
// more (1767208900.261: 469 instructions through parse_other_cell, 112 so).
template <std::size_t Words>
std::size_t first_non_digit(const char* text, std::size_t size, std::uint64_t head) {
    const std::uint64_t head_others = non_digit_bytes(head);
    if (__builtin_expect(head_others != 0, 1)) {
        return __builtin_ctzll(head_others) / 8;
    }
    if (Words == 2) {
        const std::uint64_t last_others = non_digit_bytes(load_8(text + size - kWordSize) ^ kZeroDigits);
        return last_others != 0 ? size - kWordSize + __builtin_ctzll(last_others) / 8 : 0;
    }
    const std::size_t last_other = first_non_digit_lane(load_16_values(text + size - 2 * kWordSize));
    return last_other < 2 * kWordSize ? size - 2 * kWordSize + last_other : 0;
}

// A cell of 9 to 8 · Words bytes (Words 2 or 3), read as Words words that
// end at the cell's end, the first of them the cell's first bytes moved up.
// Any other text, and more than 19 digits, goes to parse_other_cell.
template <std::size_t Words>
__attribute__((noinline)) bool parse_long_cell(std::string_view cell, std::string& scratch, double& value) {
    const char* text = cell.data();
    const std::size_t size = cell.size();
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
        return parse_other_cell(cell, scratch, value);
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
    return round_product<true>(digits, exponent, negative, value) || parse_other_cell(cell, scratch, value);
}

// ---------------------------------------------------------------------------
// Cells of 17 to 24 bytes with the point among their first size - 16 bytes,
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
// ones, which covers bits 0..9 too, in 3 instructions fewer than the exact
// test: 1 c-shaped cell in 470 then goes on to parse_other_cell, 1 in 640
// with the exact test.
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

// The digits of a cell of 17 to 24 bytes whose point is among its first
// size - 15 bytes, and the place of the point (see kFractionPowers); false
// for any other cell. `first` holds the digit values of the cell's first
// size - 16 bytes at its top, of which at most two may be nonzero digits;
// the other 16 bytes, at `rest`, are digits but for a point in their first
// byte (0.123456789012345, 1 in 15 cells of random fractions: 160 -> 105
// instructions each; marked unlikely, 1 fewer on the others). That point is
// cut out and a zero digit comes in at the end, as if the point were the last
// byte of `first`.
bool read_fraction_digits(const char* rest, std::uint64_t first, std::uint64_t& digits, std::size_t& place) {
    const std::uint64_t others = non_digit_bytes(first);
    const std::uint64_t point = others & (0 - others);
    SixteenValues values = load_16_values(rest);
    std::uint64_t leading_digits = first;
    if (__builtin_expect(others == 0, 0)) {
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

// A cell of 17 to 24 bytes; those that read_fraction_digits does not take go
// to parse_long_cell<3>.
__attribute__((noinline)) bool parse_fraction_cell(std::string_view cell, std::string& scratch, double& value) {
    const char* text = cell.data();
    const std::size_t first_size = cell.size() - 2 * kWordSize;
    const std::uint64_t head_bytes = load_8(text);
    const bool negative = starts_negative(head_bytes);
    const std::uint64_t first = unsigned_values(head_bytes, negative) << 8 * (kWordSize - first_size);
    std::uint64_t digits;
    std::size_t place;
    if (!read_fraction_digits(text + first_size, first, digits, place)) {
        // Only text that starts as -?D*(.D*)? can be for the next path.
        return is_digit(text[0]) || text[0] == '-' || text[0] == '.' ? parse_long_cell<3>(cell, scratch, value)
                                                                     : parse_other_cell(cell, scratch, value);
    }
    if (digits == 0) {
        value = signed_zero(negative);
        return true;
    }
    return round_fraction(digits, place, negative, value) || parse_other_cell(cell, scratch, value);
}

}  // namespace

std::string_view without_carriage_returns(std::string_view cell, std::string& scratch) {
    if (cell.find('\r') == std::string_view::npos) {
        return cell;
    }
    scratch.clear();
    std::remove_copy(cell.begin(), cell.end(), std::back_inserter(scratch), '\r');
    return scratch;
}

bool parse_cell_out_of_line(std::string_view cell, std::string& scratch, double& value) {
    // 1 to 8 bytes, 9 to 16, 17 to 24; the empty cell is none of them. The
    // short cells that come here are those read_short_cell does not take.
    const std::size_t words = (cell.size() + kWordSize - 1) / kWordSize;
    if (words == 2) {
        return parse_long_cell<2>(cell, scratch, value);
    }
    if (words == 3) {
        return parse_fraction_cell(cell, scratch, value);
    }
    return parse_other_cell(cell, scratch, value);
}

bool parse_cell_by_c_library(std::string_view cell, std::string& scratch, double& value) {
    const std::string_view text = without_carriage_returns(cell, scratch);
    if (is_missing(text)) {
        value = kQuietNaN;
        return true;
    }
    return strtod_for_text(text, scratch, value);
}

}  // namespace csv
