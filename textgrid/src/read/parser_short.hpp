#pragma once
#include <string_view>
#include <vector>

#include "model/textgrid.hpp"
#include "text/byte_scan.hpp"

namespace textgrid {

// A document from the short layout's text, loaded already (UTF-8). A large
// text's tiers are read side by side; `piece_counts` (from loading) spare a
// search for the lines where they start. With `observe`, each tier's rows are
// handed over, in order, as soon as they are read (see RowObserver).
Result<TextGrid> parse_short_text(std::string_view text, bool strict,
                                  const std::vector<QuoteAndLineCount>& piece_counts = {},
                                  const RowObserver& observe = {});
// The same in one pass, whatever the size (for tests and benchmarks).
Result<TextGrid> parse_short_text_one_pass(std::string_view text, bool strict);

namespace detail {
// Tiers side by side whatever the text's size, for tests.
Result<TextGrid> parse_short_text_tiers_apart(std::string_view text, bool strict,
                                              const std::vector<QuoteAndLineCount>& piece_counts,
                                              const RowObserver& observe = {});
}  // namespace detail

}  // namespace textgrid
