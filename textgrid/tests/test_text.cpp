#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "parallel.hpp"
#include "reference_utf8.hpp"
#include "temp_files.hpp"
#include "text.hpp"

using namespace textgrid;
using namespace std::string_literals;

namespace {

std::string temp_file(const std::string& name, const std::string& bytes) {
    return support::temp_file("reader_text_" + name, bytes);
}

std::string utf16(const std::u16string& text, bool big_endian, bool with_mark = true) {
    std::string bytes;
    std::u16string units = with_mark ? u"\uFEFF" + text : text;
    for (char16_t unit : units) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += big_endian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

}  // namespace

// ---- load_text ----------------------------------------------------------------

struct LoadCase {
    const char* title;
    std::string bytes;
    std::string expected;  // text, or "error: <message>"
};

class LoadText : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadText, DecodesOrRefuses) {
    const auto& c = GetParam();
    auto text = load_text(temp_file(c.title, c.bytes));
    EXPECT_EQ(text ? text.value() : "error: " + text.error().to_string(), c.expected);
    if (!text) {
        EXPECT_EQ(text.error().kind(), ErrorKind::InvalidData);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadText,
    ::testing::Values(
        LoadCase{"plain", "a\r\nb\n", "a\r\nb\n"}, LoadCase{"empty", "", ""},
        LoadCase{"utf8_mark_kept", "\xEF\xBB\xBFx", "\xEF\xBB\xBFx"},
        LoadCase{"utf8_multibyte", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "é€😀"},
        LoadCase{"bad_utf8", "ab\xFF", "error: stream did not contain valid UTF-8"},
        LoadCase{"overlong", "\xC0\xAF", "error: stream did not contain valid UTF-8"},
        LoadCase{"utf8_surrogate", "\xED\xA0\x80", "error: stream did not contain valid UTF-8"},
        LoadCase{"truncated", "abcdefgh\xE2\x82", "error: stream did not contain valid UTF-8"},
        LoadCase{"utf16_be", utf16(u"é \"x\"\n😀", true), "é \"x\"\n😀"},
        LoadCase{"utf16_le", utf16(u"é \"x\"\n😀", false), "é \"x\"\n😀"},
        LoadCase{"utf16_mark_only", utf16(u"", true), ""},
        LoadCase{"utf16_odd", utf16(u"ab", false) + "x",
                 "error: stream did not contain valid UTF-16"},
        LoadCase{"utf16_lone_low", utf16(u"a\xDC00", true),
                 "error: stream did not contain valid UTF-16"},
        LoadCase{"utf16_lone_high_end", utf16(u"a\xD800", true),
                 "error: stream did not contain valid UTF-16"},
        LoadCase{"utf16_high_then_char", utf16(u"\xD800z", false),
                 "error: stream did not contain valid UTF-16"},
        LoadCase{"utf16_without_mark", utf16(u"ab", false, false), "a\0b\0"s},
        // Lines broken by CR alone, as classic Mac tools did, unless any LF is there.
        LoadCase{"cr_only", "a\rb\r\r", "a\nb\n\n"},
        LoadCase{"cr_only_utf16", utf16(u"é\r😀", true), "é\n😀"},
        LoadCase{"cr_beside_a_line_feed", "a\rb\r\n", "a\rb\r\n"}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(LoadTextErrors, OperatingSystemErrorsCarryTheCode) {
    auto missing = load_text(::testing::TempDir() + "reader_no_such_file");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::Os);
    EXPECT_EQ(missing.error().to_string(), std::string(std::strerror(ENOENT)) + " (os error 2)");
    auto directory = load_text(::testing::TempDir());
    ASSERT_FALSE(directory);
    EXPECT_EQ(directory.error().os_code(), EISDIR);
}

TEST(LoadTextErrors, PathWithNulIsNeverTruncated) {
    const std::string path = temp_file("nul", "x");
    auto text = load_text(path + "\0.bak"s);
    ASSERT_FALSE(text);
    EXPECT_EQ(text.error().to_string(), "file name contained an unexpected NUL byte");
    EXPECT_NE(text.error().kind(), ErrorKind::Os);
}

// ---- trim ---------------------------------------------------------------------

TEST(Trim, RemovesExactlyTheUnicodeWhiteSpace) {
    const std::vector<std::string> spaces = {
        "\t", "\n", "\v", "\f", "\r", " ", "\u0085", "\u00A0", "\u1680", "\u2000", "\u2005",
        "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000"};
    for (const auto& space : spaces) {
        EXPECT_EQ(trim(space + "a b" + space + space), "a b") << space;
    }
    // Neighbours of the set and the byte-order mark are kept.
    for (const std::string kept : {"\u200B", "\uFEFF", "\u2030", "\u3001", "\u00A1", "\u1681"}) {
        EXPECT_EQ(trim(" " + kept + " "), kept) << kept;
    }
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
        LinesCase{"empty", "", {}, {}},
        LinesCase{"final_newline", "a\nb\n", {"a", "b"}, {1, 2}},
        LinesCase{"no_final_newline", "a\nb", {"a", "b"}, {1, 2}},
        LinesCase{"blanks_kept", "\n\n  x \r\n", {"", "", "x"}, {1, 2, 3}},
        LinesCase{"lone_cr_not_a_break", "a\rb\r\nc", {"a\rb", "c"}, {1, 2}},
        LinesCase{"quoted_break", "text = \"a\n  xmin = 5\"\nnext", {"text = \"a\n  xmin = 5\"", "next"},
                  {1, 3}},
        LinesCase{"crlf_inside_kept", " \"a \r\n b \" \r\nz", {"\"a \r\n b \"", "z"}, {1, 3}},
        LinesCase{"doubled_quotes_even", "\"say \"\"hi\"\"\"\nz", {"\"say \"\"hi\"\"\"", "z"},
                  {1, 2}},
        LinesCase{"reopened_on_same_line", "\"a\n\" \"b\nc\"\nd", {"\"a\n\" \"b\nc\"", "d"},
                  {1, 4}},
        LinesCase{"unterminated", "x\n\"a\nb\n", {"x", "\"a\nb"}, {1, 2}}),
    [](const auto& info) { return std::string(info.param.title); });

// ---- key / value and strings ------------------------------------------------

TEST(SplitKeyValue, CutsAtTheFirstEquals) {
    using Pair = std::pair<std::string_view, std::string_view>;
    EXPECT_EQ(split_key_value("text = \"a=b\""), (Pair{"text", "\"a=b\""}));
    EXPECT_EQ(split_key_value("text ="), (Pair{"text", ""}));
    EXPECT_EQ(split_key_value("intervals: size = 3"), (Pair{"intervals: size", "3"}));
    EXPECT_EQ(split_key_value("=\u3000x"), (Pair{"", "x"}));
    EXPECT_FALSE(split_key_value("item [1]:"));
}

struct StringCase {
    std::string raw, stripped, decoded;
};

class PraatStrings : public ::testing::TestWithParam<StringCase> {};

TEST_P(PraatStrings, StripAndDecode) {
    EXPECT_EQ(strip_quotes(GetParam().raw), GetParam().stripped);
    EXPECT_EQ(decode_praat_string(GetParam().raw), GetParam().decoded);
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
                      StringCase{"\"line\nbreak\"", "line\nbreak", "line\nbreak"}));

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

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Accepted, Numbers,
    ::testing::Values(NumberCase{"0", 0}, NumberCase{"5", 5}, NumberCase{"+5", 5},
                      NumberCase{"-2.5", -2.5}, NumberCase{"5.", 5}, NumberCase{".5", 0.5},
                      NumberCase{"1e3", 1000}, NumberCase{"1E+3", 1000},
                      NumberCase{"-1.5e-3", -0.0015}, NumberCase{"0.1", 0.1},
                      NumberCase{"2.2250738585072011e-308", 2.2250738585072011e-308},
                      NumberCase{"4.9e-324", 4.9e-324}, NumberCase{"-0", -0.0},
                      NumberCase{"inf", kInf}, NumberCase{"+INF", kInf},
                      NumberCase{"-Infinity", -kInf}, NumberCase{"NaN", kNaN},
                      NumberCase{"-nan", kNaN}));

