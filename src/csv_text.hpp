#pragma once

// CSV text handling without Python: reading a file line by line, splitting a
// line into pieces. Cells become doubles in cell_parse.hpp.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace csv {

// Reads a file in large chunks and hands out its lines. A line ends at a line
// feed or at the end of the file; a line feed at the very end makes no extra
// empty line. Every carriage return inside a line is removed.
class LineReader {
public:
    // Opens `path` for reading. The reader is not open for a missing or
    // unreadable file, a directory, or a path that holds a NUL byte.
    explicit LineReader(const std::string& path);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool is_open() const { return fd_ >= 0; }

    // Stores the next line in `line`, valid until the next call. Returns false
    // at the end of the file; a read error counts as the end of the file.
    bool next_line(std::string_view& line);

private:
    bool read_more();

    int fd_ = -1;
    bool at_end_ = false;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

enum class TrailingPiece {
    dropped_when_empty,  // "a,b," gives a; b
    kept,                // "a,b," gives a; b; and an empty piece
};

// Calls `on_piece(piece)` for each comma-separated piece of `line`, in order,
// until it returns false. An empty line has no pieces.
template <typename OnPiece>
void split_pieces(std::string_view line, TrailingPiece trailing, OnPiece&& on_piece) {
    if (line.empty()) {
        return;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            if (start < line.size() || trailing == TrailingPiece::kept) {
                on_piece(line.substr(start));
            }
            return;
        }
        if (!on_piece(line.substr(start, comma - start))) {
            return;
        }
        start = comma + 1;
    }
}

}  // namespace csv
