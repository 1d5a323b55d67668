#pragma once
#include <cstddef>
#include <string_view>
#include <vector>

#include "model/textgrid.hpp"
#include "read/loading.hpp"
#include "text/byte_scan.hpp"

namespace textgrid {

Result<TextGrid> parse_long(std::string_view path, bool strict);
// The same on text already loaded (UTF-8). Large texts are read in pieces on
// the worker pool; the result is always that of the one-pass reading.
// piece_counts: LoadedText::piece_counts() of the text, if it has them.
// observe, if given, is handed every row on the calling thread, while the
// pieces are read or after one pass; the document returned then holds no items.
Result<TextGrid> parse_long_text(std::string_view text, bool strict,
                                 const std::vector<QuoteAndLineCount>& piece_counts = {},
                                 const RowObserver& observe = {},
                                 AfterReading after = AfterReading::KeepText);

// The two ways parse_long_text reads, for tests and benchmarks: one pass on the
// calling thread, and the piecewise reading with `processors` as P and no size
// threshold (many processors on a small text cut it into very short pieces).
Result<TextGrid> parse_long_text_one_pass(std::string_view text, bool strict);
Result<TextGrid> parse_long_text_in_pieces(std::string_view text, bool strict,
                                           std::size_t processors,
                                           const std::vector<QuoteAndLineCount>& piece_counts = {},
                                           const RowObserver& observe = {},
                                           AfterReading after = AfterReading::KeepText);

}  // namespace textgrid
