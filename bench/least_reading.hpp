#pragma once
// A yardstick for the long-layout parse: the least a line-by-line reader of
// the usual shape does, on one thread. It lists the line feeds outside quotes
// a block at a time, so no line waits for the one before to be read; then,
// for each line, skips the indentation, tells "xmin = ", "xmax = " and
// "text = " apart, converts the number or takes the label's bytes where they
// lie. No validation, no document, no copies: what a real reader must do on
// top of this (check every line's shape, build the items, copy the labels)
// is what separates the library's one pass from it.

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "text/byte_scan.hpp"
#include "text/numbers.hpp"

struct LeastReading {
    // Room for a line feed at every byte, kept from run to run (not cleared).
    std::unique_ptr<std::uint32_t[]> line_feeds;
    std::size_t room = 0;
    std::size_t lines = 0;
    std::vector<double> numbers;
    std::vector<std::string_view> labels;
};

namespace least_reading_detail {

inline std::uint64_t bits_set(std::uint64_t x) {  // plain x86-64 has no popcount
    x -= (x >> 1) & 0x5555555555555555u;
    x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return (x * 0x0101010101010101u) >> 56;
}

// Each bit the parity of the bits up to it: set inside quotes.
inline std::uint64_t inside_quotes(std::uint64_t quotes) {
    for (int shift = 1; shift < 64; shift *= 2) quotes ^= quotes << shift;
    return quotes;
}

#if defined(__SSE2__)
inline std::uint64_t byte_mask(const char* p, char c) {
    const __m128i wanted = _mm_set1_epi8(c);
    std::uint64_t mask = 0;
    for (int k = 0; k < 4; ++k) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        mask |=
            std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)))}
            << (16 * k);
    }
    return mask;
}
#endif

inline void list_line_feeds(std::string_view text, LeastReading& out) {
    if (out.room < text.size() + 8) {
        out.room = text.size() + 8;
        out.line_feeds.reset(new std::uint32_t[out.room]);
    }
    std::uint32_t* next = out.line_feeds.get();
    std::size_t at = 0;
    bool quoted = false;
#if defined(__SSE2__)
    std::uint64_t carried = 0;  // all ones while a quote is open across blocks
    for (; text.size() - at >= 64; at += 64) {
        const std::uint64_t quotes_inside =
            inside_quotes(byte_mask(text.data() + at, '"')) ^ carried;
        carried = static_cast<std::uint64_t>(static_cast<std::int64_t>(quotes_inside) >> 63);
        std::uint64_t feeds = byte_mask(text.data() + at, '\n') & ~quotes_inside;
        const auto count = bits_set(feeds);
        for (int k = 0; k < 4; ++k) {  // most blocks hold at most four
            next[k] = static_cast<std::uint32_t>(
                at + static_cast<unsigned>(__builtin_ctzll(feeds | (1ull << 63))));
            feeds &= feeds - 1;
        }
        for (std::uint64_t k = 4; k < count; ++k) {
            next[k] =
                static_cast<std::uint32_t>(at + static_cast<unsigned>(__builtin_ctzll(feeds)));
            feeds &= feeds - 1;
        }
        next += count;
    }
    quoted = carried != 0;
#endif
    for (; at < text.size(); ++at) {
        if (text[at] == '"') quoted = !quoted;
        if (text[at] == '\n' && !quoted) *next++ = static_cast<std::uint32_t>(at);
    }
    out.lines = static_cast<std::size_t>(next - out.line_feeds.get());
}

inline std::uint64_t first_seven(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word & 0x00FFFFFFFFFFFFFFu;
}

inline std::uint64_t key(const char (&text)[8]) { return first_seven(text); }

}  // namespace least_reading_detail

// Reads `text` (under 4 GB) into `out`; the number of lines.
inline std::size_t read_least(std::string_view text, LeastReading& out) {
    using namespace least_reading_detail;
    list_line_feeds(text, out);
    out.numbers.clear();
    out.labels.clear();
    static const std::uint64_t xmin = key("xmin = "), xmax = key("xmax = "), label = key("text = ");
    const char* const end = text.data() + text.size();
    const char* start = text.data();
    for (std::size_t line = 0; line < out.lines; ++line) {
        const char* const line_feed = text.data() + out.line_feeds[line];
        const char* const p = textgrid::scan::skip_blanks(start, line_feed);
        start = line_feed + 1;
        if (line_feed - p <= 7) continue;
        const std::uint64_t word = first_seven(p);
        if (word == xmin || word == xmax) {
            double value = 0;
            if (!textgrid::detail::read_plain_decimal(p + 7, end, value))
                value = textgrid::parse_f64_or_zero(
                    {p + 7, static_cast<std::size_t>(line_feed - p - 7)});
            out.numbers.push_back(value);
        } else if (word == label) {
            const char* close = line_feed;
            while (close > p + 7 && close[-1] != '"') --close;
            out.labels.emplace_back(p + 8,
                                    static_cast<std::size_t>(std::max(close - 1, p + 8) - (p + 8)));
        }
    }
    return out.lines;
}
