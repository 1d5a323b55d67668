#pragma once
#include <cstddef>
#include <string_view>

#include "textgrid.hpp"

namespace textgrid {

Result<TextGrid> parse_long(std::string_view path, bool strict);
// The same on text already loaded (UTF-8). Large texts are read in pieces on
// the worker pool; the result is always that of the one-pass reading.
Result<TextGrid> parse_long_text(std::string_view text, bool strict);

// The two ways parse_long_text reads, for tests and benchmarks: one pass on the
// calling thread, and the piecewise reading with `processors` as P and no size
// threshold (many processors on a small text cut it into very short pieces).
Result<TextGrid> parse_long_text_one_pass(std::string_view text, bool strict);
Result<TextGrid> parse_long_text_in_pieces(std::string_view text, bool strict,
                                           std::size_t processors);

}  // namespace textgrid
