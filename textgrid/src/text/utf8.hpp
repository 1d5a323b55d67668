#pragma once
// The UTF-8 check, whole or a piece at a time as the bytes arrive.

#include <cstddef>
#include <string_view>

#include "text/byte_scan.hpp"

namespace textgrid {

bool is_valid_utf8(std::string_view text);

// A piece's bytes are checked as they arrive, this many at a time, while they
// are still in the cache.
inline constexpr std::size_t CHECKED_AFTER_BYTES = std::size_t{256} << 10;

// A piece of a text, checked for UTF-8 and counted while its bytes are in the
// cache of the processor that has it. Its characters are checked from the
// first that starts in it (`head` continuation bytes in) to the one its end
// cuts off (`cut`); the few bytes around each cut are for whoever joins the
// pieces to check.
struct CheckedPiece {
    bool valid = false;
    std::size_t head = 0;
    std::size_t cut = 0;
    QuoteAndLineCount count;
};

// Checks a piece as its bytes arrive, each run while it is still in the cache;
// a text known to be valid is only counted.
class PieceChecker {
public:
    enum class Check { Utf8AndCount, CountOnly };

    // `text` holds the piece from `begin` on; a byte before it tells nothing.
    PieceChecker(std::string_view text, std::size_t begin, Check check = Check::Utf8AndCount)
        : text_(text), begin_(begin), counted_(begin), check_(check) {
        piece_.cut = begin;
        piece_.valid = true;
    }

    // Bytes up to `end` have arrived.
    void arrived(std::size_t end);
    // The text, grown or moved (the bytes so far at the same offsets).
    void moved_to(std::string_view text) { text_ = text; }

    const CheckedPiece& piece() const { return piece_; }

private:
    std::string_view text_;
    std::size_t begin_;
    std::size_t counted_;
    Check check_;
    CheckedPiece piece_;
};

}  // namespace textgrid
