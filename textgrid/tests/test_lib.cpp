#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "names.hpp"
#include "read/lib.hpp"
#include "render.hpp"
#include "temp_files.hpp"

using namespace textgrid;
using support::render;

namespace {

std::string temp_file(const std::string& name, const std::string& bytes) {
    return support::temp_file("reader_lib_" + name, bytes);
}

std::string param_name(const ::testing::TestParamInfo<const char*>& info) {
    return support::case_name(info.param);
}

const std::string LONG =
    "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0\nxmax = 1\n"
    "tiers? <exists>\nsize = 1\nitem []:\n    item [1]:\n        class = \"TextTier\"\n"
    "        name = \"p\"\n        xmin = 0\n        xmax = 1\n        points: size = 0\n";
const std::string SHORT =
    "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n0\n1\n<exists>\n1\n"
    "\"IntervalTier\"\n\"w\"\n0\n1\n1\n0\n1\n\"item []\"\n";

std::string cr_only(std::string text) {
    std::replace(text.begin(), text.end(), '\n', '\r');
    return text;
}

}  // namespace

struct ReadCase {
    const char* title;
    std::string bytes;
    const char* file_type;
    std::string expected;
};

class ReadTextGrid : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadTextGrid, PicksTheLayout) {
    const auto& c = GetParam();
    EXPECT_EQ(render(read_textgrid(temp_file(c.title, c.bytes), false, c.file_type)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadTextGrid,
    ::testing::Values(
        ReadCase{"auto_long", LONG, "auto", "0 1 1 | P 'p' 0 1 0:"},
        ReadCase{"long_long", LONG, "long", "0 1 1 | P 'p' 0 1 0:"},
        // The label holds "item []", so auto takes the long parser, which finds no keys.
        ReadCase{"auto_short_with_marker", SHORT, "auto", "0 0 0"},
        ReadCase{"short_short", SHORT, "short", "0 1 1 | I 'w' 0 1 1: (0,1,'item []')"},
        ReadCase{"auto_short", SHORT.substr(0, SHORT.size() - 10) + "\"x\"\n", "auto",
                 "0 1 1 | I 'w' 0 1 1: (0,1,'x')"},
        ReadCase{"auto_tiny", "abc", "auto", "error: Unexpected end of file at line 4"},
        ReadCase{"auto_elan_marker", "xmin = 0\nxmax = 3\nitem[]:\n", "auto", "0 3 0"},
        ReadCase{"auto_long_without_marker",
                 "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0\nxmax = 1\n"
                 "tiers? <absent>\n",
                 "auto", "error: Unexpected end of file at line 7"},
        ReadCase{"long_without_marker",
                 "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0\nxmax = 1\n"
                 "tiers? <absent>\n",
                 "long", "0 1 0"},
        ReadCase{"utf8_mark", "\xEF\xBB\xBF" + LONG, "auto", "0 1 1 | P 'p' 0 1 0:"},
        ReadCase{"long_cr_only", cr_only(LONG), "auto", "0 1 1 | P 'p' 0 1 0:"},
        ReadCase{"short_cr_only", cr_only(SHORT), "short", "0 1 1 | I 'w' 0 1 1: (0,1,'item []')"},
        ReadCase{"short_cr_only_cut", cr_only(SHORT.substr(0, 56)), "short",
                 "error: Unexpected end of file at line 7"},
        ReadCase{"bad_utf8_long", "\xFFxyz", "long", "error: stream did not contain valid UTF-8"},
        ReadCase{"bad_utf8_short", "\xFFxyz", "short",
                 "error: stream did not contain valid UTF-8"}),
    [](const auto& info) { return std::string(info.param.title); });

class LoadErrorsWhateverTheType : public ::testing::TestWithParam<const char*> {};

TEST_P(LoadErrorsWhateverTheType, AreReturned) {
    auto missing = read_textgrid(support::temp_path("reader_lib_missing"), true, GetParam());
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::Os);
    EXPECT_EQ(missing.error().os_code(), 2);
    auto nul = read_textgrid(std::string("a\0b", 3), true, GetParam());
    ASSERT_FALSE(nul);
    EXPECT_EQ(nul.error().to_string(), "file name contained an unexpected NUL byte");
}

INSTANTIATE_TEST_SUITE_P(Types, LoadErrorsWhateverTheType,
                         ::testing::Values("auto", "long", "short"), param_name);

class UnknownFileType : public ::testing::TestWithParam<const char*> {};

TEST_P(UnknownFileType, FailsBeforeTheFileIsTouched) {
    try {
        (void)read_textgrid("/no/such/file", false, GetParam());
        FAIL() << "no failure raised";
    } catch (const InternalFailure& failure) {
        EXPECT_EQ(failure.message(), std::string("Unknown file type: ") + GetParam());
    }
}

INSTANTIATE_TEST_SUITE_P(Types, UnknownFileType,
                         ::testing::Values("Long", "SHORT", "", "long ", " auto"), param_name);

// A regular file's size is told once, before any row; a FIFO has none to tell,
// and its rows still come.
TEST(ReadTextGridSize, IsToldBeforeTheRowsOfARegularFileOnly) {
    for (const bool fifo : {false, true}) {
        std::string path = temp_file(fifo ? "size.fifo" : "size.TextGrid", fifo ? "" : SHORT);
        std::thread writer;
        if (fifo) {
            ASSERT_EQ(std::remove(path.c_str()), 0);
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
            writer = std::thread([&] {
                const int out = ::open(path.c_str(), O_WRONLY);
                if (out < 0) return;
                (void)!::write(out, SHORT.data(), SHORT.size());
                ::close(out);
            });
        }
        std::vector<std::string> told;
        const auto read = read_textgrid(
            path, true, "short",
            [&](const Tier&, bool, std::span<const Item> items) {
                if (!items.empty()) told.push_back("rows");
            },
            AfterReading::KeepText,
            [&](std::uint64_t bytes) { told.push_back(std::to_string(bytes)); });
        if (writer.joinable()) writer.join();
        std::remove(path.c_str());
        ASSERT_TRUE(read) << render(read);
        const std::vector<std::string> expected =
            fifo ? std::vector<std::string>{"rows"}
                 : std::vector<std::string>{std::to_string(SHORT.size()), "rows"};
        EXPECT_EQ(told, expected);
    }
}
