// Differential fuzz target for csv::Reader: a whole document read through the
// reader must give the same names, the same values (bit for bit), the same
// unreadable-cell callbacks in the same order and the same range error as the
// plain model of reference.hpp: lines split at '\n', carriage returns removed,
// cells split at ',', the header dropping an empty last piece, cells read by
// strtod. Columns of the same name are merged, as the module's load does.
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

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "../cpp/reference.hpp"

// NOLINTNEXTLINE(readability-identifier-naming): libFuzzer calls the entry point by this name
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view document(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t chunk_size = 1 + data[0] % 64;
    if (!(reference::reader_load(document, chunk_size, reference::Duplicates::merged) ==
          reference::expected_load(document, reference::Duplicates::merged))) {
        std::abort();
    }
    return 0;
}
