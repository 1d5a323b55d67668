#pragma once
#include <string_view>

#include "textgrid.hpp"

namespace textgrid {

// A document from the short layout's text, loaded already (UTF-8).
Result<TextGrid> parse_short_text(std::string_view text, bool strict);

}  // namespace textgrid
