// Files written and read by Praat itself (see data/praat/generate.praat): what we
// read must be what Praat was given, or what Praat sees in the file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "read/lib.hpp"
#include "read/loading.hpp"
#include "text/numbers.hpp"

using namespace textgrid;

namespace {

const std::string DIRECTORY = TEXTGRID_TEST_DATA "/praat/";

std::vector<std::string> split_fields(std::string_view line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string_view::npos;
         start = tab + 1) {
        fields.emplace_back(line.substr(start, tab - start));
    }
    fields.emplace_back(line.substr(start));
    return fields;
}

std::string escape_line_feeds(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

// The dump lines that Praat wrote: split at line feeds only, since labels may
// hold quotes and trailing blanks.
std::vector<std::string> dump_lines(const std::string& name) {
    auto text = load_text(DIRECTORY + name + ".expected");
    EXPECT_TRUE(text) << text.error().to_string();
    std::vector<std::string> lines;
    std::string_view rest = text.value().view();
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        lines.emplace_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    }
    return lines;
}

void expect_as_praat_dumped(const TextGrid& grid, const std::string& name) {
    const auto lines = dump_lines(name);
    ASSERT_FALSE(lines.empty());
    std::size_t at = 0;
    auto fields = split_fields(lines[at++]);
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(grid.tmin, parse_f64_or_zero(fields[1]));
    EXPECT_EQ(grid.tmax, parse_f64_or_zero(fields[2]));
    ASSERT_EQ(grid.tiers.size(), parse_count_or_zero(fields[3]));
    for (const Tier& tier : grid.tiers) {
        fields = split_fields(lines.at(at++));
        ASSERT_EQ(fields.size(), 4u);
        EXPECT_EQ(tier.is_interval, fields[1] == "1");
        EXPECT_EQ(escape_line_feeds(tier.name), fields[2]);
        ASSERT_EQ(tier.items.size(), parse_count_or_zero(fields[3])) << tier.name;
        for (const Item& item : tier.items) {
            fields = split_fields(lines.at(at++));
            ASSERT_EQ(fields.size(), 3u);
            EXPECT_EQ(item.tmin, parse_f64_or_zero(fields[0]));
            EXPECT_EQ(item.tmax, parse_f64_or_zero(fields[1]));
            EXPECT_EQ(escape_line_feeds(item.label), fields[2]);
        }
    }
}

}  // namespace

struct PraatFileCase {
    const char* file;      // under data/praat/, without ".TextGrid"
    const char* expected;  // Praat's dump, without ".expected"
    const char* file_type;
};

class PraatFiles : public ::testing::TestWithParam<PraatFileCase> {};

TEST_P(PraatFiles, ReadAsPraatSeesThem) {
    const auto& c = GetParam();
    auto grid = read_textgrid(DIRECTORY + c.file + ".TextGrid", true, c.file_type);
    ASSERT_TRUE(grid) << grid.error().to_string();
    expect_as_praat_dumped(grid.value(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Files, PraatFiles,
                         ::testing::Values(PraatFileCase{"ascii_long", "ascii", "auto"},
                                           PraatFileCase{"ascii_long", "ascii", "long"},
                                           PraatFileCase{"ascii_short", "ascii", "auto"},
                                           PraatFileCase{"ascii_short", "ascii", "short"},
                                           PraatFileCase{"unicode_long", "unicode", "auto"},
                                           PraatFileCase{"unicode_long", "unicode", "long"},
                                           PraatFileCase{"unicode_short", "unicode", "auto"},
                                           PraatFileCase{"unicode_short", "unicode", "short"},
                                           PraatFileCase{"elan_headers", "elan_headers", "auto"},
                                           PraatFileCase{"elan_headers", "elan_headers", "long"}),
                         [](const auto& info) {
                             return std::string(info.param.file) + "_" + info.param.file_type;
                         });

// Guards the dump comparison itself: the labels the generator gave Praat.
TEST(PraatFiles, KeepTheTrickyLabels) {
    auto ascii = read_textgrid(DIRECTORY + "ascii_short.TextGrid", true, "auto");
    ASSERT_TRUE(ascii);
    const auto& words = ascii.value().tiers.at(0).items;
    EXPECT_EQ(words.at(0).label, "say \"hi\"");
    EXPECT_EQ(words.at(1).label, "line one\nxmin = 5\ntext = \"x\"");
    EXPECT_EQ(words.at(1).tmin, 1.0);
    EXPECT_EQ(words.at(2).label, "  padded = \"  ");
    EXPECT_EQ(ascii.value().tiers.at(1).items.at(1).label, "\"");
    EXPECT_EQ(ascii.value().tiers.at(1).items.at(2).label, "x\n    item [2]:\npoints [1]:");

    auto unicode = read_textgrid(DIRECTORY + "unicode_long.TextGrid", true, "auto");
    ASSERT_TRUE(unicode);
    EXPECT_EQ(unicode.value().tiers.at(1).name, "Wörter");
    EXPECT_EQ(unicode.value().tiers.at(0).items.at(1).label, "日本語\nsecond line €");
    EXPECT_EQ(unicode.value().tiers.at(1).items.at(0).label, "😀 emoji");
}
