// Checks csv::Reader's splitting of lines into cells against a plain model of
// the dialect, on random texts of separators, carriage returns and cells that
// cross the tokenizer's strides and the reader's chunks; exits 1 on a mismatch.
//
// Built by CMake with -DORVANTIS_BUILD_TESTS=ON (target split_test); run it
// without arguments.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "csv/reader.hpp"

namespace {

// What a load gives: the header's names, each column's value bits, and the
// texts reported as holding no number.
struct Load {
    std::vector<std::string> names;
    std::vector<std::vector<std::uint64_t>> columns;
    std::vector<std::string> unreadable;

    bool operator==(const Load& other) const {
        return names == other.names && columns == other.columns && unreadable == other.unreadable;
    }
};

std::uint64_t bits_of(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::string without_crs(std::string_view text) {
    std::string kept;
    for (const char byte : text) {
        if (byte != '\r') {
            kept += byte;
        }
    }
    return kept;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return pieces;
        }
        start = end + 1;
    }
}

// The cell's value as strtod reads it; a cell without a number is NaN and
// noted in `load`, the empty cell is NaN.
double modelled_value(const std::string& cell, Load& load) {
    if (cell.empty()) {
        return std::nan("");
    }
    char* end = nullptr;
    const double value = std::strtod(cell.c_str(), &end);
    if (end == cell.c_str()) {
        load.unreadable.push_back(cell);
        return std::nan("");
    }
    return value;
}

// The dialect, line by line: the lines of `text` (no extra line after a
// final line feed), the header's pieces without carriage returns and without
// an empty last piece, then every line with a byte other than '\r', its cell
// at position k going to column k.
Load modelled_load(std::string_view text) {
    Load load;
    std::vector<std::string_view> lines = split(text, '\n');
    if (!text.empty() && text.back() == '\n') {
        lines.pop_back();
    }
    if (text.empty()) {
        return load;
    }
    for (const std::string_view piece : split(lines[0], ',')) {
        load.names.push_back(without_crs(piece));
    }
    if (load.names.back().empty()) {
        load.names.pop_back();
    }
    load.columns.resize(load.names.size());
    for (std::size_t line = 1; line < lines.size(); ++line) {
        if (without_crs(lines[line]).empty()) {
            continue;
        }
        const std::vector<std::string_view> cells = split(lines[line], ',');
        for (std::size_t position = 0; position < cells.size() && position < load.columns.size(); ++position) {
            load.columns[position].push_back(bits_of(modelled_value(without_crs(cells[position]), load)));
        }
    }
    return load;
}

Load read_load(const std::string& path, std::size_t chunk_size) {
    csv::Reader reader(path, [] {}, chunk_size);
    Load load;
    load.names = reader.read_header();
    std::vector<std::vector<double>> columns(load.names.size());
    std::vector<std::vector<double>*> targets;
    targets.reserve(columns.size());
    for (std::vector<double>& column : columns) {
        targets.push_back(&column);
    }
    reader.read_rows(targets, [&load](std::string_view text) { load.unreadable.emplace_back(text); });
    for (const std::vector<double>& column : columns) {
        load.columns.emplace_back();
        for (const double value : column) {
            load.columns.back().push_back(bits_of(value));
        }
    }
    return load;
}

constexpr std::string_view kPieces[] = {",", "\n", "\r", "\r\n", "7", "1.5", "-25", "x", "12345678.25", ""};

std::string random_text(std::mt19937_64& random) {
    std::string text;
    const std::size_t pieces = random() % 120;
    for (std::size_t i = 0; i < pieces; ++i) {
        text += kPieces[random() % std::size(kPieces)];
    }
    return text;
}

std::string escaped(std::string_view text) {
    std::string shown;
    for (const char byte : text) {
        shown += byte == '\n' ? "\\n" : byte == '\r' ? "\\r" : std::string(1, byte);
    }
    return shown;
}

}  // namespace

int main() {
    constexpr int kTexts = 3000;
    constexpr std::size_t kChunkSizes[] = {1, 5, 64, csv::Reader::kDefaultChunkSize};
    const std::string path = std::filesystem::temp_directory_path() / ("split_test_" + std::to_string(getpid()));
    // NOLINTNEXTLINE(bugprone-random-generator-seed): the same texts on every run
    std::mt19937_64 random(20240611);
    int mismatches = 0;
    int texts = 0;
    for (; texts < kTexts && mismatches < 5; ++texts) {
        const std::string text = random_text(random);
        std::ofstream(path, std::ios::binary) << text;
        const std::size_t chunk_size = kChunkSizes[texts % std::size(kChunkSizes)];
        try {
            if (!(read_load(path, chunk_size) == modelled_load(text))) {
                ++mismatches;
                std::printf("  chunks of %zu: \"%s\" splits differently\n", chunk_size, escaped(text).c_str());
            }
        } catch (const std::exception& error) {
            ++mismatches;
            std::printf("  chunks of %zu: \"%s\": %s\n", chunk_size, escaped(text).c_str(), error.what());
        }
    }
    std::filesystem::remove(path);
    std::printf("%s: %d random texts split as the dialect says, %d mismatches\n", mismatches == 0 ? "ok" : "FAILED",
                texts, mismatches);
    return mismatches == 0 ? 0 : 1;
}
