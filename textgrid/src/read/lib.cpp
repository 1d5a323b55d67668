#include "read/lib.hpp"

#include <sys/stat.h>

#include <string>

#include "read/loading.hpp"
#include "read/long_stream.hpp"
#include "read/parser_long.hpp"
#include "read/parser_short.hpp"

namespace textgrid {

FileType file_type_named(std::string_view file_type) {
    if (file_type == "long") return FileType::Long;
    if (file_type == "short") return FileType::Short;
    if (file_type == "auto") return FileType::Auto;
    throw errors::unknown_file_type(file_type);
}

Result<TextGrid> read_textgrid(std::string_view path, bool strict, std::string_view file_type,
                               const RowObserver& observe, AfterReading after,
                               const SizeObserver& observe_size) {
    const FileType type = file_type_named(file_type);  // before the file is touched
    auto opened = open_for_reading(path);
    if (!opened) return std::move(opened).error();
    return read_textgrid(std::move(opened).value(), strict, type, observe, after, observe_size);
}

Result<TextGrid> read_textgrid(OpenedFile opened, bool strict, FileType type,
                               const RowObserver& observe, AfterReading after,
                               const SizeObserver& observe_size) {
    // Only rows handed over leave nothing that needs the text.
    if (!observe) after = AfterReading::KeepText;
    if (observe_size && S_ISREG(opened.info.st_mode))
        observe_size(static_cast<std::uint64_t>(opened.info.st_size));
    if (observe) {
        if (auto streamed = read_long_streamed(opened, strict, type, observe))
            return std::move(*streamed);
    }
    auto text = load_text(std::move(opened), after);
    if (!text) return std::move(text).error();
    const std::string_view content = text.value().view();
    const bool long_layout =
        type == FileType::Long || (type == FileType::Auto && has_tier_list_header(content));
    if (long_layout)
        return parse_long_text(content, strict, text.value().piece_counts(), observe, after);
    return parse_short_text(content, strict, text.value().piece_counts(), observe);
}

}  // namespace textgrid
