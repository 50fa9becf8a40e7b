#pragma once

// 64-bit machine words as eight bytes side by side (namespace words): loads
// of text into words and the test for a byte value in every byte at once,
// shared by the splitting of lines and the reading of numbers.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace words {

// Words are little-endian: the byte at the lowest address is the lowest byte
// of the word.
inline constexpr std::size_t kWordSize = 8;
inline constexpr std::uint64_t kEveryByte = 0x0101010101010101;
inline constexpr std::uint64_t kTopBitOfEveryByte = 0x8080808080808080;

inline std::uint64_t load_8(const char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

inline std::uint64_t load_4(const char* bytes) {
    std::uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// The 1 to 8 bytes of `text` in a word, zero above them: two overlapping
// 4-byte loads for 4 to 8 bytes, three single bytes for 1 to 3. A branch
// rather than computing both and selecting one: the length of a column's
// cells varies little, so it is well predicted.
inline std::uint64_t load_short(std::string_view text) {
    const std::size_t size = text.size();
    if (size >= 4) {
        return load_4(&text[0]) | load_4(&text[size - 4]) << 8 * (size - 4);
    }
    const auto byte_at = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(text[i])} << 8 * i; };
    return byte_at(0) | byte_at(size / 2) | byte_at(size - 1);
}

// The top bit of each byte of `word` that is zero, and of no other byte: the
// low 7 bits of a nonzero byte carry into its top bit, and its own top bit
// flags the rest. Exact for every byte, so each flag also tells where a
// zero byte is.
inline std::uint64_t zero_bytes(std::uint64_t word) {
    constexpr std::uint64_t kLowBits = ~kTopBitOfEveryByte;
    return ~(((word & kLowBits) + kLowBits) | word | kLowBits);
}

// The top bit of each byte of `word` equal to `byte`, and of no other byte:
// the XOR makes those the zero bytes.
inline std::uint64_t bytes_equal_to(std::uint64_t word, char byte) {
    return zero_bytes(word ^ (static_cast<unsigned char>(byte) * kEveryByte));
}

inline bool has_byte(std::uint64_t word, char byte) { return bytes_equal_to(word, byte) != 0; }

}  // namespace words
