// Differential fuzz target for cell conversion: every cell must convert exactly
// as the C library's strtod reads the cell's text with its carriage returns
// removed, up to its first NUL byte (reference::expected_conversion). A range
// error is an error only for an overflow; an underflow is strtod's value.
//
// Build and run by hand, from the repository root (clang with libFuzzer):
//   cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DORVANTIS_MODULE=OFF -DORVANTIS_FUZZ=ON
//   cmake --build build/fuzz --target csv_cells_fuzz && mkdir -p /tmp/csv_cells_fuzz_corpus
//   build/fuzz/csv_cells_fuzz -max_total_time=300 /tmp/csv_cells_fuzz_corpus tests/fuzz/corpus/csv_cells_fuzz

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "../cpp/reference.hpp"
#include "csv/cell_value.hpp"

// NOLINTNEXTLINE(readability-identifier-naming): libFuzzer calls the entry point by this name
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A view of libFuzzer's own buffer, so that reading past the cell is caught.
    const std::string_view cell(reinterpret_cast<const char*>(data), size);
    if (!(reference::conversion_by(csv::parse_cell, cell) == reference::expected_conversion(cell))) {
        std::abort();
    }
    std::string scratch;
    if (csv::without_carriage_returns(cell, scratch) != reference::without_carriage_returns(cell)) {
        std::abort();
    }
    return 0;
}
