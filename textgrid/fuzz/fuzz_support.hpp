#pragma once
// Shared by the fuzz targets: exact comparison of two read results, a plain
// UTF-8 reference, temporary files.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "textgrid.hpp"

namespace fuzz {

inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// NaN payloads may differ in sign only through "-nan": compare bits.
inline bool same_items(const textgrid::Item& a, const textgrid::Item& b) {
    return same_bits(a.tmin, b.tmin) && same_bits(a.tmax, b.tmax) && a.label == b.label;
}

inline bool same_tiers(const textgrid::Tier& a, const textgrid::Tier& b) {
    if (a.name != b.name || a.size != b.size || a.is_interval != b.is_interval ||
        !same_bits(a.tmin, b.tmin) || !same_bits(a.tmax, b.tmax) || a.items.size() != b.items.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.items.size(); ++i) {
        if (!same_items(a.items[i], b.items[i])) return false;
    }
    return true;
}

inline bool same_grids(const textgrid::TextGrid& a, const textgrid::TextGrid& b) {
    if (!same_bits(a.tmin, b.tmin) || !same_bits(a.tmax, b.tmax) || a.size != b.size ||
        a.tiers.size() != b.tiers.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.tiers.size(); ++i) {
        if (!same_tiers(a.tiers[i], b.tiers[i])) return false;
    }
    return true;
}

inline bool same_results(const textgrid::Result<textgrid::TextGrid>& a,
                         const textgrid::Result<textgrid::TextGrid>& b) {
    if (a.ok() != b.ok()) return false;
    return a.ok() ? same_grids(a.value(), b.value()) : a.error() == b.error();
}

// A file of this process, removed at exit; memory-backed where the system has
// it, as targets write files for every input.
struct TempFile {
    explicit TempFile(const char* tag)
        : path(std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/velmar-fuzz-" + tag +
               "-" + std::to_string(getpid())) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() { unlink(path.c_str()); }
    const std::string path;
};

[[noreturn]] inline void fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "FUZZ FAULT: %s %s\n", what, detail.c_str());
    std::abort();
}

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

// Decodes every code point and re-encodes it: valid exactly when nothing changes.
inline bool reference_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xC0 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3 : lead >= 0xF0 && lead < 0xF8 ? 4 : 0;
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

inline std::string describe(const textgrid::Result<textgrid::TextGrid>& r) {
    if (!r.ok()) return "error: " + r.error().to_string();
    std::string out = "tiers=" + std::to_string(r.value().tiers.size());
    for (const auto& tier : r.value().tiers) out += " items=" + std::to_string(tier.items.size());
    return out;
}

}  // namespace fuzz
