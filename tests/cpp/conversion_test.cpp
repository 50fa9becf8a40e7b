// Checks csv::parse_cell against strtod_l in the "C" locale, bit for bit and
// outcome for outcome (a value, no number, an overflow), on every short cell
// over the characters of numbers, every 1 and 2 byte string, patterns of
// digits at the edges of the word-at-a-time paths, and the fuzz seed corpora;
// then csv::CellConverter and a whole load under each rounding mode.
// Prints one line per check and the first mismatches; exits 1 if any check
// found one or could not run.
//
// Built by CMake with -DORVANTIS_BUILD_TESTS=ON (target conversion_test),
// which also gives it the corpus folder; run it without arguments (or see longest_cell).

#include <cfenv>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <locale.h>
#include <sys/mman.h>
#include <unistd.h>

#include "csv/cell_value.hpp"
#include "csv/reader.hpp"
#include "reference.hpp"

namespace {

using reference::Conversion;
using reference::Outcome;

// The cell as the reader converts it: through a csv::CellConverter made in
// the current rounding mode, told whether the cell holds a carriage return.
bool convert_as_reader(std::string_view cell, std::string&, double& value) {
    bool unreadable = false;
    const csv::OnUnreadableCell note_unreadable = [&unreadable](std::string_view) { unreadable = true; };
    csv::CellConverter convert(note_unreadable);
    value = convert(cell, cell.find('\r') != std::string_view::npos);
    return !unreadable;
}

std::string shown(const Conversion& result) {
    static constexpr const char* kNames[] = {"value", "no number", "overflow", "another error"};
    char text[64];
    std::snprintf(text, sizeof text, "%s 0x%016llx", kNames[static_cast<int>(result.outcome)],
                  static_cast<unsigned long long>(result.bits));
    return text;
}

// Cells are converted at the end of a readable area followed by an
// unreadable page, so that a read past a cell's end stops the program, with
// this message.
constexpr std::size_t kGuardedAreaSize = 1 << 16;

std::string_view cell_in_conversion;

void on_read_past_the_cell(int) {
    static constexpr std::string_view kMessage = "FAILED: a conversion read past the end of the cell: ";
    const std::string_view cell = cell_in_conversion;
    if (::write(STDOUT_FILENO, kMessage.data(), kMessage.size()) >= 0 &&
        ::write(STDOUT_FILENO, cell.data(), cell.size()) >= 0) {
        ::write(STDOUT_FILENO, "\n", 1);
    }
    ::_exit(1);
}

// The end of the readable area, or nullptr when it cannot be made.
char* guarded_area_end() {
    static char* const end = []() -> char* {
        const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        void* const area =
            ::mmap(nullptr, kGuardedAreaSize + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (area == MAP_FAILED || ::mprotect(static_cast<char*>(area) + kGuardedAreaSize, page, PROT_NONE) != 0) {
            return nullptr;
        }
        std::signal(SIGSEGV, on_read_past_the_cell);
        return static_cast<char*>(area) + kGuardedAreaSize;
    }();
    return end;
}

// One named check: counts the cells and the mismatches, and shows the first.
class Check {
public:
    Check(const char* name, reference::CellConversion convert) : name_(name), convert_(convert) {}

    // The cell is copied after guard bytes, so that a read before it changes
    // the result, and right before the unreadable page.
    void cell(std::string_view cell) {
        char* const end = guarded_area_end();
        if (end == nullptr || cell.size() + kGuard.size() > kGuardedAreaSize) {
            ++mismatches_;
            std::printf("  %s: no room for a cell of %zu bytes before an unreadable page\n", name_, cell.size());
            return;
        }
        char* const copy = end - cell.size();
        std::memcpy(copy - kGuard.size(), kGuard.data(), kGuard.size());
        std::memcpy(copy, cell.data(), cell.size());
        const std::string_view view(copy, cell.size());
        ++cells_;
        const Conversion want = reference::expected_conversion(view);
        cell_in_conversion = view;
        const Conversion got = reference::conversion_by(convert_, view);
        if (!(want == got) && ++mismatches_ <= kShown) {
            std::printf("  %s: %s gives %s, strtod_l %s\n", name_, reference::shown(cell).c_str(), shown(got).c_str(),
                        shown(want).c_str());
        }
    }

    // Prints the summary line; whether the check passed. A check of no cells
    // did not run, which is a failure too.
    bool report() const {
        const bool passed = mismatches_ == 0 && cells_ > 0;
        std::printf("%s: %s, %llu cells, %llu mismatches\n", passed ? "ok" : "FAILED", name_, cells_, mismatches_);
        return passed;
    }

private:
    static constexpr std::string_view kGuard = "75.5e5";
    static constexpr unsigned long long kShown = 10;
    const char* name_;
    reference::CellConversion convert_;
    unsigned long long cells_ = 0;
    unsigned long long mismatches_ = 0;
};

// Every cell of 1 to max_size bytes over `alphabet`, after `prefix`.
void every_cell_over(std::string_view alphabet, std::size_t max_size, Check& check, const std::string& prefix = "") {
    if (prefix.size() == max_size) {
        return;
    }
    for (const char letter : alphabet) {
        const std::string cell = prefix + letter;
        check.cell(cell);
        every_cell_over(alphabet, max_size, check, cell);
    }
}

// Each cell of 1 to 24 bytes before its exponent made of a sign (none, '-'
// or '+') and the first digits of each source, with a point at each place or
// none, and with each exponent.
void edge_patterns(Check& check) {
    // Digits that put values at the edges of the paths: the largest and
    // smallest mantissas of each length, 2^53 and its neighbours, the halfway
    // points of 17-digit values, the limits of the double range, and plain runs.
    static const std::string sources[] = {
        "999999999999999999999999", "100000000000000000000000", "000000000000000000000000", "000000000000000000000001",
        "900719925474099300000000", "900719925474099250000001", "922337203685477580800000", "184467440737095516150000",
        "179769313486231580793728", "222507385850720138309023", "494065645841246544176568", "500000000000000000000000",
        "123456789012345678901234", "189640897203944170000000", "777777777777777777777777",
    };
    static constexpr const char* kSigns[] = {"", "-", "+"};
    static constexpr const char* kExponents[] = {"",     "e0",   "e-5",   "e22",   "E23",
                                                 "e-22", "e300", "e-300", "e-320", "e308"};
    const auto with_exponents = [&](const std::string& mantissa) {
        for (const std::string_view exponent : kExponents) {
            check.cell(mantissa + std::string(exponent));
        }
    };
    for (std::size_t length = 1; length <= 24; ++length) {
        for (const std::string& source : sources) {
            for (const std::string_view sign : kSigns) {
                if (sign.size() > length) {
                    continue;
                }
                const std::size_t room = length - sign.size();
                with_exponents(std::string(sign) + source.substr(0, room));
                for (std::size_t point = 0; point < room; ++point) {
                    std::string digits = source.substr(0, room - 1);
                    digits.insert(point, ".");
                    with_exponents(std::string(sign) + digits);
                }
            }
        }
    }
}

// `digits` plus one unit in its last place; all nines become ones and zeros
// one digit longer.
std::string plus_one_unit(std::string digits) {
    std::size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9') {
        digits[--i] = '0';
    }
    if (i == 0) {
        return "1" + digits;
    }
    ++digits[i - 1];
    return digits;
}

// The halfway point between a double and the next one up, written exactly
// (x86 long doubles hold it: 64 significant bits), then cut to 17 to 40
// significant digits and those plus one unit in the last: texts on both sides
// of the halfway point, most of them longer than the 19 digits that the exact
// paths keep. Each with and without a minus sign.
void halfway_cells(std::uint64_t bits, Check& check) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    const long double halfway = (static_cast<long double>(value) + std::nextafter(value, INFINITY)) / 2;
    char text[1024];
    std::snprintf(text, sizeof text, "%.800Le", halfway);
    const std::string_view written = text;
    const std::string digits = std::string(written.substr(0, 1)) + std::string(written.substr(2, 800));
    const std::string exponent(written.substr(written.find('e')));
    const auto add = [&](const std::string& mantissa_digits) {
        const std::string cell = mantissa_digits.substr(0, 1) + "." + mantissa_digits.substr(1) + exponent;
        check.cell(cell);
        check.cell("-" + cell);
    };
    add(digits.substr(0, digits.find_last_not_of('0') + 1));
    for (const std::size_t kept : {17, 18, 19, 20, 21, 22, 25, 30, 40}) {
        add(digits.substr(0, kept));
        add(plus_one_unit(digits.substr(0, kept)));
    }
}

