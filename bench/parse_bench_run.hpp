#pragma once

// The measuring part of the parse-only programs (csv_parse_bench.cpp and the
// historical baseline historical_parse_bench.cpp), which differ only in how
// they load a file.
// run_parse_bench times one load of the file named on the command line and
// prints one JSON line:
//   {"bytes": N, "rows": R, "columns": C, "seconds": S, "cpu_seconds": S2, "mb_per_s": X}
// bytes: the file's size; rows and columns: as read_csv's summary line counts
// them; seconds: wall time from opening the file to the filled columns;
// cpu_seconds: the process's CPU time over the same span; mb_per_s: bytes per
// wall second / 1e6.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>

using Columns = std::map<std::string, std::vector<double>>;

// Fills the header names and their columns from the file at `path`; false
// when it cannot be opened.
using LoadFile = bool (*)(const std::string& path, std::vector<std::string>& names, Columns& columns);

inline double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

inline double wall_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline std::uint64_t file_size(const std::string& path) {
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// The programs' main: 0 after printing the line, 1 when the file cannot be
// loaded, 2 for a wrong command line.
inline int run_parse_bench(int argc, char** argv, LoadFile load) {
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
