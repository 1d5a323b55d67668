// The text helpers against plain reference versions: decode_praat_string,
// parse_f64_or_zero (strtod in the "C" locale on the accepted grammar),
// parse_count_or_zero, trim, split_key_value and the logical lines.
//   (build as in fuzz_parse_long.cpp)
//   build/fuzz/textgrid/fuzz/fuzz_text -max_total_time=300 /tmp/corpus-text
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "text/numbers.hpp"
#include "text/text.hpp"

namespace {

bool same_number(double a, double b) {
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    return support::same_bits(a, b);
}

void check_number(std::string_view text) {
    const double got = textgrid::parse_f64_or_zero(text);
    const double expected = reference::parse_f64_or_zero(text);
    if (!same_number(got, expected)) {
        fuzz::fail("parse_f64_or_zero:", std::string(text) + " gave " + std::to_string(got));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    std::string decoded = "left over";
    textgrid::decode_praat_string(text, decoded);
    if (decoded != reference::decode_praat_string(text)) fuzz::fail("decode_praat_string");
    check_number(text);
    if (textgrid::parse_count_or_zero(text) != reference::count_or_zero(text))
        fuzz::fail("parse_count_or_zero");

    const std::string_view trimmed = reference::trim(text);
    if (textgrid::trim(text) != trimmed) fuzz::fail("trim");
    if (textgrid::trim_back(textgrid::trim_front(text)) != trimmed) fuzz::fail("trim in two steps");
    if (!trimmed.empty() && textgrid::trim(text).data() != trimmed.data())
        fuzz::fail("trim does not return a view");

    const auto expected = reference::lines(text);
    textgrid::LineCursor cursor(text);
    textgrid::Line line;
    std::size_t count = 0;
    while (cursor.next(line)) {
        if (count >= expected.size()) fuzz::fail("more logical lines than expected");
        if (line.text != expected[count].text ||
            (!line.text.empty() && line.text.data() != expected[count].text.data()) ||
            line.number != expected[count].number) {
            fuzz::fail("logical line", std::to_string(count));
        }
        ++count;
    }
    if (count != expected.size()) fuzz::fail("fewer logical lines than expected");

    std::string_view key, value;
    if (textgrid::split_key_value(text, key, value)) {
        const std::size_t equals = text.find('=');
        if (key != reference::trim(text.substr(0, equals)) ||
            value != reference::trim(text.substr(equals + 1))) {
            fuzz::fail("split_key_value");
        }
    } else if (text.find('=') != std::string_view::npos) {
        fuzz::fail("split_key_value missed '='");
    }
    return 0;
}
