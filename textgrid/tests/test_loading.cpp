// Loading files: reading paths of every size, encodings, the operating
// system's errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "read/loading.hpp"
#include "reference_text.hpp"
#include "runtime/parallel.hpp"
#include "temp_files.hpp"
#include "text/utf8.hpp"

using namespace textgrid;
using namespace std::string_literals;

namespace {

std::string temp_file(const std::string& name, const std::string& bytes) {
    return support::temp_file("reader_text_" + name, bytes);
}

std::string utf16(const std::u16string& text, bool big_endian, bool with_mark = true) {
    return reference::utf16_bytes(with_mark ? u"\uFEFF" + text : text, big_endian);
}

// `bytes` loaded through a pipe: read in one run, then checked, where a file's
// pieces are checked as they are read.
Result<LoadedText> load_through_pipe(const std::string& bytes) {
    const std::string path = support::temp_path("reader_text_pipe");
    ::unlink(path.c_str());
    if (::mkfifo(path.c_str(), 0600) != 0) return errors::read_failed(errno);
    std::thread writer([&] {
        const int fd = ::open(path.c_str(), O_WRONLY);
        for (std::size_t at = 0; fd >= 0 && at < bytes.size();) {
            const ssize_t wrote = ::write(fd, bytes.data() + at, bytes.size() - at);
            if (wrote <= 0) break;
            at += static_cast<std::size_t>(wrote);
        }
        if (fd >= 0) ::close(fd);
    });
    auto loaded = load_text(path);
    writer.join();
    return loaded;
}

// The loaded text, or "error: " and the message.
std::string loaded_or_error(const Result<LoadedText>& text) {
    return text ? std::string(text.value().view()) : "error: " + text.error().to_string();
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
    EXPECT_EQ(loaded_or_error(text), c.expected);
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

// Files from 32 MB on take another road into memory (a mapping of their own,
// kept for the next such file once a text is done with it).
TEST(LoadTextLarge, ReadsWholeFilesOfEverySize) {
    for (const std::size_t size :
         {std::size_t{1} << 20, (std::size_t{1} << 20) + 4093, (std::size_t{32} << 20) - 1,
          std::size_t{32} << 20, (std::size_t{40} << 20) + 5, (std::size_t{33} << 20)}) {
        std::string bytes(size, 'x');
        for (std::size_t i = 0; i < size; i += 97) bytes[i] = '\n';
        bytes.replace(size / 2, 2, "\xC3\xA9");
        const std::string path = temp_file("large_" + std::to_string(size), bytes);
        auto loaded = load_text(path);
        ASSERT_TRUE(loaded) << loaded.error().to_string();
        LoadedText moved = std::move(loaded).value();
        EXPECT_TRUE(moved.view() == bytes) << size;
        bytes[size - 1] = '\xFF';
        auto invalid = load_text(temp_file("large_bad", bytes));
        ASSERT_FALSE(invalid);
        EXPECT_EQ(invalid.error().to_string(), "stream did not contain valid UTF-8");
    }
}

// Large texts are checked in stretches on the pool, each in runs as it arrives;
// characters of every length, broken in every way right at and around the cuts
// (between stretches and between runs), must get the verdict a check from the
// start gives.
TEST(LoadTextLarge, StretchesGiveTheVerdictOfOneCheck) {
    const std::string characters = "a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E";  // a é € 𝄞
    // Stretches long enough to arrive in more than one run.
    const std::size_t stretch = CHECKED_AFTER_BYTES + (std::size_t{64} << 10);
    const std::size_t size = piece_count(std::size_t{1} << 30, thread_count()) * stretch;
    if (size > (std::size_t{64} << 20)) GTEST_SKIP() << "too many processors for one such file";
    std::string pattern;
    while (pattern.size() < size) pattern += characters;
    // Shifted by 0 to 9 bytes, the cuts fall on every byte of every character.
    for (std::size_t shift = 0; shift < characters.size(); ++shift) {
        const std::string text = std::string(shift, 'x') + pattern;
        auto loaded = load_text(temp_file("stretch", text));
        ASSERT_TRUE(loaded) << "shift " << shift;
        EXPECT_TRUE(loaded.value().view() == text);
    }
    const std::string text = "xyz" + pattern;
    // The pieces say where they were cut.
    auto loaded = load_text(temp_file("stretch", text));
    ASSERT_TRUE(loaded);
    const auto& pieces = loaded.value().pieces();
    if (pieces.size() < 3)
        GTEST_SKIP() << "not read in pieces with " << thread_count() << " processors";
    std::vector<std::size_t> cuts;
    for (const std::size_t k : {std::size_t{1}, pieces.size() / 2, pieces.size() - 1})
        cuts.push_back(pieces[k].begin);
    cuts.push_back(cuts.front() + CHECKED_AFTER_BYTES);
    for (const std::size_t cut : cuts) {
        for (std::size_t at = cut - 3; at <= cut + 3; ++at) {
            for (const char broken : {'\x80', '\xC3', '\xE2', '\xF0', 'z'}) {
                std::string bytes = text;
                bytes[at] = broken;
                const bool valid = reference::valid_utf8(bytes);
                ASSERT_EQ(bool(load_text(temp_file("stretch", bytes))), valid)
                    << "byte " << at << " (cut " << cut << ") = " << int(broken);
                if (cut != cuts[1]) continue;
                ASSERT_EQ(bool(load_through_pipe(bytes)), valid)
                    << "through a pipe: byte " << at << " (cut " << cut << ") = " << int(broken);
            }
        }
    }
    for (const std::string end : {"\xF0\x9D\x84", "\xE2\x82", "\xC3"}) {
        EXPECT_FALSE(load_text(temp_file("stretch", text + end))) << "cut off at the end";
    }
}

TEST(LoadTextLarge, DecodesLargeUtf16) {
    std::u16string text(600000, u'a');
    text[1000] = u'\n';
    text[300000] = u'\u00E9';
    auto loaded = load_text(temp_file("large_utf16", utf16(text, false)));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded.value().view().size(), 600001u);
    EXPECT_EQ(loaded.value().view().substr(300000, 2), "\xC3\xA9");
}

// Beyond a few MB a UTF-16 text is turned into UTF-8 a piece per worker: a pair
// of surrogates every four units, so cuts between pieces fall inside pairs
// (which must move them past), and faults in any piece.
TEST(LoadTextLarge, DecodesUtf16SpreadOverThePool) {
    std::u16string text;
    std::string expected;
    while (text.size() < (std::size_t{3} << 20)) {
        text += u"x\U0001F600\u00E9\n";
        expected += "x\U0001F600\u00E9\n";
    }
    for (const bool big_endian : {true, false}) {
        auto loaded = load_text(temp_file("spread_utf16", utf16(text, big_endian)));
        ASSERT_TRUE(loaded);
        EXPECT_TRUE(loaded.value().view() == expected);
        for (const std::size_t at : {std::size_t{1}, text.size() / 2, text.size() - 1}) {
            std::u16string broken = text;
            broken[at] = u'\xDC00';
            const auto path = temp_file("spread_utf16", utf16(broken, big_endian));
            EXPECT_EQ(loaded_or_error(load_text(path)),
                      "error: stream did not contain valid UTF-16");
        }
    }
}

TEST(CountQuotesAndLineFeeds, AgreesWithCountingByteByByte) {
    std::string text;
    unsigned state = 12345;
    for (const std::size_t size : {0u, 15u, 16u, 4079u, 4080u, 4096u, 70001u}) {
        while (text.size() < size) {
            state = state * 1103515245u + 12345u;
            const char BYTES[] = {'"', '\n', 'a', ' ', '\r', '\xC3'};
            text += BYTES[(state >> 16) % 6];
        }
        const std::string_view part(text.data(), size);
        const auto count = count_quotes_and_line_feeds(part);
        EXPECT_EQ(count.quotes, static_cast<std::size_t>(std::count(part.begin(), part.end(), '"')))
            << size;
        EXPECT_EQ(count.line_feeds,
                  static_cast<std::size_t>(std::count(part.begin(), part.end(), '\n')))
            << size;
    }
}

// Skipping a count of line feeds lands just past the last of them, whether
// they lie in one vector block, across blocks or in the tail; with too few,
// at the end with the rest still wanted.
TEST(SkipLineFeeds, LandsJustPastTheLastOne) {
    std::string text;
    unsigned state = 777;
    while (text.size() < 1000) {
        state = state * 1103515245u + 12345u;
        text += (state >> 16) % 5 == 0 ? '\n' : 'x';
    }
    const char* const end = text.data() + text.size();
    for (std::size_t from = 0; from < 70; ++from) {
        std::vector<const char*> after_feed;  // just past each line feed from `from` on
        for (const char* p = text.data() + from; p < end; ++p)
            if (*p == '\n') after_feed.push_back(p + 1);
        for (std::uint64_t lines = 0; lines <= after_feed.size() + 1; ++lines) {
            std::uint64_t left = lines;
            const char* got = scan::skip_line_feeds(text.data() + from, end, left);
            const bool enough = lines <= after_feed.size();
            const char* want = lines == 0 ? text.data() + from
                               : enough   ? after_feed[lines - 1]
                                          : end;
            ASSERT_EQ(got, want) << "from " << from << ", " << lines << " lines";
            ASSERT_EQ(left, enough ? 0 : lines - after_feed.size());
        }
    }
}

// The first byte beyond ASCII is found exactly, wherever it lies in or across
// the blocks of the vector steps, and a text without one is crossed whole.
class SkipAscii : public ::testing::TestWithParam<unsigned char> {};

TEST_P(SkipAscii, StopsAtTheFirstByteBeyondAscii) {
    for (std::size_t size = 0; size <= 150; ++size) {
        for (std::size_t at = 0; at <= size; ++at) {
            std::string text(size, 'a');
            if (at < size) text[at] = static_cast<char>(GetParam());
            const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
            EXPECT_EQ(scan::skip_ascii(begin, begin + size), begin + at) << size << " " << at;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Bytes, SkipAscii, ::testing::Values(0x80, 0xC3, 0xFF));

// The first wanted byte is found exactly, in a vector block or in the tail and
// with another after it; a text without one is crossed whole.
TEST(FindByte, StopsAtTheFirstWantedByte) {
    for (const char wanted : {'\n', '"'}) {
        for (std::size_t size = 0; size <= 40; ++size) {
            for (std::size_t at = 0; at <= size; ++at) {
                std::string text(size, ' ');
                if (at < size) text[at] = wanted;
                if (at + 1 < size) text[size - 1] = wanted;
                const char* const begin = text.data();
                EXPECT_EQ(scan::find_byte(begin, begin + size, wanted), begin + at)
                    << size << " " << at;
            }
        }
    }
}
