#include <gtest/gtest.h>

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "documents.hpp"
#include "fake_disk.hpp"
#include "names.hpp"
#include "read/lib.hpp"
#include "temp_files.hpp"
#include "write/writer.hpp"

using namespace textgrid;
using support::make_tier;
using support::read_file;

namespace {

std::string lines(std::initializer_list<std::string> each) {
    std::string text;
    for (const auto& line : each) text += line + "\r\n";
    return text;
}

TextGrid grid(double tmin, double tmax, std::vector<Tier> tiers) {
    TextGrid made;
    made.tmin = tmin;
    made.tmax = tmax;
    made.size = tiers.size();
    made.tiers = std::move(tiers);
    return made;
}

std::filesystem::path scratch(const std::string& name) {
    return support::temp_path("writer_" + name);
}

struct LayoutCase {
    const char* name;
    TextGrid (*document)();
    std::string long_text;
    std::string short_text;
};

TextGrid example() { return grid(0, 2.5, {make_tier("words", true, 0, 2.5, {{0, 2.5, "hi"}})}); }

TextGrid without_tiers() { return grid(0, 1, {}); }

TextGrid empty_tiers() {
    return grid(0, 1, {make_tier("a", true, 0, 1, {}), make_tier("b", false, 0, 1, {})});
}

// Declared sizes are wrong on purpose: the file states the actual counts.
TextGrid two_tiers_wrong_sizes() {
    TextGrid made = grid(0, 3,
                         {make_tier("w", true, 0, 3, {{0, 1, "a"}, {1, 3, ""}}),
                          make_tier("p\"q", false, 0, 3, {{1.5, 1.5, "say \"hi\"\nthere"}})});
    made.size = 7;
    made.tiers[0].size = 9;
    return made;
}

class Layouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layouts, RenderByteForByte) {
    const auto& c = GetParam();
    const TextGrid document = c.document();
    EXPECT_EQ(render_long(document), c.long_text);
    EXPECT_EQ(render_short(document), c.short_text);
}

const std::string FILE_HEAD = "File type = \"ooTextFile\"\r\nObject class = \"TextGrid\"\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, Layouts,
    ::testing::Values(
        LayoutCase{
            "example", example,
            FILE_HEAD + lines({"xmin = 0 ", "xmax = 2.5 ", "tiers? <exists> ", "size = 1 ",
                               "item []: ", "    item [1]:", "        class = \"IntervalTier\" ",
                               "        name = \"words\" ", "        xmin = 0 ",
                               "        xmax = 2.5 ", "        intervals: size = 1 ",
                               "        intervals [1]:", "            xmin = 0 ",
                               "            xmax = 2.5 ", "            text = \"hi\" "}),
            FILE_HEAD + lines({"0", "2.5", "<exists>", "1", "\"IntervalTier\"", "\"words\"", "0",
                               "2.5", "1", "0", "2.5", "\"hi\""})},
        LayoutCase{"without_tiers", without_tiers,
                   FILE_HEAD + lines({"xmin = 0 ", "xmax = 1 ", "tiers? <exists> ", "size = 0 ",
                                      "item []: "}),
                   FILE_HEAD + lines({"0", "1", "<exists>", "0"})},
        LayoutCase{
            "empty_tiers", empty_tiers,
            FILE_HEAD +
                lines({"xmin = 0 ", "xmax = 1 ", "tiers? <exists> ", "size = 2 ",
                       "item []: ", "    item [1]:", "        class = \"IntervalTier\" ",
                       "        name = \"a\" ", "        xmin = 0 ", "        xmax = 1 ",
                       "        intervals: size = 0 ",
                       "    item [2]:", "        class = \"TextTier\" ", "        name = \"b\" ",
                       "        xmin = 0 ", "        xmax = 1 ", "        points: size = 0 "}),
            FILE_HEAD + lines({"0", "1", "<exists>", "2", "\"IntervalTier\"", "\"a\"", "0", "1",
                               "0", "\"TextTier\"", "\"b\"", "0", "1", "0"})},
        LayoutCase{"two_tiers_wrong_sizes", two_tiers_wrong_sizes,
                   FILE_HEAD + lines({"xmin = 0 ",
                                      "xmax = 3 ",
                                      "tiers? <exists> ",
                                      "size = 2 ",
                                      "item []: ",
                                      "    item [1]:",
                                      "        class = \"IntervalTier\" ",
                                      "        name = \"w\" ",
                                      "        xmin = 0 ",
                                      "        xmax = 3 ",
                                      "        intervals: size = 2 ",
                                      "        intervals [1]:",
                                      "            xmin = 0 ",
                                      "            xmax = 1 ",
                                      "            text = \"a\" ",
                                      "        intervals [2]:",
                                      "            xmin = 1 ",
                                      "            xmax = 3 ",
                                      "            text = \"\" ",
                                      "    item [2]:",
                                      "        class = \"TextTier\" ",
                                      "        name = \"p\"\"q\" ",
                                      "        xmin = 0 ",
                                      "        xmax = 3 ",
                                      "        points: size = 1 ",
                                      "        points [1]:",
                                      "            number = 1.5 ",
                                      "            mark = \"say \"\"hi\"\"\nthere\" "}),
                   FILE_HEAD + lines({"0",
                                      "3",
                                      "<exists>",
                                      "2",
                                      "\"IntervalTier\"",
                                      "\"w\"",
                                      "0",
                                      "3",
                                      "2",
                                      "0",
                                      "1",
                                      "\"a\"",
                                      "1",
                                      "3",
                                      "\"\"",
                                      "\"TextTier\"",
                                      "\"p\"\"q\"",
                                      "0",
                                      "3",
                                      "1",
                                      "1.5",
                                      "\"say \"\"hi\"\"\nthere\""})}),
    [](const auto& info) { return std::string(info.param.name); });

