#pragma once
// The one door for reading a TextGrid file.
#include <string_view>

#include "textgrid.hpp"

namespace textgrid {

enum class FileType { Long, Short, Auto };

// file_type is "long", "short" or "auto", compared exactly; anything else raises
// InternalFailure("Unknown file type: " + file_type) before the file is touched.
// observe, if given, is told every row of the document on the calling thread,
// some of them perhaps while the rest is still being read.
Result<TextGrid> read_textgrid(std::string_view path, bool strict, std::string_view file_type,
                               const RowObserver& observe = {});

// Writing knows no Auto and never fails: exactly "long" is Long, all else Short.
inline FileType output_file_type(std::string_view file_type) {
    return file_type == "long" ? FileType::Long : FileType::Short;
}

}  // namespace textgrid
