#pragma once

// CSV text handling without Python: reading a file in chunks, splitting its
// lines into cells (split.hpp) and appending the values of the cells
// (cell_value.hpp) to columns.
//
// The dialect: a line ends at a line feed or at the end of the file (a line
// feed at the very end makes no extra line). Carriage returns belong to no
// text: a line made only of them is empty, and they are removed from names,
// cells and warnings. A line splits at every comma. An empty line has no cells.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "csv/callbacks.hpp"

namespace csv {

// A BlockingCall that simply makes the call.
void call_directly(const std::function<void()>& system_call);

// A read from the file failed after its first byte had been read; code() holds
// the errno value (generic category).
class ReadError : public std::system_error {
public:
    explicit ReadError(int error_number);
};

// Reads one CSV file from the start: the header first, then the rows.
class Reader {
public:
    // Bytes asked of the file per read.
    static constexpr std::size_t kDefaultChunkSize = std::size_t{256} << 10;

    // Opens `path` and reads its first chunk. The reader is not open for a
    // path that holds a NUL byte, a file that cannot be opened for reading, or
    // one whose first read fails (a directory, /proc/self/mem). Opening may
    // wait, for a FIFO; `check_interrupt` is called meanwhile. Each read asks
    // for `chunk_size` bytes (tiny sizes let tests reach every chunk boundary).
    // Every open and read goes through `run_blocking`.
    Reader(const std::string& path, InterruptCheck check_interrupt, std::size_t chunk_size = kDefaultChunkSize,
           BlockingCall run_blocking = call_directly);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    bool is_open() const { return fd_ >= 0; }

    // The pieces of line 1, in order, byte for byte; an empty last piece is
    // dropped ("a,b," gives a and b). None for an empty file. Throws ReadError.
    std::vector<std::string> read_header();

    // Reads every line after the header (call read_header first). Every
    // column's room is reserved ahead from the size of the file, so no column
    // is copied while it grows; never more room than the rest of the file
    // could fill, and a column whose room cannot be had grows as it fills. The
    // cell at position k of a line is appended to *targets[k] (a column may
    // stand at several positions); cells past the last position are ignored
    // unread. An empty cell, nan and NaN are NaN; a cell without a number is
    // NaN after on_unreadable_cell. Throws ReadError, and
    // std::out_of_range("stod") for a cell out of the double range; the
    // columns then keep the values of the cells before it, as they do when
    // check_interrupt throws.
    void read_rows(const std::vector<std::vector<double>*>& targets, const OnUnreadableCell& on_unreadable_cell);

private:
    std::string_view next_lines(bool just_one);
    bool fill();
    std::size_t read_some(char* destination, std::size_t size);
    std::string_view unread() const;                         // the bytes read and not handed out yet
    std::uint64_t file_offset(std::string_view text) const;  // of the first byte of `text`
    std::size_t rows_for_first_chunk() const;
    std::size_t rows_to_expect(std::size_t rows_read, std::uint64_t offset) const;
    std::size_t full_rows_that_fit(std::uint64_t offset, std::size_t positions) const;

    InterruptCheck check_interrupt_;
    BlockingCall run_blocking_;
    int fd_ = -1;
    std::uint64_t file_size_ = 0;  // 0 when unknown
    std::vector<char> buffer_;
    std::size_t begin_ = 0;            // first byte not handed out yet
    std::size_t searched_ = 0;         // [begin_, searched_) holds no line feed
    std::size_t end_ = 0;              // end of the bytes read
    std::uint64_t buffer_offset_ = 0;  // file offset of buffer_[0]
    std::uint64_t rows_offset_ = 0;    // file offset of line 2
    bool at_end_ = false;
    std::vector<std::uint32_t> separator_index_;  // the index of a block's separators and carriage returns
};

}  // namespace csv
