#pragma once

// The C library's reading of a number, for the texts the exact methods leave.

#include <string>
#include <string_view>

#include "number/read_number.hpp"

namespace number {

// strtod_l in the "C" locale for `text`, which is all of `scratch` or lies
// outside it, copied with a terminating NUL: a short text to the stack, which
// saves the string's bookkeeping, a longer one to `scratch`. glibc reports an
// underflow as a range error too; only a result beyond 1 in size with a range
// error is an overflow (infinity, or the largest double when rounding towards
// zero).
Outcome strtod_for_text(std::string_view text, std::string& scratch, double& value);

}  // namespace number
