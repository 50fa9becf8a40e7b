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
#include <stdexcept>

#include <locale.h>

// A cell is read in three steps, each exact:
// 1. Plain decimal text ("-12.5", "0.125e-3") of at most 15 significant
//    digits and a power of ten up to 1e22 is one IEEE multiplication or
//    division of two exactly representable numbers, hence correctly rounded.
// 2. Other plain decimal text of at most 19 significant digits is rounded from
//    a 192-bit product with a truncated 128-bit power of five; the product's
//    error bound tells when it cannot decide the rounding.
// 3. Everything else, and what step 2 cannot decide, goes to strtod_l.

namespace csv {

namespace {

__extension__ typedef unsigned __int128 uint128;

constexpr double kQuietNaN = std::numeric_limits<double>::quiet_NaN();

bool is_missing(std::string_view cell) { return cell.empty() || cell == "nan" || cell == "NaN"; }

[[noreturn]] void throw_overflow() { throw std::out_of_range("stod"); }

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
// comma.
std::optional<double> strtod_in_c_locale(const char* text) {
    char* end = nullptr;
    const int saved_errno = errno;
    errno = 0;
    const double value = ::strtod_l(text, &end, c_locale());
    const bool range_error = errno == ERANGE;
    errno = saved_errno;
    if (end == text) {
        return std::nullopt;
    }
    // glibc reports underflow as a range error too; only an overflow is one here.
    if (range_error && std::isinf(value)) {
        throw_overflow();
    }
    return value;
}

std::optional<double> parse_with_c_library(std::string_view cell, std::string& scratch) {
    const std::string_view text = without_carriage_returns(cell, scratch);
    if (is_missing(text)) {
        return kQuietNaN;
    }
    if (text.data() != scratch.data()) {
        scratch.assign(text.data(), text.size());  // for the terminating NUL
    }
    return strtod_in_c_locale(scratch.c_str());
}

// ---------------------------------------------------------------------------
// Reading a cell eight bytes at a time.

constexpr std::uint64_t kEveryByte = 0x0101010101010101;
constexpr std::uint64_t kTopBitOfEveryByte = 0x8080808080808080;

std::uint64_t load_8(const char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

std::uint64_t load_4(const char* bytes) {
    std::uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// The `size` < 8 bytes at `bytes` in a little-endian word, zero above them.
// Two overlapping loads (or three single bytes) cover them without a loop.
std::uint64_t load_short(const char* bytes, std::size_t size) {
    if (size >= 4) {
        return load_4(bytes) | load_4(bytes + size - 4) << 8 * (size - 4);
    }
    if (size == 0) {
        return 0;
    }
    const auto byte_at = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(bytes[i])} << 8 * i; };
    return byte_at(0) | byte_at(size / 2) | byte_at(size - 1);
}

// A cell's bytes as little-endian 8-byte words, first byte lowest, reading no
// memory outside the cell: bytes past its end read as zero.
class CellBytes {
public:
    explicit CellBytes(std::string_view cell)
        : data_(cell.data()), size_(cell.size()), short_cell_(size_ < 8 ? load_short(data_, size_) : 0) {}

    std::size_t size() const { return size_; }

    char operator[](std::size_t offset) const { return offset < size_ ? data_[offset] : '\0'; }

