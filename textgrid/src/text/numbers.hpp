#pragma once
// The readers' numbers: times as doubles, declared sizes as counts.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace textgrid {

namespace detail {

// Eight digit values (0..9, the first in the lowest byte) as one number: pairs,
// then quads, then the whole, each step a multiply on all of them at once.
constexpr std::uint32_t eight_digit_value(std::uint64_t values) {
    values = values * 10 + (values >> 8);
    constexpr std::uint64_t PAIRS = 0x000000FF000000FFu;
    constexpr std::uint64_t HIGH_PAIRS = 100 + (1000000ull << 32);
    constexpr std::uint64_t LOW_PAIRS = 1 + (10000ull << 32);
    return static_cast<std::uint32_t>(
        ((values & PAIRS) * HIGH_PAIRS + ((values >> 16) & PAIRS) * LOW_PAIRS) >> 32);
}

// Eight bytes (the first lowest) with digits turned into their values 0..9.
constexpr std::uint64_t digit_values(std::uint64_t word) { return word ^ 0x3030303030303030u; }

// The high bit of each byte of digit_values that was not a digit: its value
// above 9, or a byte beyond ASCII.
constexpr std::uint64_t non_digit_bytes(std::uint64_t values) {
    return (((values & 0x7F7F7F7F7F7F7F7Fu) + 0x7676767676767676u) | values) & 0x8080808080808080u;
}

// The double nearest to digits x 10^exponent (ties to even), for digits from
// 1 up to 19 decimal digits and an exponent from -22 to 0: Eisel and Lemire's
// method, which one 128-bit product settles for all such numbers.
double decimal_to_double(std::uint64_t digits, int exponent);

// read_plain_decimal for every shape its inline step leaves: longer
// fractions and numbers, and texts with fewer than eight bytes left.
const char* read_plain_decimal_in_runs(const char* p, const char* end, double& value);

// read_plain_decimal for a point among the eight bytes at `p` (`whole` digits
// before it, their digit_values in `values`) and a fraction going on past them,
// such as "282.77551".
const char* read_long_fraction(const char* p, const char* end, unsigned whole, std::uint64_t values,
                               double& value);

// A value with no sign, exponent or name at the start of [p, end): digits with
// at most one point, at most 19 digits and 22 after the point, rounded as
// from_chars rounds. Up to 15 significant digits, mantissa and power of ten
// are exact doubles and one division rounds correctly; longer ones, such as
// the 17 digits Praat writes for times it computed, go through
// decimal_to_double. The byte past it, with `value` set; nullptr (`value`
// untouched) for anything else. Nearly every time Praat writes has this
// shape; the usual one, such as "12.345" (up to 7 digits and a point), is read
// here from one 8-byte word, and one of 8 digits and a point from two.
inline const char* read_plain_decimal(const char* p, const char* end, double& value) {
    if constexpr (std::endian::native == std::endian::little) {
        static constexpr double POWERS_OF_TEN[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
        if (end - p < 8) return read_plain_decimal_in_runs(p, end, value);
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        std::uint64_t values = digit_values(word);
        const std::uint64_t others = non_digit_bytes(values);
        if (others == 0) return read_plain_decimal_in_runs(p, end, value);
        const auto whole = static_cast<unsigned>(std::countr_zero(others)) / 8;
        const char* stop = p + whole;
        unsigned digits = whole;
        if (*stop == '.') {
            const std::uint64_t after_point = others & (others - 1);
            if (after_point != 0) {
                stop = p + std::countr_zero(after_point) / 8;
            } else if (end - p == 8 || static_cast<unsigned char>(p[8] - '0') >= 10) {
                stop = p + 8;  // the fraction ends with the word: "8.103937"
            } else if (end - p > 9 && static_cast<unsigned char>(p[9] - '0') >= 10) {
                // Eight digits and the point ("1234.5678", the times of a
                // recording over 1000 s long): the digits after the point,
                // one byte further on, take its place.
                std::uint64_t next;
                std::memcpy(&next, p + 1, 8);
                const std::uint64_t below = (std::uint64_t{1} << (8 * whole)) - 1;
                values = (values & below) | (digit_values(next) & ~below);
                value = static_cast<double>(eight_digit_value(values)) / POWERS_OF_TEN[8 - whole];
                return p + 9;
            } else {
                return read_long_fraction(p, end, whole, values, value);
            }
            digits = static_cast<unsigned>(stop - p) - 1;
            // The fraction's digits moved down over the point.
            const std::uint64_t below = (std::uint64_t{1} << (8 * whole)) - 1;
            values = (values & below) | ((values >> 8) & ~below);
        }
        if (digits == 0) return nullptr;
        value = static_cast<double>(eight_digit_value(values << (64 - 8 * digits))) /
                POWERS_OF_TEN[digits - whole];
        return stop;
    } else {
        return read_plain_decimal_in_runs(p, end, value);
    }
}

// The whole text is such a value.
inline bool parse_plain_decimal(std::string_view text, double& value) {
    const char* const end = text.data() + text.size();
    double read;
    if (read_plain_decimal(text.data(), end, read) != end) return false;
    value = read;
    return true;
}

// A decimal at the start of [p, end) that begins with a digit or a point, as
// from_chars reads it (long mantissas, exponents): the byte past it, with
// `value` set, or nullptr (`value` untouched) when nothing is read or the value
// is out of range, which the general way settles.
const char* read_decimal_by_from_chars(const char* p, const char* end, double& value);

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
