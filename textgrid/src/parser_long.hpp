#pragma once
#include <string_view>

#include "textgrid.hpp"

namespace textgrid {

Result<TextGrid> parse_long(std::string_view path, bool strict);
// The same on text already loaded (UTF-8).
Result<TextGrid> parse_long_text(std::string_view text, bool strict);

}  // namespace textgrid
