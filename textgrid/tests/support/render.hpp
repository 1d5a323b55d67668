#pragma once
// A document as one line of text, so a reading case compares one string. Times
// show the shortest digits that read back to the same double, so a wrong last
// bit shows. No test framework here: the fuzz targets print it too.

#include <charconv>
#include <string>

#include "model/textgrid.hpp"

namespace support {

inline std::string exact_time(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

// "tmin tmax size | I 'name' tmin tmax size: (tmin,tmax,'label') ..."
inline std::string render(const textgrid::TextGrid& grid) {
    std::string out =
        exact_time(grid.tmin) + ' ' + exact_time(grid.tmax) + ' ' + std::to_string(grid.size);
    for (const auto& tier : grid.tiers) {
        out += std::string(" | ") + (tier.is_interval ? "I" : "P") + " '" + tier.name + "' " +
               exact_time(tier.tmin) + ' ' + exact_time(tier.tmax) + ' ' +
               std::to_string(tier.size) + ':';
        for (const auto& item : tier.items) {
            out += " (" + exact_time(item.tmin) + ',' + exact_time(item.tmax) + ",'" + item.label +
                   "')";
        }
    }
    return out;
}

inline std::string render(const textgrid::Result<textgrid::TextGrid>& result) {
    return result ? render(result.value()) : "error: " + result.error().to_string();
}

}  // namespace support