// Random finite doubles, a tenth of them subnormal, and the edges of the range.
void halfway_points(Check& check) {
    // NOLINTNEXTLINE(bugprone-random-generator-seed): the same cells on every run
    std::mt19937_64 random(20240611);
    for (int i = 0; i < 3000; ++i) {
        const std::uint64_t bits = random() & (i % 10 == 0 ? 0x000FFFFFFFFFFFFF : 0x7FEFFFFFFFFFFFFF);
        halfway_cells(bits, check);
    }
    constexpr std::uint64_t kEdges[] = {0x0000000000000000, 0x000FFFFFFFFFFFFF, 0x0010000000000000, 0x3FF0000000000000,
                                        0x433FFFFFFFFFFFFF, 0x4340000000000000, 0x7FEFFFFFFFFFFFFE};
    for (const std::uint64_t bits : kEdges) {
        halfway_cells(bits, check);
    }
}

std::vector<std::string> corpus_files(const std::filesystem::path& folder) {
    std::vector<std::string> contents;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::ifstream file(entry.path(), std::ios::binary);
        contents.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    return contents;
}

// The cells fuzz target's seeds as cells; the documents of the text target's
// seeds cut at every line feed and comma, carriage returns kept.
void replay_corpora(Check& check) {
    const std::filesystem::path corpus = ORVANTIS_FUZZ_CORPUS;
    for (const std::string& cell : corpus_files(corpus / "csv_cells_fuzz")) {
        check.cell(cell);
    }
    for (const std::string& document : corpus_files(corpus / "csv_text_fuzz")) {
        for (const std::string_view line : reference::split(document, '\n')) {
            for (const std::string_view cell : reference::split(line, ',')) {
                check.cell(cell);
            }
        }
    }
}

