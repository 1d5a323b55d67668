#pragma once
// Shared by the fuzz targets: exact comparison of two read results, temporary
// files, and the plain reference versions kept with the tests.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "../tests/support/reference_text.hpp"
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

inline std::string describe(const textgrid::Result<textgrid::TextGrid>& r) {
    if (!r.ok()) return "error: " + r.error().to_string();
    std::string out = "tiers=" + std::to_string(r.value().tiers.size());
    for (const auto& tier : r.value().tiers) out += " items=" + std::to_string(tier.items.size());
    return out;
}

}  // namespace fuzz
