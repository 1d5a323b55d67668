// Short-layout reader on any text: no crash, no leak, and every tier read
// holds exactly the items its count declared.
//   (build as in fuzz_parse_long.cpp)
//   build/fuzz/textgrid/fuzz/fuzz_parse_short -dict=textgrid/fuzz/textgrid.dict \
//         -max_total_time=300 /tmp/corpus-short textgrid/fuzz/corpus/short
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.hpp"
#include "read/parser_short.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool strict = data[0] & 1;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto result = textgrid::parse_short_text(text, strict);
    if (!result) return 0;
    if (result.value().tiers.size() != result.value().size) fuzz::fail("tier count");
    for (const auto& tier : result.value().tiers) {
        if (tier.items.size() != tier.size) fuzz::fail("item count");
        if (!tier.is_interval) {
            for (const auto& item : tier.items) {
                if (!support::same_bits(item.tmin, item.tmax)) fuzz::fail("point with two times");
            }
        }
    }
    return 0;
}
