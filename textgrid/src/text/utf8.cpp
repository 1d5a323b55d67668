#include "text/utf8.hpp"

#include <algorithm>
#include <optional>

namespace textgrid {

namespace {

// Length of the valid UTF-8 sequence at `p`, or 0.
std::size_t utf8_sequence_length(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = p[0];
    const auto continuation = [&](std::size_t k) { return p + k < end && (p[k] & 0xC0) == 0x80; };
    if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2)) return 0;
        if (lead == 0xE0 && p[1] < 0xA0) return 0;   // overlong
        if (lead == 0xED && p[1] >= 0xA0) return 0;  // surrogate
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
        if (lead == 0xF0 && p[1] < 0x90) return 0;   // overlong
        if (lead == 0xF4 && p[1] >= 0x90) return 0;  // above U+10FFFF
        return 4;
    }
    return 0;
}

bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// How far `text` is valid UTF-8, where a fault in its last three bytes may be a
// character its end cuts off: the offset of that fault (the size if none), or
// nullopt for a fault before.
std::optional<std::size_t> valid_utf8_before_cut(std::string_view text) {
    const auto* const start = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = start + text.size();
    const auto* p = start;
    while (p < end) {
        p = scan::skip_ascii(p, end);
        if (p == end) break;
        if (*p < 0x80) {
            ++p;
            continue;
        }
        const std::size_t length = utf8_sequence_length(p, end);
        if (length == 0) {
            if (end - p < 4) return static_cast<std::size_t>(p - start);
            return std::nullopt;
        }
        p += length;
    }
    return text.size();
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
    const auto valid = valid_utf8_before_cut(text);
    return valid && *valid == text.size();
}

void PieceChecker::arrived(std::size_t end) {
    if (end <= counted_) return;
    const std::string_view fresh = text_.substr(counted_, end - counted_);
    piece_.count += count_quotes_and_line_feeds(fresh);
    if (counted_ == begin_ && begin_ > 0 && check_ == Check::Utf8AndCount) {
        // A valid text has at most three, ending a character begun before.
        while (piece_.head < std::min<std::size_t>(3, fresh.size()) &&
               is_continuation(fresh[piece_.head]))
            ++piece_.head;
        piece_.cut = begin_ + piece_.head;
    }
    counted_ = end;
    if (check_ == Check::CountOnly) {
        piece_.cut = end;
        return;
    }
    if (!piece_.valid) return;
    const auto valid = valid_utf8_before_cut(text_.substr(piece_.cut, end - piece_.cut));
    piece_.valid = valid.has_value();
    piece_.cut += valid.value_or(0);
}

}  // namespace textgrid
