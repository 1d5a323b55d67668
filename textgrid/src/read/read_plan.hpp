#pragma once
// How a text is read: the one place that weighs its size, its kind of file,
// its encoding and its layout against the costs of the ways to read it.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/file_type.hpp"

namespace textgrid {

struct OpenedFile;

// The pieces a text is cut into, and how many threads take them.
struct Spread {
    std::size_t processors = 1;
    std::size_t pieces_per_processor = 1;
};

// Before a file is loaded: read its long layout a piece at a time straight
// from the file, or load it whole (and how).
struct FilePlan {
    bool long_in_pieces = false;  // straight from the file, never whole in memory
    bool load_spread = false;     // loaded, checked and counted a piece per thread
    bool load_unchecked = false;  // so, but UTF-16: no UTF-8 check while loading
    bool own_block = false;       // loaded into a block of the library's own
    Spread spread;
};

// After it is loaded (or for a text handed over in memory): how the text is parsed.
struct TextPlan {
    enum class Way { OnePass, LongInPieces, ShortTiersApart };
    Way way = Way::OnePass;
    Spread spread;
};

// What the reader is asked to do.
struct ReadRequest {
    FileType type = FileType::Auto;
    bool observed = false;  // rows handed over as they come, not kept in a document
};

// Looks at a file's size, kind and (for a large one) its first bytes.
FilePlan plan_file_read(const OpenedFile& opened, const ReadRequest& request);
// `long_layout` as the request's type or the text itself says.
TextPlan plan_text_read(std::size_t bytes, bool long_layout, const ReadRequest& request);
// Whether UTF-16 text of this many bytes is decoded a piece per thread.
bool decode_spread(std::size_t bytes);
// Whether a file of this size is large: its reading spreads over the threads
// (a batch's worker leaves it to the caller for that), and a call on it takes
// long enough to look for Ctrl-C as it goes.
bool is_large_file(std::uint64_t bytes);

// A long-layout text whose start holds no line feed may break its lines with
// lone carriage returns, and for "auto" the tier list near the start says
// whether it is of the long layout at all.
bool long_layout_by_its_head(std::string_view head, FileType type);

}  // namespace textgrid
