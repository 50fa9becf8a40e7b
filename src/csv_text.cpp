#include "csv_text.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
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

}  // namespace csv
