#pragma once
#include <string_view>
#include <vector>

#include "model/textgrid.hpp"
#include "read/loading.hpp"

namespace textgrid {

// A document from the short layout's text (UTF-8). With `tiers_apart`, the
// tiers are read side by side on the pool; `pieces` (from loading) spare a
// search for the lines where they start. With `observe`, each tier's rows are
// handed over, in order, as soon as they are read (see RowObserver).
Result<TextGrid> parse_short_text(std::string_view text, bool strict, bool tiers_apart = false,
                                  const std::vector<CountedPiece>& pieces = {},
                                  const RowObserver& observe = {});

}  // namespace textgrid
