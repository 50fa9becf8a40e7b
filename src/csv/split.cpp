// The index of a block's separators and carriage returns: SSE2 where the target has it, 64-bit words elsewhere.

#include "csv/split.hpp"

#include <cstddef>
#include <cstdint>

#include "machine_words.hpp"
#include "target_features.hpp"

namespace csv {

namespace {

bool is_mark(char byte) { return byte == ',' || byte == '\n' || byte == '\r'; }

#if defined(ORVANTIS_SSE2)

// index_marks takes the text in strides of this many bytes, one mask each.
constexpr std::size_t kMarkStride = 64;
// The bits of a mask that stand for one byte of its stride.
constexpr unsigned kMaskBitsPerByte = 1;

// A mask with bit i set where bytes[i] is ',', '\n' or '\r': three compares
// per 16 bytes.
std::uint64_t mark_mask(const char* bytes) {
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i line_feed = _mm_set1_epi8('\n');
    const __m128i carriage_return = _mm_set1_epi8('\r');
    std::uint64_t mask = 0;
    for (std::size_t lane = 0; lane < 4; ++lane) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * lane));
        const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, comma), _mm_cmpeq_epi8(chunk, line_feed)),
                                          _mm_cmpeq_epi8(chunk, carriage_return));
        mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hits))) << (16 * lane);
    }
    return mask;
}

#else

constexpr std::size_t kMarkStride = words::kWordSize;
constexpr unsigned kMaskBitsPerByte = 8;

// A mask with the top bit of byte i set where bytes[i] is ',', '\n' or '\r'.
std::uint64_t mark_mask(const char* bytes) {
    const std::uint64_t word = words::load_8(bytes);
    return words::bytes_equal_to(word, ',') | words::bytes_equal_to(word, '\n') | words::bytes_equal_to(word, '\r');
}

#endif

}  // namespace

// Writes the offsets of the ',', '\n' and '\r' bytes of text[0, size) to
// `out`, in order, and returns the end of what it wrote. One mask per stride,
// whose set bits are taken lowest first, rather than a find for every line
// and every cell.
std::uint32_t* index_marks(const char* text, std::size_t size, std::uint32_t* out) {
    std::size_t offset = 0;
    for (; offset + kMarkStride <= size; offset += kMarkStride) {
        for (std::uint64_t mask = mark_mask(text + offset); mask != 0; mask &= mask - 1) {
            *out++ =
                static_cast<std::uint32_t>(offset + static_cast<unsigned>(__builtin_ctzll(mask)) / kMaskBitsPerByte);
        }
    }
    for (; offset < size; ++offset) {
        if (is_mark(text[offset])) {
            *out++ = static_cast<std::uint32_t>(offset);
        }
    }
    return out;
}

}  // namespace csv
