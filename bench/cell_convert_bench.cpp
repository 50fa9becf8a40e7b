// Nanoseconds per cell for csv::parse_cell and for strtod_l in the "C" locale
// on the same cell's text, for cells that take the C library or are no number
// at all, with a few usual numeric cells beside them. Each figure is the best
// of several rounds, the two conversions timed in turn within each round.
//
// Built with the module's flags by CMake (-DORVANTIS_BUILD_BENCH=ON, target
// cell_convert_bench); run: cell_convert_bench [ROUNDS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <locale.h>

#include "csv/cell_value.hpp"

namespace {

constexpr const char* kCells[] = {
    // No number at all.
    "abc",
    "NA",
    "label_17",
    "unknown_value",
    "New York City",
    "Istanbul Province",
    // A number that only the C library reads, or with text after it.
    " 1.5",
    "+1.5",
    "12abc",
    "2024-01-05",
    "0x1p3",
    "inf",
    // 20 significant digits and more.
    "12345678901234567890",
    "0.189640897203944171234",
    "3.14159265358979323846264338",
    "-1234567.8901234567890123",
    "2.2250738585072011360574097967091e-308",
    // Usual numeric cells, for comparison.
    "12.50",
    "-698301.652151",
    "0.18964089720394417",
};

constexpr long kIterations = 200000;

double seconds_now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Keeps the compiler from hoisting a conversion of the unchanging cell out of
// the loop, or from dropping its result.
template <typename T>
void opaque(T& value) {
    asm volatile("" : "+m"(value));
}

double ours_ns(const std::string& text) {
    std::string scratch;
    double sum = 0;
    const char* data = text.data();
    const double start = seconds_now();
    for (long i = 0; i < kIterations; ++i) {
        opaque(data);
        double value = 0;
        if (csv::parse_cell(std::string_view(data, text.size()), scratch, value)) {
            sum += value;
        }
    }
    const double elapsed = seconds_now() - start;
    opaque(sum);
    return elapsed / kIterations * 1e9;
}

double strtod_ns(const std::string& text, locale_t c_locale) {
    double sum = 0;
    const char* data = text.c_str();
    const double start = seconds_now();
    for (long i = 0; i < kIterations; ++i) {
        opaque(data);
        char* end = nullptr;
        sum += ::strtod_l(data, &end, c_locale);
    }
    const double elapsed = seconds_now() - start;
    opaque(sum);
    return elapsed / kIterations * 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    const long rounds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 7;
    const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    if (rounds < 1 || c_locale == static_cast<locale_t>(0)) {
        std::fprintf(stderr, "usage: %s [ROUNDS >= 1]\n", argv[0]);
        return 2;
    }
    std::printf("%-40s %9s %11s %7s\n", "cell", "ours ns", "strtod_l ns", "ratio");
    for (const char* cell : kCells) {
        const std::string text = cell;
        double ours = 1e9;
        double c_library = 1e9;
        for (long round = 0; round < rounds; ++round) {
            ours = std::min(ours, ours_ns(text));
            c_library = std::min(c_library, strtod_ns(text, c_locale));
        }
        const std::string quoted = "'" + text + "'";
        std::printf("%-40s %9.1f %11.1f %7.2f\n", quoted.c_str(), ours, c_library, ours / c_library);
    }
    ::freelocale(c_locale);
    return 0;
}
