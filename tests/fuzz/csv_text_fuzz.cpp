// Differential fuzz target for csv::Reader: a whole document read through the
// reader must give the same names, the same values (bit for bit), the same
// unreadable-cell callbacks in the same order and the same range error as a
// plain reference: split lines at '\n', remove carriage returns, split at ',',
// the header dropping an empty last piece, cells converted with parse_cell.
//
// The first input byte picks the size of the reads, 1 to 64 bytes, so that
// chunk boundaries fall everywhere and long lines make the buffer grow.
// (Documents that cross the 64 KiB blocks of the separator index run too
// slowly here; tests/test_csv_loader.py compares such documents.)
//
// bash .ci/fuzz builds and runs it from its seeds in tests/fuzz/corpus/csv_text_fuzz/.
// Build and run by hand, from the repository root (clang with libFuzzer):
//   cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DORVANTIS_MODULE=OFF -DORVANTIS_FUZZ=ON
//   cmake --build build/fuzz --target csv_text_fuzz && mkdir -p /tmp/csv_text_fuzz_corpus
//   build/fuzz/csv_text_fuzz -max_total_time=300 /tmp/csv_text_fuzz_corpus tests/fuzz/corpus/csv_text_fuzz

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "csv/cell_value.hpp"
#include "csv/reader.hpp"

namespace {

struct Outcome {
    std::vector<std::string> names;
    std::map<std::string, std::vector<std::uint64_t>> value_bits;
    std::vector<std::string> unreadable_cells;
    bool range_error = false;

    bool operator==(const Outcome& other) const {
        return names == other.names && value_bits == other.value_bits && unreadable_cells == other.unreadable_cells &&
               range_error == other.range_error;
    }
};

using Columns = std::map<std::string, std::vector<double>>;

std::map<std::string, std::vector<std::uint64_t>> bits_of(const Columns& columns) {
    std::map<std::string, std::vector<std::uint64_t>> bits;
    for (const auto& [name, values] : columns) {
        auto& column_bits = bits[name];
        for (const double value : values) {
            std::uint64_t word;
            std::memcpy(&word, &value, sizeof word);
            column_bits.push_back(word);
        }
    }
    return bits;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> pieces(1);
    for (const char c : text) {
        if (c == separator) {
            pieces.emplace_back();
        } else {
            pieces.back() += c;
        }
    }
    return pieces;
}

std::vector<std::string> reference_lines(const std::string& document) {
    if (document.empty()) {
        return {};
    }
    std::vector<std::string> lines = split(document, '\n');
    if (document.back() == '\n') {
        lines.pop_back();
    }
    for (auto& line : lines) {
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
    }
    return lines;
}

std::vector<std::string> reference_header(const std::string& line) {
    if (line.empty()) {
        return {};
    }
    std::vector<std::string> names = split(line, ',');
    if (names.back().empty()) {
        names.pop_back();
    }
    return names;
}

Outcome read_with_reference(const std::string& document) {
    const std::vector<std::string> lines = reference_lines(document);
    Outcome outcome;
    Columns columns;
    if (!lines.empty()) {
        outcome.names = reference_header(lines[0]);
    }
    for (const auto& name : outcome.names) {
        columns[name];
    }
    std::string scratch;
    try {
        for (std::size_t row = 1; row < lines.size(); ++row) {
            if (lines[row].empty()) {
                continue;
            }
            const std::vector<std::string> cells = split(lines[row], ',');
            for (std::size_t k = 0; k < std::min(cells.size(), outcome.names.size()); ++k) {
                double value = std::numeric_limits<double>::quiet_NaN();
                if (!csv::parse_cell(cells[k], scratch, value)) {
                    outcome.unreadable_cells.push_back(cells[k]);
                }
                columns[outcome.names[k]].push_back(value);
            }
        }
    } catch (const std::out_of_range&) {
        outcome.range_error = true;
    }
    outcome.value_bits = bits_of(columns);
    return outcome;
}

// The document in a file of its own that lives in memory, closed on destruction.
class MemoryFile {
public:
    explicit MemoryFile(const std::string& content) : fd_(::memfd_create("csv_text_fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0 || ::write(fd_, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
            std::abort();
        }
    }
    ~MemoryFile() { ::close(fd_); }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

Outcome read_with_reader(const std::string& document, std::size_t chunk_size) {
    const MemoryFile file(document);
    csv::Reader reader(file.path(), [] {}, chunk_size);
    if (!reader.is_open()) {
        std::abort();
    }
    Outcome outcome;
    outcome.names = reader.read_header();
    Columns columns;
    std::vector<std::vector<double>*> targets;
    for (const auto& name : outcome.names) {
        targets.push_back(&columns[name]);
    }
    try {
        reader.read_rows(targets, [&](std::string_view text) { outcome.unreadable_cells.emplace_back(text); });
    } catch (const std::out_of_range&) {
        outcome.range_error = true;
    }
    outcome.value_bits = bits_of(columns);
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string document(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t chunk_size = 1 + data[0] % 64;
    if (!(read_with_reader(document, chunk_size) == read_with_reference(document))) {
        std::abort();
    }
    return 0;
}