// Infinities, NaNs, hexadecimal numbers, text after numbers, and values
// next to and at halfway points written with more than 19 digits, beyond the
// cells of the enumerations; separated by '|'.
constexpr std::string_view kOtherCells =
    "infinity|-Infinity|+INFINITYx|infinit|nan(123)|-nan(0x7)|NAN()|nan(|0x1.8p1|-0X1P-1074|0x1p1024|0xg|"
    " \t\n\v\f\r42|\x01+5|1e+5x|1.5e|1e99999999999|0e99999999999|1e-99999999999|2024-01-05|12abc|1,5|\r\r|n\ran|"
    "1\r2\r.\r5|1.00000000000000011102230246251565404236316680908203125|"
    "1.00000000000000011102230246251565404236316680908203124|1.00000000000000011102230246251565404236316680908203126|"
    "9007199254740992.99999999999999999999|9007199254740993.00000000000000000001|"
    "2.2250738585072011360574097967091e-308|2.22507385850720113605740979670913197593481954635164564e-308|"
    "2.4703282292062327208828439643411068618252990130716238221e-324|"
    "2.4703282292062327208828439643411068618252990130716238222e-324|"
    "1797693134862315807937289714053034150799341327710000000000000000000e241|"
    "179769313486231580793728971405303415079934132771e260|"
    "0.000000000000000000000000000000000000000000000000000000000000000000001234567890123456789012";

// Cells whose rounding differs between the modes, and the range's edges
// (the empty cell among them); separated by '|'.
constexpr std::string_view kModeCells =
    "9007199254740993|0.18964089720394417|1e23|1.7976931348623158e308|1.7976931348623157e308|-1.7976931348623158e308|"
    "1e999|-1e999|1e-400|-1e-400|4.9406564584124654e-324|2.2250738585072011e-308|0.1|-0.1|1|-0|nan|NaN||\r|abc| 1.5|"
    "0x1.fffffffffffff8p1023";

