#include "text/utf16.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstdint>

namespace textgrid {

namespace {

template <bool BigEndian>
char32_t unit_at(const unsigned char* p) {
    return BigEndian ? char32_t{p[0]} << 8 | p[1] : char32_t{p[1]} << 8 | p[0];
}

bool is_low_surrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Where the UTF-8 goes, and what it only counts.
struct Written {
    char* at;

    void ascii(const char (&bytes)[8]) {
        __builtin_memcpy(at, bytes, 8);
        at += 8;
    }
    void code(char32_t code) {
        if (code < 0x80) {
            *at++ = static_cast<char>(code);
        } else if (code < 0x800) {
            *at++ = static_cast<char>(0xC0 | (code >> 6));
            *at++ = static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *at++ = static_cast<char>(0xE0 | (code >> 12));
            *at++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *at++ = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            *at++ = static_cast<char>(0xF0 | (code >> 18));
            *at++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            *at++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *at++ = static_cast<char>(0x80 | (code & 0x3F));
        }
    }
};

struct Counted {
    std::size_t bytes = 0;

    void ascii(const char (&)[8]) { bytes += 8; }
    void code(char32_t code) {
        bytes += code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    }
};

constexpr std::size_t BLOCK_BYTES = 16;  // eight units

// Eight units at `p` as eight ASCII bytes in `bytes`; false if any of them is
// beyond ASCII.
template <bool BigEndian>
bool ascii_block(const unsigned char* p, char (&bytes)[8]) {
#if defined(__SSE2__)
    __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (BigEndian) units = _mm_or_si128(_mm_slli_epi16(units, 8), _mm_srli_epi16(units, 8));
    const __m128i beyond = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(beyond, _mm_setzero_si128())) != 0xFFFF) return false;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(units, units));
    return true;
#else
    (void)p;
    (void)bytes;
    return false;
#endif
}

// Units up to `stop` one at a time (a pair may end one unit past it, within
// `end`), `p` moved past them; false for a surrogate out of its pair.
template <bool BigEndian, class Out>
bool take_units(const unsigned char*& p, const unsigned char* stop, const unsigned char* end,
                Out& out) {
    while (p < stop) {
        char32_t code = unit_at<BigEndian>(p);
        p += 2;
        if (code >= 0xD800 && code <= 0xDFFF) {
            if (code >= 0xDC00 || p == end) return false;
            const char32_t low = unit_at<BigEndian>(p);
            if (!is_low_surrogate(low)) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            p += 2;
        }
        out.code(code);
    }
    return true;
}

// Eight units at a time while they are ASCII, as nearly all of a TextGrid's
// are; a block holding any other goes unit by unit.
template <bool BigEndian, class Out>
bool convert(std::string_view units, Out& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(units.data());
    const auto* const end = p + units.size() / 2 * 2;
    char bytes[8];
    while (end - p >= static_cast<std::ptrdiff_t>(BLOCK_BYTES)) {
        if (ascii_block<BigEndian>(p, bytes)) {
            out.ascii(bytes);
            p += BLOCK_BYTES;
        } else if (!take_units<BigEndian>(p, p + BLOCK_BYTES, end, out)) {
            return false;
        }
    }
    return take_units<BigEndian>(p, end, end, out);
}

template <class Out>
bool convert(std::string_view units, bool big_endian, Out& out) {
    return big_endian ? convert<true>(units, out) : convert<false>(units, out);
}

}  // namespace

std::optional<std::size_t> utf8_size_of_utf16(std::string_view units, bool big_endian) noexcept {
    Counted counted;
    if (!convert(units, big_endian, counted)) return std::nullopt;
    return counted.bytes;
}

char* utf16_to_utf8(std::string_view units, bool big_endian, char* out) noexcept {
    Written written{out};
    return convert(units, big_endian, written) ? written.at : nullptr;
}

std::size_t utf16_cut(std::string_view units, bool big_endian, std::size_t at) noexcept {
    if (at * 2 + 2 > units.size()) return at;
    const auto* p = reinterpret_cast<const unsigned char*>(units.data()) + at * 2;
    const char32_t unit = big_endian ? unit_at<true>(p) : unit_at<false>(p);
    return is_low_surrogate(unit) ? at + 1 : at;
}

}  // namespace textgrid
