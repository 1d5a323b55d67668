#include "numbers.hpp"

#include <bit>
#include <charconv>
#include <cstring>
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

namespace {

// The digits at `p` (up to `end`) appended to `mantissa`, counted in `digits`:
// the byte past them, or nullptr past 19 digits (which could wrap). Eight bytes
// are looked at in one step where the text has them.
const char* read_digits(const char* p, const char* end, std::uint64_t& mantissa, unsigned& digits) {
    static constexpr std::uint64_t SCALES[] = {1,      10,      100,      1000,     10000,
                                               100000, 1000000, 10000000, 100000000};
    if constexpr (std::endian::native == std::endian::little) {
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            const std::uint64_t values = digit_values(word);
            const std::uint64_t others = non_digit_bytes(values);
            const unsigned run = others ? static_cast<unsigned>(std::countr_zero(others)) / 8 : 8;
            if (run == 0) return p;
            digits += run;
            if (digits > 19) return nullptr;
            mantissa = mantissa * SCALES[run] + eight_digit_value(values << (64 - 8 * run));
            p += run;
            if (run < 8) return p;
        }
    }
    for (; p < end && is_digit(*p); ++p) {
        if (++digits > 19) return nullptr;
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    return p;
}

// Up to 7 digits from digit_values, the first in the lowest byte, as a
// number: 0 for none.
std::uint64_t leading_digits_value(std::uint64_t values, unsigned digits) {
    // Two shifts: one of 64 bits would be undefined.
    return eight_digit_value((values << (56 - 8 * digits)) << 8);
}

}  // namespace

const char* read_long_fraction(const char* p, const char* end, unsigned whole, std::uint64_t values,
                               double& value) {
    static constexpr double POWERS_OF_TEN[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};
    static constexpr std::uint64_t SCALES[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
    // The fraction's first eight bytes, when it ends among them.
    const char* const fraction = p + whole + 1;
    if (end - fraction < 8) return read_plain_decimal_in_runs(p, end, value);
    std::uint64_t word;
    std::memcpy(&word, fraction, 8);
    const std::uint64_t fraction_values = digit_values(word);
    const std::uint64_t others = non_digit_bytes(fraction_values);
    if (others == 0) return read_plain_decimal_in_runs(p, end, value);
    const auto digits = static_cast<unsigned>(std::countr_zero(others)) / 8;
    const std::uint64_t mantissa = leading_digits_value(values, whole) * SCALES[digits] +
                                   leading_digits_value(fraction_values, digits);
    value = static_cast<double>(mantissa) / POWERS_OF_TEN[digits];
    return fraction + digits;
}

const char* read_plain_decimal_in_runs(const char* p, const char* end, double& value) {
    static constexpr double POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    std::uint64_t mantissa = 0;
    unsigned digits = 0;
    p = read_digits(p, end, mantissa, digits);
    if (!p) return nullptr;
    const unsigned whole_digits = digits;
    if (p < end && *p == '.') {
        p = read_digits(p + 1, end, mantissa, digits);
        if (!p) return nullptr;
    }
    const unsigned fraction_digits = digits - whole_digits;
    // Below 10^15 the mantissa has at most 15 significant digits.
    if (digits == 0 || fraction_digits > 22 || mantissa >= 1000000000000000u) return nullptr;
    value = static_cast<double>(mantissa) / POWERS_OF_TEN[fraction_digits];
    return p;
}

const char* read_decimal_by_from_chars(const char* p, const char* end, double& value) {
    if (p == end || (!is_digit(*p) && *p != '.')) return nullptr;
    double read = 0.0;
    const auto [stop, error] = std::from_chars(p, end, read, std::chars_format::general);
    if (error != std::errc{}) return nullptr;
    value = read;
    return stop;
}

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
