// Reading in pieces must give exactly what one pass gives: the document, or the
// first fault with its message and line. Many processors on a small text cut it
// every few bytes, so cuts land inside labels, line endings and headers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "exact.hpp"
#include "read/lib.hpp"
#include "read/loading.hpp"
#include "read/long_stream.hpp"
#include "read/parser_long.hpp"
#include "render.hpp"
#include "runtime/parallel.hpp"
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

// The streamed reading of a file that opens.
std::optional<Result<TextGrid>> read_streamed(const std::string& path, bool strict, FileType type,
                                              const RowObserver& observe, std::size_t processors,
                                              std::size_t piece_bytes, std::size_t from_bytes) {
    auto opened = open_for_reading(path);
    if (!opened) throw std::runtime_error("cannot open " + path);
    return detail::read_long_streamed(opened.value(), strict, type, observe, processors,
                                      piece_bytes, from_bytes);
}

// Read straight from the file a piece per worker, rows handed over as they
// come: the same document, rows and first fault as the whole text read at
// once. Pieces of a few bytes cut inside labels, characters and headers, and
// labels of several lines make the workers' guess of the quotes wrong.
void expect_same_streamed(const std::string& text, FileType type = FileType::Long) {
    const std::string path = support::temp_file("streamed.TextGrid", text);
    for (const bool strict : {false, true}) {
        const auto whole = read_textgrid(path, strict, type == FileType::Long ? "long" : "auto");
        for (const std::size_t piece_bytes : {5u, 61u, 4096u}) {
            for (const std::size_t processors : {2u, 3u}) {
                support::HandedRows rows;
                auto streamed =
                    read_streamed(path, strict, type, rows.observer(), processors, piece_bytes, 1);
                ASSERT_TRUE(streamed.has_value()) << "not read this way:\n" << text;
                if (*streamed) {
                    ASSERT_TRUE(rows.put_back(streamed->value()));
                }
                ASSERT_TRUE(same_results(*streamed, whole))
                    << "pieces of " << piece_bytes << ", P = " << processors
                    << ", strict = " << strict << "\nstreamed: " << render(*streamed)
                    << "\nwhole:    " << render(whole) << "\ntext:\n"
                    << text;
            }
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
        if (seed % 5 == 0 && text.find('\n') != std::string::npos) expect_same_streamed(text);
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

TEST_P(LongInPiecesEdges, MatchOnePass) {
    expect_same_in_pieces(GetParam().text);
    expect_same_streamed(GetParam().text);
}

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
    EXPECT_EQ(loaded.value().piece_counts().empty(), thread_count() < 2);
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

// Faults only the whole file shows: a character cut by a piece's end, or bad
// UTF-8 after a fault in the rows (bad text is found first, as reading the
// whole text would find it).
struct StreamedCase {
    const char* title;
    std::string text;
    FileType type;
};

class LongStreamed : public ::testing::TestWithParam<StreamedCase> {};

TEST_P(LongStreamed, MatchesTheWholeRead) {
    expect_same_streamed(GetParam().text, GetParam().type);
}

namespace {
const std::string TIER_HEAD =
    "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0\nxmax = 9\n"
    "tiers? <exists>\nsize = 1\nitem []:\n    item [1]:\n        class = \"IntervalTier\"\n"
    "        name = \"w\"\n        xmin = 0\n        xmax = 9\n        intervals: size = 2\n";
std::string interval(const std::string& label) {
    return "        intervals [1]:\n            xmin = 0\n            xmax = 1\n"
           "            text = \"" +
           label + "\"\n";
}
}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Texts, LongStreamed,
    ::testing::Values(
        StreamedCase{"characters_across_cuts",
                     TIER_HEAD +
                         interval("\xE3\x80\x80\xF0\x9F\x98\x80"
                                  "caf\xC3\xA9") +
                         interval("\xE3\x80\x80\xE3\x80\x80"),
                     FileType::Long},
        StreamedCase{"surrogate", TIER_HEAD + interval("a\xED\xA0\x80"), FileType::Long},
        StreamedCase{"cut_character_at_the_end", TIER_HEAD + interval("a") + "\xF0\x9F\x98",
                     FileType::Long},
        StreamedCase{"bad_text_after_a_fault",
                     "item [1]:\nintervals [1]:\nitem [2]:\nclass = \"Bad\"\n" + interval("\xC3(") +
                         interval("b"),
                     FileType::Long},
        StreamedCase{"auto", TIER_HEAD + interval("a\n\"\"intervals [3]:") + interval("b"),
                     FileType::Auto},
        StreamedCase{"no_line_feed_at_the_end",
                     TIER_HEAD + interval("a") + "intervals [2]:", FileType::Long}),
    [](const auto& info) { return std::string(info.param.title); });

// A character cut short, wherever the pieces' ends fall around it.
TEST(LongStreamed, FindsACharacterCutShortAtAnyOffset) {
    // Lines added at the end move the pieces' ends by a fraction of a byte each.
    for (std::size_t shift = 0; shift < 48; ++shift) {
        expect_same_streamed(TIER_HEAD + interval("\xE3\x80") + interval("a") +
                             std::string(shift, '\n'));
        if (HasFatalFailure()) return;
    }
}

// Files this way does not read are left to the whole read, untouched.
TEST(LongStreamed, LeavesOtherFilesToTheWholeRead) {
    const auto declined = [](const std::string& name, const std::string& text, FileType type) {
        bool handed = false;
        const RowObserver observe = [&](const Tier&, bool, std::span<const Item>) {
            handed = true;
        };
        const auto streamed =
            read_streamed(support::temp_file(name, text), false, type, observe, 2, 64, 16);
        return !streamed.has_value() && !handed;
    };
    const std::string long_text = TIER_HEAD + interval("a");
    EXPECT_TRUE(declined("small.TextGrid", "item []:\n", FileType::Long));
    EXPECT_TRUE(declined("short.TextGrid", long_text, FileType::Short));
    EXPECT_TRUE(declined("utf16.TextGrid", "\xFF\xFE" + long_text, FileType::Long));
    EXPECT_TRUE(
        declined("mac.TextGrid", "item []:\r" + std::string(100, 'a') + "\r", FileType::Long));
    EXPECT_TRUE(
        declined("no_tier_list.TextGrid", "\"ooTextFile\"\n\"TextGrid\"\n0\n9\n", FileType::Auto));
}

// A FIFO read with its rows handed over is opened once: its writer meets one
// reader, which gets every byte.
TEST(LongStreamed, LeavesAFifoToTheWholeRead) {
    const std::string text = TIER_HEAD + interval("a") + interval("b");
    const std::string fifo = support::temp_file("streamed.fifo", "");
    ASSERT_EQ(std::remove(fifo.c_str()), 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        const int out = ::open(fifo.c_str(), O_WRONLY);
        if (out < 0) return;
        const ssize_t written = ::write(out, text.data(), text.size());
        (void)written;
        ::close(out);
    });
    support::HandedRows rows;
    auto read = std::async(std::launch::async, [&] {
        return read_textgrid(fifo, false, "long", rows.observer(), AfterReading::ReleaseText);
    });
    const bool done = read.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!done) {
        // A reader still waiting for a writer: give it one, then fail.
        ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    }
    auto result = read.get();
    writer.join();
    std::remove(fifo.c_str());
    ASSERT_TRUE(done) << "the read waited for a second writer";
    ASSERT_TRUE(result) << render(result);
    ASSERT_TRUE(rows.put_back(result.value()));
    EXPECT_TRUE(same_results(result, parse_long_text_one_pass(text, false)));
}

// Real files from many tools, read this way in pieces of a few hundred bytes.
TEST(LongStreamed, ReadsRealFilesAsTheWholeReadDoes) {
    const std::filesystem::path corpus =
        std::filesystem::path(TEXTGRID_TEST_DATA) / "../../../../shared/realworld/corpus";
    if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no corpus of real files beside";
    std::size_t streamed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        for (const bool strict : {false, true}) {
            const auto whole = read_textgrid(entry.path().string(), strict, "auto");
            support::HandedRows rows;
            auto read = read_streamed(entry.path().string(), strict, FileType::Auto,
                                      rows.observer(), 2, 700, 1);
            if (!read) continue;
            ++streamed;
            if (*read) {
                ASSERT_TRUE(rows.put_back(read->value())) << entry.path();
            }
            ASSERT_TRUE(same_results(*read, whole)) << entry.path() << " strict = " << strict;
        }
    }
    EXPECT_GT(streamed, 100u);
}
