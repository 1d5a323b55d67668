#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "documents.hpp"
#include "model/textgrid.hpp"
#include "names.hpp"

using namespace textgrid;
using support::make_tier;

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

std::string message_of(const Status& status) {
    return status ? std::string("ok") : status.error().to_string();
}

}  // namespace

struct BoundsCase {
    double tmin, tmax;
    const char* expected;
};

class TimeBounds : public ::testing::TestWithParam<BoundsCase> {};

TEST_P(TimeBounds, FollowsTheRule) {
    const auto& c = GetParam();
    EXPECT_EQ(message_of(check_time_bounds(c.tmin, c.tmax, "ctx")), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimeBounds,
    ::testing::Values(
        BoundsCase{0, 1, "ok"}, BoundsCase{0, 0, "Time bounds should be non-negative in ctx"},
        BoundsCase{0, -0.0, "Time bounds should be non-negative in ctx"},
        BoundsCase{-0.5, 2, "Time bounds should be non-negative in ctx"},
        BoundsCase{-INFINITY, 1, "Time bounds should be non-negative in ctx"},
        BoundsCase{0, 0.000001, "tmin should be less than tmax in ctx"},
        BoundsCase{0, 0.0000011, "ok"}, BoundsCase{2, 1, "tmin should be less than tmax in ctx"},
        BoundsCase{0, INFINITY, "ok"}, BoundsCase{NaN, NaN, "ok"}, BoundsCase{0, NaN, "ok"}),
    [](const auto& info) {
        return support::case_name(support::exact_time(info.param.tmin) + " to " +
                                  support::exact_time(info.param.tmax));
    });

struct TierCase {
    const char* title;
    Tier tier;
    const char* expected;
};

class TierValidation : public ::testing::TestWithParam<TierCase> {};

TEST_P(TierValidation, ReportsFirstFault) {
    EXPECT_EQ(message_of(GetParam().tier.validate()), GetParam().expected);
}

namespace {

Tier with_size(Tier tier, std::uint64_t size) {
    tier.size = size;
    return tier;
}

std::vector<TierCase> tier_cases() {
    return {
        {"touching", make_tier("words", true, 0, 2, {{0, 1, "a"}, {1, 2, "b"}}), "ok"},
        {"overlap_within_tolerance",
         make_tier("words", true, 0, 2, {{0, 1, "a"}, {0.9999995, 2, "b"}}), "ok"},
        {"overlap", make_tier("words", true, 0, 2, {{0, 1, "a"}, {0.99, 2, "b"}}),
         "Items 0 and 1 overlap in tier words"},
        {"reversed_after_overlap", make_tier("words", true, 0, 2, {{0, 1, ""}, {0.5, 0.4, ""}}),
         "Items 0 and 1 overlap in tier words"},
        {"item_too_short", make_tier("words", true, 0, 2, {{0, 0.000001, ""}}),
         "tmin should be less than tmax in item 0 in tier words"},
        {"item_negative", make_tier("words", true, 0, 2, {{0, 1, ""}, {1, 2, ""}, {-1, 0, ""}}),
         "Items 1 and 2 overlap in tier words"},
        {"second_item_negative_bound", make_tier("words", true, 0, 2, {{-3, -2, ""}}),
         "Time bounds should be non-negative in item 0 in tier words"},
        {"size_before_bounds",
         with_size(make_tier("words", true, -1, 0, {{0, 1, ""}, {1, 2, ""}}), 3),
         "Tier size does not match number of items"},
        {"tier_negative", make_tier("words", true, -0.5, 2, {}),
         "Time bounds should be non-negative in tier words"},
        {"tier_too_short", make_tier("words", true, 0, 0.0000005, {}),
         "tmin should be less than tmax in tier words"},
        {"empty_tier", make_tier("words", false, 0, 1, {}), "ok"},
        {"nan_item", make_tier("words", true, 0, 1, {{NaN, NaN, ""}}), "ok"},
        {"points_reversed", make_tier("words", false, 0, 1, {{0.5, 0.5, ""}, {0.3, 0.3, ""}}),
         "Items 0 and 1 overlap in tier words"},
        {"points_equal", make_tier("words", false, 0, 1, {{0.5, 0.5, ""}, {0.5, 0.5, ""}}), "ok"},
        {"point_negative_time", make_tier("words", false, 0, 1, {{-1, -1, ""}}), "ok"},
        {"point_differing", make_tier("words", false, 0, 2, {{1.0, 1.5, ""}}),
         "Item 0 should have tmin == tmax in PointTier words"},
        {"name_verbatim", make_tier("my \"odd\" tier", true, 0, 0, {}),
         "Time bounds should be non-negative in tier my \"odd\" tier"},
    };
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Cases, TierValidation, ::testing::ValuesIn(tier_cases()),
                         [](const auto& info) { return std::string(info.param.title); });

TEST(TextGridValidation, ChecksSizeThenBoundsThenTiers) {
    TextGrid grid;
    grid.tmin = 0;
    grid.tmax = 0;
    grid.size = 1;
    EXPECT_EQ(message_of(grid.validate()), "TextGrid size does not match number of tiers");
    grid.size = 0;
    EXPECT_EQ(message_of(grid.validate()), "Time bounds should be non-negative in TextGrid");
    grid.tmin = 1;
    grid.tmax = 1;
    EXPECT_EQ(message_of(grid.validate()), "tmin should be less than tmax in TextGrid");
    grid.tmin = 0;
    grid.add_tier(make_tier("first", true, 0, 1, {}));
    grid.add_tier(make_tier("second", true, 0, 0, {}));
    grid.add_tier(make_tier("third", true, -1, 1, {}));
    grid.size = 3;
    EXPECT_EQ(message_of(grid.validate()), "Time bounds should be non-negative in tier second");
    EXPECT_EQ(grid.validate().error().kind(), ErrorKind::InvalidData);
}

struct FromTiersCase {
    const char* title;
    std::vector<std::pair<double, double>> tier_bounds;
    std::optional<double> tmin, tmax;
    const char* expected;  // "ok" or the message
    double want_tmin, want_tmax;
};

class FromTiers : public ::testing::TestWithParam<FromTiersCase> {};

TEST_P(FromTiers, FillsBoundsAndValidates) {
    const auto& c = GetParam();
    std::vector<Tier> tiers;
    // Only tiers with items take part in fitting the bounds.
    for (auto [lo, hi] : c.tier_bounds)
        tiers.push_back(make_tier("words", true, lo, hi, {{lo, hi, ""}}));
    auto result = TextGrid::from_tiers(std::move(tiers), c.tmin, c.tmax);
    if (std::string(c.expected) != "ok") {
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().to_string(), c.expected);
        return;
    }
    ASSERT_TRUE(result) << result.error().to_string();
    EXPECT_EQ(result.value().tmin, c.want_tmin);
    EXPECT_EQ(result.value().tmax, c.want_tmax);
    EXPECT_EQ(result.value().size, c.tier_bounds.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FromTiers,
    ::testing::Values(
        FromTiersCase{"no_tiers_no_bounds",
                      {},
                      {},
                      {},
                      "Time bounds should be non-negative in TextGrid",
                      0,
                      0},
        FromTiersCase{"no_tiers_given_bounds", {}, 0.0, 1.0, "ok", 0, 1},
        FromTiersCase{"from_tiers", {{0.5, 2}, {0.2, 1.5}}, {}, {}, "ok", 0.2, 2},
        FromTiersCase{"given_used_as_is", {{0.5, 2}}, 1.0, 1.5, "ok", 1.0, 1.5},
        FromTiersCase{"nan_skipped", {{NaN, 2}, {0.3, NaN}}, {}, {}, "ok", 0.3, 2},
        FromTiersCase{
            "all_nan_tmin", {{NaN, 2}}, {}, {}, "tmin should be less than tmax in TextGrid", 0, 0},
        FromTiersCase{"tier_fault",
                      {{0, 1}, {-1, 1}},
                      {},
                      {},
                      "Time bounds should be non-negative in TextGrid",
                      0,
                      0}),
    [](const auto& info) { return std::string(info.param.title); });
