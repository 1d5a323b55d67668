#include "read/lib.hpp"

#include <sys/stat.h>

#include <string>
#include <vector>

#include "read/long_pieces.hpp"
#include "read/parser_long.hpp"
#include "read/parser_short.hpp"
#include "read/read_plan.hpp"
#include "text/utf8.hpp"

namespace textgrid {

namespace {

// A text in memory to read: checked for UTF-8 already (loaded from a file,
// decoded), or not yet (bytes handed over as they are).
struct TextToRead {
    std::string_view text;
    bool utf8_checked = true;
    const std::vector<CountedPiece>& pieces;
    bool in_own_block = false;
};

Result<TextGrid> read_text(const TextToRead& to_read, bool strict, FileType type,
                           const RowObserver& observe, AfterReading after) {
    const ReadRequest request{type, bool(observe)};
    const std::string_view content = to_read.text;
    const bool long_layout = request.type == FileType::Long ||
                             (request.type == FileType::Auto && has_tier_list_header(content));
    const TextPlan plan = plan_text_read(content.size(), long_layout, request);
    if (plan.way == TextPlan::Way::LongInPieces) {
        // The pieces check what is not checked yet while they are in the cache.
        const PiecesRequest pieces{strict, !to_read.utf8_checked, plan.spread,
                                   after == AfterReading::ReleaseText && to_read.in_own_block};
        return read_long_in_pieces(PieceSource(content), content.size(), pieces, observe);
    }
    if (!to_read.utf8_checked && !is_valid_utf8(content)) return errors::invalid_utf8();
    if (plan.way == TextPlan::Way::ShortTiersApart)
        return parse_short_text(content, strict, true, to_read.pieces, observe);
    auto grid = long_layout ? parse_long_text(content, strict) : parse_short_text(content, strict);
    if (grid && observe) hand_over_rows(grid.value(), observe);
    return grid;
}

}  // namespace

Result<TextGrid> read_loaded_text(const LoadedText& text, bool strict, FileType type,
                                  const RowObserver& observe, AfterReading after) {
    return read_text({text.view(), true, text.pieces(), text.in_own_block()}, strict, type, observe,
                     after);
}

Result<TextGrid> read_text_in_memory(std::string_view text, bool utf8_checked, bool strict,
                                     FileType type, const RowObserver& observe) {
    static const std::vector<CountedPiece> no_pieces;
    return read_text({text, utf8_checked, no_pieces, false}, strict, type, observe,
                     AfterReading::KeepText);
}

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
    const ReadRequest request{type, bool(observe)};
    const FilePlan plan = plan_file_read(opened, request);
    if (plan.long_in_pieces) {
        const PiecesRequest pieces{strict, true, plan.spread, false};
        return read_long_in_pieces(PieceSource(opened.file),
                                   static_cast<std::size_t>(opened.info.st_size), pieces, observe);
    }
    auto text = load_text(std::move(opened), plan);
    if (!text) return std::move(text).error();
    return read_loaded_text(text.value(), strict, type, observe, after);
}

}  // namespace textgrid
