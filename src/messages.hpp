#pragma once

// Every console message of the module, one function each; the two lines
// written once per cell are classes, made once per operation call.
//
// The texts are byte-exact and must not be "corrected": callers match them.
// The spellings are intended as they are: "sutun" without its umlaut beside
// "sütun" with it, ASCII "On isleme" beside "ön isleniyor", a name in quotes
// with spaces inside them (' a ') in some lines and bare between two spaces
// in others, and the doubled spaces that joining the parts with single
// spaces gives around an empty or spaced part.

#include <cstddef>
#include <string_view>

#include "console.hpp"

namespace messages {

void greeting();
void reading_file(std::string_view path);
void file_not_opened();
void file_loaded(std::size_t rows, std::size_t columns);
void column_requested(std::string_view name);
void requested_column_missing(std::string_view name);
void column_missing(std::string_view name);
void preprocessing_started();
void column_mean(std::string_view name, double mean);
void preprocessing_finished();

// The warning for each cell of a load that holds no readable number.
class UnreadableCell {
public:
    UnreadableCell();
    void operator()(std::string_view text) const { line_.write(text); }

private:
    console::RepeatedLine line_;
};

// The notice for each NaN cell of a column that auto_preprocess fills.
class NanFilled {
public:
    NanFilled();
    void operator()(std::string_view name) const { line_.write(name); }

private:
    console::RepeatedLine line_;
};

}  // namespace messages