INSTANTIATE_TEST_SUITE_P(
    OutOfRange, Numbers,
    ::testing::Values(NumberCase{"1e309", kInf}, NumberCase{"-1e309", -kInf},
                      NumberCase{"1e99999999999999999999", kInf},
                      NumberCase{"123456789e301", kInf},
                      NumberCase{"0.000000000000000000000000000001e330", 1e300},
                      NumberCase{"1e-400", 0.0}, NumberCase{"-1e-400", -0.0},
                      NumberCase{"0.0001e-320", 0.0}, NumberCase{"-1e-99999999999999999999", -0.0},
                      NumberCase{"1000000e-330", 0.0}, NumberCase{"0e999999", 0.0}));

INSTANTIATE_TEST_SUITE_P(
    Refused, Numbers,
    ::testing::Values(NumberCase{"", 0}, NumberCase{"+", 0}, NumberCase{"-", 0},
                      NumberCase{"1,5", 0}, NumberCase{"0x10", 0}, NumberCase{"1e", 0},
                      NumberCase{"1e+", 0}, NumberCase{".", 0}, NumberCase{"1 2", 0},
                      NumberCase{" 1", 0}, NumberCase{"2.5 ! end", 0}, NumberCase{"+-1", 0},
                      NumberCase{"--1", 0}, NumberCase{"nan(1)", 0}, NumberCase{"nan()", 0},
                      NumberCase{"infin", 0}, NumberCase{"infinityx", 0}, NumberCase{"e5", 0},
                      NumberCase{"1.2.3", 0}, NumberCase{"abc", 0}, NumberCase{"1d", 0}));

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
                      CountCase{"++1", 0}, CountCase{"+-1", 0}, CountCase{" 1", 0}));

