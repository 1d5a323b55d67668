// UTF-16 to UTF-8: every unit in and across the eight-unit blocks, in both
// byte orders, against the plain encoder that takes one code point at a time.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "reference_text.hpp"
#include "text/utf16.hpp"

using namespace textgrid;

namespace {

struct Text {
    std::u16string units;
    std::string utf8;
};

// ASCII, with `code` (a pair if beyond the basic plane) at unit `at`.
Text with_code_at(std::size_t length, std::size_t at, char32_t code) {
    Text text;
    for (std::size_t i = 0; i < length; ++i) {
        if (i == at) {
            if (code >= 0x10000) {
                text.units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
                text.units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
            } else {
                text.units += static_cast<char16_t>(code);
            }
            reference::put_utf8(text.utf8, code);
        } else {
            const char c = static_cast<char>('a' + i % 26);
            text.units += static_cast<char16_t>(c);
            text.utf8 += c;
        }
    }
    return text;
}

std::optional<std::string> converted(const std::string& bytes, bool big_endian) {
    std::string out(bytes.size() / 2 * 3, '\0');
    const char* const end = utf16_to_utf8(bytes, big_endian, out.data());
    if (!end) return std::nullopt;
    out.resize(static_cast<std::size_t>(end - out.data()));
    return out;
}

// Codes at each end of each UTF-8 length, NUL, and units whose high byte
// alone, or low byte alone, looks like ASCII.
const std::vector<char32_t> CODES = {0x00,   0x7F,   0x80,   0x100,  0x7FF,   0x800,   0x1234,
                                     0xD7FF, 0xE000, 0xFEFF, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF};

}  // namespace

TEST(Utf16ToUtf8, EveryCodeAtEveryPlaceInAndAcrossBlocks) {
    for (const bool big_endian : {true, false}) {
        for (const char32_t code : CODES) {
            for (std::size_t length : {1u, 7u, 8u, 9u, 17u, 40u}) {
                for (std::size_t at = 0; at < length; ++at) {
                    const Text text = with_code_at(length, at, code);
                    const std::string bytes = reference::utf16_bytes(text.units, big_endian);
                    EXPECT_EQ(converted(bytes, big_endian), text.utf8)
                        << "code " << static_cast<unsigned>(code) << " at " << at << " of "
                        << length;
                    EXPECT_EQ(utf8_size_of_utf16(bytes, big_endian), text.utf8.size());
                }
            }
        }
    }
}

TEST(Utf16ToUtf8, SurrogatesOutOfTheirPairAreInvalidAnywhere) {
    // A lone high one before ASCII or at the end, a lone low one, two highs.
    const std::vector<std::u16string> faults = {
        u"\xD800"
        u"a",
        u"\xD800", u"\xDC00", u"\xDBFF\xDBFF\xDC00"};
    for (const bool big_endian : {true, false}) {
        for (const std::u16string& fault : faults) {
            for (std::size_t at = 0; at <= 24; ++at) {
                std::u16string units(24, u'x');
                units.insert(at, fault);
                if (fault == u"\xD800") units.resize(at + 1);  // at the very end
                const std::string bytes = reference::utf16_bytes(units, big_endian);
                EXPECT_EQ(converted(bytes, big_endian), std::nullopt) << "at " << at;
                EXPECT_EQ(utf8_size_of_utf16(bytes, big_endian), std::nullopt) << "at " << at;
            }
        }
    }
}
