// Reading in pieces must give exactly what one pass gives: the document, or the
// first fault with its message and line. Many processors on a small text cut it
// every few bytes, so cuts land inside labels, line endings and headers.
#include <gtest/gtest.h>

#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "exact.hpp"
#include "loading.hpp"
#include "parallel.hpp"
#include "parser_long.hpp"
#include "render.hpp"
#include "temp_files.hpp"

using namespace textgrid;
using support::render;
using support::same_results;

namespace {

// Lines that steer the parser, line endings, and labels that hide header-like
// lines inside quotes or leave a quote open to the end.
class TextMaker {
public:
    explicit TextMaker(unsigned seed) : random_(seed) {}

    std::string document(bool faults) {
        std::string out = "File type = \"ooTextFile\"" + eol() + "Object class = \"TextGrid\"" +
                          eol() + eol() + "xmin = 0" + eol() + "xmax = " + number() + eol() +
                          "tiers? <exists>" + eol() + "size = " + std::to_string(pick(4)) + eol();
        if (faults && pick(4) == 0) out += item_header() + eol();  // item before any tier
        out += pick(2) ? "item []:" : "item[]:";
        out += eol();
        const int tiers = pick(5);
        for (int t = 0; t < tiers; ++t) out += tier(faults);
        if (faults && pick(6) == 0)
            out += indent() + "text = \"open to the end" + eol() + "item [9]:";
        return out;
    }

