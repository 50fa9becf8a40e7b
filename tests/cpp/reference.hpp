#pragma once

// What the C++ tests and the fuzz targets hold the CSV core to, written
// plainly and once: a cell's value as the C library's strtod_l reads it, the
// dialect's splitting of a document into names and cells, and results as bit
// patterns; then the core's own results in the same terms, to compare.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <locale.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "csv/reader.hpp"

namespace reference {

// Results are compared bit for bit: the sign of a zero, a NaN's sign and payload.
inline std::uint64_t bits_of(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline std::string without_carriage_returns(std::string_view text) {
    std::string kept(text);
    kept.erase(std::remove(kept.begin(), kept.end(), '\r'), kept.end());
    return kept;
}

// The text in single quotes, with \xNN for each byte that is a backslash, a
// quote or not printable ASCII.
inline std::string shown(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text) {
        char escaped[8];
        const bool plain = c >= ' ' && c <= '~' && c != '\\' && c != '\'';
        std::snprintf(escaped, sizeof escaped, plain ? "%c" : "\\x%02x", plain ? c : static_cast<unsigned char>(c));
        quoted += escaped;
    }
    return quoted + "'";
}

// The pieces of `text` between the separators: one more than there are separators.
inline std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return pieces;
        }
        start = end + 1;
    }
}

// What converting a cell gives. `wrong_error`: an exception other than the
// overflow's std::out_of_range("stod"), which no cell may give.
enum class Outcome { value, no_number, overflow, wrong_error };

struct Conversion {
    Outcome outcome = Outcome::no_number;
    std::uint64_t bits = 0;  // of the value, for Outcome::value only

    bool operator==(const Conversion& other) const { return outcome == other.outcome && bits == other.bits; }
};

inline Conversion value_of(double value) { return {Outcome::value, bits_of(value)}; }

