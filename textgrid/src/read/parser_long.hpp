#pragma once
#include <string_view>

#include "model/textgrid.hpp"

namespace textgrid {

// A document from the long layout's text (UTF-8), read in one pass; with
// `strict` validated.
Result<TextGrid> parse_long_text(std::string_view text, bool strict);

}  // namespace textgrid
