// Differential fuzz target for the CSV text handling: every cell must convert
// exactly as the C library's strtod reads the cell's text up to its first NUL
// byte, and splitting must agree with a plain reference splitter.
//
// Build and run (clang with libFuzzer):
//   clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -ffp-contract=off \
//       -Isrc tests/fuzz/csv_cells_fuzz.cpp src/csv_text.cpp src/cell_parse.cpp -o /tmp/csv_cells_fuzz
//   /tmp/csv_cells_fuzz -max_total_time=300

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "cell_parse.hpp"
#include "csv_text.hpp"

namespace {

enum class Outcome { value, unreadable, range_error };

struct Expected {
    Outcome outcome;
    double value;
};

Expected convert_with_strtod(const std::string& cell) {
    if (cell.empty() || cell == "nan" || cell == "NaN") {
        return {Outcome::value, std::numeric_limits<double>::quiet_NaN()};
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(cell.c_str(), &end);
    if (end == cell.c_str()) {
        return {Outcome::unreadable, 0.0};
    }
    if (errno == ERANGE) {
        return {Outcome::range_error, 0.0};
    }
    return {Outcome::value, value};
}

Expected convert_with_parse_cell(const std::string& cell) {
    std::string scratch;
    try {
        const auto value = csv::parse_cell(cell, scratch);
        return value ? Expected{Outcome::value, *value} : Expected{Outcome::unreadable, 0.0};
    } catch (const std::out_of_range&) {
        return {Outcome::range_error, 0.0};
    }
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void check_cell(const std::string& cell) {
    const Expected want = convert_with_strtod(cell);
    const Expected got = convert_with_parse_cell(cell);
    if (want.outcome != got.outcome || (want.outcome == Outcome::value && !same_bits(want.value, got.value))) {
        std::abort();
    }
}

std::vector<std::string> reference_split(const std::string& line, csv::TrailingPiece trailing) {
    std::vector<std::string> pieces;
    if (line.empty()) {
        return pieces;
    }
    std::string piece;
    for (const char c : line) {
        if (c == ',') {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty() || trailing == csv::TrailingPiece::kept) {
        pieces.push_back(piece);
    }
    return pieces;
}

void check_split(const std::string& line, csv::TrailingPiece trailing) {
    std::vector<std::string> got;
    csv::split_pieces(line, trailing, [&](std::string_view piece) {
        got.emplace_back(piece);
        return true;
    });
    if (got != reference_split(line, trailing)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    check_cell(text);
    check_split(text, csv::TrailingPiece::dropped_when_empty);
    check_split(text, csv::TrailingPiece::kept);
    return 0;
}
