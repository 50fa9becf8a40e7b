#pragma once

// The number layer's entry points: text to a double as strtod reads it in the
// "C" locale, with an outcome rather than an exception. It knows nothing of
// the file a text comes from: no separators, carriage returns or missing values.

#include <string>
#include <string_view>

namespace number {

// What reading a text gave. `overflow`: the value is beyond the largest
// double (after rounding), which strtod reports as a range error.
enum class Outcome { value, no_number, overflow };

// Reads the number that starts `text`, up to its first NUL byte, exactly as
// strtod_l in the "C" locale gives it when rounding to nearest: white space,
// a sign, a decimal or hexadecimal number, an infinity or a NaN; the text
// after it is ignored. Sets `value` only for Outcome::value. A result too
// small for a normal double is a value: the correctly rounded subnormal or
// signed zero. `scratch` is reused storage for the texts that need the C
// library; `text` is all of it or lies outside it. Throws only std::bad_alloc.
Outcome read_number(std::string_view text, std::string& scratch, double& value);

// The same by strtod_l alone, so that the value is rounded in the current
// floating-point rounding mode; under a mode towards zero, a result beyond
// the largest double is an overflow too.
Outcome read_number_by_c_library(std::string_view text, std::string& scratch, double& value);

}  // namespace number
