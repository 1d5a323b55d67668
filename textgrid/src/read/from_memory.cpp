#include "read/from_memory.hpp"

#include "read/lib.hpp"
#include "read/loading.hpp"
#include "read/parser_long.hpp"
#include "read/parser_short.hpp"

namespace textgrid {

Result<TextGrid> read_textgrid_from_memory(std::string_view content, bool strict,
                                           std::string_view file_type, const RowObserver& observe) {
    const FileType type = file_type_named(file_type);  // before the content is looked at
    auto loaded = text_in_memory(content);
    if (!loaded) return std::move(loaded).error();
    const std::string_view text = loaded.value().text();
    const auto& piece_counts = loaded.value().piece_counts;
    if (type == FileType::Long || (type == FileType::Auto && has_tier_list_header(text)))
        return parse_long_text(text, strict, piece_counts, observe);
    return parse_short_text(text, strict, piece_counts, observe);
}

}  // namespace textgrid
