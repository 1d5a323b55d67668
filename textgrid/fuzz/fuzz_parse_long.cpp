// Long-layout reader: the one-pass reading and the piecewise reading (P taken
// from the first byte, pieces of about 20 bytes) must give the same document
// or the same error for any text.
//   cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-16 -DVELMAR_BUILD_FUZZ=ON \
//         -DVELMAR_BUILD_MODULE=OFF -DVELMAR_BUILD_TESTS=OFF -DVELMAR_BUILD_BENCH=OFF
//   cmake --build build/fuzz --target fuzz_parse_long
//   build/fuzz/textgrid/fuzz/fuzz_parse_long -dict=textgrid/fuzz/textgrid.dict \
//         -max_total_time=300 /tmp/corpus-long textgrid/fuzz/corpus/long
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.hpp"
#include "parser_long.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool strict = data[0] & 0x80;
    const std::size_t processors = 1 + (data[0] & 0x0F);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto one_pass = textgrid::parse_long_text_one_pass(text, strict);
    const auto pieces = textgrid::parse_long_text_in_pieces(text, strict, processors);
    if (!fuzz::same_results(one_pass, pieces)) {
        fuzz::fail("one pass and pieces differ:",
                   fuzz::describe(one_pass) + " vs " + fuzz::describe(pieces));
    }
    return 0;
}
