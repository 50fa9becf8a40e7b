// Historical baseline: the parse-only program for the loader as it stood before the separator
// index and the fast conversion (revision 1b460ab), kept to measure against: the same JSON line as
// csv_parse_bench.cpp (see parse_bench_run.hpp), for a ratio of the two in one
// benchmark run. It builds against that revision's src/csv_text.hpp and
// src/csv_text.cpp, which parse_only.py takes from git, and loads rows as that
// revision's read_csv did: a find per line and per cell, one conversion per
// cell, columns that grow as they fill.

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "csv_text.hpp"
#include "parse_bench_run.hpp"

namespace {

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

bool load(const std::string& path, std::vector<std::string>& names, Columns& columns) {
    csv::LineReader reader(path);
    if (!reader.is_open()) {
        return false;
    }
    names = read_header(reader);
    std::vector<std::vector<double>*> targets;
    for (const auto& name : names) {
        targets.push_back(&columns[name]);
    }
    read_rows(reader, targets);
    return true;
}

}  // namespace

int main(int argc, char** argv) { return run_parse_bench(argc, argv, load); }
