#include <gtest/gtest.h>

#include <string>

#include "exact.hpp"
#include "read/from_memory.hpp"
#include "read/lib.hpp"
#include "temp_files.hpp"

using namespace textgrid;

namespace {

const std::string LONG =
    "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0\nxmax = 2\n"
    "tiers? <exists>\nsize = 1\nitem []:\n    item [1]:\n        class = \"IntervalTier\"\n"
    "        name = \"w\"\n        xmin = 0\n        xmax = 2\n        intervals: size = 2\n"
    "        intervals [1]:\n            xmin = 0\n            xmax = 1\n"
    "            text = \"a\"\n        intervals [2]:\n            xmin = 1\n"
    "            xmax = 2\n            text = \"b\r\"\n";

std::string with_lone_crs(std::string text) {
    for (char& c : text)
        if (c == '\n') c = '\r';
    return text;
}

// Over the size from which a text is checked and read a piece per worker.
std::string large_long() {
    std::string text = LONG.substr(0, LONG.find("intervals: size"));
    text += "intervals: size = 100000\n";
    for (int i = 0; i < 100000; ++i)
        text += "        intervals [" + std::to_string(i + 1) +
                "]:\n            xmin = " + std::to_string(i) +
                "\n            xmax = " + std::to_string(i + 1) + "\n            text = \"x\"\n";
    return text;
}

struct MemoryCase {
    const char* title;
    std::string bytes;
};

class FromMemory : public ::testing::TestWithParam<MemoryCase> {};

}  // namespace

// Every reading of the bytes, strict or not and in each layout named, gives
// what reading a file of them gives, documents and errors alike.
TEST_P(FromMemory, ReadsAsTheFileOfTheSameBytes) {
    const std::string& bytes = GetParam().bytes;
    const std::string path = support::temp_file(std::string("memory_") + GetParam().title, bytes);
    for (const bool strict : {false, true}) {
        for (const char* type : {"auto", "long"}) {
            const auto from_file = read_textgrid(path, strict, type);
            const auto from_memory = read_textgrid_from_memory(bytes, strict, type);
            EXPECT_TRUE(support::same_results(from_file, from_memory)) << strict << " " << type;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Contents, FromMemory,
                         ::testing::Values(MemoryCase{"utf8", LONG},
                                           MemoryCase{"lone_crs", with_lone_crs(LONG)},
                                           // Short enough to be held inside a string object.
                                           MemoryCase{"tiny_lone_crs", "a\rb\r"},
                                           MemoryCase{"utf16", std::string("\xFF\xFE", 2) + "x"},
                                           MemoryCase{"invalid_utf8", LONG + "\xC3"},
                                           MemoryCase{"large", large_long()}),
                         [](const auto& info) { return std::string(info.param.title); });

TEST(FromMemory, AnUnknownTypeFailsBeforeTheContent) {
    EXPECT_THROW((void)read_textgrid_from_memory("\xFF", false, "LONG"), InternalFailure);
}
