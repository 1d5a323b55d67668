#pragma once
// Documents built in tests, and structured forms compared field by field.

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "convert/converter.hpp"
#include "model/textgrid.hpp"

namespace support {

// The declared size matches the items given.
inline textgrid::Tier make_tier(std::string name, bool is_interval, double tmin, double tmax,
                                textgrid::Items items) {
    textgrid::Tier tier;
    tier.name = std::move(name);
    tier.is_interval = is_interval;
    tier.tmin = tmin;
    tier.tmax = tmax;
    tier.size = items.size();
    tier.items = std::move(items);
    return tier;
}

inline void expect_same_data(const textgrid::TextGridData& a, const textgrid::TextGridData& b) {
    EXPECT_EQ(a.tmin, b.tmin);
    EXPECT_EQ(a.tmax, b.tmax);
    ASSERT_EQ(a.tiers.size(), b.tiers.size());
    for (std::size_t t = 0; t < a.tiers.size(); ++t) {
        EXPECT_EQ(a.tiers[t].tier_name, b.tiers[t].tier_name);
        EXPECT_EQ(a.tiers[t].is_interval, b.tiers[t].is_interval);
        ASSERT_EQ(a.tiers[t].items.size(), b.tiers[t].items.size());
        for (std::size_t i = 0; i < a.tiers[t].items.size(); ++i) {
            EXPECT_EQ(a.tiers[t].items[i].tmin, b.tiers[t].items[i].tmin);
            EXPECT_EQ(a.tiers[t].items[i].tmax, b.tiers[t].items[i].tmax);
            EXPECT_EQ(a.tiers[t].items[i].label, b.tiers[t].items[i].label);
        }
    }
}

}  // namespace support
