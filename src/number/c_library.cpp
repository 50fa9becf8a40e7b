// The C library's reading of a number, in the "C" locale whatever the process locale.

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include <locale.h>
#include <stdlib.h>

#include "number/c_library.hpp"

namespace number {

namespace {

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

// strtod with '.' as the decimal point whatever the process locale: a text
// must not change its value because the program set a locale with a decimal
// comma.
Outcome strtod_in_c_locale(const char* text, double& value) {
    char* end = nullptr;
    const int saved_errno = errno;
    errno = 0;
    const double result = ::strtod_l(text, &end, c_locale());
    const bool range_error = errno == ERANGE;
    errno = saved_errno;
    if (end == text) {
        return Outcome::no_number;
    }
    // glibc reports an underflow as a range error too, with a result of at
    // most the smallest normal double; only an overflow is one here. It gives
    // infinity, or the largest double when the rounding mode is towards zero.
    if (range_error && std::fabs(result) > 1) {
        return Outcome::overflow;
    }
    value = result;
    return Outcome::value;
}

}  // namespace

// strtod_in_c_locale for `text`, which is all of `scratch` or lies outside
// it, copied with a terminating NUL: a short text to the stack, which saves
// the string's bookkeeping, a longer one to `scratch`.
Outcome strtod_for_text(std::string_view text, std::string& scratch, double& value) {
    if (text.data() == scratch.data()) {
        return strtod_in_c_locale(scratch.c_str(), value);
    }
    std::array<char, 64> copy;  // NOLINT(cppcoreguidelines-pro-type-member-init): filled up to the NUL below
    if (text.size() < copy.size()) {
        std::memcpy(copy.data(), text.data(), text.size());
        copy[text.size()] = '\0';
        return strtod_in_c_locale(copy.data(), value);
    }
    scratch.assign(text.data(), text.size());
    return strtod_in_c_locale(scratch.c_str(), value);
}

}  // namespace number