// The longest time texts everywhere at once must still fit the room each line
// is given.
TEST(Layouts, WriteTheLongestTimeTexts) {
    const double tiny = -std::numeric_limits<double>::denorm_min();
    const double huge = -std::numeric_limits<double>::max();
    const std::string t = format_time(tiny);
    const std::string h = format_time(huge);
    const std::string name(300, '"');
    const std::string quotes(600, '"');
    const TextGrid document = grid(tiny, huge,
                                   {make_tier(name, true, tiny, huge, {{tiny, huge, name}}),
                                    make_tier(name, false, huge, tiny, {{huge, huge, name}})});
    EXPECT_EQ(render_short(document),
              FILE_HEAD + lines({t, h, "<exists>", "2", "\"IntervalTier\"", '"' + quotes + '"', t,
                                 h, "1", t, h, '"' + quotes + '"', "\"TextTier\"",
                                 '"' + quotes + '"', h, t, "1", h, '"' + quotes + '"'}));
    const std::string long_text = render_long(document);
    EXPECT_NE(long_text.find("xmin = " + t + " \r\nxmax = " + h + " \r\ntiers?"),
              std::string::npos);
    EXPECT_NE(long_text.find("            xmin = " + t + " \r\n            xmax = " + h +
                             " \r\n            text = \"" + quotes + "\" \r\n"),
              std::string::npos);
    EXPECT_NE(long_text.find("            number = " + h + " \r\n            mark = \"" + quotes +
                             "\" \r\n"),
              std::string::npos);
}

TEST(EscapeQuotes, DoublesEveryQuoteAndNothingElse) {
    EXPECT_EQ(escape_quotes("\"hi\""), "\"\"hi\"\"");
    EXPECT_EQ(escape_quotes("\"\"\""), "\"\"\"\"\"\"");
    EXPECT_EQ(escape_quotes("a\\b\t\r\n c"), "a\\b\t\r\n c");
    EXPECT_EQ(escape_quotes(""), "");
}

struct TimeCase {
    double value;
    std::string text;
};

class FormatTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(FormatTime, WritesShortestDigitsPositionally) {
    EXPECT_EQ(format_time(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatTime,
    ::testing::Values(
        TimeCase{0, "0"}, TimeCase{-0.0, "-0"}, TimeCase{1, "1"}, TimeCase{100, "100"},
        TimeCase{2.5, "2.5"}, TimeCase{0.1, "0.1"}, TimeCase{1.0 / 3, "0.3333333333333333"},
        TimeCase{0.1 + 0.2, "0.30000000000000004"}, TimeCase{1e-7, "0.0000001"},
        TimeCase{1.5e-5, "0.000015"}, TimeCase{1e16, "10000000000000000"},
        TimeCase{1e21, "1000000000000000000000"}, TimeCase{-2.5, "-2.5"},
        TimeCase{123.456, "123.456"}, TimeCase{-1e-3, "-0.001"}, TimeCase{1e-9, "0.000000001"},
        TimeCase{10.000000001, "10.000000001"}, TimeCase{999999.999999999, "999999.999999999"},
        TimeCase{1e6, "1000000"},
        TimeCase{std::numeric_limits<double>::max(), "17976931348623157" + std::string(292, '0')},
        TimeCase{std::numeric_limits<double>::denorm_min(), "0." + std::string(323, '0') + "5"},
        TimeCase{std::numeric_limits<double>::quiet_NaN(), "NaN"},
        TimeCase{-std::numeric_limits<double>::quiet_NaN(), "NaN"}, TimeCase{INFINITY, "inf"},
        TimeCase{-INFINITY, "-inf"}),
    [](const auto& info) { return support::time_name(info.param.value); });

// Any finite double: plain digits only, and the text reads back to the same bits.
TEST(FormatTime, RoundTripsRandomDoublesWithoutExponent) {
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> seconds(0, 10000);
    for (int i = 0; i < 200000; ++i) {
        const double value =
            i % 2 ? std::bit_cast<double>(random()) : std::round(seconds(random) * 1e5) / 1e5;
        if (!std::isfinite(value)) continue;
        const std::string text = format_time(value);
        ASSERT_EQ(text.find_first_not_of("-.0123456789"), std::string::npos) << text;
        double back = 0;
        const auto read = std::from_chars(text.data(), text.data() + text.size(), back);
        ASSERT_EQ(read.ptr, text.data() + text.size()) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(value)) << text;
    }
}

// Times with a few decimals are the usual case; their digits must be the
// shortest ones, as the standard library's shortest form shows them.
TEST(FormatTime, AgreesWithShortestFormForOrdinaryTimes) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> seconds(0, 100000);
    for (int i = 0; i < 200000; ++i) {
        const double scale = std::pow(10.0, i % 12);  // 0 to 11 decimals
        const double value = i % 13 ? std::round(seconds(random) * scale) / scale : seconds(random);
        char text[64];
        const std::string shortest(text, std::to_chars(text, text + sizeof text, value).ptr);
        if (shortest.find('e') != std::string::npos) continue;
        ASSERT_EQ(format_time(value), shortest);
    }
}

TextGrid large_document(std::size_t items) {
    Items intervals;
    Items points;
    for (std::size_t i = 0; i < items; ++i) {
        const double t = static_cast<double>(i) * 0.01;
        std::string label = std::to_string(i);
        label.insert(0, i % 7 ? "w" : "q\"");
        intervals.push_back({t, t + 0.01, std::move(label)});
        points.push_back({t, t, i % 5 ? "" : "p"});
    }
    return grid(0, static_cast<double>(items) * 0.01,
                {make_tier("intervals", true, 0, 1, std::move(intervals)),
                 make_tier("points", false, 0, 1, std::move(points))});
}

class LargeTiers : public ::testing::TestWithParam<std::size_t> {};

// A huge P keeps everything on the calling thread, one item after another.
TEST_P(LargeTiers, RenderTheSameBytesOnThePool) {
    const TextGrid document = large_document(5003);
    const std::size_t sequential = std::numeric_limits<std::size_t>::max();
    EXPECT_EQ(render_long(document, GetParam()), render_long(document, sequential));
    EXPECT_EQ(render_short(document, GetParam()), render_short(document, sequential));
}

using support::disk_room;
using support::fill_disk;

// The text goes out piece by piece while later pieces are rendered: a disk
// that fills up midway costs no old text and leaves no new file.
TEST_P(LargeTiers, StoreTheSameBytesOrNothing) {
    const TextGrid document = large_document(5003);
    const std::filesystem::path dir = support::temp_dir("writer_large");
    const std::string path = (dir / "a.TextGrid").string();
    support::write_file(path, "old text");
    disk_room = 200000;
    const Status failed = write_textgrid(document, path, FileType::Long, GetParam(), fill_disk);
    ASSERT_FALSE(failed);
    EXPECT_EQ(read_file(path), "old text");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);

    ASSERT_TRUE(write_textgrid(document, path, FileType::Short, GetParam()));
    EXPECT_EQ(read_file(path), render_short(document, std::numeric_limits<std::size_t>::max()));
}

