#pragma once

// Plain decimal cells of 9 to 24 bytes, -?D*(.D*)? with at most 19 digits,
// read a word at a time: the usual long cells. Each path either decides the
// cell's value exactly or leaves it to read_number.

#include <cstddef>
#include <string_view>

#include "number/word_digits.hpp"

namespace number {

// A text of 9 to 16 bytes: true with `value` set when the path decides it.
bool read_two_word_cell(std::string_view text, double& value);

// A text of 17 to 24 bytes, the same way.
bool read_three_word_cell(std::string_view text, double& value);

// The word paths by length: true with `value` set for a plain decimal of 9 to
// 24 bytes that they decide, false for any other text (left unchanged).
inline bool read_plain_decimal(std::string_view text, double& value) {
    const std::size_t words = (text.size() + words::kWordSize - 1) / words::kWordSize;
    if (words == 2) {
        return read_two_word_cell(text, value);
    }
    return words == 3 && read_three_word_cell(text, value);
}

}  // namespace number
