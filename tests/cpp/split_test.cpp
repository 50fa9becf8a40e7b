// Checks csv::Reader's splitting of lines into cells against the plain model
// of the dialect in reference.hpp, on random texts of separators, carriage returns and cells that
// cross the tokenizer's strides and the reader's chunks; exits 1 on a mismatch.
//
// Built by CMake with -DORVANTIS_BUILD_TESTS=ON (target split_test); run it
// without arguments.

#include <cstdio>
#include <exception>
#include <random>
#include <string>
#include <string_view>

#include "csv/reader.hpp"
#include "reference.hpp"

namespace {

constexpr std::string_view kPieces[] = {",", "\n", "\r", "\r\n", "7", "1.5", "-25", "x", "12345678.25", ""};

std::string random_text(std::mt19937_64& random) {
    std::string text;
    const std::size_t pieces = random() % 120;
    for (std::size_t i = 0; i < pieces; ++i) {
        text += kPieces[random() % std::size(kPieces)];
    }
    return text;
}

}  // namespace

int main() {
    constexpr int kTexts = 3000;
    constexpr std::size_t kChunkSizes[] = {1, 5, 64, csv::Reader::kDefaultChunkSize};
    // NOLINTNEXTLINE(bugprone-random-generator-seed): the same texts on every run
    std::mt19937_64 random(20240611);
    int mismatches = 0;
    int texts = 0;
    for (; texts < kTexts && mismatches < 5; ++texts) {
        const std::string text = random_text(random);
        const std::size_t chunk_size = kChunkSizes[texts % std::size(kChunkSizes)];
        try {
            if (!(reference::reader_load(text, chunk_size, reference::Duplicates::apart) ==
                  reference::expected_load(text, reference::Duplicates::apart))) {
                ++mismatches;
                std::printf("  chunks of %zu: %s splits differently\n", chunk_size, reference::shown(text).c_str());
            }
        } catch (const std::exception& error) {
            ++mismatches;
            std::printf("  chunks of %zu: %s: %s\n", chunk_size, reference::shown(text).c_str(), error.what());
        }
    }
    std::printf("%s: %d random texts split as the dialect says, %d mismatches\n", mismatches == 0 ? "ok" : "FAILED",
                texts, mismatches);
    return mismatches == 0 ? 0 : 1;
}
