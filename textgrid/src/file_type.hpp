#pragma once
// The layout a file_type text names, for reading and for writing.
#include <string_view>

namespace textgrid {

enum class FileType { Long, Short, Auto };

// Writing knows no Auto and never fails: exactly "long" is Long, all else Short.
inline FileType output_file_type(std::string_view file_type) {
    return file_type == "long" ? FileType::Long : FileType::Short;
}

}  // namespace textgrid
