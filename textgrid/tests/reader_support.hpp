#pragma once
// Compact renderings of reading results, so parser cases compare one string.
#include <sstream>
#include <string>

#include "textgrid.hpp"

namespace reader_support {

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
