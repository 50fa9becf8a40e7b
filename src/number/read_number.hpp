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

// How a value is rounded, as the caller knows the current floating-point
// rounding mode to be. `to_nearest`, the default mode: the exact methods,
// which round to nearest, read the text, and the C library what they leave.
// `current_mode`, any other mode: the C library alone reads the text and
// rounds in that mode; under a mode towards zero, a result beyond the
// largest double (the largest double) is an overflow too.
enum class Rounding { to_nearest, current_mode };

// Reads the number that starts `text`, up to its first NUL byte, exactly as
// strtod_l in the "C" locale gives it, rounded as `rounding` says: white
// space, a sign, a decimal or hexadecimal number, an infinity or a NaN; the
// text after it is ignored. Sets `value` only for Outcome::value. A result
// too small for a normal double is a value: the correctly rounded subnormal
// or signed zero. `scratch` is reused storage for the texts that need the C
// library; `text` is all of it or lies outside it. Throws only std::bad_alloc.
Outcome read_number(std::string_view text, Rounding rounding, std::string& scratch, double& value);

}  // namespace number
