#include "text/text.hpp"

namespace textgrid {

namespace {

// Byte length of a non-ASCII white-space character starting at `p`, or 0.
std::size_t wide_space_at(const unsigned char* p, std::size_t available) {
    if (available >= 2 && p[0] == 0xC2 && (p[1] == 0x85 || p[1] == 0xA0)) return 2;
    if (available < 3) return 0;
    if (p[0] == 0xE1) return p[1] == 0x9A && p[2] == 0x80 ? 3 : 0;
    if (p[0] == 0xE3) return p[1] == 0x80 && p[2] == 0x80 ? 3 : 0;
    if (p[0] != 0xE2) return 0;
    if (p[1] == 0x80) {
        const unsigned char c = p[2];
        return (c >= 0x80 && c <= 0x8A) || c == 0xA8 || c == 0xA9 || c == 0xAF ? 3 : 0;
    }
    return p[1] == 0x81 && p[2] == 0x9F ? 3 : 0;
}

// Byte length of a white-space character ending just before `end`, or 0.
std::size_t space_before(const unsigned char* begin, const unsigned char* end) {
    const std::size_t available = static_cast<std::size_t>(end - begin);
    if (is_ascii_space(static_cast<char>(end[-1]))) return 1;
    if (end[-1] < 0x80) return 0;
    if (available >= 2 && wide_space_at(end - 2, 2) == 2) return 2;
    if (available >= 3 && wide_space_at(end - 3, 3) == 3) return 3;
    return 0;
}

}  // namespace

namespace detail {

// Lines mostly begin with blanks and a letter and end with a blank or a quote,
// so ASCII is handled first and the wide spaces only looked up past 0x7F.
std::string_view trim_front_unicode(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == ' ') {
            p = scan::skip_blanks(p, end);
        } else if (c >= 0x09 && c <= 0x0D) {
            ++p;
        } else if (c < 0x80) {
            break;
        } else if (const std::size_t wide = wide_space_at(reinterpret_cast<const unsigned char*>(p),
                                                          static_cast<std::size_t>(end - p))) {
            p += wide;
        } else {
            break;
        }
    }
    return {p, static_cast<std::size_t>(end - p)};
}

std::string_view trim_back_unicode(std::string_view text) {
    const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = begin + text.size();
    while (end > begin) {
        if (is_ascii_space(static_cast<char>(end[-1]))) {
            --end;
        } else if (end[-1] < 0x80) {
            break;
        } else if (const std::size_t wide = space_before(begin, end)) {
            end -= wide;
        } else {
            break;
        }
    }
    return {text.data(), static_cast<std::size_t>(end - begin)};
}

const char* number_line_by_from_chars(const char* p, const char* end, double& value) {
    double read;
    const char* const stop = read_decimal_by_from_chars(p, end, read);
    const char* const next = stop ? quick::line_end(stop, end) : nullptr;
    if (next) value = read;
    return next;
}

void unescape_quotes(std::string_view inner, std::string& out) {
    // One pass over the label, written in place: labels are short.
    out.resize(inner.size());
    char* written = out.data();
    for (std::size_t i = 0; i < inner.size(); ++i) {
        *written++ = inner[i];
        // A doubled quote stands for one; a lone one is kept as written.
        if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"') ++i;
    }
    out.resize(static_cast<std::size_t>(written - out.data()));
}

}  // namespace detail

std::string_view strip_quotes(std::string_view text) {
    const std::size_t first = text.find_first_not_of('"');
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of('"');
    return text.substr(first, last - first + 1);
}

Result<bool> read_tier_class(std::string_view value) {
    std::string kind;
    decode_praat_string(value, kind);
    if (kind == "IntervalTier") return true;
    if (kind == "TextTier") return false;
    return errors::unknown_tier_class(value);
}

}  // namespace textgrid
