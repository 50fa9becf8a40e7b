// The parse-only program for the loader as it stood before the separator
// index and the fast conversion (revision 1b460ab): the same JSON line as
// csv_parse_bench.cpp, for a ratio of the two in one benchmark run. It builds
// against that revision's src/csv_text.hpp and src/csv_text.cpp, which
// parse_only.py takes from git, and loads rows as that revision's read_csv
// did: a find per line and per cell, one conversion per cell, columns that
// grow as they fill.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>
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

std::vector<std::string> read_header(csv::LineReader& reader) {
    std::vector<std::string> names;
    std::string_view line;
    if (reader.next_line(line)) {
        csv::split_pieces(line, csv::TrailingPiece::dropped_when_empty, [&](std::string_view piece) {
            names.emplace_back(piece);
            return true;
        });
    }
    return names;
}

void read_rows(csv::LineReader& reader, const std::vector<std::vector<double>*>& targets) {
    std::string scratch;
    std::string_view line;
    while (reader.next_line(line)) {
        std::size_t position = 0;
        csv::split_pieces(line, csv::TrailingPiece::kept, [&](std::string_view cell) {
            if (position >= targets.size()) {
                return false;
            }
            const std::optional<double> value = csv::parse_cell(cell, scratch);
            targets[position++]->push_back(value ? *value : std::numeric_limits<double>::quiet_NaN());
            return true;
        });
    }
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
    const double wall_start = wall_seconds();
    const double cpu_start = cpu_seconds();
    csv::LineReader reader(path);
    if (!reader.is_open()) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    const std::vector<std::string> names = read_header(reader);
    Columns columns;
    std::vector<std::vector<double>*> targets;
    for (const auto& name : names) {
        targets.push_back(&columns[name]);
    }
    read_rows(reader, targets);
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
