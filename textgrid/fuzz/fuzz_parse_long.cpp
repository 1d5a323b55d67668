// Long-layout reader: the one-pass reading and the piecewise reading (P taken
// from the first byte, pieces of about 20 bytes) must give the same document
// or the same error for any text, also when the piece counts come from loading.
// The rows handed to an observer while the pieces are read, put back, must give
// the document read.
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
#include "read/parser_long.hpp"
#include "runtime/parallel.hpp"
#include "text/byte_scan.hpp"

namespace {

// Counts for the pieces parallel_map_pieces cuts the text into, as loading
// hands them over.
std::vector<textgrid::QuoteAndLineCount> piece_counts(std::string_view text,
                                                      std::size_t processors) {
    const std::size_t pieces = textgrid::piece_count(text.size(), processors);
    std::vector<textgrid::QuoteAndLineCount> counts;
    for (std::size_t k = 0; k < pieces; ++k) {
        const std::size_t begin = textgrid::piece_begin(text.size(), pieces, k);
        const std::size_t end = textgrid::piece_begin(text.size(), pieces, k + 1);
        counts.push_back(textgrid::count_quotes_and_line_feeds(text.substr(begin, end - begin)));
    }
    return counts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool strict = data[0] & 0x80;
    const std::size_t processors = 1 + (data[0] & 0x0F);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto one_pass = textgrid::parse_long_text_one_pass(text, strict);
    const auto pieces = textgrid::parse_long_text_in_pieces(text, strict, processors);
    if (!support::same_results(one_pass, pieces)) {
        fuzz::fail("one pass and pieces differ:",
                   support::render(one_pass) + " vs " + support::render(pieces));
    }
    support::HandedRows rows;
    auto counted = textgrid::parse_long_text_in_pieces(
        text, strict, processors, piece_counts(text, processors), rows.observer());
    if (counted && !rows.put_back(counted.value())) {
        fuzz::fail("rows handed over while reading do not fit the document's tiers");
    }
    if (!support::same_results(one_pass, counted)) {
        fuzz::fail("one pass and pieces with loading's counts differ:",
                   support::render(one_pass) + " vs " + support::render(counted));
    }
    return 0;
}
