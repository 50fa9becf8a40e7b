// Reading a CSV file in chunks and splitting its lines into cells, without Python.

#include "csv_text.hpp"

#include <algorithm>
#include <cerrno>
#include <cfenv>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cell_parse.hpp"
#include "cell_words.hpp"
#include "target_features.hpp"

namespace csv {

namespace {

using Column = std::vector<double>;

// Lines are split into cells through an index of their separators and
// carriage returns, built for a block of at most this many bytes at a time:
// 64 KiB keep the block and its index in the cache while the cells are
// converted (16 to 256 KiB measured alike).
constexpr std::size_t kIndexBlockSize = std::size_t{64} << 10;

// The outcome of one system call: what it returned, and errno after it.
struct CallOutcome {
    long result = -1;
    int error = 0;
};

// Makes `call` through `run_blocking`. errno is taken right after the call,
// before anything else can change it.
template <typename SystemCall>
CallOutcome make_call(const BlockingCall& run_blocking, SystemCall call) {
    CallOutcome outcome;
    run_blocking([&outcome, &call] {
        outcome.result = call();
        outcome.error = errno;
    });
    return outcome;
}

int open_for_reading(const std::string& path, const InterruptCheck& check_interrupt, const BlockingCall& run_blocking) {
    if (path.find('\0') != std::string::npos) {
        return -1;
    }
    for (;;) {
        const CallOutcome opened =
            make_call(run_blocking, [&path] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
        if (opened.result >= 0 || opened.error != EINTR) {
            return static_cast<int>(opened.result);
        }
        check_interrupt();
    }
}

std::uint64_t regular_file_size(int fd) {
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

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

// The top bit of each byte of `word` that is zero, and of no other byte: the
// low 7 bits of a nonzero byte carry into its top bit, and its own top bit
// flags the rest.
std::uint64_t zero_bytes(std::uint64_t word) {
    constexpr std::uint64_t kLowBits = ~words::kTopBitOfEveryByte;
    return ~(((word & kLowBits) + kLowBits) | word | kLowBits);
}

// A mask with the top bit of byte i set where bytes[i] is ',', '\n' or '\r'.
std::uint64_t mark_mask(const char* bytes) {
    const std::uint64_t word = words::load_8(bytes);
    return zero_bytes(word ^ (',' * words::kEveryByte)) | zero_bytes(word ^ ('\n' * words::kEveryByte)) |
           zero_bytes(word ^ ('\r' * words::kEveryByte));
}

#endif

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

bool only_carriage_returns(std::string_view text) { return text.find_first_not_of('\r') == std::string_view::npos; }

// The lines of `lines` (each ending with '\n') that hold cells: those with a
// byte other than '\r'.
std::size_t rows_with_cells(std::string_view lines) {
    std::size_t rows = 0;
    bool has_cell = false;
    for (const char byte : lines) {
        if (byte == '\n') {
            rows += has_cell ? 1 : 0;
            has_cell = false;
        } else if (byte != '\r') {
            has_cell = true;
        }
    }
    return rows;
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
// for a block without one, after a cell without one (the usual case; 1M x 8
// short cells: 83 -> 76 ms, 5% fewer instructions).
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
// conversions do not chain through a parse pointer. Reading and splitting
// 1M x 8 numbers (conversion aside) went from 112 to 82 ms of CPU time, 40 of
// which are the kernel's: the read copies and the columns' new pages.
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

// Converts the cells of the rows, calling back for those without a number.
// The rounding mode is read once, when the converter is made: parse_cell
// rounds to nearest, so in any other mode every cell goes to the C library,
// which rounds in the current mode.
class CellConverter {
public:
    explicit CellConverter(const OnUnreadableCell& on_unreadable_cell)
        : on_unreadable_cell_(on_unreadable_cell), rounds_to_nearest_(std::fegetround() == FE_TONEAREST) {}

    // Carriage returns at the end of a cell (CR LF line ends) are dropped
    // here, which keeps the cell on parse_cell's fast path (1M x 8 numbers
    // with CR LF: 237 -> 155 ms); parse_cell removes any others itself.
    double operator()(std::string_view cell, bool has_cr) {
        if (has_cr) {
            cell = cell.substr(0, cell.find_last_not_of('\r') + 1);
        }
        double value;
        const bool converted = __builtin_expect(rounds_to_nearest_, 1)
                                   ? parse_cell(cell, conversion_scratch_, value)
                                   : parse_cell_by_c_library(cell, conversion_scratch_, value);
        if (converted) {
            return value;
        }
        on_unreadable_cell_(without_carriage_returns(cell, cell_text_));
        return std::numeric_limits<double>::quiet_NaN();
    }

private:
    const OnUnreadableCell& on_unreadable_cell_;
    std::string cell_text_;
    std::string conversion_scratch_;
    bool rounds_to_nearest_;
};

// Reserves room in the columns ahead of the rows, so that no column grows by
// a copy while it fills: a growing copy holds a column twice at the peak, and
// reserving from an estimate took the 1M x 8 load from 233 to 205 ms. The
// room is only reserved: its pages become resident as the values reach them.
// Asking for 2 MiB pages for it (madvise) made loads of 100 MB and more 10 to
// 30% faster, but not a 10 MB file's, whose columns are too small for them:
// 906, 1,240 and 1,485 MB/s at 10 MB, 100 MB and 1 GB, against 1,016, 1,083
// and 1,153 MB/s without, a cost per byte that does not depend on the size.
//
// Room is best effort: when a column's room cannot be had (the address space
// is limited, or memory is not overcommitted), that column and the ones after
// it grow as they fill instead.
class ColumnSpace {
public:
    explicit ColumnSpace(const std::vector<Column*>& targets) {
        std::vector<Column*> sorted = targets;
        std::sort(sorted.begin(), sorted.end());
        for (Column* column : sorted) {
            if (!columns_.empty() && columns_.back().first == column) {
                ++columns_.back().second;
            } else {
                columns_.emplace_back(column, 1);
            }
        }
    }

    // Makes room in every column for `rows` more full rows, calling
    // check_interrupt every few thousand columns. Kept out of the row loop
    // that calls it: inlined there, it made the loop's code slower per cell.
    [[gnu::noinline]] void reserve_rows(std::size_t rows, const InterruptCheck& check_interrupt) {
        constexpr std::size_t kColumnsPerInterruptCheck = 4096;
        for (std::size_t index = 0; index < columns_.size(); ++index) {
            if (index % kColumnsPerInterruptCheck == kColumnsPerInterruptCheck - 1) {
                check_interrupt();
            }
            const auto& [column, cells_per_row] = columns_[index];
            try {
                column->reserve(column->size() + rows * cells_per_row);
            } catch (const std::bad_alloc&) {
                return;
            } catch (const std::length_error&) {
                return;
            }
        }
    }

private:
    std::vector<std::pair<Column*, std::size_t>> columns_;  // each column once, with its positions in a row
};

}  // namespace

void call_directly(const std::function<void()>& system_call) { system_call(); }

ReadError::ReadError(int error_number) : std::system_error(error_number, std::generic_category(), "read") {}

Reader::Reader(const std::string& path, InterruptCheck check_interrupt, std::size_t chunk_size,
               BlockingCall run_blocking)
    : check_interrupt_(std::move(check_interrupt)),
      run_blocking_(std::move(run_blocking)),
      fd_(open_for_reading(path, check_interrupt_, run_blocking_)) {
    if (!is_open()) {
        return;
    }
    try {
        file_size_ = regular_file_size(fd_);
        buffer_.resize(std::max<std::size_t>(chunk_size, 1) + 1);
        fill();
    } catch (const ReadError&) {
        ::close(fd_);
        fd_ = -1;
    } catch (...) {
        ::close(fd_);
        throw;
    }
}

Reader::~Reader() {
    if (is_open()) {
        ::close(fd_);
    }
}

std::vector<std::string> Reader::read_header() {
    std::vector<std::string> names;
    std::string scratch;
    for_each_cell(next_lines(true), marks_, check_interrupt_, [&](std::string_view piece, std::size_t, bool has_cr) {
        names.emplace_back(has_cr ? without_carriage_returns(piece, scratch) : piece);
    });
    if (!names.empty() && names.back().empty()) {
        names.pop_back();
    }
    return names;
}

void Reader::read_rows(const std::vector<Column*>& targets, const OnUnreadableCell& on_unreadable_cell) {
    rows_offset_ = file_offset(unread());
    const std::size_t positions = targets.size();
    ColumnSpace space(targets);
    // Room for the rows expected from `offset` on, as far as the bytes left
    // can fill them; the rows expected are the rows until the next estimate.
    const auto reserve_from = [&](std::uint64_t offset, std::size_t rows_expected) {
        space.reserve_rows(std::min(rows_expected, full_rows_that_fit(offset, positions)), check_interrupt_);
        return rows_expected;
    };
    std::size_t rows_left = reserve_from(rows_offset_, rows_for_first_chunk());
    std::size_t rows_read = 0;
    CellConverter convert(on_unreadable_cell);
    Column* const* const columns = targets.data();
    for (std::string_view lines = next_lines(false); !lines.empty(); lines = next_lines(false)) {
        for_each_cell(lines, marks_, check_interrupt_, [&](std::string_view cell, std::size_t position, bool has_cr) {
            if (position == 0) {
                if (rows_left == 0) {
                    const std::uint64_t offset = file_offset(cell);
                    rows_left = reserve_from(offset, rows_to_expect(rows_read, offset));
                }
                --rows_left;
                ++rows_read;
            }
            if (position < positions) {
                columns[position]->push_back(convert(cell, has_cr));
            }
        });
    }
}

// The next complete lines in the buffer, the last one ending with '\n' (one is
// added after a last line that has none), or an empty view at the end of the
// file. With `just_one`, only the next line. Valid until the next call.
std::string_view Reader::next_lines(bool just_one) {
    for (;;) {
        const char* const unsearched = buffer_.data() + searched_;
        const std::size_t size = end_ - searched_;
        const void* const line_feed =
            just_one ? std::memchr(unsearched, '\n', size) : ::memrchr(unsearched, '\n', size);
        if (line_feed != nullptr) {
            const auto stop = static_cast<std::size_t>(static_cast<const char*>(line_feed) - buffer_.data()) + 1;
            const std::string_view lines(buffer_.data() + begin_, stop - begin_);
            begin_ = searched_ = stop;
            return lines;
        }
        searched_ = end_;
        if (!fill()) {
            if (begin_ == end_) {
                return {};
            }
            buffer_[end_++] = '\n';  // fill() always leaves this byte free
        }
    }
}

// Keeps the bytes not handed out yet, moved to the front of the buffer, and
// appends what the file has next. Returns false at the end of the file.
bool Reader::fill() {
    if (at_end_) {
        return false;
    }
    const std::size_t kept = end_ - begin_;
    std::memmove(buffer_.data(), buffer_.data() + begin_, kept);
    buffer_offset_ += begin_;
    searched_ -= begin_;
    begin_ = 0;
    end_ = kept;
    if (end_ + 1 == buffer_.size()) {
        buffer_.resize(buffer_.size() * 2);  // a line longer than the buffer
    }
    check_interrupt_();
    const std::size_t count = read_some(buffer_.data() + end_, buffer_.size() - 1 - end_);
    end_ += count;
    at_end_ = count == 0;
    return !at_end_;
}

std::size_t Reader::read_some(char* destination, std::size_t size) {
    for (;;) {
        const CallOutcome read = make_call(run_blocking_, [&] { return ::read(fd_, destination, size); });
        if (read.result >= 0) {
            return static_cast<std::size_t>(read.result);
        }
        if (read.error != EINTR) {
            throw ReadError(read.error);
        }
        check_interrupt_();
    }
}

std::string_view Reader::unread() const { return {buffer_.data() + begin_, end_ - begin_}; }

std::uint64_t Reader::file_offset(std::string_view text) const {
    return buffer_offset_ + static_cast<std::uint64_t>(text.data() - buffer_.data());
}

// Rows to expect from line 2 on: the lines with cells that the first chunk
// holds complete after the header, and those expected after them.
std::size_t Reader::rows_for_first_chunk() const {
    const std::string_view chunk = unread();
    const std::size_t sample_size = chunk.rfind('\n') + 1;  // 0 without a line feed
    const std::size_t rows = rows_with_cells(chunk.substr(0, sample_size));
    return rows + rows_to_expect(rows, file_offset(chunk.substr(sample_size)));
}

// Rows to expect after `offset`, where `rows_read` rows with cells took the
// bytes from line 2 to `offset`: the rest of the file at the same bytes per
// row, plus 1/8. At least 1/8 of the rows read, so that a file that outgrows
// its size still costs few copies, and as many rows as were read when the
// size of the file is unknown.
std::size_t Reader::rows_to_expect(std::size_t rows_read, std::uint64_t offset) const {
    constexpr std::size_t kFewRows = 16;
    if (file_size_ == 0 || rows_read == 0) {
        return std::max(rows_read, kFewRows);
    }
    const double bytes_per_row = static_cast<double>(offset - rows_offset_) / static_cast<double>(rows_read);
    const double bytes_left = offset < file_size_ ? static_cast<double>(file_size_ - offset) : 0.0;
    const auto projected = static_cast<std::size_t>(bytes_left / bytes_per_row * 1.125) + kFewRows;
    return std::max(projected, rows_read / 8);
}

// The most rows with a cell at each of `positions` that the bytes from
// `offset` to the end of the file can hold: such a row takes at least
// max(2, positions) bytes with its line feed (a one-byte cell, or a comma
// between every two empty cells), and the last line has no line feed. When
// the size of the file is unknown, as many bytes are taken to be left as the
// rows have taken up to the end of what was read, so that room at most
// doubles per estimate.
std::size_t Reader::full_rows_that_fit(std::uint64_t offset, std::size_t positions) const {
    std::uint64_t bytes_left = buffer_offset_ + end_ - rows_offset_;
    if (file_size_ != 0) {
        bytes_left = offset < file_size_ ? file_size_ - offset : 0;
    }
    return static_cast<std::size_t>((bytes_left + 1) / std::max<std::uint64_t>(positions, 2));
}

}  // namespace csv
