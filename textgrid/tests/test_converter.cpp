#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "convert/converter.hpp"
#include "documents.hpp"
#include "runtime/parallel.hpp"

using namespace textgrid;
using support::expect_same_data;

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double LARGEST = std::numeric_limits<double>::max();

// Enough items to leave the calling thread on this machine.
std::size_t large_tier_length() { return PARALLEL_ELEMENTS_PER_PROCESSOR * thread_count() + 37; }

Items consecutive_items(std::size_t n) {
    Items items;
    for (std::size_t i = 0; i < n; ++i)
        items.push_back({double(i), double(i + 1), "label number " + std::to_string(i)});
    return items;
}

std::string message_of(const Result<TextGrid>& result) {
    return result ? std::string("ok") : result.error().to_string();
}

TextGrid sample_grid() {
    auto built =
        data_to_textgrid({{"words", true, {{0.0, 0.5, "hello"}, {0.5, 1.25, "\"quoted\" world"}}},
                          {"events", false, {{0.3, 0.3, "click"}}}},
                         0.0, 2.0);
    EXPECT_TRUE(built) << message_of(built);
    TextGrid grid = std::move(built).value();
    // A tier without items only exists in documents read from files.
    Tier empty;
    empty.name = "silent";
    empty.tmin = 0.0;
    empty.tmax = 2.0;
    grid.tiers.insert(grid.tiers.begin(), std::move(empty));
    grid.size = grid.tiers.size();
    return grid;
}

}  // namespace

// --- document to structured data -------------------------------------------

TEST(TextGridToData, KeepsEmptyTiersAndCopiesOrMovesAlike) {
    const TextGrid grid = sample_grid();
    const TextGridData copied = textgrid_to_data(grid);
    ASSERT_EQ(copied.tiers.size(), 3u);
    EXPECT_EQ(copied.tiers[0].tier_name, "silent");
    EXPECT_TRUE(copied.tiers[0].items.empty());
    EXPECT_FALSE(copied.tiers[2].is_interval);
    EXPECT_EQ(copied.tiers[1].items[1].label, "\"quoted\" world");
    EXPECT_EQ(grid.tiers[1].items[1].label, "\"quoted\" world");  // source untouched

    TextGrid doomed = grid;
    expect_same_data(textgrid_to_data(std::move(doomed)), copied);
}

class LargeTier : public ::testing::TestWithParam<bool> {};

TEST_P(LargeTier, MapsInOrderBothWays) {
    const bool consume = GetParam();
    const std::size_t n = large_tier_length();
    auto built = data_to_textgrid({{"big", true, consecutive_items(n)}}, {}, {});
    ASSERT_TRUE(built) << message_of(built);
    TextGrid& grid = built.value();
    EXPECT_EQ(grid.tiers[0].size, n);
    EXPECT_EQ(grid.tiers[0].items.back().label, "label number " + std::to_string(n - 1));

    const TextGridData data = consume ? textgrid_to_data(std::move(grid)) : textgrid_to_data(grid);
    TextGridData expected{0.0, double(n), {{"big", true, consecutive_items(n)}}};
    expect_same_data(data, expected);
}

INSTANTIATE_TEST_SUITE_P(CopyOrMove, LargeTier, ::testing::Bool());

// --- structured data to document -------------------------------------------

struct DataCase {
    const char* title;
    std::vector<TierData> tiers;
    std::optional<double> tmin, tmax;
    const char* expected;
};

void PrintTo(const DataCase& c, std::ostream* out) { *out << c.title; }

class DataToTextGrid : public ::testing::TestWithParam<DataCase> {};

