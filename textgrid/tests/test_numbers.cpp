#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "names.hpp"
#include "numbers.hpp"

using namespace textgrid;

// ---- numbers ------------------------------------------------------------------

struct NumberCase {
    const char* text;
    double value;
};

class Numbers : public ::testing::TestWithParam<NumberCase> {};

TEST_P(Numbers, FollowTheGrammar) {
    const double got = parse_f64_or_zero(GetParam().text);
    const double want = GetParam().value;
    if (std::isnan(want)) {
        EXPECT_TRUE(std::isnan(got)) << GetParam().text;
    } else {
        EXPECT_EQ(got, want) << GetParam().text;
        EXPECT_EQ(std::signbit(got), std::signbit(want)) << GetParam().text;
    }
}

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double QUIET_NAN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Accepted, Numbers,
    ::testing::Values(NumberCase{"0", 0}, NumberCase{"5", 5}, NumberCase{"+5", 5},
                      NumberCase{"-2.5", -2.5}, NumberCase{"5.", 5}, NumberCase{".5", 0.5},
                      NumberCase{"1e3", 1000}, NumberCase{"1E+3", 1000},
                      NumberCase{"-1.5e-3", -0.0015}, NumberCase{"0.1", 0.1},
                      NumberCase{"2.2250738585072011e-308", 2.2250738585072011e-308},
                      NumberCase{"4.9e-324", 4.9e-324}, NumberCase{"-0", -0.0},
                      NumberCase{"inf", INF}, NumberCase{"+INF", INF},
                      NumberCase{"-Infinity", -INF}, NumberCase{"NaN", QUIET_NAN},
                      NumberCase{"-nan", QUIET_NAN}),
    [](const auto& info) { return support::indexed_name(info.index, info.param.text); });

INSTANTIATE_TEST_SUITE_P(
    OutOfRange, Numbers,
    ::testing::Values(NumberCase{"1e309", INF}, NumberCase{"-1e309", -INF},
                      NumberCase{"1e99999999999999999999", INF}, NumberCase{"123456789e301", INF},
                      NumberCase{"0.000000000000000000000000000001e330", 1e300},
                      NumberCase{"1e-400", 0.0}, NumberCase{"-1e-400", -0.0},
                      NumberCase{"0.0001e-320", 0.0}, NumberCase{"-1e-99999999999999999999", -0.0},
                      NumberCase{"1000000e-330", 0.0}, NumberCase{"0e999999", 0.0}),
    [](const auto& info) { return support::indexed_name(info.index, info.param.text); });

INSTANTIATE_TEST_SUITE_P(
    Refused, Numbers,
    ::testing::Values(NumberCase{"", 0}, NumberCase{"+", 0}, NumberCase{"-", 0},
                      NumberCase{"1,5", 0}, NumberCase{"0x10", 0}, NumberCase{"1e", 0},
                      NumberCase{"1e+", 0}, NumberCase{".", 0}, NumberCase{"1 2", 0},
                      NumberCase{" 1", 0}, NumberCase{"2.5 ! end", 0}, NumberCase{"+-1", 0},
                      NumberCase{"--1", 0}, NumberCase{"nan(1)", 0}, NumberCase{"nan()", 0},
                      NumberCase{"infin", 0}, NumberCase{"infinityx", 0}, NumberCase{"e5", 0},
                      NumberCase{"1.2.3", 0}, NumberCase{"abc", 0}, NumberCase{"1d", 0}),
    [](const auto& info) { return support::indexed_name(info.index, info.param.text); });

struct CountCase {
    const char* text;
    std::uint64_t value;
};

class Counts : public ::testing::TestWithParam<CountCase> {};

TEST_P(Counts, FollowTheGrammar) {
    EXPECT_EQ(parse_count_or_zero(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Counts,
    ::testing::Values(CountCase{"7", 7}, CountCase{"+7", 7}, CountCase{"007", 7},
                      CountCase{"18446744073709551615", 18446744073709551615ull},
                      CountCase{"18446744073709551616", 0}, CountCase{"", 0}, CountCase{"+", 0},
                      CountCase{"-1", 0}, CountCase{"1.0", 0}, CountCase{"2e3", 0},
                      CountCase{"++1", 0}, CountCase{"+-1", 0}, CountCase{" 1", 0}),
    [](const auto& info) { return support::indexed_name(info.index, info.param.text); });
