#pragma once
// The structured and the vector form of a document, both ways.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "textgrid.hpp"

namespace textgrid {

struct ItemData {
    double tmin = 0.0;
    double tmax = 0.0;
    std::string label;
};

struct TierData {
    std::string tier_name;
    bool is_interval = true;
    std::vector<ItemData> items;
};

struct TextGridData {
    double tmin = 0.0;
    double tmax = 0.0;
    std::vector<TierData> tiers;
};

// Columns, one row per item, tier by tier. is_intervals holds 0/1 bytes (not
// std::vector<bool>) so the buffer can be handed to NumPy as-is.
struct TextGridVectors {
    std::vector<double> tmins;
    std::vector<double> tmaxs;
    std::vector<std::string> labels;
    std::vector<std::string> tier_names;
    std::vector<std::uint8_t> is_intervals;
};

TextGridData textgrid_to_data(const TextGrid& grid);
// Same result, but labels and names are moved out of a document about to be dropped.
TextGridData textgrid_to_data(TextGrid&& grid);
Result<TextGrid> data_to_textgrid(std::vector<TierData> tiers, std::optional<double> tmin,
                                  std::optional<double> tmax);

TextGridVectors textgrid_to_vectors(const TextGrid& grid);
TextGridVectors textgrid_to_vectors(TextGrid&& grid);
Result<TextGrid> vectors_to_textgrid(std::vector<double> tmins, std::vector<double> tmaxs,
                                     std::vector<std::string> labels,
                                     std::vector<std::string> tier_names,
                                     std::vector<std::uint8_t> is_intervals,
                                     std::optional<double> tmin, std::optional<double> tmax);

}  // namespace textgrid