TEST_P(DataToTextGrid, BuildsOrReportsFirstFault) {
    const DataCase& c = GetParam();
    EXPECT_EQ(message_of(data_to_textgrid(c.tiers, c.tmin, c.tmax)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DataToTextGrid,
    ::testing::Values(
        DataCase{"nothing_no_bounds", {}, {}, {}, "Time bounds should be non-negative in TextGrid"},
        DataCase{"nothing_with_bounds", {}, 0.0, 1.0, "ok"},
        DataCase{"only_empty_tier",
                 {{"a", true, {}}},
                 {},
                 {},
                 "Time bounds should be non-negative in TextGrid"},
        DataCase{"only_empty_tier_one_bound",
                 {{"a", true, {}}},
                 0.0,
                 {},
                 "Time bounds should be non-negative in TextGrid"},
        DataCase{"only_empty_tier_with_bounds", {{"a", true, {}}}, 0.0, 1.0, "ok"},
        DataCase{"not_reordered",
                 {{"w", true, {{1, 2, ""}, {0, 1, ""}}}},
                 {},
                 {},
                 "Items 0 and 1 overlap in tier w"},
        DataCase{"point",
                 {{"p", false, {{1.5, 1.5, "p"}}}},
                 {},
                 {},
                 "tmin should be less than tmax in TextGrid"},
        DataCase{"point_with_bounds", {{"p", false, {{1.5, 1.5, "p"}}}}, 0.0, 2.0, "ok"},
        DataCase{"point_differing",
                 {{"p", false, {{1.5, 1.6, "p"}}}},
                 0.0,
                 2.0,
                 "Item 0 should have tmin == tmax in PointTier p"},
        DataCase{"items_outside_given_range", {{"w", true, {{0, 5, ""}}}}, 1.0, 2.0, "ok"},
        DataCase{"nan_start_only",
                 {{"w", true, {{NaN, 1, ""}}}},
                 {},
                 {},
                 "tmin should be less than tmax in TextGrid"}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(DataToTextGrid, DerivesBoundsPerTierOrTakesGivenOnes) {
    auto tiers = [] {
        return std::vector<TierData>{{"a", true, {{0.5, 1.0, "x"}}},
                                     {"empty", true, {}},
                                     {"b", true, {{0.2, 0.8, "y"}, {NaN, NaN, "z"}}}};
    };
    auto fitted = data_to_textgrid(tiers(), {}, {});
    ASSERT_TRUE(fitted) << message_of(fitted);
    const TextGrid& grid = fitted.value();
    ASSERT_EQ(grid.tiers.size(), 3u);
    EXPECT_EQ(grid.size, 3u);
    EXPECT_EQ(grid.tiers[2].name, "b");
    EXPECT_EQ(grid.tiers[2].size, 2u);
    EXPECT_EQ(std::pair(grid.tiers[0].tmin, grid.tiers[0].tmax), std::pair(0.5, 1.0));
    // The empty tier takes no part in fitting and gets the document's bounds.
    EXPECT_EQ(grid.tiers[1].name, "empty");
    EXPECT_EQ(std::pair(grid.tiers[1].tmin, grid.tiers[1].tmax), std::pair(0.2, 1.0));
    EXPECT_EQ(std::pair(grid.tiers[2].tmin, grid.tiers[2].tmax), std::pair(0.2, 0.8));
    EXPECT_EQ(std::pair(grid.tmin, grid.tmax), std::pair(0.2, 1.0));

    auto given = data_to_textgrid(tiers(), 0.0, 2.0);
    ASSERT_TRUE(given) << message_of(given);
    for (const Tier& tier : given.value().tiers)
        EXPECT_EQ(std::pair(tier.tmin, tier.tmax), std::pair(0.0, 2.0));
}

TEST(DataRoundTrip, TiersTakeTheGlobalBounds) {
    const TextGrid grid = sample_grid();
    TextGridData data = textgrid_to_data(grid);
    auto rebuilt = data_to_textgrid(std::move(data.tiers), data.tmin, data.tmax);
    ASSERT_TRUE(rebuilt) << message_of(rebuilt);
    TextGridData again = textgrid_to_data(rebuilt.value());
    expect_same_data(again, textgrid_to_data(grid));
    for (const Tier& tier : rebuilt.value().tiers)
        EXPECT_EQ(std::pair(tier.tmin, tier.tmax), std::pair(0.0, 2.0));
}

// --- document to vectors and back -------------------------------------------

TEST(TextGridToVectors, RowsRunTierByTierAndSkipEmptyTiers) {
    const TextGrid grid = sample_grid();
    const TextGridVectors v = textgrid_to_vectors(grid);
    EXPECT_EQ(v.tmins, (std::vector<double>{0.0, 0.5, 0.3}));
    EXPECT_EQ(v.tmaxs, (std::vector<double>{0.5, 1.25, 0.3}));
    EXPECT_EQ(v.labels, (std::vector<std::string>{"hello", "\"quoted\" world", "click"}));
    EXPECT_EQ(v.tier_names, (std::vector<std::string>{"words", "words", "events"}));
    EXPECT_EQ(v.is_intervals, (std::vector<std::uint8_t>{1, 1, 0}));

    TextGrid doomed = grid;
    const TextGridVectors moved = textgrid_to_vectors(std::move(doomed));
    EXPECT_EQ(moved.labels, v.labels);
    EXPECT_EQ(moved.tier_names, v.tier_names);
    EXPECT_EQ(moved.tmins, v.tmins);
}

TEST(VectorsRoundTrip, RebuildsNonEmptyTiersWithGlobalBounds) {
    const TextGrid grid = sample_grid();
    TextGridVectors v = textgrid_to_vectors(grid);
    auto rebuilt = vectors_to_textgrid(std::move(v.tmins), std::move(v.tmaxs), std::move(v.labels),
                                       std::move(v.tier_names), std::move(v.is_intervals),
                                       grid.tmin, grid.tmax);
    ASSERT_TRUE(rebuilt) << message_of(rebuilt);
    TextGridData expected = textgrid_to_data(grid);
    expected.tiers.erase(expected.tiers.begin());
    expect_same_data(textgrid_to_data(rebuilt.value()), expected);
}

struct Columns {
    std::vector<double> tmins, tmaxs;
    std::vector<std::string> labels, names;
    std::vector<std::uint8_t> kinds;
};

Result<TextGrid> build(Columns c, std::optional<double> tmin = {},
                       std::optional<double> tmax = {}) {
    return vectors_to_textgrid(std::move(c.tmins), std::move(c.tmaxs), std::move(c.labels),
                               std::move(c.names), std::move(c.kinds), tmin, tmax);
}

Columns three_rows() { return {{0, 1, 2}, {1, 2, 3}, {"a", "b", "c"}, {"t", "t", "t"}, {1, 1, 1}}; }

class ShortColumn : public ::testing::TestWithParam<int> {};

TEST_P(ShortColumn, FailsBeforeAnythingElse) {
    Columns c = three_rows();
    c.tmins[0] = NaN;  // would be an error of its own if looked at
    switch (GetParam()) {
        case 0:
            c.tmins.pop_back();
            break;
        case 1:
            c.tmaxs.pop_back();
            break;
        case 2:
            c.labels.pop_back();
            break;
        case 3:
            c.names.pop_back();
            break;
        default:
            c.kinds.pop_back();
            break;
    }
    auto result = build(std::move(c));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), ErrorKind::InvalidInput);
    EXPECT_EQ(result.error().to_string(), "Input vectors must have the same length");
}

INSTANTIATE_TEST_SUITE_P(EachColumn, ShortColumn, ::testing::Range(0, 5));

struct VectorsCase {
    const char* title;
    Columns columns;
    std::optional<double> tmin, tmax;
    const char* expected;
};

void PrintTo(const VectorsCase& c, std::ostream* out) { *out << c.title; }

class VectorsToTextGrid : public ::testing::TestWithParam<VectorsCase> {};

TEST_P(VectorsToTextGrid, BuildsOrReportsFirstFault) {
    const VectorsCase& c = GetParam();
    EXPECT_EQ(message_of(build(c.columns, c.tmin, c.tmax)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VectorsToTextGrid,
    ::testing::Values(
        VectorsCase{
            "empty_no_bounds", {}, {}, {}, "Time bounds should be non-negative in TextGrid"},
        VectorsCase{"empty_with_bounds", {}, 0.0, 1.0, "ok"},
        VectorsCase{"first_row_decides_kind",
                    {{0.5, 1}, {0.5, 2}, {"", ""}, {"t", "t"}, {0, 1}},
                    {},
                    {},
                    "Item 1 should have tmin == tmax in PointTier t"},
        VectorsCase{"nan_start_in_tier_of_two",
                    {{0, NaN}, {1, 2}, {"", ""}, {"t", "t"}, {1, 1}},
                    0.0,
                    3.0,
                    "tmins must not contain NaN"},
        VectorsCase{"nan_start_alone",
                    {{NaN}, {1}, {""}, {"t"}, {1}},
                    {},
                    2.0,
                    "tmin should be less than tmax in TextGrid"},
        VectorsCase{"overlap_after_sort",
                    {{1, 0}, {2, 1.5}, {"", ""}, {"t", "t"}, {1, 1}},
                    {},
                    {},
                    "Items 0 and 1 overlap in tier t"}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(VectorsToTextGrid, NanStartIsInvalidInputAndStopsBeforeValidation) {
    // Tier "bad" would fail validation first; the NaN is found while building.
    auto result = build({{0, 0, 0, NaN},
                         {0, 1, 1, 1},
                         {"", "", "", ""},
                         {"bad", "bad", "nan", "nan"},
                         {1, 1, 1, 1}});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), ErrorKind::InvalidInput);
    EXPECT_EQ(result.error().to_string(), "tmins must not contain NaN");
}

TEST(VectorsToTextGrid, GroupsByFirstAppearanceAndSortsStably) {
    auto result = build({{2.0, 5.0, 0.0, 1.0, 1.0, 0.0},
                         {2.0, 6.0, 0.0, 1.0, 1.0, 1.0},
                         {"late", "b0", "early", "tie1", "tie2", "T"},
                         {"t", "b", "t", "t", "t", "T"},
                         {0, 1, 0, 0, 0, 1}});
    ASSERT_TRUE(result) << message_of(result);
    const TextGrid& grid = result.value();
    ASSERT_EQ(grid.tiers.size(), 3u);
    EXPECT_EQ(grid.tiers[0].name, "t");
    EXPECT_EQ(grid.tiers[1].name, "b");
    EXPECT_EQ(grid.tiers[2].name, "T");  // names are case-sensitive
    std::vector<std::string> order;
    for (const Item& item : grid.tiers[0].items) order.push_back(item.label);
    EXPECT_EQ(order, (std::vector<std::string>{"early", "tie1", "tie2", "late"}));
    EXPECT_FALSE(grid.tiers[0].is_interval);
    EXPECT_EQ(grid.tiers[0].size, 4u);
    EXPECT_EQ(std::pair(grid.tiers[0].tmin, grid.tiers[0].tmax), std::pair(0.0, 2.0));
    EXPECT_EQ(std::pair(grid.tmin, grid.tmax), std::pair(0.0, 6.0));
}

TEST(VectorsToTextGrid, InterleavedRowsOfManyTiers) {
    Columns c;
    const std::size_t tiers = 50, per_tier = 40;
    for (std::size_t i = 0; i < per_tier; ++i)
        for (std::size_t t = 0; t < tiers; ++t) {
            const std::size_t i_desc = per_tier - 1 - i;  // every tier needs sorting
            c.tmins.push_back(double(i_desc));
            c.tmaxs.push_back(double(i_desc + 1));
            c.labels.push_back(std::to_string(t) + ":" + std::to_string(i_desc));
            c.names.push_back("tier " + std::to_string(t));
            c.kinds.push_back(1);
        }
    auto result = build(std::move(c));
    ASSERT_TRUE(result) << message_of(result);
    ASSERT_EQ(result.value().tiers.size(), tiers);
    for (std::size_t t = 0; t < tiers; ++t) {
        const Tier& tier = result.value().tiers[t];
        EXPECT_EQ(tier.name, "tier " + std::to_string(t));
        ASSERT_EQ(tier.items.size(), per_tier);
        EXPECT_EQ(tier.items.front().label, std::to_string(t) + ":0");
        EXPECT_EQ(tier.items.back().tmax, double(per_tier));
    }
}

TEST(LonelyNanStart, BecomesTheLargestDouble) {
    // An infinite end lets the document pass, so the derived start shows.
    auto from_vectors = build({{NaN}, {1}, {""}, {"t"}, {1}}, {}, INFINITY);
    auto from_data = data_to_textgrid({{"t", true, {{NaN, 1, ""}}}}, {}, INFINITY);
    for (const auto* result : {&from_vectors, &from_data}) {
        ASSERT_TRUE(*result) << message_of(*result);
        EXPECT_EQ(result->value().tiers[0].tmin, LARGEST);
        EXPECT_EQ(result->value().tmin, LARGEST);
    }
}
