#pragma once
// Reading a TextGrid held in memory (an archive member, a network reply, an
// aligner's output) as a file with the same bytes is read.
#include <string_view>

#include "model/textgrid.hpp"

namespace textgrid {

// `content` as the bytes of a file (UTF-8, or UTF-16 with a byte-order mark),
// read without a copy unless decoding needs one; file_type, strict and
// observe as read_textgrid takes them, with the same results and errors.
// `content` must stay unchanged during the call.
Result<TextGrid> read_textgrid_from_memory(std::string_view content, bool strict,
                                           std::string_view file_type,
                                           const RowObserver& observe = {});

}  // namespace textgrid
