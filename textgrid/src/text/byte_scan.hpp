#pragma once
// The vector kernels of the readers, each with the plain loop that does the
// same where SSE2 is missing (and for the tail under 16 bytes). Inline, so a
// parser's line loop compiles into one piece.

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace textgrid {

namespace scan {

// First line feed or double quote in [p, end), or end. Lines are short, so one
// vector scan beats a memchr call for each of the two characters.
inline const char* find_line_stop(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i quote = _mm_set1_epi8('"');
    for (; end - p >= 16; p += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int hits = _mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(block, newline), _mm_cmpeq_epi8(block, quote)));
        if (hits != 0) return p + __builtin_ctz(static_cast<unsigned>(hits));
    }
#endif
    for (; p < end; ++p) {
        if (*p == '\n' || *p == '"') return p;
    }
    return end;
}

// First `wanted` byte in [p, end), or end. Lines and labels are short: no
// call needed.
inline const char* find_byte(const char* p, const char* end, char wanted) {
#if defined(__SSE2__)
    const __m128i byte = _mm_set1_epi8(wanted);
    for (; end - p >= 16; p += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(block, byte));
        if (hits != 0) return p + __builtin_ctz(static_cast<unsigned>(hits));
    }
#endif
    for (; p < end; ++p) {
        if (*p == wanted) return p;
    }
    return end;
}

inline const char* find_line_feed(const char* p, const char* end) {
    return find_byte(p, end, '\n');
}

inline const char* find_quote(const char* p, const char* end) { return find_byte(p, end, '"'); }

// First byte in [p, end) that is neither a blank nor a tab: indentation runs
// are long, and some writers (forced aligners among them) indent with tabs.
inline const char* skip_blanks(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i blank = _mm_set1_epi8(' ');
    const __m128i tab = _mm_set1_epi8('\t');
    for (; end - p >= 16; p += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i indent =
            _mm_or_si128(_mm_cmpeq_epi8(block, blank), _mm_cmpeq_epi8(block, tab));
        const unsigned others = ~static_cast<unsigned>(_mm_movemask_epi8(indent)) & 0xFFFF;
        if (others != 0) return p + __builtin_ctz(others);
    }
#endif
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    return p;
}

// The first byte in [p, end) beyond ASCII, or end: in long blocks while the
// text is plain ASCII, then in short ones to land on it exactly, so a text
// with a few accented letters in every line costs little more.
inline const unsigned char* skip_ascii(const unsigned char* p, const unsigned char* end) {
#if defined(__SSE2__)
    while (end - p >= 64) {
        const auto* block = reinterpret_cast<const __m128i*>(p);
        const __m128i any =
            _mm_or_si128(_mm_or_si128(_mm_loadu_si128(block), _mm_loadu_si128(block + 1)),
                         _mm_or_si128(_mm_loadu_si128(block + 2), _mm_loadu_si128(block + 3)));
        if (_mm_movemask_epi8(any) != 0) break;
        p += 64;
    }
    for (; end - p >= 16; p += 16) {
        const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        if (high != 0) return p + __builtin_ctz(static_cast<unsigned>(high));
    }
#endif
    while (p < end && *p < 0x80) ++p;
    return p;
}

// Past the `lines`-th line feed in [p, end), with `lines` counted down to 0;
// or end, with the line feeds still wanted left in `lines`.
inline const char* skip_line_feeds(const char* p, const char* end, std::uint64_t& lines) {
    if (lines == 0) return p;
#if defined(__SSE2__)
    const __m128i newline = _mm_set1_epi8('\n');
    const auto feeds = [&](const char* at) {
        return static_cast<unsigned>(_mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), newline)));
    };
    for (; end - p >= 64; p += 64) {
        const std::uint64_t mask = std::uint64_t{feeds(p)} | std::uint64_t{feeds(p + 16)} << 16 |
                                   std::uint64_t{feeds(p + 32)} << 32 |
                                   std::uint64_t{feeds(p + 48)} << 48;
        const auto found = static_cast<std::uint64_t>(std::popcount(mask));
        if (found < lines) {
            lines -= found;
            continue;
        }
        std::uint64_t rest = mask;
        for (; lines > 1; --lines) rest &= rest - 1;
        lines = 0;
        return p + std::countr_zero(rest) + 1;
    }
#endif
    for (; p < end; ++p) {
        if (*p == '\n' && --lines == 0) return p + 1;
    }
    return end;
}

}  // namespace scan

// Double quotes and line feeds in a stretch of text; the parallel reader counts
// them piecewise to know the quote parity and line number where a piece begins.
struct QuoteAndLineCount {
    std::size_t quotes = 0;
    std::size_t line_feeds = 0;

    QuoteAndLineCount& operator+=(const QuoteAndLineCount& more) {
        quotes += more.quotes;
        line_feeds += more.line_feeds;
        return *this;
    }
};

inline QuoteAndLineCount count_quotes_and_line_feeds(std::string_view text) {
    QuoteAndLineCount count;
    const char* p = text.data();
    const char* const end = p + text.size();
#if defined(__SSE2__)
    // Byte-wise tallies (at most 255 blocks before they are summed): no popcount,
    // which plain x86-64 lacks.
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i zero = _mm_setzero_si128();
    const auto total = [&](__m128i tallies) {
        const __m128i sums = _mm_sad_epu8(tallies, zero);
        return static_cast<std::size_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
    };
    while (end - p >= 16) {
        const auto blocks = std::min<std::size_t>(255, static_cast<std::size_t>(end - p) / 16);
        const char* const stop = p + blocks * 16;
        __m128i quotes = zero, line_feeds = zero;
        for (; p < stop; p += 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            quotes = _mm_sub_epi8(quotes, _mm_cmpeq_epi8(block, quote));
            line_feeds = _mm_sub_epi8(line_feeds, _mm_cmpeq_epi8(block, newline));
        }
        count.quotes += total(quotes);
        count.line_feeds += total(line_feeds);
    }
#endif
    for (; p < end; ++p) {
        count.quotes += *p == '"';
        count.line_feeds += *p == '\n';
    }
    return count;
}

}  // namespace textgrid
