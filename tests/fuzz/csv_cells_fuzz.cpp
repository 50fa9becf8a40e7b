// Differential fuzz target for cell conversion: every cell must convert exactly
// as the C library's strtod reads the cell's text with its carriage returns
// removed, up to its first NUL byte. A range error is an error only for an
// overflow; an underflow is strtod's value.
//
// Build and run by hand, from the repository root (clang with libFuzzer):
//   cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DORVANTIS_MODULE=OFF -DORVANTIS_FUZZ=ON
//   cmake --build build/fuzz --target csv_cells_fuzz && mkdir -p /tmp/csv_cells_fuzz_corpus
//   build/fuzz/csv_cells_fuzz -max_total_time=300 /tmp/csv_cells_fuzz_corpus tests/fuzz/corpus/csv_cells_fuzz

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>

#include "csv/cell_value.hpp"

namespace {

enum class Outcome { value, unreadable, overflow };

struct Result {
    Outcome outcome;
    double value;
};

std::string without_crs(std::string_view cell) {
    std::string text;
    for (const char c : cell) {
        if (c != '\r') {
            text += c;
        }
    }
    return text;
}

Result convert_with_strtod(std::string_view cell) {
    const std::string text = without_crs(cell);
    if (text.empty() || text == "nan" || text == "NaN") {
        return {Outcome::value, std::numeric_limits<double>::quiet_NaN()};
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str()) {
        return {Outcome::unreadable, 0.0};
    }
    if (errno == ERANGE && std::isinf(value)) {
        return {Outcome::overflow, 0.0};
    }
    return {Outcome::value, value};
}

Result convert_with_parse_cell(std::string_view cell) {
    std::string scratch;
    try {
        double value = 0.0;
        return csv::parse_cell(cell, scratch, value) ? Result{Outcome::value, value} : Result{Outcome::unreadable, 0.0};
    } catch (const std::out_of_range& error) {
        if (std::strcmp(error.what(), "stod") != 0) {
            std::abort();
        }
        return {Outcome::overflow, 0.0};
    }
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void check_cell(std::string_view cell) {
    const Result want = convert_with_strtod(cell);
    const Result got = convert_with_parse_cell(cell);
    if (want.outcome != got.outcome || (want.outcome == Outcome::value && !same_bits(want.value, got.value))) {
        std::abort();
    }
}

void check_carriage_return_removal(std::string_view cell) {
    std::string scratch;
    if (std::string(csv::without_carriage_returns(cell, scratch)) != without_crs(cell)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A view of libFuzzer's own buffer, so that reading past the cell is caught.
    const std::string_view cell(reinterpret_cast<const char*>(data), size);
    check_cell(cell);
    check_carriage_return_removal(cell);
    return 0;
}