// The "C" locale, or 0 when the C library cannot make it.
inline locale_t c_locale() {
    static const locale_t locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

// What a cell must convert to: the missing cells (empty, "nan" and "NaN",
// after removing carriage returns) are the quiet NaN; the rest is strtod_l's
// reading in the "C" locale and the current rounding mode of the text without
// carriage returns, up to its first NUL byte. A range error with a result
// beyond 1 in size is an overflow (infinity, or the largest double when
// rounding towards zero); one below is an underflow, and its result a value.
inline Conversion expected_conversion(std::string_view cell) {
    const std::string text = without_carriage_returns(cell);
    if (text.empty() || text == "nan" || text == "NaN") {
        return value_of(std::numeric_limits<double>::quiet_NaN());
    }
    char* end = nullptr;
    errno = 0;
    const double value = ::strtod_l(text.c_str(), &end, c_locale());
    if (end == text.c_str()) {
        return {Outcome::no_number, 0};
    }
    if (errno == ERANGE && std::fabs(value) > 1) {
        return {Outcome::overflow, 0};
    }
    return value_of(value);
}

// What loading a document gives: the header's names, the columns' values as
// bit patterns, the texts reported as holding no number (without carriage
// returns, in order), and whether the load stopped at an overflow, with the
// values of the cells before it.
struct Load {
    std::vector<std::string> names;
    std::vector<std::vector<std::uint64_t>> columns;  // one per name; see Duplicates
    std::vector<std::string> unreadable;
    bool overflow = false;

    bool operator==(const Load& other) const {
        return names == other.names && columns == other.columns && unreadable == other.unreadable &&
               overflow == other.overflow;
    }
};

// Whether the positions of one name fill one column, the column of its first
// position (merged, as the module's load does), or a column each (apart).
// The columns of the later positions of a merged name stay empty.
enum class Duplicates { apart, merged };

inline std::vector<std::size_t> column_of_positions(const std::vector<std::string>& names, Duplicates duplicates) {
    std::vector<std::size_t> columns;
    for (std::size_t position = 0; position < names.size(); ++position) {
        const auto first = std::find(names.begin(), names.end(), names[position]) - names.begin();
        columns.push_back(duplicates == Duplicates::merged ? static_cast<std::size_t>(first) : position);
    }
    return columns;
}

// The load the dialect and expected_conversion give. Lines end at '\n' (no
// extra line after a final one) and carriage returns belong to no text. The
// first line holds the names, split at every ',', an empty last one dropped.
// Every later line with a byte other than '\r' is a row, split at every ',';
// the cell at position k of a row goes to the column of position k, cells
// past the last name are ignored, and a cell without a number is NaN.
inline Load expected_load(std::string_view text, Duplicates duplicates) {
    Load load;
    if (text.empty()) {
        return load;
    }
    std::vector<std::string_view> lines = split(text, '\n');
    if (text.back() == '\n') {
        lines.pop_back();
    }
    const std::string header = without_carriage_returns(lines[0]);
    const std::vector<std::string_view> names = split(header, ',');
    load.names.assign(names.begin(), names.end() - (names.back().empty() ? 1 : 0));
    const std::vector<std::size_t> columns = column_of_positions(load.names, duplicates);
    load.columns.resize(columns.size());
    for (std::size_t line = 1; line < lines.size(); ++line) {
        const std::string row = without_carriage_returns(lines[line]);
        const std::vector<std::string_view> cells = row.empty() ? std::vector<std::string_view>() : split(row, ',');
        for (std::size_t position = 0; position < std::min(cells.size(), columns.size()); ++position) {
            Conversion conversion = expected_conversion(cells[position]);
            if (conversion.outcome == Outcome::overflow) {
                load.overflow = true;
                return load;
            }
            if (conversion.outcome == Outcome::no_number) {
                load.unreadable.emplace_back(cells[position]);
                conversion = value_of(std::numeric_limits<double>::quiet_NaN());
            }
            load.columns[columns[position]].push_back(conversion.bits);
        }
    }
    return load;
}

// The core's results in the same terms.

// A cell conversion of the core: true with `value` set, false for a cell
// without a number, std::out_of_range("stod") for an overflow.
using CellConversion = bool (*)(std::string_view cell, std::string& scratch, double& value);

inline Conversion conversion_by(CellConversion convert, std::string_view cell) {
    std::string scratch;
    double value = 0;
    try {
        return convert(cell, scratch, value) ? value_of(value) : Conversion{};
    } catch (const std::out_of_range& error) {
        return {std::strcmp(error.what(), "stod") == 0 ? Outcome::overflow : Outcome::wrong_error, 0};
    }
}

// The load of `document` through csv::Reader, from a file of its own in
// memory, reading `chunk_size` bytes at a time. Throws std::runtime_error when
// the file cannot be made or opened, and what the reader throws but the overflow.
inline Load reader_load(std::string_view document, std::size_t chunk_size, Duplicates duplicates) {
    // Through syscall(): the wheels' toolchain links against glibc 2.17, which lacks memfd_create.
    const int fd = static_cast<int>(::syscall(SYS_memfd_create, "reference_load", MFD_CLOEXEC));
    const auto size = static_cast<ssize_t>(document.size());
    const bool written = fd >= 0 && ::write(fd, document.data(), document.size()) == size;
    // The reader opens a descriptor of its own, at the file's start.
    csv::Reader reader("/proc/self/fd/" + std::to_string(fd), [] {}, chunk_size);
    ::close(fd);
    if (!written || !reader.is_open()) {
        throw std::runtime_error("the reader cannot open the document in a file in memory");
    }
    Load load;
    load.names = reader.read_header();
    std::vector<std::vector<double>> columns(load.names.size());
    std::vector<std::vector<double>*> targets;
    targets.reserve(columns.size());
    for (const std::size_t column : column_of_positions(load.names, duplicates)) {
        targets.push_back(&columns[column]);
    }
    try {
        reader.read_rows(targets, [&load](std::string_view text) { load.unreadable.emplace_back(text); });
    } catch (const std::out_of_range& error) {
        if (std::strcmp(error.what(), "stod") != 0) {
            throw;
        }
        load.overflow = true;
    }
    for (const std::vector<double>& column : columns) {
        std::transform(column.begin(), column.end(), std::back_inserter(load.columns.emplace_back()), bits_of);
    }
    return load;
}

}  // namespace reference
