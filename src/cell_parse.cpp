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

// A cell is converted exactly, by the first of these that applies:
// 1. Plain decimal text ("-12.5", "0.125e-3") of at most 15 digits and a
//    power of ten up to 1e22: one IEEE multiplication or division of two
//    exactly representable numbers, hence correctly rounded.
// 2. Other plain decimal text of at most 19 significant digits: rounded from
//    a 192-bit product with a truncated 128-bit power of five, whose error
//    bound tells when it cannot decide the rounding.
// 3. Everything else, and what step 2 cannot decide: strtod_l.
// Plain decimal cells of up to 24 bytes without an exponent, the usual ones,
// are read 8 or 16 bytes at a time; other plain decimal cells byte by byte.

namespace csv {

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
// Decimal digits, eight at a time, in little-endian words: the byte at the
// lowest address is the lowest byte of the word.

constexpr std::uint64_t kEveryByte = 0x0101010101010101;
constexpr std::uint64_t kTopBitOfEveryByte = 0x8080808080808080;

// The top bit of each byte of `word` that is not an ASCII digit. XOR with '0'
// maps the digits, and only them, to 0..9; adding 0x76 to the low seven bits
// then sets the top bit of every byte at 10 or more, without carries between
// bytes.
std::uint64_t non_digit_bytes(std::uint64_t word) {
    const std::uint64_t offsets = word ^ ('0' * kEveryByte);
    const std::uint64_t above_nine = (offsets & ~kTopBitOfEveryByte) + 0x76 * kEveryByte;
    return (above_nine | offsets) & kTopBitOfEveryByte;
}

// The top bits of the eight bytes of `flags` as an 8-bit number, byte i to
// bit i. The multiplier puts a copy of byte i's bit at bit 56 + i; every other
// copy lands on its own bit below 56 or beyond 63, so none carries.
std::uint32_t byte_flags(std::uint64_t flags) {
    return static_cast<std::uint32_t>(((flags >> 7) * 0x0102040810204080) >> 56);
}

// The number written by eight digit values (0..9), the most significant in the
// lowest byte. First each byte pair becomes a two-digit number in its lower
// byte (10 · d0 + d1 at bytes 0, 2, 4, 6: p0..p3). Then two multiplications
// gather p0 · 10^6 + p2 · 10^2 and p1 · 10^4 + p3 in bits 32..63: p0 and p2
// (bits 0 and 32) times 100 + 10^6 · 2^32, p1 and p3 (moved to bits 0 and 32)
// times 1 + 10^4 · 2^32. The products' other terms stay below bit 32 or pass
// beyond bit 63.
std::uint64_t eight_digits_value(std::uint64_t digits) {
    constexpr std::uint64_t kLanes = 0x000000FF000000FF;
    const std::uint64_t pairs = digits * 10 + (digits >> 8);
    const std::uint64_t even = (pairs & kLanes) * (100 + (std::uint64_t{1000000} << 32));
    const std::uint64_t odd = ((pairs >> 16) & kLanes) * (1 + (std::uint64_t{10000} << 32));
    return (even + odd) >> 32;
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

// digits · 10^exponent, negated when `negative`.
struct Decimal {
    std::uint64_t digits = 0;
    std::size_t digit_count = 0;  // at least the significant digits in `digits`
    std::int64_t exponent = 0;
    bool negative = false;
};

// ---------------------------------------------------------------------------
// Cells of the form -?D*(.D*)? up to 24 bytes, up to 8 or 16 bytes at once in
// one number (std::uint64_t or uint128).

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

// The 1 to 7 bytes at `bytes`, zero above them. Two overlapping 4-byte loads
// cover 4 to 7 bytes, three single bytes cover 1 to 3; both are computed and
// one is selected, since a branch on the size mispredicts in columns of short
// numbers. The unused 4-byte loads read a zero word.
std::uint64_t load_short(const char* bytes, std::size_t size) {
    static constexpr char kZeroWord[4] = {};
    const auto byte_at = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(bytes[i])} << 8 * i; };
    const std::uint64_t up_to_three = byte_at(0) | byte_at(size / 2) | byte_at(size - 1);
    const bool four_or_more = size >= 4;
    const char* first = four_or_more ? bytes : kZeroWord;
    const char* last = four_or_more ? bytes + size - 4 : kZeroWord;
    const std::uint64_t four_to_seven = load_4(first) | load_4(last) << (8 * (size - 4) & 63);
    return four_or_more ? four_to_seven : up_to_three;
}