void each_cell_of(std::string_view cells, Check& check) {
    for (const std::string_view cell : reference::split(cells, '|')) {
        check.cell(cell);
    }
}

// Each rounding mode and its name.
constexpr std::pair<int, const char*> kRoundingModes[] = {
    {FE_TONEAREST, "to nearest"}, {FE_UPWARD, "upward"}, {FE_DOWNWARD, "downward"}, {FE_TOWARDZERO, "towards zero"}};

// A load through csv::Reader of kModeCells in a document of one column, "a",
// in the current rounding mode, as the dialect and strtod_l give it: the
// reader must notice the mode. A load stops at an overflow, so those cells
// are left out.
bool mode_cells_load_as_expected(const char* mode) {
    std::string document = "a\n";
    for (const std::string_view cell : reference::split(kModeCells, '|')) {
        if (reference::expected_conversion(cell).outcome != Outcome::overflow) {
            document.append(cell).append("\n");
        }
    }
    bool matches = false;
    try {
        matches = reference::reader_load(document, csv::Reader::kDefaultChunkSize, reference::Duplicates::apart) ==
                  reference::expected_load(document, reference::Duplicates::apart);
    } catch (const std::exception& error) {
        std::printf("  the load failed: %s\n", error.what());
    }
    std::printf("%s: a load in rounding mode %s\n", matches ? "ok" : "FAILED", mode);
    return matches;
}

bool check_rounding_modes() {
    bool passed = true;
    for (const auto& [mode, mode_name] : kRoundingModes) {
        if (std::fesetround(mode) != 0) {
            std::printf("FAILED: cannot set the rounding mode %s\n", mode_name);
            return false;
        }
        const std::string name = std::string("CellConverter, rounding ") + mode_name;
        Check check(name.c_str(), convert_as_reader);
        each_cell_of(kModeCells, check);
        edge_patterns(check);
        passed = check.report() && passed;
        passed = mode_cells_load_as_expected(mode_name) && passed;
    }
    std::fesetround(FE_TONEAREST);
    return passed;
}

// The enumerations' longest cells: 6 bytes, or fewer as main's argument (where cells cost more).
std::size_t longest_cell = 6;
// The checks of csv::parse_cell, each a name and the cells it is given.
constexpr std::pair<const char*, void (*)(Check&)> kCellSets[] = {
    {"every short cell over '0123456789.-+eE '",
     [](Check& check) { every_cell_over("0123456789.-+eE ", longest_cell, check); }},
    {"every short cell over 'iInNaAfFtyx0p.- \\r'",
     [](Check& check) { every_cell_over("iInNaAfFtyx0p.- \r", longest_cell < 5 ? longest_cell : 5, check); }},
    {"infinities, NaNs, hexadecimal, text after numbers, long halfway cases",
     [](Check& check) { each_cell_of(kOtherCells, check); }},
    {"halfway points between doubles in 17 to 40 digits and more", halfway_points},
    {"every string of 1 and 2 bytes",
     [](Check& check) {
         std::string every_byte(256, '\0');
         std::iota(every_byte.begin(), every_byte.end(), '\0');
         every_cell_over(every_byte, 2, check);
     }},
    {"lengths 1 to 24 x point place x sign x edge digits x exponent", edge_patterns},
    {"the fuzz seed corpora", replay_corpora},
};

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    longest_cell = argc > 1 ? std::stoul(argv[1]) : longest_cell;
    if (reference::c_locale() == static_cast<locale_t>(0)) {
        std::printf("FAILED: no \"C\" locale\n");
        return 1;
    }
    bool passed = true;
    for (const auto& [name, cells] : kCellSets) {
        Check check(name, csv::parse_cell);
        cells(check);
        passed = check.report() && passed;
    }
    passed = check_rounding_modes() && passed;
    std::printf(passed ? "conversion_test: all checks passed\n" : "conversion_test: FAILED\n");
    return passed ? 0 : 1;
}
