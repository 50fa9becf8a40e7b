// Reading a CSV file in chunks into columns: the file, the row loop and the room for the columns.

#include "csv/reader.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "csv/cell_value.hpp"
#include "csv/column_space.hpp"
#include "csv/split.hpp"

namespace csv {

namespace {

using Column = std::vector<double>;

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
    for_each_cell(next_lines(true), separator_index_, check_interrupt_,
                  [&](std::string_view piece, std::size_t, bool has_cr) {
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
        for_each_cell(lines, separator_index_, check_interrupt_,
                      [&](std::string_view cell, std::size_t position, bool has_cr) {
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