template <typename Bytes>
constexpr Bytes kEveryByteOf = ~Bytes{0} / 0xFF;

std::uint64_t low_half(uint128 value) { return static_cast<std::uint64_t>(value); }
std::uint64_t high_half(uint128 value) { return static_cast<std::uint64_t>(value >> 64); }

// The 1 to 8 (or 16) bytes at `bytes` as a little-endian number, zero above
// them.
template <typename Bytes>
Bytes load_bytes(const char* bytes, std::size_t size) {
    if (size < 8) {
        return load_short(bytes, size);
    }
    if (sizeof(Bytes) == 8) {
        return load_8(bytes);
    }
    return load_8(bytes) | Bytes{load_8(bytes + size - 8)} << 8 * (size - 8);
}

// Bit i set when byte i is not an ASCII digit.
std::uint32_t non_digit_map(std::uint64_t bytes) { return byte_flags(non_digit_bytes(bytes)); }
std::uint32_t non_digit_map(uint128 bytes) {
    return non_digit_map(low_half(bytes)) | non_digit_map(high_half(bytes)) << 8;
}

// The number written by 8 (or 16) digit values, the most significant lowest.
std::uint64_t digit_values_number(std::uint64_t values) { return eight_digits_value(values); }
std::uint64_t digit_values_number(uint128 values) {
    return eight_digits_value(low_half(values)) * kPowersOfTen[8] + eight_digits_value(high_half(values));
}

// Reads the 1 to 8 (or 16) bytes at `text`, also given as `bytes` (zero above
// them), as -?D*(.D*)? with at least one digit, and tells whether they hold a
// point. All bytes are classified at once. The point is cut out by moving the
// bytes above it down one byte; the digits, moved to the top of the number
// with zero digits in front, are then converted in groups of eight.
// `digit_count` may count leading zeros. Always inlined: its callers are the
// usual cells' path.
template <typename Bytes>
__attribute__((always_inline)) inline bool read_digit_block(Bytes bytes, const char* text, std::size_t size,
                                                            Decimal& decimal, bool& has_point) {
    constexpr std::size_t kWidth = sizeof(Bytes);
    decimal.negative = (bytes & 0xFF) == '-';
    const std::uint32_t in_text = (std::uint32_t{1} << size) - 1;
    const std::uint32_t others = non_digit_map(bytes) & in_text & ~std::uint32_t{decimal.negative};
    // At most one non-digit besides the sign, and that one a point: checked
    // with bit operations, not branches, since whether a cell has a point can
    // vary from cell to cell. Without a point the byte read is the last one,
    // and its value does not matter.
    const std::size_t point = __builtin_ctz(others | ~in_text);
    has_point = others != 0;
    const bool point_ok = text[point - !has_point] == '.' || !has_point;
    const std::size_t used = size - has_point;
    decimal.digit_count = used - decimal.negative;
    if ((others & (others - 1)) != 0 || !point_ok || decimal.digit_count == 0) {
        return false;
    }
    const Bytes above_point = has_point ? ~Bytes{0} << 8 * point : 0;
    const Bytes joined = (bytes & ~above_point) | (bytes >> 8 & above_point);
    // Clearing the bytes below the digits turns the sign into a zero digit.
    const Bytes digits_mask = ~Bytes{0} << 8 * (kWidth - decimal.digit_count);
    const Bytes values = ((joined ^ '0' * kEveryByteOf<Bytes>) << 8 * (kWidth - used)) & digits_mask;
    decimal.digits = digit_values_number(values);
    decimal.exponent = has_point ? -static_cast<std::int64_t>(size - point - 1) : 0;
    return true;
}

constexpr std::size_t kWordSize = 8;
constexpr std::size_t kBlockSize = 16;

