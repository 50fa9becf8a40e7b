#include "csv_text.hpp"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

namespace csv {

namespace {

constexpr std::size_t chunk_size = std::size_t{1} << 20;

int open_for_reading(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string_view without_carriage_returns(char* first, std::size_t size) {
    char* last = first + size;
    if (std::memchr(first, '\r', size) != nullptr) {
        last = std::remove(first, last, '\r');
    }
    return {first, static_cast<std::size_t>(last - first)};
}

bool is_missing(std::string_view cell) { return cell.empty() || cell == "nan" || cell == "NaN"; }

bool has_nonzero_digit_before_exponent(std::string_view text) {
    for (const char c : text) {
        if (c == 'e' || c == 'E') {
            return false;
        }
        if (c >= '1' && c <= '9') {
            return true;
        }
    }
    return false;
}

// Plain decimal text ("-12.5e3"), read with std::from_chars, which is
// correctly rounded like strtod. Returns nullopt wherever the two could
// differ or strtod could report a range error: signs other than a leading
// minus, white space, hexadecimal, infinities and NaNs, trailing text, and
// results that are zero from nonzero digits, not above DBL_MIN, or out of range.
std::optional<double> parse_plain_decimal(std::string_view text) {
    std::size_t digits_start = text[0] == '-' ? 1 : 0;
    if (digits_start >= text.size()) {
        return std::nullopt;
    }
    const char first = text[digits_start];
    if (!((first >= '0' && first <= '9') || first == '.')) {
        return std::nullopt;
    }
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    if (value == 0.0) {
        if (has_nonzero_digit_before_exponent(text)) {
            return std::nullopt;
        }
        return value;
    }
    // glibc reports a range error for results that are tiny before rounding,
    // which includes texts just below DBL_MIN that round up to it.
    if (!(std::fabs(value) > DBL_MIN && std::fabs(value) <= DBL_MAX)) {
        return std::nullopt;
    }
    return value;
}

// std::stod's reading of the text, with '.' as the decimal point whatever the
// process locale, like the plain decimal path: a cell must not change its
// value because the program set a locale with a decimal comma.
std::optional<double> parse_with_strtod(std::string_view text, std::string& scratch) {
    scratch.assign(text.data(), text.size());
    const char* begin = scratch.c_str();
    char* end = nullptr;
    const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    if (c_locale == static_cast<locale_t>(0)) {
        throw std::bad_alloc();
    }
    const int saved_errno = errno;
    errno = 0;
    const double value = ::strtod_l(begin, &end, c_locale);
    const bool out_of_range = errno == ERANGE;
    errno = saved_errno;
    ::freelocale(c_locale);
    if (end == begin) {
        return std::nullopt;
    }
    if (out_of_range) {
        throw std::out_of_range("stod");
    }
    return value;
}

}  // namespace

LineReader::LineReader(const std::string& path) : fd_(open_for_reading(path)) {
    if (is_open()) {
        buffer_.resize(chunk_size);
    }
}

LineReader::~LineReader() {
    if (is_open()) {
        ::close(fd_);
    }
}

bool LineReader::next_line(std::string_view& line) {
    std::size_t scanned = 0;
    for (;;) {
        char* start = buffer_.data() + begin_;
        const std::size_t available = end_ - begin_;
        const void* feed = std::memchr(start + scanned, '\n', available - scanned);
        if (feed != nullptr) {
            const auto size = static_cast<std::size_t>(static_cast<const char*>(feed) - start);
            begin_ += size + 1;
            line = without_carriage_returns(start, size);
            return true;
        }
        scanned = available;
        if (!read_more()) {
            if (available == 0) {
                return false;
            }
            // read_more may have moved the unread bytes to the front.
            char* last_line = buffer_.data() + begin_;
            begin_ = end_;
            line = without_carriage_returns(last_line, available);
            return true;
        }
    }
}

// Keeps the unread bytes, moved to the front of the buffer, and appends what
// the file has next. Returns false when nothing more can be read.
bool LineReader::read_more() {
    if (at_end_ || !is_open()) {
        return false;
    }
    const std::size_t kept = end_ - begin_;
    std::memmove(buffer_.data(), buffer_.data() + begin_, kept);
    begin_ = 0;
    end_ = kept;
    if (end_ == buffer_.size()) {
        buffer_.resize(buffer_.size() * 2);  // a line longer than the buffer
    }
    for (;;) {
        const ssize_t count = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (count > 0) {
            end_ += static_cast<std::size_t>(count);
            return true;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        at_end_ = true;
        return false;
    }
}

std::optional<double> parse_cell(std::string_view cell, std::string& scratch) {
    if (is_missing(cell)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (const auto value = parse_plain_decimal(cell)) {
        return value;
    }
    return parse_with_strtod(cell, scratch);
}

}  // namespace csv
