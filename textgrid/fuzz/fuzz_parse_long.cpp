// Long-layout reader: the one-pass reading and the piecewise reading of a text
// in memory (P taken from the first byte, pieces of about 20 bytes) must give
// the same document or the same error for any text. The rows handed to an
// observer while the pieces are read, put back, must give the document read.
//   cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-16 -DVELMAR_BUILD_FUZZ=ON \
//         -DVELMAR_BUILD_MODULE=OFF -DVELMAR_BUILD_TESTS=OFF -DVELMAR_BUILD_BENCH=OFF
//   cmake --build build/fuzz --target fuzz_parse_long
//   build/fuzz/textgrid/fuzz/fuzz_parse_long -dict=textgrid/fuzz/textgrid.dict \
//         -max_total_time=300 /tmp/corpus-long textgrid/fuzz/corpus/long
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "read/long_pieces.hpp"
#include "read/parser_long.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool strict = data[0] & 0x80;
    const std::size_t processors = 1 + (data[0] & 0x0F);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto one_pass = textgrid::parse_long_text(text, strict);
    const textgrid::PiecesRequest request{strict, false, {processors, 8}, false};
    const textgrid::PieceSource source(text);
    const auto pieces = textgrid::read_long_in_pieces(source, text.size(), request, {});
    if (!support::same_results(one_pass, pieces)) {
        fuzz::fail("one pass and pieces differ:",
                   support::render(one_pass) + " vs " + support::render(pieces));
    }
    support::HandedRows rows;
    auto handed = textgrid::read_long_in_pieces(source, text.size(), request, rows.observer());
    if (handed && !rows.put_back(handed.value())) {
        fuzz::fail("rows handed over while reading do not fit the document's tiers");
    }
    if (!support::same_results(one_pass, handed)) {
        fuzz::fail("one pass and pieces handed over differ:",
                   support::render(one_pass) + " vs " + support::render(handed));
    }
    return 0;
}
