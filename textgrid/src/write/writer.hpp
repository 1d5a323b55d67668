#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "model/file_type.hpp"
#include "model/textgrid.hpp"
#include "runtime/file_io.hpp"

namespace textgrid {

// Shortest round-trip digits, plain positional notation; "NaN", "inf", "-inf", "-0".
std::string format_time(double value);
void append_time(std::string& out, double value);

// Praat's own escaping: every '"' becomes "".
std::string escape_quotes(std::string_view text);

std::string render_long(const TextGrid& grid);
std::string render_short(const TextGrid& grid);
// The same with P given instead of asked (tests and benchmarks choose it).
std::string render_long(const TextGrid& grid, std::size_t processors);
std::string render_short(const TextGrid& grid, std::size_t processors);

// The text write_textgrid stores, in memory.
std::string render_textgrid(const TextGrid& grid, FileType file_type);
// The same made on the calling thread alone, for a task that is one file of
// many (the other workers have files of their own).
std::string render_textgrid_here(const TextGrid& grid, FileType file_type);

// Stores the text as it is rendered, as store_text does: a failure keeps
// any old file and is TextGridError "cannot write <path>: <os error>".
Status write_textgrid(const TextGrid& grid, std::string_view path, FileType file_type);
Status write_textgrid(const TextGrid& grid, std::string_view path, FileType file_type,
                      std::size_t processors, WriteCall write = ::writev);

}  // namespace textgrid
