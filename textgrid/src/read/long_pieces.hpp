#pragma once
// Reading a long-layout text a piece per thread, from a file or from memory:
// each thread fetches its piece, checks and counts it while it is in the
// cache, finds the first tier or item header in it, reads on to the first
// header past it, and parses that stretch; the caller joins the stretches in
// text order while later pieces are still read. From a file the text is never
// whole in memory, and the first rows are handed over as soon as the first
// piece is read.

#include <string_view>

#include "model/textgrid.hpp"
#include "read/piece_reader.hpp"
#include "read/read_plan.hpp"

namespace textgrid {

struct PiecesRequest {
    bool strict = false;
    // Whether the bytes still need the UTF-8 check (a decoded text does not).
    bool check_utf8 = true;
    Spread spread;
    // Pages of the text read so far go back to the system (a text in a block
    // of the library's own that nothing else needs).
    bool release_read_text = false;
};

// The document, or the first fault in text order: a read that failed, then
// text that is not UTF-8, then the rows'. With `observe`, rows are handed over
// as they come (never a row whose bytes are not checked yet) and the document
// holds its tiers without items. A file that shrinks while it is read is read
// as far as it goes.
Result<TextGrid> read_long_in_pieces(const PieceSource& source, std::size_t size,
                                     const PiecesRequest& request, const RowObserver& observe);

}  // namespace textgrid
