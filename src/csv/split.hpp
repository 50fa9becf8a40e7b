#pragma once

// Splitting complete lines into cells through an index of their separators
// and carriage returns. Templates, so that the loop over the rows inlines the
// work on each cell.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "csv/callbacks.hpp"

namespace csv {

// Lines are split into cells through an index of their separators and
// carriage returns, built for a block of at most this many bytes at a time:
// 64 KiB keep the block and its index in the cache while the cells are
// converted.
inline constexpr std::size_t kIndexBlockSize = std::size_t{64} << 10;

// Writes the offsets of the ',', '\n' and '\r' bytes of text[0, size) to
// `out`, in order, and returns the end of what it wrote.
std::uint32_t* index_marks(const char* text, std::size_t size, std::uint32_t* out);

inline bool only_carriage_returns(std::string_view text) {
    return text.find_first_not_of('\r') == std::string_view::npos;
}

// Where the tokenizer stands between two blocks: the start of the cell that
// the next mark ends, its position in its line, and whether it holds a
// carriage return.
struct CellCursor {
    const char* cell_start = nullptr;
    std::size_t position = 0;
    bool has_cr = false;
};

// Calls on_cell for the cells that the marks [offset, marks_end) of the block
// at `block_start` end. MayHoldCr false skips the tests for carriage returns:
// for a block without one, after a cell without one (the usual case).
template <bool MayHoldCr, typename OnCell>
void split_block(const char* block_start, const std::uint32_t* offset, const std::uint32_t* marks_end,
                 CellCursor& cursor, OnCell& on_cell) {
    const char* cell_start = cursor.cell_start;
    std::size_t position = cursor.position;
    bool has_cr = cursor.has_cr;
    for (; offset != marks_end; ++offset) {
        const char* const mark = block_start + *offset;
        if (MayHoldCr && *mark == '\r') {
            has_cr = true;
            continue;
        }
        const std::string_view cell(cell_start, static_cast<std::size_t>(mark - cell_start));
        const bool line_ends = *mark == '\n';
        if (!(position == 0 && line_ends && (cell.empty() || (MayHoldCr && only_carriage_returns(cell))))) {
            on_cell(cell, position, MayHoldCr && has_cr);
        }
        position = line_ends ? 0 : position + 1;
        cell_start = mark + 1;
        has_cr = false;
    }
    cursor = {cell_start, position, has_cr};
}

// The tokenizer. Calls on_cell(cell, position, has_cr) for every cell of
// `lines`, complete lines the last of which ends with '\n'; `position` counts
// the cells of a line from 0, and has_cr tells whether the cell holds a
// carriage return. A line that is empty or holds only carriage returns has no
// cells. `marks` is storage for the index of one block.
//
// Each cell's end is known from the index before the cell is converted, so
// conversions do not chain through a parse pointer.
// Carriage returns are in the index too, so that no cell needs a scan of its
// own for them; a block is checked for one with memchr. check_interrupt is
// called before each block: a block holds at most one cell per byte.
template <typename OnCell>
void for_each_cell(std::string_view lines, std::vector<std::uint32_t>& marks, const InterruptCheck& check_interrupt,
                   OnCell&& on_cell) {
    marks.resize(std::max(marks.size(), std::min(kIndexBlockSize, lines.size())));
    CellCursor cursor;
    cursor.cell_start = lines.data();
    for (std::size_t block = 0; block < lines.size(); block += kIndexBlockSize) {
        check_interrupt();
        const char* const block_start = lines.data() + block;
        const std::size_t size = std::min(kIndexBlockSize, lines.size() - block);
        const std::uint32_t* const marks_end = index_marks(block_start, size, marks.data());
        if (cursor.has_cr || std::memchr(block_start, '\r', size) != nullptr) {
            split_block<true>(block_start, marks.data(), marks_end, cursor, on_cell);
        } else {
            split_block<false>(block_start, marks.data(), marks_end, cursor, on_cell);
        }
    }
}

}  // namespace csv