INSTANTIATE_TEST_SUITE_P(Processors, LargeTiers, ::testing::Values(1, 2, 3, 4, 16));

TEST(WriteTextGrid, StoresTheRenderedTextReplacingLongerFiles) {
    const auto path = support::temp_file("writer_replace.TextGrid", std::string(100000, 'x'));
    const TextGrid document = example();
    ASSERT_TRUE(write_textgrid(document, path, FileType::Long));
    EXPECT_EQ(read_file(path), render_long(document));
    ASSERT_TRUE(write_textgrid(document, path, FileType::Short));
    EXPECT_EQ(read_file(path), render_short(document));
}

TEST(WriteTextGrid, ReportsAPathThatCannotBeStored) {
    const auto dir = scratch("no_such_dir");
    std::filesystem::remove_all(dir);
    const std::string path = (dir / "a.TextGrid").string();
    const Status status = write_textgrid(example(), path, FileType::Long);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().to_string(),
              "cannot write " + path + ": No such file or directory (os error 2)");
    EXPECT_FALSE(std::filesystem::exists(dir));
}

TEST(WriteTextGrid, RefusesANulInThePathAndCreatesNothing) {
    const auto prefix = scratch("nul");
    std::filesystem::remove(prefix);
    const std::string path = prefix.string() + std::string(1, '\0') + "x";
    const Status status = write_textgrid(example(), path, FileType::Short);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().to_string(),
              "cannot write " + path + ": file name contained an unexpected NUL byte");
    EXPECT_FALSE(std::filesystem::exists(prefix));
}

// Whatever a name or label holds comes back byte for byte through our readers.
class ReadBack : public ::testing::TestWithParam<FileType> {};

TEST_P(ReadBack, KeepsEveryNameAndLabel) {
    const std::vector<std::string> texts = {"plain",
                                            "\"",
                                            "\"\"",
                                            "a \"quoted\" word",
                                            "line\nfeed",
                                            "carriage\rreturn",
                                            "cr\r\nlf",
                                            "\ttab\t",
                                            "  spaced  ",
                                            "é日本😀",
                                            std::string("nul\0byte", 8),
                                            "",
                                            "ends with quote\"",
                                            "\"\nitem [2]:\n\""};
    Items intervals;
    Items points;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        intervals.push_back({double(i), double(i + 1), texts[i]});
        points.push_back({i + 0.5, i + 0.5, texts[i]});
    }
    const double end = double(texts.size());
    TextGrid document =
        grid(0, end,
             {make_tier(texts[3], true, 0, end, intervals),
              make_tier(texts[6], false, 0, end, points), make_tier(texts[10], true, 0, end, {})});
    const auto path = scratch("read_back.TextGrid").string();
    ASSERT_TRUE(write_textgrid(document, path, GetParam()));
    for (const char* mode : {"auto", GetParam() == FileType::Long ? "long" : "short"}) {
        auto read = read_textgrid(path, true, mode);
        ASSERT_TRUE(read) << read.error().to_string();
        const TextGrid& back = read.value();
        EXPECT_EQ(back.tmin, document.tmin);
        EXPECT_EQ(back.tmax, document.tmax);
        ASSERT_EQ(back.tiers.size(), document.tiers.size());
        for (std::size_t k = 0; k < back.tiers.size(); ++k) {
            const Tier& got = back.tiers[k];
            const Tier& want = document.tiers[k];
            EXPECT_EQ(got.name, want.name);
            EXPECT_EQ(got.is_interval, want.is_interval);
            ASSERT_EQ(got.items.size(), want.items.size());
            for (std::size_t i = 0; i < got.items.size(); ++i) {
                EXPECT_EQ(got.items[i].label, want.items[i].label) << "item " << i;
                EXPECT_EQ(got.items[i].tmin, want.items[i].tmin);
                EXPECT_EQ(got.items[i].tmax, want.items[i].tmax);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ReadBack, ::testing::Values(FileType::Long, FileType::Short),
                         [](const auto& info) {
                             return std::string(info.param == FileType::Long ? "long" : "short");
                         });

}  // namespace
