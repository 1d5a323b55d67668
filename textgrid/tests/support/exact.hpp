#pragma once
// Exact comparison of read results, bit for bit: shared by the unit tests and
// the fuzz targets (no test framework here).

#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "model/textgrid.hpp"

namespace support {

// NaN payloads may differ in sign only through "-nan": compare bits.
inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline bool same_items(const textgrid::Item& a, const textgrid::Item& b) {
    return same_bits(a.tmin, b.tmin) && same_bits(a.tmax, b.tmax) && a.label == b.label;
}

inline bool same_tiers(const textgrid::Tier& a, const textgrid::Tier& b) {
    if (a.name != b.name || a.size != b.size || a.is_interval != b.is_interval ||
        !same_bits(a.tmin, b.tmin) || !same_bits(a.tmax, b.tmax) ||
        a.items.size() != b.items.size()) {
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

// Errors are the same when kind, message and OS code are.
inline bool same_results(const textgrid::Result<textgrid::TextGrid>& a,
                         const textgrid::Result<textgrid::TextGrid>& b) {
    if (a.ok() != b.ok()) return false;
    return a.ok() ? same_grids(a.value(), b.value()) : a.error() == b.error();
}

// Rows handed to a reader's observer, put back into the document the reader
// returned, which must hold its tiers without items.
class HandedRows {
public:
    textgrid::RowObserver observer() {
        return
            [this](const textgrid::Tier& tier, bool begins, std::span<const textgrid::Item> run) {
                if (begins) {
                    tiers_.emplace_back();
                    tiers_.back().name = tier.name;
                    tiers_.back().is_interval = tier.is_interval;
                }
                if (tiers_.empty() || tier.name != tiers_.back().name) {
                    astray_ = true;
                    return;
                }
                tiers_.back().items.insert(tiers_.back().items.end(), run.begin(), run.end());
            };
    }

    // False if the rows do not fit the document's tiers one to one.
    bool put_back(textgrid::TextGrid& grid) {
        if (astray_ || tiers_.size() != grid.tiers.size()) return false;
        for (std::size_t k = 0; k < tiers_.size(); ++k) {
            textgrid::Tier& tier = grid.tiers[k];
            if (!tier.items.empty() || tier.name != tiers_[k].name ||
                tier.is_interval != tiers_[k].is_interval) {
                return false;
            }
            tier.items = std::move(tiers_[k].items);
        }
        tiers_.clear();
        return true;
    }

private:
    std::vector<textgrid::Tier> tiers_;
    bool astray_ = false;
};

}  // namespace support
