#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "names.hpp"
#include "text/numbers.hpp"

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

// ---- the direct read of plain decimals ----------------------------------------

// Plain decimals of every length and point position, followed by a given byte
// (or by nothing) and then by a given amount of further text: the direct read
// must agree with from_chars where it takes the text, and take exactly the
// texts it promises to (up to 19 digits, 22 after the point), whether it
// steps through eight bytes at once or one at a time.
struct Neighbour {
    const char* title;
    std::string after;
};

class PlainDecimals : public ::testing::TestWithParam<Neighbour> {};

namespace {

std::vector<std::string> plain_decimal_texts() {
    std::vector<std::string> texts;
    std::uint64_t seed = 12345;
    const auto digit = [&] {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        return static_cast<char>('0' + (seed >> 33) % 10);
    };
    for (std::size_t length = 0; length <= 21; ++length) {
        for (const char fill : {'r', '0', '9'}) {
            std::string digits;
            for (std::size_t i = 0; i < length; ++i) digits += fill == 'r' ? digit() : fill;
            texts.push_back(digits);
            for (std::size_t point = 0; point <= length; ++point)
                texts.push_back(digits.substr(0, point) + "." + digits.substr(point));
        }
    }
    return texts;
}

// Whether the direct read promises to take `text` (as the whole number).
bool promised(std::string_view text) {
    const std::size_t point = text.find('.');
    const std::size_t digits = text.size() - (point == std::string_view::npos ? 0 : 1);
    const std::size_t fraction = point == std::string_view::npos ? 0 : text.size() - point - 1;
    return digits >= 1 && digits <= 19 && fraction <= 22;
}

}  // namespace

TEST_P(PlainDecimals, AgreeWithFromChars) {
    for (const std::string& text : plain_decimal_texts()) {
        // A point after a whole number would only make it longer.
        if (GetParam().after.starts_with('.') && text.find('.') == std::string::npos) continue;
        for (const std::size_t further : {0, 1, 8, 16}) {
            const std::string buffer = text + GetParam().after + std::string(further, 'x');
            const char* const end = buffer.data() + buffer.size();
            double value = -1;
            const char* const stop = detail::read_plain_decimal(buffer.data(), end, value);
            if (!promised(text)) {
                EXPECT_EQ(stop, nullptr) << text;
                EXPECT_EQ(value, -1) << text;
                continue;
            }
            double want = 0;
            std::from_chars(text.data(), text.data() + text.size(), want);
            EXPECT_EQ(stop, buffer.data() + text.size()) << text << " + " << further;
            EXPECT_EQ(value, want) << text << " + " << further;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlainDecimals,
    ::testing::Values(Neighbour{"nothing", ""}, Neighbour{"line_feed", "\n"},
                      Neighbour{"blank", " \r\n"}, Neighbour{"second_point", ".5"},
                      Neighbour{"exponent", "e5"}, Neighbour{"below_zero", "/"},
                      Neighbour{"above_nine", ":"}, Neighbour{"not_ascii", "\xC3\xA9"}),
    [](const auto& info) { return std::string(info.param.title); });

// Mantissas of every length up to 19 digits with every exponent taken, drawn
// at random, and the integers around each power of two above 2^53, where
// halfway cases lie: bit for bit what from_chars makes of the same decimal.
TEST(DecimalToDouble, RoundsAsFromChars) {
    std::uint64_t seed = 987654321;
    const auto next = [&] {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        return seed;
    };
    std::vector<std::pair<std::uint64_t, int>> cases;
    for (int k = 0; k < 400000; ++k) {
        const int length = 1 + static_cast<int>(next() >> 33) % 19;
        std::uint64_t digits = 0;
        for (int i = 0; i < length; ++i) digits = digits * 10 + (next() >> 33) % 10;
        cases.emplace_back(digits == 0 ? 1 : digits, -static_cast<int>((next() >> 33) % 23));
    }
    for (int bit = 53; bit < 64; ++bit) {
        for (std::uint64_t around = 0; around < 64; ++around) {
            const std::uint64_t power = std::uint64_t{1} << bit;
            cases.emplace_back(power + around, 0);
            cases.emplace_back(power - around, 0);
        }
    }
    for (const auto& [digits, exponent] : cases) {
        const std::string text = std::to_string(digits) + "e" + std::to_string(exponent);
        double want = 0;
        std::from_chars(text.data(), text.data() + text.size(), want);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(detail::decimal_to_double(digits, exponent)),
                  std::bit_cast<std::uint64_t>(want))
            << text;
    }
}