// Files from 32 MB on take another road into memory (a mapping of their own).
TEST(LoadTextLarge, ReadsWholeFilesOfEverySize) {
    for (const std::size_t size : {std::size_t{1} << 20, (std::size_t{1} << 20) + 4093,
                                   (std::size_t{32} << 20) - 1, std::size_t{32} << 20}) {
        std::string bytes(size, 'x');
        for (std::size_t i = 0; i < size; i += 97) bytes[i] = '\n';
        bytes.replace(size / 2, 2, "\xC3\xA9");
        const std::string path = temp_file("large_" + std::to_string(size), bytes);
        auto loaded = load_text_buffer(path);
        ASSERT_TRUE(loaded) << loaded.error().to_string();
        LoadedText moved = std::move(loaded).value();
        EXPECT_TRUE(moved.view() == bytes) << size;
        auto text = load_text(path);
        ASSERT_TRUE(text);
        EXPECT_TRUE(text.value() == bytes) << size;
        bytes[size - 1] = '\xFF';
        auto invalid = load_text_buffer(temp_file("large_bad", bytes));
        ASSERT_FALSE(invalid);
        EXPECT_EQ(invalid.error().to_string(), "stream did not contain valid UTF-8");
    }
}

// Large texts are checked in stretches on the pool; characters of every length,
// broken in every way right at and around the cuts, must get the verdict a
// check from the start gives.
TEST(LoadTextLarge, StretchesGiveTheVerdictOfOneCheck) {
    const std::string characters = "a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E";  // a é € 𝄞
    std::string pattern;
    while (pattern.size() < (std::size_t{5} << 19)) pattern += characters;
    // Shifted by 0 to 9 bytes, the cuts fall on every byte of every character.
    for (std::size_t shift = 0; shift < characters.size(); ++shift) {
        const std::string text = std::string(shift, 'x') + pattern;
        auto loaded = load_text_buffer(temp_file("stretch", text));
        ASSERT_TRUE(loaded) << "shift " << shift;
        EXPECT_TRUE(loaded.value().view() == text);
    }
    const std::string text = "xyz" + pattern;
    const std::size_t pieces = detail::piece_count(text.size(), logical_processors());
    for (const std::size_t k : {std::size_t{1}, pieces / 2, pieces - 1}) {
        const std::size_t cut = detail::piece_begin(text.size(), pieces, k);
        for (std::size_t at = cut - 3; at <= cut + 3; ++at) {
            for (const char broken : {'\x80', '\xC3', 'z'}) {
                std::string bytes = text;
                bytes[at] = broken;
                auto loaded = load_text_buffer(temp_file("stretch", bytes));
                ASSERT_EQ(bool(loaded), support::reference_valid_utf8(bytes))
                    << "byte " << at << " (cut " << cut << ") = " << int(broken);
            }
        }
    }
}

TEST(LoadTextLarge, DecodesLargeUtf16) {
    std::u16string text(600000, u'a');
    text[1000] = u'\n';
    text[300000] = u'\u00E9';
    auto loaded = load_text_buffer(temp_file("large_utf16", utf16(text, false)));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded.value().view().size(), 600001u);
    EXPECT_EQ(loaded.value().view().substr(300000, 2), "\xC3\xA9");
}

TEST(CountQuotesAndLineFeeds, AgreesWithCountingByteByByte) {
    std::string text;
    unsigned state = 12345;
    for (const std::size_t size : {0u, 15u, 16u, 4079u, 4080u, 4096u, 70001u}) {
        while (text.size() < size) {
            state = state * 1103515245u + 12345u;
            const char kBytes[] = {'"', '\n', 'a', ' ', '\r', '\xC3'};
            text += kBytes[(state >> 16) % 6];
        }
        const std::string_view part(text.data(), size);
        const auto count = count_quotes_and_line_feeds(part);
        EXPECT_EQ(count.quotes, static_cast<std::size_t>(std::count(part.begin(), part.end(), '"'))) << size;
        EXPECT_EQ(count.line_feeds, static_cast<std::size_t>(std::count(part.begin(), part.end(), '\n'))) << size;
    }
}
