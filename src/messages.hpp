#pragma once

// Every console message of the module, one function each.

#include <cstddef>
#include <string_view>

namespace messages {

void greeting();
void reading_file(std::string_view path);
void file_not_opened();
void unreadable_cell(std::string_view text);
void file_loaded(std::size_t rows, std::size_t columns);
void column_requested(std::string_view name);
void requested_column_missing(std::string_view name);
void column_missing(std::string_view name);
void preprocessing_started();
void column_mean(std::string_view name, double mean);
void nan_filled(std::string_view name);
void preprocessing_finished();

}  // namespace messages
