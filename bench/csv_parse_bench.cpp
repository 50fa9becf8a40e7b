// Loads one CSV file into columns, as read_csv does but without Python and
// without building Python objects, and prints one JSON line (see
// parse_bench_run.hpp). Each run is one load in a fresh process (a first load:
// the columns' pages are new to the process).
//
// Built with the module's flags by CMake (-DORVANTIS_BUILD_BENCH=ON, target
// csv_parse_bench); run: csv_parse_bench PATH

#include <string>
#include <string_view>
#include <vector>

#include "csv/reader.hpp"
#include "parse_bench_run.hpp"

namespace {

bool load(const std::string& path, std::vector<std::string>& names, Columns& columns) {
    csv::Reader reader(path, [] {});
    if (!reader.is_open()) {
        return false;
    }
    names = reader.read_header();
    std::vector<std::vector<double>*> targets;
    targets.reserve(names.size());
    for (const auto& name : names) {
        targets.push_back(&columns[name]);
    }
    reader.read_rows(targets, [](std::string_view) {});
    return true;
}

}  // namespace

int main(int argc, char** argv) { return run_parse_bench(argc, argv, load); }
