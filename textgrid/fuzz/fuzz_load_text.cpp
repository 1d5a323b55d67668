// load_text on raw bytes written to a file, checked against a plain reference
// decoder: UTF-16 with either mark becomes UTF-8, everything else must be
// valid UTF-8 and comes back unchanged, but for a text without a line feed,
// whose carriage returns become line feeds.
//   (build as in fuzz_parse_long.cpp)
//   build/fuzz/textgrid/fuzz/fuzz_load_text -max_total_time=300 /tmp/corpus-load
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.hpp"
#include "read/loading.hpp"

namespace {

void break_lines_at_carriage_returns(std::string& text) {
    if (text.find('\n') != std::string::npos) return;
    for (char& c : text) {
        if (c == '\r') c = '\n';
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::TempFile file("load");
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::FILE* out = std::fopen(file.path.c_str(), "wb");
    if (!out) fuzz::fail("cannot write the temporary file");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);

    const auto loaded = textgrid::load_text(file.path);
    std::optional<std::string> expected;
    const bool marked =
        size >= 2 && ((data[0] == 0xFE && data[1] == 0xFF) || (data[0] == 0xFF && data[1] == 0xFE));
    if (marked) {
        expected = reference::utf16_to_utf8(bytes, data[0] == 0xFE);
    } else if (reference::valid_utf8(bytes)) {
        expected = std::string(bytes);
    }
    if (expected) break_lines_at_carriage_returns(*expected);
    if (loaded.ok() != expected.has_value()) {
        fuzz::fail("load_text accepts differently:",
                   loaded.ok() ? "accepted" : loaded.error().to_string());
    }
    if (loaded.ok() && loaded.value().view() != *expected)
        fuzz::fail("load_text decodes differently");
    if (!loaded.ok()) {
        const std::string message = loaded.error().to_string();
        const char* wanted =
            marked ? "stream did not contain valid UTF-16" : "stream did not contain valid UTF-8";
        if (message != wanted) fuzz::fail("unexpected message:", message);
    }
    return 0;
}
