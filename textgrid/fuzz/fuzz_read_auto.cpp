// The read entry in "auto" mode on any file. The bytes after the first (which
// picks strict and the UTF-16 byte order) are stored as they are and read:
// the result must be the loader's error, or the document the layout's parser
// gives for the loaded text. When that text is UTF-8, the same text stored as
// UTF-16 with a byte-order mark must read to the very same document or error.
// A file the streamed reading takes (pieces of a few bytes, rows handed over)
// must read to the same document or error as the whole file read at once.
//   (build as in fuzz_parse_long.cpp)
//   build/fuzz/textgrid/fuzz/fuzz_read_auto -dict=textgrid/fuzz/textgrid.dict \
//         -max_total_time=300 /tmp/corpus-auto textgrid/fuzz/corpus/load
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz_support.hpp"
#include "read/lib.hpp"
#include "read/loading.hpp"
#include "read/long_pieces.hpp"
#include "read/parser_long.hpp"
#include "read/parser_short.hpp"
#include "read/read_plan.hpp"

namespace {

void store(const std::string& path, std::string_view bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) fuzz::fail("cannot write the temporary file", path);
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
        fuzz::fail("short write", path);
    std::fclose(file);
}

// Decodes valid UTF-8 (as load_text returned it) one code point at a time.
std::uint32_t next_code_point(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k)
        c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += length;
    return c;
}

std::string utf16_with_mark(std::string_view text, bool big_endian) {
    std::string out;
    const auto put_unit = [&](std::uint32_t unit) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        out += big_endian ? high : low;
        out += big_endian ? low : high;
    };
    put_unit(0xFEFF);
    for (std::size_t i = 0; i < text.size();) {
        const std::uint32_t c = next_code_point(text, i);
        if (c < 0x10000) {
            put_unit(c);
        } else {
            put_unit(0xD800 + ((c - 0x10000) >> 10));
            put_unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return out;
}

bool names_long_layout(std::string_view text) {
    return text.find("item []") != std::string_view::npos ||
           text.find("item[]") != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const fuzz::TempFile raw("auto-raw"), utf16("auto-utf16");
    const bool strict = data[0] & 1;
    const bool big_endian = data[0] & 2;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    store(raw.path, bytes);
    const auto read = textgrid::read_textgrid(raw.path, strict, "auto");
    support::HandedRows rows;
    auto opened = textgrid::open_for_reading(raw.path);
    if (!opened) fuzz::fail("cannot open the temporary file", raw.path);
    // A long-layout file read a piece at a time straight from the file.
    const bool long_in_pieces = textgrid::long_layout_by_its_head(bytes, textgrid::FileType::Auto);
    if (long_in_pieces) {
        const std::size_t processors = 2 + (data[0] >> 7);
        const std::size_t per_processor =
            std::max<std::size_t>(1, bytes.size() / (processors * (1 + (data[0] >> 2 & 31))));
        auto streamed = textgrid::read_long_in_pieces(
            textgrid::PieceSource(opened.value().file), bytes.size(),
            {strict, true, {processors, per_processor}, false}, rows.observer());
        if (streamed && !rows.put_back(streamed.value()))
            fuzz::fail("streamed rows do not fit the document's tiers");
        if (!support::same_results(read, streamed)) {
            fuzz::fail("streamed read differs from the whole read:",
                       support::render(streamed) + " vs " + support::render(read));
        }
    }
    const auto loaded = textgrid::load_text(raw.path);
    if (!loaded) {
        if (read.ok() || !(read.error() == loaded.error()))
            fuzz::fail("load error not passed on:", support::render(read));
        return 0;
    }
    const std::string_view text = loaded.value().view();
    const auto expected = names_long_layout(text) ? textgrid::parse_long_text(text, strict)
                                                  : textgrid::parse_short_text(text, strict);
    if (!support::same_results(read, expected)) {
        fuzz::fail("auto read differs from its layout's parser:",
                   support::render(read) + " vs " + support::render(expected));
    }

    // Only text the loader passed through unchanged is known to be UTF-8 here.
    if (text != bytes) return 0;
    store(utf16.path, utf16_with_mark(text, big_endian));
    const auto read_utf16 = textgrid::read_textgrid(utf16.path, strict, "auto");
    if (!support::same_results(read, read_utf16)) {
        fuzz::fail("UTF-16 reads differently:",
                   support::render(read) + " vs " + support::render(read_utf16));
    }
    return 0;
}