    // Any mix of the lines the parser knows, in any order.
    std::string soup() {
        static const char* const LINES[] = {"item []:",
                                            "item [1]:",
                                            "item[2]:",
                                            "item []",
                                            "item",
                                            "items [1]:",
                                            "intervals [1]:",
                                            "intervals[",
                                            "points [2]:",
                                            "points[",
                                            "intervals: size = 2",
                                            "points: size = 1",
                                            "xmin = 1.5",
                                            "xmax = 2",
                                            "size = 3",
                                            "number = 0.25",
                                            "name = \"n\"",
                                            "class = \"TextTier\"",
                                            "class = \"IntervalTier\"",
                                            "text = \"t\"",
                                            "mark = \"a\"\"b\"",
                                            "text = \"x\nitem [3]:\"",
                                            "\"",
                                            "",
                                            "\xE3\x80\x80item [4]:",
                                            "class = \"Other\"",
                                            "text = \"a\r\nintervals [5]:\r\n\""};
        std::string out;
        const int lines = 1 + pick(60);
        for (int i = 0; i < lines; ++i) {
            out += indent() + LINES[pick(static_cast<int>(std::size(LINES)))] + eol();
        }
        return out;
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    std::string eol() { return pick(4) == 0 ? "\r\n" : "\n"; }
    std::string indent() {
        return std::string(static_cast<std::size_t>(pick(3) * 4), pick(5) ? ' ' : '\t');
    }
    std::string number() { return std::to_string(pick(1000)) + "." + std::to_string(pick(100)); }

    std::string item_header() {
        static const char* const HEADERS[] = {"intervals [", "intervals[", "points [", "points["};
        return indent() + HEADERS[pick(4)] + std::to_string(pick(9) + 1) + "]:";
    }

    std::string label() {
        static const char* const LABELS[] = {"\"\"",
                                             "\"word\"",
                                             "\"say \"\"hi\"\"\"",
                                             "\"two\nlines\"",
                                             "\"a\r\n  item [2]:\r\n\"",
                                             "\"\nintervals [1]:\n    xmin = 99\n\"",
                                             "\"\npoints[3]:\nnumber = 5\n\"",
                                             "\"caf\xC3\xA9 = \"\"x\"\"\"",
                                             "bare",
                                             "\" spaced \"",
                                             "\"item []:\n\""};
        return LABELS[pick(static_cast<int>(std::size(LABELS)))];
    }

    std::string tier(bool faults) {
        const bool interval = pick(3) != 0;
        std::string out =
            indent() + (pick(2) ? "item [" : "item[") + std::to_string(pick(9)) + "]:" + eol();
        std::string kind = interval ? "\"IntervalTier\"" : "\"TextTier\"";
        if (faults && pick(12) == 0) kind = "\"PitchTier\"";
        out += indent() + "class = " + kind + eol() + indent() + "name = " + label() + eol() +
               indent() + "xmin = 0" + eol() + indent() + "xmax = " + number() + eol();
        const int items = pick(12);
        out += indent() + (interval ? "intervals: size = " : "points: size = ") +
               std::to_string(items) + eol();
        for (int i = 0; i < items; ++i) {
            out += item_header() + eol();
            if (interval) {
                out += indent() + "xmin = " + number() + eol() + indent() + "xmax = " + number() +
                       eol() + indent() + "text = " + label() + eol();
            } else {
                out += indent() + "number = " + number() + eol() + indent() + "mark = " + label() +
                       eol();
            }
        }
        return out;
    }

    std::mt19937 random_;
};

void expect_same_in_pieces(const std::string& text) {
    for (const bool strict : {false, true}) {
        const auto one_pass = parse_long_text_one_pass(text, strict);
        for (const std::size_t processors : {2u, 3u, 16u, 1000u}) {
            const auto joined = parse_long_text_in_pieces(text, strict, processors);
            ASSERT_TRUE(same_results(joined, one_pass))
                << "P = " << processors << ", strict = " << strict
                << "\nin pieces: " << render(joined) << "\none pass:  " << render(one_pass)
                << "\ntext:\n"
                << text;
            // Rows handed over while reading, put back, give the same document.
            support::HandedRows rows;
            auto handed = parse_long_text_in_pieces(text, strict, processors, {}, rows.observer());
            if (handed) {
                ASSERT_TRUE(rows.put_back(handed.value())) << "P = " << processors;
            }
            ASSERT_TRUE(same_results(handed, one_pass))
                << "P = " << processors << ", strict = " << strict
                << "\nhanded over: " << render(handed) << "\none pass:  " << render(one_pass)
                << "\ntext:\n"
                << text;
        }
    }
}

}  // namespace

struct PiecesCase {
    const char* title;
    bool soup;
    bool faults;
};

class LongInPieces : public ::testing::TestWithParam<PiecesCase> {};

TEST_P(LongInPieces, MatchesOnePass) {
    for (unsigned seed = 1; seed <= 150; ++seed) {
        TextMaker maker(seed);
        const std::string text = GetParam().soup ? maker.soup() : maker.document(GetParam().faults);
        expect_same_in_pieces(text);
        if (HasFatalFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Generated, LongInPieces,
                         ::testing::Values(PiecesCase{"documents", false, false},
                                           PiecesCase{"documents_with_faults", false, true},
                                           PiecesCase{"line_soup", true, false}),
                         [](const auto& info) { return std::string(info.param.title); });

struct EdgeCase {
    const char* title;
    std::string text;
};

class LongInPiecesEdges : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(LongInPiecesEdges, MatchOnePass) { expect_same_in_pieces(GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Texts, LongInPiecesEdges,
    ::testing::Values(
        // Items in a later piece before any tier; the fault names its physical line.
        EdgeCase{"items_before_tier_late",
                 std::string(200, '\n') + "intervals [1]:\nxmin = 1\nitem [1]:\n"},
        EdgeCase{"items_before_tier_after_quoted_lines",
                 "\"" + std::string(300, '\n') + "\"\npoints [1]:\nitem [1]:\n"},
        // A fault late after an earlier one: the earlier wins.
        EdgeCase{"earlier_fault_wins", "item [1]:\nclass = \"A\"\n" + std::string(300, ' ') +
                                           "\nitem [2]:\nclass = \"B\"\n"},
        // A quote left open swallows every header after it.
        EdgeCase{"open_quote", "item [1]:\nintervals [1]:\ntext = \"open\n" +
                                   std::string(100, 'x') + "\nitem [2]:\nintervals [1]:\n"},
        // Headers hiding in a quoted label that spans many pieces.
        EdgeCase{"headers_in_long_label",
                 "item [1]:\nintervals [1]:\ntext = \"\nitem [2]:\nintervals [2]:\r\n" +
                     std::string(400, '=') + "\nclass = \"Bad\"\n\"\nxmax = 3\nintervals [2]:\n"},
        // No header at all, and only headers.
        EdgeCase{"no_header", std::string(500, 'a') + "\nxmin = 2\n"},
        EdgeCase{"only_headers", "item [1]:\nintervals [1]:\nitem [2]:\npoints[1]:\n"},
        // A tier list header is no cut; its lines are ignored.
        EdgeCase{"tier_list_headers", "xmin = 1\nitem []:\n" + std::string(100, ' ') +
                                          "\nxmin = 5\nitem [] \nitem [1]:\n"}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(LongInPiecesLarge, LargeTextsTakeThePiecewisePathAndMatch) {
    std::string text;
    TextMaker maker(7);
    while (text.size() < (3u << 20)) text += maker.document(false);
    const auto one_pass = parse_long_text_one_pass(text, false);
    ASSERT_TRUE(one_pass);
    // Compared whole: a diff of two documents of megabytes is no use to print.
    EXPECT_TRUE(same_results(parse_long_text(text, false), one_pass));
    // From a file the counts come from loading, which cuts the text the same way.
    const std::string path = support::temp_file("long_in_pieces_large.TextGrid", text);
    auto loaded = load_text(path);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded.value().piece_counts().empty(), logical_processors() < 2);
    EXPECT_TRUE(same_results(parse_long(path, false), one_pass));
}

// Stretches long enough that strict reading checks their rows while it reads
// them, a few thousand at a time: the checks must come out as one whole pass's.
// A line the quick way does not take ("xmin =  1", two blanks) makes later
// runs of quick lines stop inside an item, whose row is then still incomplete.
struct CheckedCase {
    const char* title;
    std::size_t odd_shape_at;  // the item whose xmin line has two blanks
    std::size_t fault_at;      // the item that starts before the previous ends, or 0
    bool points;               // the second tier is a point tier
};

class LongInPiecesChecked : public ::testing::TestWithParam<CheckedCase> {};

TEST_P(LongInPiecesChecked, MatchesOnePass) {
    const CheckedCase& c = GetParam();
    constexpr std::size_t ITEMS = 12000;
    std::string text =
        "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0 \nxmax = 1200 \n"
        "tiers? <exists> \nsize = 2 \nitem []: \n";
    const auto time = [](std::size_t i) {
        return std::to_string(i / 10) + "." + std::to_string(i % 10);
    };
    text +=
        "    item [1]:\n        class = \"IntervalTier\" \n        name = \"a\" \n"
        "        xmin = 0 \n        xmax = 1200 \n        intervals: size = 12000 \n";
    for (std::size_t i = 1; i <= ITEMS; ++i) {
        const std::size_t start = i == c.fault_at ? i - 2 : i - 1;
        text += "        intervals [" + std::to_string(i) +
                "]:\n            xmin = " + (i == c.odd_shape_at ? " " : "") + time(start) +
                " \n            xmax = " + time(i) + " \n            text = \"w" +
                std::to_string(i % 7) + "\" \n";
    }
    text += std::string("    item [2]:\n        class = \"") +
            (c.points ? "TextTier" : "IntervalTier") +
            "\" \n        name = \"b\" \n        xmin = 0 \n        xmax = 1200 \n        " +
            (c.points ? "points" : "intervals") + ": size = 12000 \n";
    for (std::size_t i = 1; i <= ITEMS; ++i) {
        if (c.points) {
            text += "        points [" + std::to_string(i) + "]:\n            number = " + time(i) +
                    " \n            mark = \"p\" \n";
        } else {
            text += "        intervals [" + std::to_string(i) +
                    "]:\n            xmin = " + time(i - 1) + " \n            xmax = " + time(i) +
                    " \n            text = \"\" \n";
        }
    }
    const auto one_pass = parse_long_text_one_pass(text, true);
    ASSERT_EQ(bool(one_pass), c.fault_at == 0) << render(one_pass);
    for (const std::size_t processors : {2u, 3u}) {
        const auto in_pieces = parse_long_text_in_pieces(text, true, processors);
        EXPECT_TRUE(same_results(in_pieces, one_pass))
            << "P = " << processors << "\nin pieces: " << render(in_pieces).substr(0, 300)
            << "\none pass: " << render(one_pass).substr(0, 300);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LongInPiecesChecked,
    ::testing::Values(CheckedCase{"sound", 3, 0, false}, CheckedCase{"sound_points", 3, 0, true},
                      CheckedCase{"fault_deep_in_a_stretch", 3, 7001, false},
                      CheckedCase{"fault_before_the_odd_line", 9000, 5000, true}),
    [](const auto& info) { return std::string(info.param.title); });
