#include "read/from_memory.hpp"

#include "read/lib.hpp"
#include "read/loading.hpp"

namespace textgrid {

Result<TextGrid> read_textgrid_from_memory(std::string_view content, bool strict,
                                           std::string_view file_type, const RowObserver& observe) {
    const FileType type = file_type_named(file_type);  // before the content is looked at
    auto loaded = text_in_memory(content);
    if (!loaded) return std::move(loaded).error();
    return read_text_in_memory(loaded.value().text(), loaded.value().utf8_checked, strict, type,
                               observe);
}

}  // namespace textgrid
