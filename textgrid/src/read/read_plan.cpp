#include "read/read_plan.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "read/loading.hpp"
#include "runtime/parallel.hpp"
#include "text/text.hpp"

namespace textgrid {

namespace {

// Below this one pass is faster than cutting a text up (measured on the
// benchmark files: the pool's hand-over costs about what 1 MB of parsing does).
constexpr std::size_t PIECES_FROM_BYTES = std::size_t{1} << 20;
// From this size a file is read a piece per thread: copying it out of the page
// cache is then a good part of reading it.
constexpr std::size_t FILE_PIECES_FROM_BYTES = std::size_t{2} << 20;
// From this size a loaded text gets a block of the library's own; below it the
// heap's allocator keeps freed buffers for the next file (its threshold for
// handing memory back to the system grows up to 32 MB).
constexpr std::size_t OWN_BLOCK_FROM_BYTES = std::size_t{32} << 20;
// A piece this size, and the rows read from it, stay in a core's cache.
constexpr std::size_t PIECE_BYTES = std::size_t{256} << 10;
// What the start of a file tells about its whole: its encoding, its line
// breaks, and for "auto" its layout.
constexpr std::size_t HEAD_BYTES = std::size_t{64} << 10;
// Rows that only the finished document holds are read in long stretches, two
// per processor: within one, each tier's rows go straight into one array,
// where joining short stretches moved nearly every row a second time. A
// stretch's leading rows are still copied where it is joined, so on a huge
// text stretches stay below LONG_STRETCH_BYTES (as far as the usual pieces
// allow), bounding the memory that copy needs.
constexpr std::size_t LONG_STRETCHES_PER_PROCESSOR = 2;
constexpr std::size_t LONG_STRETCH_BYTES = std::size_t{64} << 20;

// Pool workers are busy with other files already, and one processor has no
// one to share with.
std::size_t spare_processors() {
    if (on_pool_worker()) return 1;
    return thread_count();
}

// Rows handed over as they come are read in short pieces, so the caller starts
// early and only a few wait at once; rows kept in a document in long stretches.
Spread spread_of(std::size_t bytes, std::size_t processors, bool observed) {
    if (observed) {
        const std::size_t cache_sized = bytes / (processors * PIECE_BYTES);
        return {processors, std::max(PIECES_PER_PROCESSOR, cache_sized)};
    }
    const std::size_t needed = bytes / (processors * LONG_STRETCH_BYTES) + 1;
    return {processors, std::clamp(needed, LONG_STRETCHES_PER_PROCESSOR, PIECES_PER_PROCESSOR)};
}

}  // namespace

bool long_layout_by_its_head(std::string_view head, FileType type) {
    if (utf16_big_endian(head)) return false;
    if (head.find('\n') == std::string_view::npos) return false;
    return type == FileType::Long || has_tier_list_header(head);
}

FilePlan plan_file_read(const OpenedFile& opened, const ReadRequest& request) {
    FilePlan plan;
    const struct stat& info = opened.info;
    const std::size_t bytes = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;
    const std::size_t processors = spare_processors();
    if (!S_ISREG(info.st_mode) || bytes < FILE_PIECES_FROM_BYTES || processors < 2) return plan;
    std::string head(std::min(bytes, HEAD_BYTES), '\0');
    const ssize_t got = opened.file.read_some_at(head.data(), head.size(), 0);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    // Rows kept in a document are read from the whole text loaded at once: a
    // piece of each thread's long stretch would not stay in its cache anyway,
    // and the text's block is kept for the next reading.
    if (request.observed && request.type != FileType::Short &&
        long_layout_by_its_head(head, request.type)) {
        plan.long_in_pieces = true;
        plan.spread = spread_of(bytes, processors, request.observed);
        return plan;
    }
    plan.load_spread = true;
    plan.load_unchecked = utf16_big_endian(head).has_value();
    plan.own_block = bytes >= OWN_BLOCK_FROM_BYTES;
    plan.spread = {processors, PIECES_PER_PROCESSOR};
    return plan;
}

TextPlan plan_text_read(std::size_t bytes, bool long_layout, const ReadRequest& request) {
    const std::size_t processors = spare_processors();
    if (bytes < PIECES_FROM_BYTES || processors < 2) return {};
    if (long_layout)
        return {TextPlan::Way::LongInPieces, spread_of(bytes, processors, request.observed)};
    return {TextPlan::Way::ShortTiersApart, {processors, 1}};
}

bool decode_spread(std::size_t bytes) {
    return bytes >= FILE_PIECES_FROM_BYTES && spare_processors() > 1;
}

bool is_large_file(std::uint64_t bytes) { return bytes >= FILE_PIECES_FROM_BYTES; }

}  // namespace textgrid
