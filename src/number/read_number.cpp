// The order of steps that turns a number's text into a double.

#include "number/read_number.hpp"

#include <cmath>
#include <optional>

#include "number/c_library.hpp"
#include "number/decimal.hpp"
#include "number/double_bits.hpp"

// A number is read as strtod reads it in the "C" locale: white space, a sign,
// the number, then any text, which is ignored. (A caller may refuse a text
// whose first bytes cannot start a number, by can_start_number, before it
// comes here.) With Rounding::current_mode, for a rounding mode other than
// to nearest, strtod_l reads it alone, rounding in that mode. Otherwise a
// decimal number is converted
// exactly by the first of these that applies (decimal_value, exact_value.cpp):
// 1. At most 15 significant digits and a power of ten up to 1e22: one IEEE
//    multiplication or division of two exact doubles (Clinger).
// 2. At most 19 significant digits: rounded from a 192-bit product with a
//    truncated 128-bit power of five, whose error bound tells when it cannot
//    decide the rounding (Eisel-Lemire).
// 3. More digits: the value lies strictly between its first 19 digits and
//    those plus one unit in their last place; step 2's product for the first
//    19, its error bound widened by that unit, tells when no halfway point
//    between two doubles lies in between, and then rounds them all.
// 4. Hexadecimal numbers, NaNs, and what steps 2 and 3 cannot decide:
//    strtod_l, called once.
// The usual numbers, plain decimals of up to 24 bytes, can be read a machine
// word at a time before this (short_decimal.hpp, long_decimal.hpp); what
// those paths cannot decide comes here and takes the steps in turn.

namespace number {

Outcome read_number(std::string_view text, Rounding rounding, std::string& scratch, double& value) {
    if (rounding == Rounding::current_mode) {
        return strtod_for_text(text, scratch, value);
    }
    Decimal decimal;
    switch (read_decimal(text, decimal)) {
        case NumberForm::none:
            return Outcome::no_number;
        case NumberForm::infinity:
            value = signed_infinity(decimal.negative);
            return Outcome::value;
        case NumberForm::other:
            return strtod_for_text(text, scratch, value);
        case NumberForm::decimal:
            break;
    }
    const std::optional<double> exact = decimal_value(decimal);
    if (!exact) {
        return strtod_for_text(text, scratch, value);
    }
    if (std::isinf(*exact)) {
        return Outcome::overflow;
    }
    value = *exact;
    return Outcome::value;
}

}  // namespace number
