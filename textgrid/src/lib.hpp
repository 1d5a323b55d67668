#pragma once
// The one door for reading a TextGrid file.
#include <string_view>

#include "textgrid.hpp"

namespace textgrid {

enum class FileType { Long, Short, Auto };

// file_type is "long", "short" or "auto", compared exactly; anything else raises
// InternalFailure("Unknown file type: " + file_type) before the file is touched.
Result<TextGrid> read_textgrid(std::string_view path, bool strict, std::string_view file_type);

// Writing knows no Auto and never fails: exactly "long" is Long, all else Short.
inline FileType output_file_type(std::string_view file_type) {
    return file_type == "long" ? FileType::Long : FileType::Short;
}

}  // namespace textgrid