// Reads 16 bytes of digits with at most one point, and no sign, as the
// continuation of `head`. Typically all 16 are digits of a fraction.
bool read_block_after(const char* text, bool head_point, Decimal& head) {
    Decimal block;
    const uint128 bytes = load_bytes<uint128>(text, kBlockSize);
    if (non_digit_map(bytes) == 0) {
        block.digits = digit_values_number(bytes ^ '0' * kEveryByteOf<uint128>);
        block.digit_count = kBlockSize;
    } else {
        bool block_point = false;
        if (!read_digit_block(bytes, text, kBlockSize, block, block_point) || block.negative ||
            (head_point && block_point)) {
            return false;
        }
    }
    if (head.digits >= kPowersOfTen[kMaxDigits - block.digit_count]) {
        return false;
    }
    head.digits = head.digits * kPowersOfTen[block.digit_count] + block.digits;
    head.digit_count += block.digit_count;
    head.exponent = head_point ? head.exponent - static_cast<std::int64_t>(block.digit_count) : block.exponent;
    return true;
}

// Reads a whole cell of the form -?D*(.D*)? of up to 24 bytes with at least
// one digit and at most 19 once the leading zeros are left out.
bool read_short_decimal(std::string_view cell, Decimal& decimal) {
    const char* text = cell.data();
    const std::size_t size = cell.size();
    bool has_point = false;
    if (size <= kWordSize) {
        return size != 0 && read_digit_block(load_bytes<std::uint64_t>(text, size), text, size, decimal, has_point);
    }
    if (size <= kBlockSize) {
        return read_digit_block(load_bytes<uint128>(text, size), text, size, decimal, has_point);
    }
    // 17 to 24 bytes: up to 8, then 16. The cell's first 8 bytes hold the
    // head and the start of the block, which is masked off.
    const std::size_t head_size = size - kBlockSize;
    if (head_size > kWordSize) {
        return false;
    }
    const std::uint64_t head_mask = ~std::uint64_t{0} >> 8 * (kWordSize - head_size);
    return read_digit_block(load_8(text) & head_mask, text, head_size, decimal, has_point) &&
           read_block_after(text + head_size, has_point, decimal);
}

// ---------------------------------------------------------------------------
// Any plain decimal cell, byte by byte.

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char byte_at(std::string_view text, std::size_t offset) { return offset < text.size() ? text[offset] : '\0'; }

// Beyond this an exponent is left to the C library, so sums stay far from overflow.
constexpr std::int64_t kMaxExponentDigitsValue = 1000000;

// Reads the exponent's optional sign and digits at `offset` into
// `decimal.exponent`. Returns the offset after them, or 0 when they do not
// form an exponent the exact paths take.
std::size_t read_exponent(std::string_view cell, std::size_t offset, Decimal& decimal) {
    const bool negative = byte_at(cell, offset) == '-';
    offset += negative || byte_at(cell, offset) == '+';
    const std::size_t digits_start = offset;
    std::int64_t value = 0;
    for (; is_digit(byte_at(cell, offset)); ++offset) {
        value = value * 10 + (cell[offset] - '0');
        if (value > kMaxExponentDigitsValue) {
            return 0;
        }
    }
    decimal.exponent += negative ? -value : value;
    return offset == digits_start ? 0 : offset;
}

