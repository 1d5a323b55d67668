#pragma once
// The readers' innermost loop, inline so each parser's line loop compiles into
// one piece: vector scans for line ends and quotes, and trimming that takes the
// usual ASCII shape directly and leaves everything else to trim().

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "text.hpp"

namespace textgrid::scan {

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

// First double quote in [p, end), or end. Labels are short: no call needed.
inline const char* find_quote(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    for (; end - p >= 16; p += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(block, quote));
        if (hits != 0) return p + __builtin_ctz(static_cast<unsigned>(hits));
    }
#endif
    for (; p < end; ++p) {
        if (*p == '"') return p;
    }
    return end;
}

// First byte in [p, end) that is not a blank: indentation runs are long.
inline const char* skip_blanks(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i blank = _mm_set1_epi8(' ');
    for (; end - p >= 16; p += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const unsigned others =
            ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, blank))) & 0xFFFF;
        if (others != 0) return p + __builtin_ctz(others);
    }
#endif
    while (p < end && *p == ' ') ++p;
    return p;
}

// A byte that may begin white space other than the blank: the other ASCII
// spaces, and any non-ASCII lead byte (trim() knows which ones really are).
inline bool maybe_other_space(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 0x09 && byte <= 0x0D) || byte >= 0x80;
}

inline bool is_ascii_space(char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// trim() for the usual shapes: blanks in front, ASCII spaces behind.
inline std::string_view trim_front_quickly(std::string_view text) {
    const char* const end = text.data() + text.size();
    const char* p = skip_blanks(text.data(), end);
    if (p < end && maybe_other_space(*p)) return trim(text);
    return {p, static_cast<std::size_t>(end - p)};
}

inline std::string_view trim_back_quickly(std::string_view text) {
    const char* const begin = text.data();
    const char* end = begin + text.size();
    while (end > begin && is_ascii_space(end[-1])) --end;
    if (end > begin && static_cast<unsigned char>(end[-1]) >= 0x80) return trim(text);
    return {begin, static_cast<std::size_t>(end - begin)};
}

inline std::string_view trim_quickly(std::string_view text) {
    return trim_back_quickly(trim_front_quickly(text));
}

// Cuts the next logical line off `rest` (not empty) into `line`, trimmed;
// `next_number` is the physical line number `rest` starts on, kept up to date.
inline void cut_logical_line(std::string_view& rest, std::size_t& next_number, Line& line) {
    const char* const start = rest.data();
    const char* const end = start + rest.size();
    line.number = next_number;
    const char* pos = start;
    for (;;) {
        const char* stop = find_line_stop(pos, end);
        if (stop == end || *stop == '\n') {
            line.text = trim_quickly(std::string_view(start, static_cast<std::size_t>(stop - start)));
            if (stop == end) {
                rest = {};
            } else {
                ++next_number;
                rest = std::string_view(stop + 1, static_cast<std::size_t>(end - stop - 1));
            }
            return;
        }
        // Inside quotes line feeds belong to the text, up to the closing quote.
        const char* closing = find_quote(stop + 1, end);
        if (closing == end) {
            line.text = trim_quickly(std::string_view(start, static_cast<std::size_t>(end - start)));
            next_number += static_cast<std::size_t>(std::count(stop + 1, end, '\n'));
            rest = {};
            return;
        }
        next_number += static_cast<std::size_t>(std::count(stop + 1, closing, '\n'));
        pos = closing + 1;
    }
}

// decode_praat_string into `out`, reusing its storage: a label with no quote
// inside, nearly every one, is copied straight from the text.
inline void assign_praat_string(std::string& out, std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        const char* const inner = text.data() + 1;
        const char* const inner_end = text.data() + text.size() - 1;
        if (find_quote(inner, inner_end) == inner_end) {
            out.assign(inner, inner_end);
            return;
        }
    }
    out = decode_praat_string(text);
}

// split_key_value on a line trimmed already: only the inner ends need it.
inline bool split_trimmed_key_value(std::string_view line, std::string_view& key,
                                    std::string_view& value) {
    std::size_t equals = 0;
    while (equals < line.size() && line[equals] != '=') ++equals;
    if (equals == line.size()) return false;
    key = trim_back_quickly(line.substr(0, equals));
    value = trim_front_quickly(line.substr(equals + 1));
    return true;
}

// A value with no sign, exponent or name: digits with at most one point, at
// most 15 significant digits and 22 after the point. Mantissa and power of ten
// are then exact doubles, so one division rounds correctly, as from_chars
// would. Anything else is false and left to parse_f64_or_zero().
inline bool parse_plain_decimal(std::string_view text, double& value) {
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* p = text.data();
    const char* const end = p + text.size();
    std::uint64_t mantissa = 0;
    const auto read_digits = [&] {
        const char* const first = p;
        while (p < end && static_cast<unsigned char>(*p - '0') < 10) {
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
            ++p;
        }
        return p - first;
    };
    const std::ptrdiff_t whole_digits = read_digits();
    std::ptrdiff_t fraction_digits = 0;
    if (p < end && *p == '.') {
        ++p;
        fraction_digits = read_digits();
    }
    // 19 digits cannot wrap the mantissa, so below 10^15 it has at most 15
    // significant ones.
    if (p != end || whole_digits + fraction_digits == 0 || whole_digits + fraction_digits > 19 ||
        fraction_digits > 22 || mantissa >= 1000000000000000u) {
        return false;
    }
    value = static_cast<double>(mantissa) / kPowers[fraction_digits];
    return true;
}

}  // namespace textgrid::scan
