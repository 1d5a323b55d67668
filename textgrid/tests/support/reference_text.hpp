#pragma once
// Plain, slow versions of the library's text, loading and number helpers,
// written for clarity alone: the fuzz targets and unit tests check the fast
// ones against them.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.hpp"

namespace reference {

inline void put_utf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// UTF-16 code units as bytes in the given order.
inline std::string utf16_bytes(std::u16string_view units, bool big_endian) {
    std::string bytes;
    for (char16_t unit : units) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += big_endian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

// Decodes every code point and re-encodes it: valid exactly when nothing changes.
inline bool valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80                   ? 1
                             : lead >= 0xC0 && lead < 0xE0 ? 2
                             : lead >= 0xE0 && lead < 0xF0 ? 3
                             : lead >= 0xF0 && lead < 0xF8 ? 4
                                                           : 0;
        if (length == 0 || i + length > text.size()) return false;
        std::uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            c = c << 6 | (b & 0x3F);
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
        std::string again;
        put_utf8(again, c);
        if (again != text.substr(i, length)) return false;  // overlong
        i += length;
    }
    return true;
}

// UTF-16 bytes after their byte-order mark, in UTF-8; nothing if malformed.
inline std::optional<std::string> utf16_to_utf8(std::string_view bytes, bool big) {
    if (bytes.size() % 2) return std::nullopt;
    std::string out;
    const auto unit = [&](std::size_t i) -> std::uint32_t {
        const auto a = static_cast<unsigned char>(bytes[i]),
                   b = static_cast<unsigned char>(bytes[i + 1]);
        return big ? (a << 8 | b) : (b << 8 | a);
    };
    for (std::size_t i = 2; i < bytes.size(); i += 2) {
        std::uint32_t c = unit(i);
        if (c >= 0xDC00 && c < 0xE000) return std::nullopt;
        if (c >= 0xD800 && c < 0xDC00) {
            if (i + 3 >= bytes.size()) return std::nullopt;
            const std::uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low >= 0xE000) return std::nullopt;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        put_utf8(out, c);
    }
    return out;
}

// "..." loses its outer quotes and "" becomes "; else every outer '"' goes.
inline std::string decode_praat_string(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        const std::string_view inner = text.substr(1, text.size() - 2);
        std::string out;
        for (std::size_t i = 0; i < inner.size(); ++i) {
            out += inner[i];
            if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"') ++i;
        }
        return out;
    }
    while (!text.empty() && text.front() == '"') text.remove_prefix(1);
    while (!text.empty() && text.back() == '"') text.remove_suffix(1);
    return std::string(text);
}

inline bool lower_equals(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
        if (c != lower[i]) return false;
    }
    return true;
}

// [+-]? (digits [. digits?] | . digits) ([eE] [+-]? digits)?  or the three names.
inline bool accepted_number(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const std::string_view body = text.substr(i);
    if (lower_equals(body, "nan") || lower_equals(body, "inf") || lower_equals(body, "infinity"))
        return true;
    const auto digits = [&] {
        const std::size_t from = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i - from;
    };
    std::size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (digits() == 0) return false;
    }
    return i == text.size();
}

// strtod in the "C" locale on the accepted grammar, 0.0 elsewhere.
inline double parse_f64_or_zero(std::string_view text) {
    if (!accepted_number(text)) return 0.0;
    const std::string terminated(text);
    return std::strtod(terminated.c_str(), nullptr);
}

// Optional '+' and digits that fit in 64 bits, else 0, digit by digit.
inline std::uint64_t count_or_zero(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return 0;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return 0;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return value;
}

constexpr std::string_view SPACES[] = {
    "\t",           "\n",           "\v",           "\f",           "\r",           " ",
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80"};

// Both ends in one loop: every space starts with a lead byte and none is a
// prefix of another, so a cut at one end never reaches into one at the other.
inline std::string_view trim(std::string_view text) {
    for (bool cut = true; cut;) {
        cut = false;
        for (const auto space : SPACES) {
            if (text.starts_with(space)) {
                text.remove_prefix(space.size());
                cut = true;
            }
            if (text.ends_with(space)) {
                text.remove_suffix(space.size());
                cut = true;
            }
        }
    }
    return text;
}

// Logical lines by counting quotes per physical line.
inline std::vector<textgrid::Line> lines(std::string_view text) {
    std::vector<textgrid::Line> lines;
    std::size_t number = 1, position = 0;
    while (position < text.size()) {
        textgrid::Line line;
        line.number = number;
        std::size_t quotes = 0, end = position;
        for (;;) {
            std::size_t feed = text.find('\n', end);
            if (feed == std::string_view::npos) feed = text.size();
            for (std::size_t i = end; i < feed; ++i) quotes += text[i] == '"';
            end = feed;
            if (feed < text.size()) ++number;
            if (quotes % 2 == 0 || feed == text.size()) break;
            ++end;
        }
        line.text = trim(text.substr(position, end - position));
        lines.push_back(line);
        position = end + 1;
    }
    return lines;
}

}  // namespace reference