// Reads a whole cell of the form -?D*(.D*)?([eE][+-]?D+)? with at least one
// mantissa digit and at most 19 significant ones. Returns nullopt for any
// other text (white space, '+', hexadecimal, words, trailing bytes).
std::optional<Decimal> read_decimal(std::string_view cell) {
    Decimal decimal;
    decimal.negative = byte_at(cell, 0) == '-';
    std::size_t offset = decimal.negative;
    bool has_digit = false;
    bool after_point = false;
    for (;; ++offset) {
        const char c = byte_at(cell, offset);
        if (c == '.' && !after_point) {
            after_point = true;
            continue;
        }
        if (!is_digit(c)) {
            break;
        }
        has_digit = true;
        decimal.exponent -= after_point;
        if (c == '0' && decimal.digits == 0) {
            continue;  // a leading zero only scales
        }
        if (++decimal.digit_count > kMaxDigits) {
            return std::nullopt;
        }
        decimal.digits = decimal.digits * 10 + (c - '0');
    }
    if (!has_digit) {
        return std::nullopt;
    }
    if ((byte_at(cell, offset) | 0x20) == 'e') {
        offset = read_exponent(cell, offset + 1, decimal);
    }
    if (offset != cell.size()) {
        return std::nullopt;
    }
    return decimal;
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

// digits · 10^exponent correctly rounded to nearest-even, infinity on
// overflow; nullopt when the truncated power of five leaves the rounding open.
//
// With w = digits shifted to a top bit of 2^63 and T the 128-bit table entry,
// X = w · 5^q lies in [P, P + 2^64) for the exact 192-bit product P = w · T,
// since T is at most one unit below the true value and w < 2^64. Adding less
// than 2^64 to P changes its bits from the rounding bit up only when the bits
// between bit 64 and the rounding bit are all ones: exactly then we give up.
// Otherwise the rounding bit and everything above is that of X, and the rest
// of X is nonzero unless T is exact and P's rest is zero.
std::optional<double> nearest_double(const Decimal& decimal) {
    if (decimal.digits == 0 || decimal.exponent < kMinPowerOfTen) {
        return signed_zero(decimal.negative);
    }
    if (decimal.exponent > kMaxPowerOfTen) {
        return signed_infinity(decimal.negative);
    }
    const int exponent10 = static_cast<int>(decimal.exponent);
    const PowerOfFive& power = kPowersOfFive[exponent10 - kMinPowerOfTen];
    const int shift = __builtin_clzll(decimal.digits);
    const Product192 product = multiply(decimal.digits << shift, power);

    // The value is X · 2^scale; its leading bit is bit 190 or 191 of X.
    const int scale = power.exponent + exponent10 - shift;
    const int leading = 190 + static_cast<int>(product.top >> 63) + scale;
    if (leading > kMaxExponent) {
        return signed_infinity(decimal.negative);
    }
    const int last_kept = std::max(leading - kMantissaBits, kMinSubnormalExponent);
    const int rounding_bit = last_kept - 1 - scale - 128;  // in `top`, at least 9
    if (rounding_bit >= 64) {
        return signed_zero(decimal.negative);  // below half the smallest subnormal
    }
    const std::uint64_t below_mask = (std::uint64_t{1} << rounding_bit) - 1;
    const std::uint64_t below = product.top & below_mask;
    if (below == below_mask && product.middle == ~std::uint64_t{0}) {
        return std::nullopt;
    }
    const std::uint64_t with_rounding_bit = product.top >> rounding_bit;
    const bool sticky = !power.exact || below != 0 || product.middle != 0 || product.bottom != 0;
    const bool round_up = (with_rounding_bit & 1) != 0 && (sticky || (with_rounding_bit & 2) != 0);
    const std::uint64_t significand = (with_rounding_bit >> 1) + round_up;
    // A normal significand's leading bit adds one to the exponent field, hence
    // the bias of 1022; a carry out of rounding moves on into it the same way.
    const std::uint64_t biased_exponent = leading >= kMinNormalExponent ? leading - kMinNormalExponent : 0;
    return with_sign(from_bits((biased_exponent << kMantissaBits) + significand), decimal.negative);
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

std::optional<double> decimal_value(const Decimal& decimal) {
    if (is_exact_product(decimal)) {
        return exact_product(decimal);
    }
    if (const std::optional<double> value = nearest_double(decimal)) {
        return value;
    }
    return dyadic_value(decimal);
}

double finite_or_throw(double value) {
    if (std::isinf(value)) {
        throw_overflow();
    }
    return value;
}

// Every cell but the short plain decimals that the exact paths convert: kept
// out of line, so that those common cells do not pay for its set-up.
__attribute__((noinline)) std::optional<double> parse_other_cell(std::string_view cell, std::string& scratch) {
    if (is_missing(cell)) {
        return kQuietNaN;
    }
    if (const std::optional<Decimal> decimal = read_decimal(cell)) {
        if (const std::optional<double> value = decimal_value(*decimal)) {
            return finite_or_throw(*value);
        }
    }
    return parse_with_c_library(cell, scratch);
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
    // The usual cells take this short, straight path.
    Decimal decimal;
    if (read_short_decimal(cell, decimal)) {
        if (is_exact_product(decimal)) {
            return exact_product(decimal);
        }
        if (const std::optional<double> value = nearest_double(decimal)) {
            return finite_or_throw(*value);
        }
    }
    return parse_other_cell(cell, scratch);
}

}  // namespace csv