    // Bytes [offset, offset + 8), for offset <= size().
    std::uint64_t word_at(std::size_t offset) const {
        if (size_ < 8) {
            return short_cell_ >> 8 * offset;
        }
        if (offset + 8 <= size_) {
            return load_8(data_ + offset);
        }
        // Near the end: the cell's last 8 bytes, shifted down to `offset`.
        const std::size_t remaining = size_ - offset;
        return remaining == 0 ? 0 : load_8(data_ + size_ - 8) >> 8 * (8 - remaining);
    }

private:
    const char* data_;
    std::size_t size_;
    std::uint64_t short_cell_;  // the whole cell, when shorter than a word
};

// ---------------------------------------------------------------------------
// Decimal digits, eight at a time.

// The top bit of each byte of `word` that is not an ASCII digit. XOR with '0'
// maps the digits, and only them, to 0..9; adding 0x76 to the low seven bits
// then sets the top bit of every byte at 10 or more, without carries between
// bytes.
std::uint64_t non_digit_bytes(std::uint64_t word) {
    const std::uint64_t offsets = word ^ ('0' * kEveryByte);
    const std::uint64_t above_nine = (offsets & ~kTopBitOfEveryByte) + 0x76 * kEveryByte;
    return (above_nine | offsets) & kTopBitOfEveryByte;
}

// How many bytes at the start of `word` are ASCII digits.
int leading_digit_count(std::uint64_t word) {
    const std::uint64_t non_digits = non_digit_bytes(word);
    return non_digits == 0 ? 8 : __builtin_ctzll(non_digits) / 8;
}

// The number written by eight digit values (0..9), the most significant in the
// lowest byte: pairs of bytes, then pairs of 16-bit lanes, then the two 32-bit
// halves are combined, each step by one multiplication that cannot carry into
// the next lane.
std::uint64_t eight_digits_value(std::uint64_t digits) {
    digits = digits * 10 + (digits >> 8);
    digits = (digits & 0x00FF00FF00FF00FF) * 100 + ((digits >> 16) & 0x00FF00FF00FF00FF);
    digits = (digits & 0x0000FFFF0000FFFF) * 10000 + ((digits >> 32) & 0x0000FFFF);
    return digits & 0xFFFFFFFF;
}

// The number written by the first `count` bytes of `word`, all ASCII digits.
std::uint64_t leading_digits_value(std::uint64_t word, int count) {
    if (count == 0) {
        return 0;
    }
    // Subtracting '0' cannot borrow out of a digit byte. Shifting the digits to
    // the top of the word drops the other bytes and puts zero digits in front.
    return eight_digits_value((word - '0' * kEveryByte) << 8 * (8 - count));
}

constexpr std::uint64_t kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// More significant digits than this do not fit the 64-bit mantissa.
constexpr int kMaxDigits = 19;

// Appends the run of ASCII digits at `offset` to `number` (number · 10^length
// + run) and returns the run's length. Stops early once the run is longer than
// kMaxDigits; `number` is then meaningless.
std::size_t read_digit_run(const CellBytes& bytes, std::size_t offset, std::uint64_t& number) {
    std::size_t length = 0;
    for (;;) {
        const std::uint64_t word = bytes.word_at(offset + length);
        const int count = leading_digit_count(word);
        number = number * kPowersOfTen[count] + leading_digits_value(word, count);
        length += count;
        if (count < 8 || length > kMaxDigits) {
            return length;
        }
    }
}

std::size_t skip_zeros(const CellBytes& bytes, std::size_t offset) {
    while (bytes[offset] == '0') {
        ++offset;
    }
    return offset;
}

// ---------------------------------------------------------------------------
// Plain decimal text.

// digits · 10^exponent, negated when `negative`.
struct Decimal {
    std::uint64_t digits = 0;
    int digit_count = 0;  // significant digits in `digits`
    std::int64_t exponent = 0;
    bool negative = false;
};

// Beyond this an exponent is left to the C library, so sums stay far from overflow.
constexpr std::int64_t kMaxExponentDigitsValue = 1000000;

// Reads the exponent's optional sign and digits at `offset` into
// `decimal.exponent`. Returns the offset after them, or 0 when they do not
// form an exponent the fast paths take.
std::size_t read_exponent(const CellBytes& bytes, std::size_t offset, Decimal& decimal) {
    const bool negative = bytes[offset] == '-';
    offset += negative || bytes[offset] == '+';
    const std::size_t digits_start = offset;
    std::int64_t value = 0;
    for (; bytes[offset] >= '0' && bytes[offset] <= '9'; ++offset) {
        value = value * 10 + (bytes[offset] - '0');
        if (value > kMaxExponentDigitsValue) {
            return 0;
        }
    }
    decimal.exponent += negative ? -value : value;
    return offset == digits_start ? 0 : offset;
}

// Reads a whole cell of the form -?D*(.D*)?([eE][+-]?D+)? with at least one
// mantissa digit and at most kMaxDigits significant ones. Returns false for
// any other text (white space, '+', hexadecimal, words, trailing bytes).
bool read_plain_decimal(std::string_view cell, Decimal& decimal) {
    const CellBytes bytes(cell);
    decimal.negative = bytes[0] == '-';
    const std::size_t mantissa_start = decimal.negative;
    std::size_t offset = skip_zeros(bytes, mantissa_start);
    std::size_t significant = read_digit_run(bytes, offset, decimal.digits);
    offset += significant;
    bool has_point = bytes[offset] == '.';
    if (has_point) {
        ++offset;
        if (significant == 0) {
            // Zeros right after the point only scale the digits that follow.
            const std::size_t zeros_end = skip_zeros(bytes, offset);
            decimal.exponent -= static_cast<std::int64_t>(zeros_end - offset);
            offset = zeros_end;
        }
        const std::size_t fraction = read_digit_run(bytes, offset, decimal.digits);
        offset += fraction;
        significant += fraction;
        decimal.exponent -= static_cast<std::int64_t>(fraction);
    }
    if (offset - mantissa_start == has_point || significant > kMaxDigits) {
        return false;
    }
    if ((bytes[offset] | 0x20) == 'e') {
        offset = read_exponent(bytes, offset + 1, decimal);
        if (offset == 0) {
            return false;
        }
    }
    decimal.digit_count = static_cast<int>(significant);
    return offset == bytes.size();
}

// ---------------------------------------------------------------------------
// Few digits and a small power of ten: both factors are exact doubles, so one
// IEEE operation rounds the exact product or quotient correctly.

constexpr int kMaxExactDigits = 15;
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
    return decimal.negative ? -magnitude : magnitude;
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

double with_sign(std::uint64_t magnitude_bits, bool negative) {
    const std::uint64_t bits = magnitude_bits | std::uint64_t{negative} << 63;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double signed_zero(bool negative) { return negative ? -0.0 : 0.0; }
double signed_infinity(bool negative) { return with_sign(0x7FF0000000000000, negative); }

// digits · 10^exponent (digits > 0) correctly rounded to nearest-even, infinity
// on overflow; nullopt when the truncated power of five leaves the rounding open.
//
// With w = digits shifted to a top bit of 2^63 and T the 128-bit table entry,
// X = w · 5^q lies in [P, P + 2^64) for the exact 192-bit product P = w · T,
// since T is at most one unit below the true value and w < 2^64. Adding less
// than 2^64 to P changes its bits from the rounding bit up only when the bits
// between bit 64 and the rounding bit are all ones: exactly then we give up.
// Otherwise the rounding bit and everything above is that of X, and the rest
// of X is nonzero unless T is exact and P's rest is zero.
std::optional<double> nearest_double(std::uint64_t digits, std::int64_t exponent10, bool negative) {
    if (exponent10 < kMinPowerOfTen) {
        return signed_zero(negative);
    }
    if (exponent10 > kMaxPowerOfTen) {
        return signed_infinity(negative);
    }
    const PowerOfFive& power = kPowersOfFive[exponent10 - kMinPowerOfTen];
    const int shift = __builtin_clzll(digits);
    const std::uint64_t w = digits << shift;
    const uint128 high_product = uint128{w} * power.high;
    const uint128 low_product = uint128{w} * power.low;
    const uint128 upper = high_product + (low_product >> 64);  // bits 64..191 of P
    const bool lowest_zero = static_cast<std::uint64_t>(low_product) == 0;

    // The value is X · 2^scale; its leading bit is bit 190 or 191 of X.
    const int scale = power.exponent + static_cast<int>(exponent10) - shift;
    const int leading = 190 + static_cast<int>(upper >> 127) + scale;
    if (leading > kMaxExponent) {
        return signed_infinity(negative);
    }
    const int last_kept = std::max(leading - kMantissaBits, kMinSubnormalExponent);
    const int rounding_bit = last_kept - 1 - scale - 64;  // index in `upper`
    if (rounding_bit >= 128) {
        return signed_zero(negative);  // below half the smallest subnormal
    }
    const uint128 below_mask = (uint128{1} << rounding_bit) - 1;
    const uint128 below = upper & below_mask;
    if (below == below_mask) {
        return std::nullopt;
    }
    const std::uint64_t with_rounding_bit = static_cast<std::uint64_t>(upper >> rounding_bit);
    const bool sticky = !power.exact || below != 0 || !lowest_zero;
    const bool round_up = (with_rounding_bit & 1) != 0 && (sticky || (with_rounding_bit & 2) != 0);
    const std::uint64_t significand = (with_rounding_bit >> 1) + round_up;
    // A normal significand carries its leading bit into the exponent field,
    // hence the - 1; a rounding carry moves on into the exponent the same way.
    const std::uint64_t biased_exponent = leading >= kMinNormalExponent ? leading - kMinNormalExponent : 0;
    return with_sign((biased_exponent << kMantissaBits) + significand, negative);
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
        std::ldexp(static_cast<double>(decimal.digits / power_of_five), static_cast<int>(decimal.exponent));
    return decimal.negative ? -magnitude : magnitude;
}

std::optional<double> decimal_value(const Decimal& decimal) {
    if (decimal.digits == 0) {
        return signed_zero(decimal.negative);
    }
    if (is_exact_product(decimal)) {
        return exact_product(decimal);
    }
    if (const std::optional<double> value = nearest_double(decimal.digits, decimal.exponent, decimal.negative)) {
        return value;
    }
    return dyadic_value(decimal);
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

std::optional<double> parse_cell(std::string_view cell, std::string& scratch) {
    if (is_missing(cell)) {
        return kQuietNaN;
    }
    Decimal decimal;
    if (read_plain_decimal(cell, decimal)) {
        if (const std::optional<double> value = decimal_value(decimal)) {
            if (std::isinf(*value)) {
                throw_overflow();
            }
            return value;
        }
    }
    return parse_with_c_library(cell, scratch);
}

}  // namespace csv
