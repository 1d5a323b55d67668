// Writer round trip: a document built from the bytes (any names and labels,
// finite times of any bits), rendered in both layouts and read back, gives the
// same names, labels and time bits; stored with write_textgrid and read with
// read_textgrid it gives them too when its texts are UTF-8 (other bytes must
// fail the load, nothing else).
//   (build as in fuzz_parse_long.cpp)
//   build/fuzz/textgrid/fuzz/fuzz_roundtrip -max_total_time=300 /tmp/corpus-roundtrip
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.hpp"
#include "read/lib.hpp"
#include "read/long_pieces.hpp"
#include "read/parser_long.hpp"
#include "read/parser_short.hpp"
#include "write/writer.hpp"

namespace {

double finite_time(FuzzedDataProvider& input) {
    // Mostly ordinary times, sometimes any finite bit pattern.
    if (input.ConsumeBool()) return input.ConsumeIntegralInRange<int>(-100000, 100000) / 1000.0;
    double value = 0;
    const std::uint64_t bits = input.ConsumeIntegral<std::uint64_t>();
    std::memcpy(&value, &bits, sizeof value);
    return std::isfinite(value) ? value : 0.0;
}

textgrid::TextGrid build(FuzzedDataProvider& input) {
    textgrid::TextGrid grid;
    grid.tmin = finite_time(input);
    grid.tmax = finite_time(input);
    const std::size_t tiers = input.ConsumeIntegralInRange<std::size_t>(0, 4);
    for (std::size_t t = 0; t < tiers; ++t) {
        textgrid::Tier tier;
        tier.is_interval = input.ConsumeBool();
        tier.name = input.ConsumeRandomLengthString(40);
        tier.tmin = finite_time(input);
        tier.tmax = finite_time(input);
        const std::size_t items = input.ConsumeIntegralInRange<std::size_t>(0, 8);
        for (std::size_t i = 0; i < items; ++i) {
            textgrid::Item item;
            item.tmin = finite_time(input);
            item.tmax = tier.is_interval ? finite_time(input) : item.tmin;
            item.label = input.ConsumeRandomLengthString(40);
            tier.items.push_back(std::move(item));
        }
        tier.size = tier.items.size();
        grid.tiers.push_back(std::move(tier));
    }
    grid.size = grid.tiers.size();
    return grid;
}

bool all_text_utf8(const textgrid::TextGrid& grid) {
    for (const auto& tier : grid.tiers) {
        if (!reference::valid_utf8(tier.name)) return false;
        for (const auto& item : tier.items) {
            if (!reference::valid_utf8(item.label)) return false;
        }
    }
    return true;
}

void check_file_round_trip(const textgrid::TextGrid& grid, textgrid::FileType type,
                           std::size_t processors) {
    static const fuzz::TempFile file("roundtrip");
    const bool is_long = type == textgrid::FileType::Long;
    if (!textgrid::write_textgrid(grid, file.path, type, processors))
        fuzz::fail("cannot store", file.path);
    const auto back = textgrid::read_textgrid(file.path, false, is_long ? "long" : "short");
    if (all_text_utf8(grid)) {
        if (!support::same_results(textgrid::Result<textgrid::TextGrid>(grid), back)) {
            fuzz::fail(is_long ? "long file round trip:" : "short file round trip:",
                       support::render(back));
        }
    } else if (back.ok() || back.error().to_string() != "stream did not contain valid UTF-8") {
        fuzz::fail("text that is not UTF-8 read back:", support::render(back));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::size_t processors = input.ConsumeIntegralInRange<std::size_t>(1, 8);
    const textgrid::TextGrid grid = build(input);
    const textgrid::Result<textgrid::TextGrid> original(grid);

    const std::string long_text = textgrid::render_long(grid, processors);
    const auto long_back = textgrid::parse_long_text(long_text, false);
    if (!support::same_results(original, long_back))
        fuzz::fail("long round trip:", support::render(long_back));
    const auto long_pieces = textgrid::read_long_in_pieces(
        textgrid::PieceSource(long_text), long_text.size(),
        {false, false, {std::max<std::size_t>(processors, 2), 8}, false}, {});
    if (!support::same_results(original, long_pieces)) fuzz::fail("long round trip in pieces");

    const std::string short_text = textgrid::render_short(grid, processors);
    const auto short_back = textgrid::parse_short_text(short_text, false);
    if (!support::same_results(original, short_back))
        fuzz::fail("short round trip:", support::render(short_back));

    check_file_round_trip(grid, textgrid::FileType::Long, processors);
    check_file_round_trip(grid, textgrid::FileType::Short, processors);
    return 0;
}
