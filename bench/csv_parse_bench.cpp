// Loads one CSV file into columns, as read_csv does but without Python and
// without building Python objects, and prints one JSON line:
//   {"bytes": N, "rows": R, "columns": C, "seconds": S, "cpu_seconds": S2, "mb_per_s": X}
// bytes: the file's size; rows and columns: as read_csv's summary line counts
// them; seconds: wall time from opening the file to the filled columns;
// cpu_seconds: the process's CPU time over the same span; mb_per_s: bytes per
// wall second / 1e6. Each run is one load in a fresh process (a first load:
// the columns' pages are new to the process).
//
// Build from the repository root with the module's flags, as one command, and run:
//   g++ -O3 -DNDEBUG -std=c++17 -ffp-contract=off -Isrc
//       bench/csv_parse_bench.cpp src/csv_text.cpp src/cell_parse.cpp -o csv_parse_bench
//   ./csv_parse_bench PATH

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "csv_text.hpp"

namespace {

using Columns = std::map<std::string, std::vector<double>>;

double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double wall_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Header names and their columns, filled from the file; false when it cannot be opened.
bool load(const std::string& path, std::vector<std::string>& names, Columns& columns) {
    csv::Reader reader(path, [] {});
    if (!reader.is_open()) {
        return false;
    }
    names = reader.read_header();
    std::vector<std::vector<double>*> targets;
    for (const auto& name : names) {
        targets.push_back(&columns[name]);
    }
    reader.read_rows(targets, [](std::string_view) {});
    return true;
}

std::uint64_t file_size(const std::string& path) {
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PATH\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    std::vector<std::string> names;
    Columns columns;
    const double wall_start = wall_seconds();
    const double cpu_start = cpu_seconds();
    try {
        if (!load(path, names, columns)) {
            std::fprintf(stderr, "cannot open %s\n", path.c_str());
            return 1;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "load failed: %s\n", error.what());
        return 1;
    }
    const double seconds = wall_seconds() - wall_start;
    const double cpu = cpu_seconds() - cpu_start;
    const std::uint64_t bytes = file_size(path);
    const std::size_t rows = columns.empty() ? 0 : columns.begin()->second.size();
    std::printf(
        "{\"bytes\": %llu, \"rows\": %zu, \"columns\": %zu, \"seconds\": %.6f, \"cpu_seconds\": %.6f, "
        "\"mb_per_s\": %.1f}\n",
        static_cast<unsigned long long>(bytes), rows, names.size(), seconds, cpu,
        static_cast<double>(bytes) / seconds / 1e6);
    return 0;
}
