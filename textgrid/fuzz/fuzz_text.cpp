// The text helpers against plain reference versions: decode_praat_string,
// parse_f64_or_zero (strtod in the "C" locale on the accepted grammar),
// parse_count_or_zero, trim and its inline fast forms, and the logical lines.
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
#include "line_scan.hpp"
#include "text.hpp"

namespace {

std::string reference_decode(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        const std::string_view inner = text.substr(1, text.size() - 2);
        std::string out;
        for (std::size_t i = 0; i < inner.size(); ++i) {
            out += inner[i];
            if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"') ++i;
        }
        return out;
    }
    while (!text.empty() && text.front() == '"') text.remove_prefix(1);
    while (!text.empty() && text.back() == '"') text.remove_suffix(1);
    return std::string(text);
}

bool lower_equals(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
        if (c != lower[i]) return false;
    }
    return true;
}

// [+-]? (digits [. digits?] | . digits) ([eE] [+-]? digits)?  or the three names.
bool accepted_number(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const std::string_view body = text.substr(i);
    if (lower_equals(body, "nan") || lower_equals(body, "inf") || lower_equals(body, "infinity")) return true;
    const auto digits = [&] {
        const std::size_t from = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i - from;
    };
    std::size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (digits() == 0) return false;
    }
    return i == text.size();
}

bool same_number(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    return support::same_bits(a, b);
}

void check_number(std::string_view text) {
    const double got = textgrid::parse_f64_or_zero(text);
    double expected = 0.0;
    if (accepted_number(text)) {
        const std::string terminated(text);
        expected = std::strtod(terminated.c_str(), nullptr);
    }
    if (!same_number(got, expected)) {
        fuzz::fail("parse_f64_or_zero:", std::string(text) + " gave " + std::to_string(got));
    }
}

std::uint64_t reference_count(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return 0;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return 0;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return value;
}

constexpr std::string_view kSpaces[] = {
    "\t", "\n", "\v", "\f", "\r", " ", "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80",
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84",
    "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89",
    "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80"};

// Both ends in one loop: every space starts with a lead byte and none is a
// prefix of another, so a cut at one end never reaches into one at the other.
std::string_view reference_trim(std::string_view text) {
    for (bool cut = true; cut;) {
        cut = false;
        for (const auto space : kSpaces) {
            if (text.starts_with(space)) {
                text.remove_prefix(space.size());
                cut = true;
            }
            if (text.ends_with(space)) {
                text.remove_suffix(space.size());
                cut = true;
            }
        }
    }
    return text;
}

std::vector<textgrid::Line> reference_lines(std::string_view text) {
    std::vector<textgrid::Line> lines;
    std::size_t number = 1, position = 0;
    while (position < text.size()) {
        textgrid::Line line;
        line.number = number;
        std::size_t quotes = 0, end = position;
        for (;;) {
            std::size_t feed = text.find('\n', end);
            if (feed == std::string_view::npos) feed = text.size();
            for (std::size_t i = end; i < feed; ++i) quotes += text[i] == '"';
            end = feed;
            if (feed < text.size()) ++number;
            if (quotes % 2 == 0 || feed == text.size()) break;
            ++end;
        }
        line.text = reference_trim(text.substr(position, end - position));
        lines.push_back(line);
        position = end + 1;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (textgrid::decode_praat_string(text) != reference_decode(text)) fuzz::fail("decode_praat_string");
    check_number(text);
    if (textgrid::parse_count_or_zero(text) != reference_count(text)) fuzz::fail("parse_count_or_zero");

    const std::string_view trimmed = reference_trim(text);
    if (textgrid::trim(text) != trimmed) fuzz::fail("trim");
    if (textgrid::scan::trim_quickly(text) != trimmed) fuzz::fail("trim_quickly");
    if (!trimmed.empty() && textgrid::trim(text).data() != trimmed.data()) fuzz::fail("trim does not return a view");

    const auto expected = reference_lines(text);
    textgrid::LineCursor cursor(text);
    textgrid::Line line;
    std::size_t count = 0;
    while (cursor.next(line)) {
        if (count >= expected.size()) fuzz::fail("more logical lines than expected");
        if (line.text != expected[count].text || (!line.text.empty() && line.text.data() != expected[count].text.data()) ||
            line.number != expected[count].number) {
            fuzz::fail("logical line", std::to_string(count));
        }
        ++count;
    }
    if (count != expected.size()) fuzz::fail("fewer logical lines than expected");

    if (const auto pair = textgrid::split_key_value(text)) {
        const std::size_t equals = text.find('=');
        if (pair->first != reference_trim(text.substr(0, equals)) ||
            pair->second != reference_trim(text.substr(equals + 1))) {
            fuzz::fail("split_key_value");
        }
    } else if (text.find('=') != std::string_view::npos) {
        fuzz::fail("split_key_value missed '='");
    }
    return 0;
}
