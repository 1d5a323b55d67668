#pragma once
// Compact renderings of reading results, so parser cases compare one string,
// and a tier builder for cases that start from a document.
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "textgrid.hpp"

namespace reader_support {

// The declared size matches the items given.
inline textgrid::Tier make_tier(std::string name, bool is_interval, double tmin, double tmax,
                                std::vector<textgrid::Item> items) {
    textgrid::Tier tier;
    tier.name = std::move(name);
    tier.is_interval = is_interval;
    tier.tmin = tmin;
    tier.tmax = tmax;
    tier.size = items.size();
    tier.items = std::move(items);
    return tier;
}

inline std::string describe(const textgrid::TextGrid& grid) {
    std::ostringstream out;
    out << grid.tmin << ' ' << grid.tmax << ' ' << grid.size;
    for (const auto& tier : grid.tiers) {
        out << " | " << (tier.is_interval ? "I" : "P") << " '" << tier.name << "' " << tier.tmin
            << ' ' << tier.tmax << ' ' << tier.size << ':';
        for (const auto& item : tier.items) {
            out << " (" << item.tmin << ',' << item.tmax << ",'" << item.label << "')";
        }
    }
    return out.str();
}

inline std::string describe(const textgrid::Result<textgrid::TextGrid>& result) {
    return result ? describe(result.value()) : "error: " + result.error().to_string();
}

}  // namespace reader_support
