#include "numbers.hpp"

#include <charconv>
#include <limits>

namespace textgrid {

namespace {

bool equals_ignoring_case(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// For a decimal text that does not fit a double: true if it is too large (as
// opposed to too small). Compares the position of the first significant digit.
bool is_overflow(std::string_view digits) {
    long long position = 0;  // decimal exponent of the first significant digit
    bool seen_significant = false;
    bool after_point = false;
    std::size_t i = 0;
    for (; i < digits.size() && digits[i] != 'e' && digits[i] != 'E'; ++i) {
        const char c = digits[i];
        if (c == '.') {
            after_point = true;
        } else if (!seen_significant) {
            if (c != '0') {
                seen_significant = true;
                if (after_point) --position;
            } else if (after_point) {
                --position;
            }
        } else if (!after_point) {
            ++position;
        }
    }
    long long exponent = 0;
    if (i < digits.size()) {
        ++i;
        const bool negative = i < digits.size() && digits[i] == '-';
        if (i < digits.size() && (digits[i] == '-' || digits[i] == '+')) ++i;
        for (; i < digits.size(); ++i)
            exponent = std::min(exponent * 10 + (digits[i] - '0'), 1LL << 40);
        if (negative) exponent = -exponent;
    }
    return position + exponent >= 0;
}

}  // namespace

namespace detail {

std::optional<double> parse_f64_general(std::string_view text) {
    std::string_view body = text;
    bool negative = false;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (body.empty()) return std::nullopt;
    const char lead = body.front();
    if (!is_digit(lead) && lead != '.') {
        // Only the three names; from_chars would also take "nan(...)".
        if (equals_ignoring_case(body, "nan")) {
            return negative ? -std::numeric_limits<double>::quiet_NaN()
                            : std::numeric_limits<double>::quiet_NaN();
        }
        if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
            return negative ? -std::numeric_limits<double>::infinity()
                            : std::numeric_limits<double>::infinity();
        }
        return std::nullopt;
    }
    double value = 0.0;
    if (parse_plain_decimal(body, value)) return negative ? -value : value;
    const char* end = body.data() + body.size();
    const auto [stop, error] = std::from_chars(body.data(), end, value, std::chars_format::general);
    if (stop != end) return std::nullopt;
    if (error == std::errc::result_out_of_range) {
        value = is_overflow(body) ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (error != std::errc{}) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

}  // namespace detail

std::uint64_t parse_count_or_zero(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || !is_digit(text.front())) return 0;
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end) return 0;
    return value;
}

}  // namespace textgrid
