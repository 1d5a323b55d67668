#pragma once
// Compact renderings of reading results, so parser cases compare one string,
// a tier builder for cases that start from a document, and a comparison of
// structured forms.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "converter.hpp"
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

// A file of `bytes` in the test's temporary directory; its path. CTest runs
// tests as parallel processes, so each process gets files of its own.
inline std::string temp_file(const std::string& name, const std::string& bytes) {
    const std::string path = ::testing::TempDir() + std::to_string(getpid()) + "_" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// An empty directory of the test's own, per process as temp_file's files are.
inline std::string temp_dir(const std::string& name) {
    const std::string path = ::testing::TempDir() + std::to_string(getpid()) + "_" + name;
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path;
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
