#pragma once

// Plain decimals of 9 to 24 bytes, -?D*(.D*)? with at most 19 digits, read a
// machine word at a time: the usual long numbers. Each path either decides
// the value exactly or leaves the text to read_number.

#include <cstddef>
#include <string_view>

#include "machine_words.hpp"

namespace number {

// A text of 9 to 16 bytes, in two words: true with `value` set when the path
// decides it.
bool read_two_word_decimal(std::string_view text, double& value);

// A text of 17 to 24 bytes, in three words, the same way.
bool read_three_word_decimal(std::string_view text, double& value);

// The paths by length: true with `value` set for a plain decimal of 9 to 24
// bytes that they decide, false for any other text (left unchanged).
inline bool read_long_decimal(std::string_view text, double& value) {
    const std::size_t word_count = (text.size() + words::kWordSize - 1) / words::kWordSize;
    if (word_count == 2) {
        return read_two_word_decimal(text, value);
    }
    return word_count == 3 && read_three_word_decimal(text, value);
}

}  // namespace number
