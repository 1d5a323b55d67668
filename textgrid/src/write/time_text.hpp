#pragma once
// Times and counts as the writer lays them out: the shortest decimal that reads
// back exactly, never with an exponent. Inline, as the writer calls them for
// every item.

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace textgrid::time_text {

// Room for the longest positional text: "-0." + 323 zeros + 17 digits (the
// smallest subnormal) or "-" + 309 integer digits (the largest finite double).
inline constexpr std::size_t MAX_TIME_TEXT = 352;

// Lays out the shortest round-trip digits of a finite, non-zero value (from
// scientific notation "d.ddde-XX") positionally. Returns the end of the text.
inline char* write_positional(char* out, double value) {
    char scientific[32];
    const auto written = std::to_chars(scientific, scientific + sizeof scientific, value,
                                       std::chars_format::scientific);
    const char* cursor = scientific;
    if (*cursor == '-') {
        *out++ = '-';
        ++cursor;
    }
    char digits[20];
    std::size_t digit_count = 0;
    for (; *cursor != 'e'; ++cursor) {
        if (*cursor != '.') digits[digit_count++] = *cursor;
    }
    int exponent = 0;
    const char* exponent_text = cursor + 1;
    if (*exponent_text == '+') ++exponent_text;
    std::from_chars(exponent_text, written.ptr, exponent);

    if (exponent < 0) {
        *out++ = '0';
        *out++ = '.';
        for (int zeros = -exponent - 1; zeros > 0; --zeros) *out++ = '0';
        for (std::size_t i = 0; i < digit_count; ++i) *out++ = digits[i];
        return out;
    }
    const auto integer_digits = static_cast<std::size_t>(exponent) + 1;
    for (std::size_t i = 0; i < integer_digits; ++i) *out++ = i < digit_count ? digits[i] : '0';
    if (digit_count > integer_digits) {
        *out++ = '.';
        for (std::size_t i = integer_digits; i < digit_count; ++i) *out++ = digits[i];
    }
    return out;
}

// "00" to "99": the digits of a number are written two at a time.
inline constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline char* put_pair(char* out, std::uint32_t below_100) {
    std::memcpy(out, DIGIT_PAIRS + 2 * below_100, 2);
    return out + 2;
}

// A number below 10^9 without leading zeros.
inline char* put_small_count(char* out, std::uint32_t value) {
    if (value < 10) {
        *out = static_cast<char>('0' + value);
        return out + 1;
    }
    static constexpr std::uint32_t POWERS_OF_TEN[] = {
        1, 10, 100, 1'000, 10'000, 100'000, 1'000'000, 10'000'000, 100'000'000, 1'000'000'000};
    // 1233 / 4096 is just above log10(2): the digit count of 2^bits, then
    // one less where the value lies below that power of ten.
    const int estimate = (std::bit_width(value) * 1233) >> 12;
    const int digits = estimate + 1 - (value < POWERS_OF_TEN[estimate]);
    char* const end = out + digits;
    char* digit = end;
    for (; value >= 100; value /= 100) put_pair(digit -= 2, value % 100);
    if (value >= 10) {
        put_pair(digit - 2, value);
    } else {
        digit[-1] = static_cast<char>('0' + value);
    }
    return end;
}

// The eight decimal digits of a value below 10^8 as the bytes 0 to 9 of one
// word, the first digit in the lowest byte: halves, quarters and single
// digits are split in all lanes at once (x * 10486 >> 20 is x / 100 below
// 10^4; x * 103 >> 10 is x / 10 below 100). Kept in a register, the digits
// are stored once, never stored in pieces and read back whole.
inline std::uint64_t eight_digits(std::uint32_t value) {
    static_assert(std::endian::native == std::endian::little);
    std::uint64_t lanes = value / 10'000 | static_cast<std::uint64_t>(value % 10'000) << 32;
    const std::uint64_t hundreds = (lanes * 10486 >> 20) & 0x0000'007F'0000'007F;
    lanes = hundreds | (lanes - hundreds * 100) << 16;
    const std::uint64_t tens = (lanes * 103 >> 10) & 0x000F'000F'000F'000F;
    return tens | (lanes - tens * 10) << 8;
}

// The nine digits of a fraction (in billionths, not zero) without its
// trailing zeros.
inline char* put_fraction(char* out, std::uint32_t billionths) {
    *out = static_cast<char>('0' + billionths / 100'000'000);
    const std::uint64_t last_eight = eight_digits(billionths % 100'000'000);
    const std::uint64_t text = last_eight | 0x3030'3030'3030'3030;
    std::memcpy(out + 1, &text, sizeof text);
    // Trailing zero digits are the word's zero high bytes.
    const int zeros = last_eight == 0 ? 8 : std::countl_zero(last_eight) / 8;
    return out + 9 - zeros;
}

// Times below 1e6 s with at most nine decimals and fifteen significant digits
// (nearly every time an annotation holds) are written without the general
// shortest-digits search. A decimal of at most 15 significant digits is the
// only such decimal that reads back as its double, hence also the shortest
// one. Returns nullptr when the value is not of that kind.
inline char* write_short_decimal(char* out, double magnitude) {
    constexpr std::uint64_t unit = 1'000'000'000;
    constexpr double scale = 1e9;
    if (!(magnitude < 1e6)) return nullptr;
    const auto units = static_cast<std::uint64_t>(magnitude * scale + 0.5);
    if (static_cast<double>(units) / scale != magnitude) return nullptr;

    out = put_small_count(out, static_cast<std::uint32_t>(units / unit));
    const auto fraction = static_cast<std::uint32_t>(units % unit);
    if (fraction == 0) return out;
    *out++ = '.';
    return put_fraction(out, fraction);
}

inline char* write_time(char* out, double value) {
    if (std::isnan(value)) return std::copy_n("NaN", 3, out);
    if (std::isinf(value))
        return value < 0 ? std::copy_n("-inf", 4, out) : std::copy_n("inf", 3, out);
    if (value == 0)
        return std::signbit(value) ? std::copy_n("-0", 2, out) : std::copy_n("0", 1, out);
    char* digits = out;
    if (value < 0) *digits++ = '-';
    char* end = write_short_decimal(digits, std::fabs(value));
    return end ? end : write_positional(out, value);
}

}  // namespace textgrid::time_text
