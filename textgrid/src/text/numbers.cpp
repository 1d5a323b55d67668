#include "text/numbers.hpp"

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

// 10^15: below it a mantissa and a power of ten up to 10^22 are exact
// doubles, and one division rounds correctly.
constexpr std::uint64_t EXACT_MANTISSAS = 1000000000000000u;

// The value of `mantissa` digits, `fraction_digits` (at most 22) of them
// after the point.
double decimal_value(std::uint64_t mantissa, unsigned fraction_digits) {
    static constexpr double POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (mantissa < EXACT_MANTISSAS)
        return static_cast<double>(mantissa) / POWERS_OF_TEN[fraction_digits];
    return decimal_to_double(mantissa, -static_cast<int>(fraction_digits));
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
    if (others == 0) {
        // Eight digits and more after the point, as in the 17 digits Praat
        // writes for a computed time: read on from there.
        std::uint64_t mantissa =
            leading_digits_value(values, whole) * 100000000u + eight_digit_value(fraction_values);
        unsigned digits = whole + 8;
        const char* const stop = read_digits(fraction + 8, end, mantissa, digits);
        if (!stop) return nullptr;
        value = decimal_value(mantissa, digits - whole);
        return stop;
    }
    const auto digits = static_cast<unsigned>(std::countr_zero(others)) / 8;
    const std::uint64_t mantissa = leading_digits_value(values, whole) * SCALES[digits] +
                                   leading_digits_value(fraction_values, digits);
    value = static_cast<double>(mantissa) / POWERS_OF_TEN[digits];
    return fraction + digits;
}

namespace {

// 5^q for q from -22 to 0, to 128 bits, as Eisel and Lemire's method takes
// them: shifted until the top bit is set; below 1, 2^b / 5^-q rounded up.
constexpr std::uint64_t POWERS_OF_FIVE[][2] = {
    {0xF1C90080BAF72CB1u, 0x5324C68B12DD6339u}, {0x971DA05074DA7BEEu, 0xD3F6FC16EBCA5E04u},
    {0xBCE5086492111AEAu, 0x88F4BB1CA6BCF585u}, {0xEC1E4A7DB69561A5u, 0x2B31E9E3D06C32E6u},
    {0x9392EE8E921D5D07u, 0x3AFF322E62439FD0u}, {0xB877AA3236A4B449u, 0x09BEFEB9FAD487C3u},
    {0xE69594BEC44DE15Bu, 0x4C2EBE687989A9B4u}, {0x901D7CF73AB0ACD9u, 0x0F9D37014BF60A11u},
    {0xB424DC35095CD80Fu, 0x538484C19EF38C95u}, {0xE12E13424BB40E13u, 0x2865A5F206B06FBAu},
    {0x8CBCCC096F5088CBu, 0xF93F87B7442E45D4u}, {0xAFEBFF0BCB24AAFEu, 0xF78F69A51539D749u},
    {0xDBE6FECEBDEDD5BEu, 0xB573440E5A884D1Cu}, {0x89705F4136B4A597u, 0x31680A88F8953031u},
    {0xABCC77118461CEFCu, 0xFDC20D2B36BA7C3Eu}, {0xD6BF94D5E57A42BCu, 0x3D32907604691B4Du},
    {0x8637BD05AF6C69B5u, 0xA63F9A49C2C1B110u}, {0xA7C5AC471B478423u, 0x0FCF80DC33721D54u},
    {0xD1B71758E219652Bu, 0xD3C36113404EA4A9u}, {0x83126E978D4FDF3Bu, 0x645A1CAC083126EAu},
    {0xA3D70A3D70A3D70Au, 0x3D70A3D70A3D70A4u}, {0xCCCCCCCCCCCCCCCCu, 0xCCCCCCCCCCCCCCCDu},
    {0x8000000000000000u, 0x0000000000000000u}};

struct Product {
    std::uint64_t high;
    std::uint64_t low;
};

Product multiply(std::uint64_t a, std::uint64_t b) {
    __extension__ using Wide = unsigned __int128;
    const Wide product = static_cast<Wide>(a) * b;
    return {static_cast<std::uint64_t>(product >> 64), static_cast<std::uint64_t>(product)};
}

}  // namespace

double decimal_to_double(std::uint64_t digits, int exponent) {
    constexpr int MANTISSA_BITS = 52;
    constexpr int SHIFT_BASE = 64 - MANTISSA_BITS - 3;
    const int leading_zeros = std::countl_zero(digits);
    const std::uint64_t w = digits << leading_zeros;
    const auto& power = POWERS_OF_FIVE[exponent + 22];
    Product product = multiply(w, power[0]);
    // Only when the bits that decide the rounding are all ones can the
    // second half of the power still change them.
    constexpr std::uint64_t DECIDING = UINT64_MAX >> (MANTISSA_BITS + 3);
    if ((product.high & DECIDING) == DECIDING) {
        const Product second = multiply(w, power[1]);
        product.low += second.high;
        if (second.high > product.low) ++product.high;
    }
    const int upper_bit = static_cast<int>(product.high >> 63);
    const int shift = upper_bit + SHIFT_BASE;
    std::uint64_t mantissa = product.high >> shift;
    // floor(log2(10^exponent)) + 63, the exponent's bias added.
    int power2 = (((152170 + 65536) * exponent) >> 16) + 63 + upper_bit - leading_zeros + 1023;
    // Exactly halfway between two doubles (only possible for exponents from
    // -4 on): to the even one.
    if (product.low <= 1 && exponent >= -4 && (mantissa & 3) == 1 &&
        (mantissa << shift) == product.high)
        mantissa &= ~std::uint64_t{1};
    mantissa += mantissa & 1;
    mantissa >>= 1;
    if (mantissa >= std::uint64_t{2} << MANTISSA_BITS) {
        mantissa = std::uint64_t{1} << MANTISSA_BITS;
        ++power2;
    }
    mantissa &= ~(std::uint64_t{1} << MANTISSA_BITS);
    return std::bit_cast<double>(mantissa | static_cast<std::uint64_t>(power2) << MANTISSA_BITS);
}

const char* read_plain_decimal_in_runs(const char* p, const char* end, double& value) {
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
    if (digits == 0 || fraction_digits > 22) return nullptr;
    value = decimal_value(mantissa, fraction_digits);
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
