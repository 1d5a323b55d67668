#include <gtest/gtest.h>

#include <string>

#include "read/parser_short.hpp"
#include "render.hpp"

using namespace textgrid;
using support::render;

namespace {

const std::string HEAD = "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n";

}  // namespace

struct ShortCase {
    const char* title;
    std::string text;
    bool strict;
    std::string expected;
};

class ShortParser : public ::testing::TestWithParam<ShortCase> {};

TEST_P(ShortParser, Reads) {
    auto result = parse_short_text(GetParam().text, GetParam().strict);
    EXPECT_EQ(render(result), GetParam().expected);
    if (!result) {
        EXPECT_EQ(result.error().kind(), ErrorKind::InvalidData);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShortParser,
    ::testing::Values(
        ShortCase{
            "two_tiers",
            HEAD + "0\n2.3\n<exists>\n2\n\"IntervalTier\"\n\"words\"\n0\n2.3\n1\n0\n2.3\n"
                   "\"hello\"\n\"TextTier\"\n\"bell\"\n0\n2.3\n1\n0.9\n\"ding\"\n",
            true,
            "0 2.3 2 | I 'words' 0 2.3 1: (0,2.3,'hello') | P 'bell' 0 2.3 1: (0.9,0.9,'ding')"},
        ShortCase{"three_lines", "a\nb\nc\n", false, "error: Unexpected end of file at line 4"},
        ShortCase{"four_lines", "a\nb\n\n1\n", false, "error: Unexpected end of file at line 5"},
        ShortCase{"five_lines", "a\nb\n\n1\n2", false, "error: Unexpected end of file at line 7"},
        ShortCase{"six_lines", "a\nb\n\n1\n2\nx\n", false,
                  "error: Unexpected end of file at line 7"},
        ShortCase{"seven_lines_no_tiers", HEAD + "0\n1\n<exists>\n0\n", false, "0 1 0"},
        // Without the blank third line a number there is the start time.
        ShortCase{"missing_blank_line",
                  "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n 0 \n2.3\n<exists>\n1\n"
                  "\"IntervalTier\"\n\"w\"\n0\n2.3\n0\n",
                  true, "0 2.3 1 | I 'w' 0 2.3 0:"},
        ShortCase{"third_line_text_skipped", "a\nb\n0 ! start\n1\n2\n<exists>\n0\n", false,
                  "1 2 0"},
        ShortCase{"third_line_blanks_skipped", "a\nb\n \t \n1\n2\n<exists>\n0\n", false, "1 2 0"},
        ShortCase{"missing_blank_line_cut_short", "a\nb\n0\n2.3\n<exists>\n", false,
                  "error: Unexpected end of file at line 6"},
        // Line numbers are the file's own, also after a name over two lines.
        ShortCase{"cut_after_name_over_lines",
                  HEAD + "0\n2\n<exists>\n1\n\"TextTier\"\n\"a\nb\"\n0\n", false,
                  "error: Unexpected end of file at line 12"},
        ShortCase{"count_one_too_small",
                  HEAD + "0\n2\n<exists>\n2\n\"IntervalTier\"\n\"a\"\n0\n2\n1\n0\n1\n\"x\"\n1\n2\n"
                         "\"y\"\n\"IntervalTier\"\n\"b\"\n0\n2\n0\n",
                  false, "error: Unknown tier class: 1"},
        ShortCase{"count_too_small_in_last_tier",
                  HEAD + "0\n2\n<exists>\n1\n\"IntervalTier\"\n\"a\"\n0\n2\n1\n0\n1\n\"x\"\n1\n2\n"
                         "\"y\"\n",
                  false, "0 2 1 | I 'a' 0 2 1: (0,1,'x')"},
        ShortCase{"count_too_large",
                  HEAD + "0\n2\n<exists>\n1\n\"TextTier\"\n\"a\"\n0\n2\n2\n0.5\n\"x\"\n", false,
                  "error: Unexpected end of file at line 15"},
        ShortCase{"count_beyond_any_memory",
                  HEAD + "0\n2\n<exists>\n1\n\"TextTier\"\n\"a\"\n0\n2\n18446744073709551615\n0.5\n"
                         "\"x\"\n",
                  false, "error: Unexpected end of file at line 15"},
        ShortCase{"cut_inside_tier", HEAD + "0\n2\n<exists>\n1\n\"TextTier\"\n\"a\"\n0\n", false,
                  "error: Unexpected end of file at line 11"},
        ShortCase{"unknown_class", HEAD + "0\n2\n<exists>\n1\n\"PitchTier\"\n", false,
                  "error: Unknown tier class: \"PitchTier\""},
        ShortCase{"bare_class_and_quotes",
                  HEAD + "0\n2\n<exists>\n1\nIntervalTier\n\"say \"\"hi\"\"\"\n0\n2\n2\n0\n1\n"
                         "\"\"\n1\n2\n\"a\"b\"\n",
                  false, "0 2 1 | I 'say \"hi\"' 0 2 2: (0,1,'') (1,2,'a\"b')"},
        ShortCase{"label_over_lines",
                  HEAD + "0\n2\n<exists>\n1\n\"IntervalTier\"\n\"w\"\n0\n2\n1\n0\n2\n\"one\r\n"
                         "5\n\"\"x\"\"\"\n",
                  true, "0 2 1 | I 'w' 0 2 1: (0,2,'one\r\n5\n\"x\"')"},
        ShortCase{"malformed_numbers",
                  HEAD + "2.5 ! end\n1 2\n<exists>\n1\n\"IntervalTier\"\n\"w\"\n0\n1\n1 ! one\n",
                  false, "0 0 1 | I 'w' 0 1 0:"},
        ShortCase{"long_layout_text",
                  HEAD + "xmin = 0\nxmax = 2.3\ntiers? <exists>\nsize = 1\nitem []:\n", false,
                  "0 0 0"},
        ShortCase{"extra_lines_and_no_final_newline",
                  HEAD + "0\n2\n<exists>\n1\n\"TextTier\"\n\"p\"\n0\n2\n1\n1\n\"x\"\nrest\n9", true,
                  "0 2 1 | P 'p' 0 2 1: (1,1,'x')"},
        // Item lines at the edges of the usual shape, read directly or the general way alike.
        ShortCase{"item_lines_unusual_spacing_and_quotes",
                  HEAD + "0\n2\n<exists>\n1\n\"IntervalTier\"\n\"w\"\n0\n2\n3\n0 \t\r\n .5\n"
                         "\"a\"\"b\"\"\"  \n0.5\n1e0\n\"x\" \"y\"\n1\n2.\n\"z\"",
                  false, "0 2 1 | I 'w' 0 2 3: (0,0.5,'a\"b\"') (0.5,1,'x\" \"y') (1,2,'z')"},
        // Items read whole, or partly the general way, keep the file's line numbers.
        ShortCase{"points_whole_and_in_parts",
                  HEAD + "0\n2\n<exists>\n1\n\"TextTier\"\n\"p\"\n0\n2\n3\n0.5\n\"a\"\n1 \n"
                         "\"b\nc\"\n1.5\n\"d\"\r\n",
                  false, "0 2 1 | P 'p' 0 2 3: (0.5,0.5,'a') (1,1,'b\nc') (1.5,1.5,'d')"},
        ShortCase{"cut_after_items_whole_and_in_parts",
                  HEAD + "0\n2\n<exists>\n1\n\"TextTier\"\n\"p\"\n0\n2\n3\n0.5\n\"a\"\n1\n"
                         "\"b\nc\"\n",
                  false, "error: Unexpected end of file at line 18"},
        ShortCase{"strict_fault",
                  HEAD + "0\n2\n<exists>\n1\n\"IntervalTier\"\n\"w\"\n0\n2\n1\n1\n1\n\"x\"\n", true,
                  "error: tmin should be less than tmax in item 0 in tier w"}),
    [](const auto& info) { return std::string(info.param.title); });
