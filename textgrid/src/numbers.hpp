#pragma once
// The readers' numbers: times as doubles, declared sizes as counts.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace textgrid {

namespace detail {

// A value with no sign, exponent or name: digits with at most one point, at
// most 15 significant digits and 22 after the point. Mantissa and power of ten
// are then exact doubles, so one division rounds correctly, as from_chars
// would. Anything else is false. Nearly every time Praat writes has this shape.
inline bool parse_plain_decimal(std::string_view text, double& value) {
    static constexpr double POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* p = text.data();
    const char* const end = p + text.size();
    std::uint64_t mantissa = 0;
    const auto read_digits = [&] {
        const char* const first = p;
        while (p < end && static_cast<unsigned char>(*p - '0') < 10) {
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
            ++p;
        }
        return p - first;
    };
    const std::ptrdiff_t whole_digits = read_digits();
    std::ptrdiff_t fraction_digits = 0;
    if (p < end && *p == '.') {
        ++p;
        fraction_digits = read_digits();
    }
    // 19 digits cannot wrap the mantissa, so below 10^15 it has at most 15
    // significant ones.
    if (p != end || whole_digits + fraction_digits == 0 || whole_digits + fraction_digits > 19 ||
        fraction_digits > 22 || mantissa >= 1000000000000000u) {
        return false;
    }
    value = static_cast<double>(mantissa) / POWERS_OF_TEN[fraction_digits];
    return true;
}

// Every other shape: signs, exponents, long mantissas, the names.
std::optional<double> parse_f64_general(std::string_view text);

}  // namespace detail

// Whole text must be a decimal number (or inf/infinity/nan); otherwise nothing.
// Overflow gives a signed infinity, underflow a signed zero.
inline std::optional<double> parse_f64(std::string_view text) {
    double value;
    if (detail::parse_plain_decimal(text, value)) return value;
    return detail::parse_f64_general(text);
}

// parse_f64, with 0.0 for anything that is not a number.
inline double parse_f64_or_zero(std::string_view text) {
    double value;
    if (detail::parse_plain_decimal(text, value)) return value;
    return detail::parse_f64_general(text).value_or(0.0);
}

// Optional '+' and ASCII digits fitting in 64 bits; otherwise 0.
std::uint64_t parse_count_or_zero(std::string_view text);

}  // namespace textgrid
