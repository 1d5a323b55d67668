#include <gtest/gtest.h>

#include <string>

#include "read/long_pieces.hpp"
#include "read/parser_long.hpp"
#include "render.hpp"

using namespace textgrid;
using support::render;

namespace {

const std::string HEADER =
    "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0\nxmax = 2.3\n"
    "tiers? <exists>\nsize = 1\nitem []:\n";

std::string one_interval(const std::string& item_lines) {
    return HEADER +
           "    item [1]:\n        class = \"IntervalTier\"\n        name = \"words\"\n"
           "        xmin = 0\n        xmax = 2.3\n        intervals: size = 1\n"
           "        intervals [1]:\n" +
           item_lines;
}

}  // namespace

struct LongCase {
    const char* title;
    std::string text;
    bool strict;
    std::string expected;
};

class LongParser : public ::testing::TestWithParam<LongCase> {};

TEST_P(LongParser, Reads) {
    EXPECT_EQ(render(parse_long_text(GetParam().text, GetParam().strict)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LongParser,
    ::testing::Values(
        LongCase{"full",
                 HEADER + "item [1]:\nclass = \"IntervalTier\"\nname = \"words\"\nxmin = 0\n"
                          "xmax = 2.3\nintervals: size = 1\nintervals [1]:\nxmin = 0\n"
                          "xmax = 2.3\ntext = \"hello\"\n",
                 true, "0 2.3 1 | I 'words' 0 2.3 1: (0,2.3,'hello')"},
        LongCase{"points",
                 HEADER + "item [1]:\nclass = \"TextTier\"\nname = \"bell\"\nxmin = 0\n"
                          "xmax = 2.3\npoints: size = 2\npoints [1]:\nnumber = 0.9\n"
                          "mark = \"ding\"\npoints [2]:\nxmin = 1\nxmax = 1.2\n",
                 false, "0 2.3 1 | P 'bell' 0 2.3 2: (0.9,0.9,'ding') (1,1.2,'')"},
        // Another writer's name for a point's time; in an interval it means nothing.
        LongCase{"time_key_in_points",
                 HEADER + "item [1]:\nclass = \"TextTier\"\npoints [1]:\ntime = 0.9\n"
                          "mark = \"a\"\npoints[2]:\n  time=1.5\n",
                 false, "0 2.3 1 | P '' 0 0 0: (0.9,0.9,'a') (1.5,1.5,'')"},
        // Item lines at the edges of the usual shape, read directly or the general way alike.
        LongCase{"item_lines_unusual_spacing_and_quotes",
                 one_interval("  xmin = 0.5 \t\r\n\txmax = 1e0\n  text = \"a\"\"b\"\"\"  \n"),
                 false, "0 2.3 1 | I 'words' 0 2.3 1: (0.5,1,'a\"b\"')"},
        LongCase{"item_lines_not_ending_where_they_seem",
                 one_interval("xmin = 0.5.1 \nxmax =  2\ntext = \"a\" \"b\"\n"), false,
                 "0 2.3 1 | I 'words' 0 2.3 1: (0,2,'a\" \"b')"},
        LongCase{"item_label_over_lines_and_no_final_newline",
                 one_interval("xmin = 1\nxmax = 2 \ntext = \"x\ny\"\nxmin = 1.5"), false,
                 "0 2.3 1 | I 'words' 0 2.3 1: (1.5,2,'x\ny')"},
        // Item headers read directly or the general way alike: a quote makes the
        // header line longer, the end of the text leaves the usual shape.
        LongCase{"item_headers_at_the_edges",
                 one_interval("xmin = 1\nxmax = 2\n  intervals [2]: \"q\nxmin = 3\"\nxmax = 4\n"
                              "\tpoints [3]:\nnumber = 5\nintervals [4]:"),
                 false, "0 2.3 1 | I 'words' 0 2.3 1: (1,2,'') (0,4,'') (5,5,'') (0,0,'')"},
        // Indented with tabs, as some aligners write, alone or among blanks.
        LongCase{"items_indented_with_tabs",
                 one_interval("\t\t\t\txmin = 0.27\n\t\t\t\txmax = 0.36\n\t\t\t\ttext = \"a\"\n"
                              "\t\t\tintervals [2]:\n \t xmin = 0.36\n\t  xmax = 1.02\n"
                              "\t \ttext = \"\"\n\t\t\tpoints [3]:\n\t\t\t\tnumber = 2\n"),
                 false, "0 2.3 1 | I 'words' 0 2.3 1: (0.27,0.36,'a') (0.36,1.02,'') (2,2,'')"},
        // A point's time in the usual shape and at its edges, read directly or
        // the general way alike.
        LongCase{"point_numbers_at_the_edges",
                 HEADER + "item [1]:\nclass = \"TextTier\"\npoints [1]:\n    number = 0.5 \n"
                          "mark = \"a\"\npoints [2]:\nnumber =  2\npoints [3]:\nnumber = 1e0\n"
                          "points [4]:\nnumber = x\npoints [5]:\nnumber = 1.25",
                 false,
                 "0 2.3 1 | P '' 0 0 0: (0.5,0.5,'a') (2,2,'') (1,1,'') (0,0,'') (1.25,1.25,'')"},
        LongCase{"time_key_not_in_intervals", one_interval("xmin = 1\ntime = 5\nxmax = 2\n"), false,
                 "0 2.3 1 | I 'words' 0 2.3 1: (1,2,'')"},
        LongCase{"no_class_is_interval", HEADER + "item [1]:\nname = \"t\"\n", false,
                 "0 2.3 1 | I 't' 0 0 0:"},
        LongCase{"label_with_equals", one_interval("text = \"a = b\"\n"), false,
                 "0 2.3 1 | I 'words' 0 2.3 1: (0,0,'a = b')"},
        LongCase{"empty_value", one_interval("text = \"x\"\ntext =\n"), false,
                 "0 2.3 1 | I 'words' 0 2.3 1: (0,0,'')"},
        LongCase{"doubled_quotes", one_interval("text = \"say \"\"hi\"\"\"\n"), false,
                 "0 2.3 1 | I 'words' 0 2.3 1: (0,0,'say \"hi\"')"},
        LongCase{"backslash_quotes", one_interval("text = \"say \\\"hi\\\"\"\n"), false,
                 "0 2.3 1 | I 'words' 0 2.3 1: (0,0,'say \\\"hi\\\"')"},
        LongCase{"label_over_lines_keeps_times",
                 one_interval("xmin = 1\ntext = \"first\n  xmin = 5\r\nlast\"\nxmax = 2\n"), false,
                 "0 2.3 1 | I 'words' 0 2.3 1: (1,2,'first\n  xmin = 5\r\nlast')"},
        LongCase{"bad_numbers", HEADER + "xmin = abc\nitem [1]:\nxmax =\nintervals: size = -1\n",
                 false, "0 2.3 1 | I '' 0 0 0:"},
        LongCase{"header_keys_only_in_header", HEADER + "xmax = 9\nsize = 4\n", false, "0 2.3 1"},
        LongCase{"size_mismatch_lenient", HEADER + "item [1]:\nitem [2]:\n", false,
                 "0 2.3 1 | I '' 0 0 0: | I '' 0 0 0:"},
        LongCase{"size_mismatch_strict",
                 HEADER + "item [1]:\nxmin = 0\nxmax = 1\nitem [2]:\nxmin = 0\nxmax = 1\n", true,
                 "error: TextGrid size does not match number of tiers"},
        LongCase{"lying_count_reserves_only_what_fits",
                 "item [1]:\nintervals: size = 18446744073709551615\nintervals [1]:\n", false,
                 "0 0 0 | I '' 0 0 18446744073709551615: (0,0,'')"},
        LongCase{"tier_order_kept", "item [5]:\nname = \"five\"\nitem [2]:\nname = \"two\"\n",
                 false, "0 0 0 | I 'five' 0 0 0: | I 'two' 0 0 0:"},
        LongCase{"brackets_not_read", "item [x\nintervals [\nitem [7]: name = \"n\"\n", false,
                 "0 0 0 | I '' 0 0 0: (0,0,'') | I '' 0 0 0:"},
        LongCase{"keys_case_sensitive", one_interval("XMIN = 3\nText = \"t\"\n"), false,
                 "0 2.3 1 | I 'words' 0 2.3 1: (0,0,'')"},
        LongCase{"elan_headers",
                 "xmin = 0\nxmax = 1\nsize = 1\nitem[]:\nitem[1]:\nclass = \"IntervalTier\"\n"
                 "name = \"e\"\nxmin = 0\nxmax = 1\nintervals: size = 1\nintervals[1]:\n"
                 "xmin = 0\nxmax = 1\ntext = \"x\"\n",
                 true, "0 1 1 | I 'e' 0 1 1: (0,1,'x')"},
        LongCase{"elan_points", "item[1]:\nclass = \"TextTier\"\npoints[1]:\nnumber = 2\n", false,
                 "0 0 0 | P '' 0 0 0: (2,2,'')"},
        LongCase{"short_layout_text",
                 "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n0\n2.3\n<exists>\n1\n"
                 "\"IntervalTier\"\n\"words\"\n0\n2.3\n1\n0\n2.3\n\"hello\"\n",
                 false, "0 0 0"},
        LongCase{"empty_lenient", "", false, "0 0 0"},
        LongCase{"empty_strict", "", true, "error: Time bounds should be non-negative in TextGrid"},
        LongCase{"mixed_line_ends_and_tabs",
                 "xmin = 0\r\n\txmax = 1\n  size = 1\r\nitem []:\r\n\titem [1]:\r\n\t\tname = "
                 "\"w\"\r\n\t\txmin = 0\n\t\txmax = 1\r\n",
                 false, "0 1 1 | I 'w' 0 1 0:"},
        LongCase{"strict_tier_fault",
                 HEADER + "item [1]:\nname = \"w\"\nxmin = 0\nxmax = 1\nintervals: size = 2\n"
                          "intervals [1]:\nxmin = 0\nxmax = 1\nintervals [2]:\nxmin = 0.5\n"
                          "xmax = 1\n",
                 true, "error: Items 0 and 1 overlap in tier w"}),
    [](const auto& info) { return std::string(info.param.title); });

struct LongErrorCase {
    const char* title;
    std::string text;
    std::string expected;
};

class LongParserErrors : public ::testing::TestWithParam<LongErrorCase> {};

TEST_P(LongParserErrors, AreInvalidData) {
    auto result = parse_long_text(GetParam().text, false);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().to_string(), GetParam().expected);
    EXPECT_EQ(result.error().kind(), ErrorKind::InvalidData);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LongParserErrors,
    ::testing::Values(LongErrorCase{"item_before_tier", "xmin = 0\n\nintervals [1]:\n",
                                    "Item before any tier at line 3"},
                      LongErrorCase{"point_before_tier_physical_line",
                                    "name = \"a\nb\nc\"\npoints[1]:\n",
                                    "Item before any tier at line 4"},
                      LongErrorCase{"lower_case_class", "item [1]:\nclass = \"intervaltier\"\n",
                                    "Unknown tier class: \"intervaltier\""},
                      LongErrorCase{"other_class", "item [1]:\nclass = \"PitchTier\"\n",
                                    "Unknown tier class: \"PitchTier\""}),
    [](const auto& info) { return std::string(info.param.title); });

// Tiers that declare four billion items each and hold none: whatever their
// number, their reservations together stay within what the whole text could
// hold (an item takes 8 bytes at least: "points[" and a line feed), read in one
// pass (0) or in pieces on P processors.
class DeclaredCounts : public ::testing::TestWithParam<std::size_t> {};

TEST_P(DeclaredCounts, ReserveNoMoreThanTheTextCouldHold) {
    constexpr std::size_t TIERS = 2000;
    std::string text = HEADER;
    for (std::size_t t = 1; t <= TIERS; ++t) {
        text += "    item [" + std::to_string(t) +
                "]:\n        class = \"TextTier\"\n        name = \"t\"\n        xmin = 0\n"
                "        xmax = 1\n        points: size = 4000000000\n";
    }
    const std::size_t processors = GetParam();
    const auto grid = processors == 0
                          ? parse_long_text(text, false)
                          : read_long_in_pieces(PieceSource(text), text.size(),
                                                {false, false, {processors, 8}, false}, {});
    ASSERT_TRUE(grid);
    ASSERT_EQ(grid.value().tiers.size(), TIERS);
    std::size_t reserved = 0;
    for (const Tier& tier : grid.value().tiers) reserved += tier.items.capacity();
    const std::size_t rounding = 8 * processors + 1;  // at most one item per stretch
    EXPECT_LE(reserved, text.size() / 8 + rounding);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeclaredCounts, ::testing::Values(0, 2, 16));
