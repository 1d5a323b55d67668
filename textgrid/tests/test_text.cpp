// Lines, trimming, key and value, Praat strings.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "names.hpp"
#include "text/text.hpp"

using namespace textgrid;

// ---- trim ---------------------------------------------------------------------

TEST(Trim, RemovesExactlyTheUnicodeWhiteSpace) {
    const std::vector<std::string> spaces = {
        "\t",     "\n",     "\v",     "\f",     "\r",     " ",      "\u0085", "\u00A0", "\u1680",
        "\u2000", "\u2005", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000"};
    for (const auto& space : spaces) {
        EXPECT_EQ(trim(space + "a b" + space + space), "a b") << space;
    }
    // Neighbours of the set and the byte-order mark are kept.
    for (const std::string kept : {"\u200B", "\uFEFF", "\u2030", "\u3001", "\u00A1", "\u1681"}) {
        EXPECT_EQ(trim(" " + kept + " "), kept) << kept;
    }
    // Blanks beside wide spaces, at either end.
    EXPECT_EQ(trim("  \u3000 \ta b\u00A0 \u2028 "), "a b");
    EXPECT_EQ(trim(" \t\r\n"), "");
    EXPECT_EQ(trim(""), "");
}

// ---- logical lines -----------------------------------------------------------

struct LinesCase {
    const char* title;
    std::string text;
    std::vector<std::string> lines;
    std::vector<std::size_t> numbers;
};

class LogicalLines : public ::testing::TestWithParam<LinesCase> {};

TEST_P(LogicalLines, JoinsWhileQuotesAreOpen) {
    const auto& c = GetParam();
    std::vector<std::string> lines;
    std::vector<std::size_t> numbers;
    LineCursor cursor(c.text);
    Line line;
    while (cursor.next(line)) {
        lines.emplace_back(line.text);
        numbers.push_back(line.number);
    }
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(numbers, c.numbers);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogicalLines,
    ::testing::Values(
        LinesCase{"empty", "", {}, {}}, LinesCase{"final_newline", "a\nb\n", {"a", "b"}, {1, 2}},
        LinesCase{"no_final_newline", "a\nb", {"a", "b"}, {1, 2}},
        LinesCase{"blanks_kept", "\n\n  x \r\n", {"", "", "x"}, {1, 2, 3}},
        LinesCase{"lone_cr_not_a_break", "a\rb\r\nc", {"a\rb", "c"}, {1, 2}},
        LinesCase{"quoted_break",
                  "text = \"a\n  xmin = 5\"\nnext",
                  {"text = \"a\n  xmin = 5\"", "next"},
                  {1, 3}},
        LinesCase{"crlf_inside_kept", " \"a \r\n b \" \r\nz", {"\"a \r\n b \"", "z"}, {1, 3}},
        LinesCase{
            "doubled_quotes_even", "\"say \"\"hi\"\"\"\nz", {"\"say \"\"hi\"\"\"", "z"}, {1, 2}},
        LinesCase{
            "reopened_on_same_line", "\"a\n\" \"b\nc\"\nd", {"\"a\n\" \"b\nc\"", "d"}, {1, 4}},
        LinesCase{"unterminated", "x\n\"a\nb\n", {"x", "\"a\nb"}, {1, 2}}),
    [](const auto& info) { return std::string(info.param.title); });

// ---- key / value and strings ------------------------------------------------

TEST(SplitKeyValue, CutsAtTheFirstEquals) {
    using Pair = std::pair<std::string_view, std::string_view>;
    const auto split = [](std::string_view line) -> std::optional<Pair> {
        std::string_view key, value;
        if (!split_key_value(line, key, value)) return std::nullopt;
        return Pair{key, value};
    };
    EXPECT_EQ(split("text = \"a=b\""), (Pair{"text", "\"a=b\""}));
    EXPECT_EQ(split("text ="), (Pair{"text", ""}));
    EXPECT_EQ(split("intervals: size = 3"), (Pair{"intervals: size", "3"}));
    EXPECT_EQ(split("=\u3000x"), (Pair{"", "x"}));
    EXPECT_EQ(split(" \u00A0key\t= value\u2028 "), (Pair{"key", "value"}));
    EXPECT_FALSE(split("item [1]:"));
}

struct StringCase {
    std::string raw, stripped, decoded;
};

class PraatStrings : public ::testing::TestWithParam<StringCase> {};

TEST_P(PraatStrings, StripAndDecode) {
    EXPECT_EQ(strip_quotes(GetParam().raw), GetParam().stripped);
    // The storage of a longer earlier string is reused, never shown.
    std::string decoded = "a longer label left over from the previous item";
    decode_praat_string(GetParam().raw, decoded);
    EXPECT_EQ(decoded, GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PraatStrings,
    ::testing::Values(StringCase{"\"say \"\"hi\"\"\"", "say \"\"hi", "say \"hi\""},
                      StringCase{"\"\"", "", ""}, StringCase{"\"\"\"\"", "", "\""},
                      StringCase{"\"a\"b\"", "a\"b", "a\"b"},
                      StringCase{"IntervalTier", "IntervalTier", "IntervalTier"},
                      StringCase{"\"say \\\"hi\\\"\"", "say \\\"hi\\", "say \\\"hi\\\""},
                      StringCase{"\"", "", ""}, StringCase{"\"abc", "abc", "abc"},
                      StringCase{"abc\"\"", "abc", "abc"}, StringCase{"", "", ""},
                      StringCase{"\"a\"\"\"\"b\"", "a\"\"\"\"b", "a\"\"b"},
                      StringCase{"\"line\nbreak\"", "line\nbreak", "line\nbreak"}),
    [](const auto& info) { return support::indexed_name(info.index, info.param.raw); });

// ---- lines read directly ------------------------------------------------------

// A number line taken directly gives what the general way gives for the same
// line; shapes it leaves (nullptr) go the general way anyway.
class NumberLines : public ::testing::TestWithParam<const char*> {};

TEST_P(NumberLines, ReadAsTheGeneralWayReadsThem) {
    for (const char* number : {"0", "12.345", "4.992290249433107", "0.30000000000000004", "1e3",
                               "1.5E-3", ".5", "5.", "123456789012345678901234567890", "1e400",
                               "1e-400", "1e", "1.2.3", "-1", "+1", "inf", "nan", "0x10"}) {
        const std::string line = std::string(number) + GetParam();
        const char* const end = line.data() + line.size();
        double direct = -7;
        const char* const next = quick::number_line(line.data(), end, direct);
        const double general = parse_f64_or_zero(trim(line));
        if (next) {
            EXPECT_EQ(next, end) << number;
            EXPECT_EQ(direct, general) << number;
        } else {
            EXPECT_EQ(direct, -7) << number;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Endings, NumberLines, ::testing::Values("\n", " \n", " \t\r\n", "\r\n"));

// ...and lines that do not end with the number are left alone.
TEST(NumberLines, LeaveLinesWithMoreOnThem) {
    for (const std::string line : {"12.345 x\n", "4.992290249433107 ! end\n", "1e3e\n", "2 3\n",
                                   "12.345", "4.992290249433107"}) {
        double value = -7;
        EXPECT_EQ(quick::number_line(line.data(), line.data() + line.size(), value), nullptr)
            << line;
        EXPECT_EQ(value, -7) << line;
    }
}
