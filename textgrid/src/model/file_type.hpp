#pragma once
// The layout a file_type text names, for reading and for writing.
#include <string_view>

namespace textgrid {

enum class FileType { Long, Short, Auto };

// Whether a text holds the long layout's tier list header, "item []" (or
// "item[]", as ELAN writes it): what tells "auto" the long layout.
inline bool has_tier_list_header(std::string_view text) {
    return text.find("item []") != std::string_view::npos ||
           text.find("item[]") != std::string_view::npos;
}

// Writing knows no Auto and never fails: exactly "long" is Long, all else Short.
inline FileType output_file_type(std::string_view file_type) {
    return file_type == "long" ? FileType::Long : FileType::Short;
}

}  // namespace textgrid
