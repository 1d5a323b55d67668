// load_text on raw bytes written to a file, checked against a plain reference
// decoder: UTF-16 with either mark becomes UTF-8, everything else must be
// valid UTF-8 and comes back unchanged.
//   (build as in fuzz_parse_long.cpp)
//   build/fuzz/textgrid/fuzz/fuzz_load_text -max_total_time=300 /tmp/corpus-load
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.hpp"
#include "text.hpp"

namespace {

void put_utf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::optional<std::string> reference_utf16(std::string_view bytes, bool big) {
    if (bytes.size() % 2) return std::nullopt;
    std::string out;
    const auto unit = [&](std::size_t i) -> std::uint32_t {
        const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        return big ? (a << 8 | b) : (b << 8 | a);
    };
    for (std::size_t i = 2; i < bytes.size(); i += 2) {
        std::uint32_t c = unit(i);
        if (c >= 0xDC00 && c < 0xE000) return std::nullopt;
        if (c >= 0xD800 && c < 0xDC00) {
            if (i + 3 >= bytes.size()) return std::nullopt;
            const std::uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low >= 0xE000) return std::nullopt;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        put_utf8(out, c);
    }
    return out;
}

// Decodes every code point and re-encodes it: valid exactly when nothing changes.
bool reference_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xC0 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3 : lead >= 0xF0 && lead < 0xF8 ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        std::uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            c = c << 6 | (b & 0x3F);
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
        std::string again;
        put_utf8(again, c);
        if (again != text.substr(i, length)) return false;  // overlong
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/velmar-fuzz-load-" + std::to_string(::getpid());
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) fuzz::fail("cannot write the temporary file");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);

    const auto loaded = textgrid::load_text(path);
    std::optional<std::string> expected;
    const bool marked = size >= 2 && ((data[0] == 0xFE && data[1] == 0xFF) || (data[0] == 0xFF && data[1] == 0xFE));
    if (marked) {
        expected = reference_utf16(bytes, data[0] == 0xFE);
    } else if (reference_valid_utf8(bytes)) {
        expected = std::string(bytes);
    }
    if (loaded.ok() != expected.has_value()) {
        fuzz::fail("load_text accepts differently:", loaded.ok() ? "accepted" : loaded.error().to_string());
    }
    if (loaded.ok() && loaded.value() != *expected) fuzz::fail("load_text decodes differently");
    if (!loaded.ok()) {
        const std::string message = loaded.error().to_string();
        const char* wanted = marked ? "stream did not contain valid UTF-16" : "stream did not contain valid UTF-8";
        if (message != wanted) fuzz::fail("unexpected message:", message);
    }
    return 0;
}
