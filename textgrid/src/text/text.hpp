#pragma once
// Text helpers shared by both readers: logical lines, trimming, key and value,
// Praat strings, the tier class. Everything returns views into the loaded
// text; only decode_praat_string copies (a name or label worth keeping).
// The usual ASCII shapes are handled inline; the rest out of line.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/error.hpp"
#include "text/byte_scan.hpp"
#include "text/numbers.hpp"

namespace textgrid {

inline bool is_ascii_space(char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// A byte that may begin white space other than the blank: the other ASCII
// spaces, and any non-ASCII lead byte (only the full trim knows which are).
inline bool maybe_other_space(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 0x09 && byte <= 0x0D) || byte >= 0x80;
}

namespace detail {
// Unicode white space at one end (U+0009..U+000D, U+0020, U+0085, U+00A0,
// U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
std::string_view trim_front_unicode(std::string_view text);
std::string_view trim_back_unicode(std::string_view text);
// quick::number_line for what from_chars reads (kept out of its inline body).
const char* number_line_by_from_chars(const char* p, const char* end, double& value);
// The inside of a quoted Praat string that holds a quote: "" becomes ".
void unescape_quotes(std::string_view inner, std::string& out);
}  // namespace detail

// Unicode white space off the front: blanks in front are the usual shape.
inline std::string_view trim_front(std::string_view text) {
    const char* const end = text.data() + text.size();
    const char* p = scan::skip_blanks(text.data(), end);
    if (p < end && maybe_other_space(*p)) return detail::trim_front_unicode(text);
    return {p, static_cast<std::size_t>(end - p)};
}

// Unicode white space off the back: ASCII spaces behind are the usual shape.
inline std::string_view trim_back(std::string_view text) {
    const char* const begin = text.data();
    const char* end = begin + text.size();
    while (end > begin && is_ascii_space(end[-1])) --end;
    if (end > begin && static_cast<unsigned char>(end[-1]) >= 0x80) {
        return detail::trim_back_unicode(text);
    }
    return {begin, static_cast<std::size_t>(end - begin)};
}

inline std::string_view trim(std::string_view text) { return trim_back(trim_front(text)); }

// One logical line: physical lines joined while their running count of '"' is
// odd, so a quoted label may hold line breaks. `text` is trimmed at both ends;
// `number` is the 1-based physical line number where it starts.
struct Line {
    std::string_view text;
    std::size_t number = 0;
};

class LineCursor {
public:
    // `first_number` is the physical line number of the text's first line.
    explicit LineCursor(std::string_view text, std::size_t first_number = 1)
        : rest_(text), next_number_(first_number) {}

    // The next logical line into `line` (filled in place: the readers' loops
    // stall on copying one out); false once the text is used up.
    bool next(Line& line) {
        if (rest_.empty()) return false;
        const char* const start = rest_.data();
        const char* const end = start + rest_.size();
        line.number = next_number_;
        const char* pos = start;
        for (;;) {
            const char* stop = scan::find_line_stop(pos, end);
            if (stop == end || *stop == '\n') {
                line.text = trim({start, static_cast<std::size_t>(stop - start)});
                if (stop == end) {
                    rest_ = {};
                } else {
                    ++next_number_;
                    rest_ = {stop + 1, static_cast<std::size_t>(end - stop - 1)};
                }
                return true;
            }
            // Inside quotes line feeds belong to the text, up to the closing quote.
            const char* closing = scan::find_quote(stop + 1, end);
            if (closing == end) {
                line.text = trim({start, static_cast<std::size_t>(end - start)});
                next_number_ += static_cast<std::size_t>(std::count(stop + 1, end, '\n'));
                rest_ = {};
                return true;
            }
            next_number_ += static_cast<std::size_t>(std::count(stop + 1, closing, '\n'));
            pos = closing + 1;
        }
    }

    // Takes the next physical line, read by a caller's fast path: it ends just
    // before `past_line_feed`, at a line feed outside quotes.
    void skip_line(const char* past_line_feed) noexcept { skip_lines(past_line_feed, 1); }
    // The same for `count` such lines at once.
    void skip_lines(const char* past_line_feed, std::size_t count) noexcept {
        rest_ = {past_line_feed,
                 static_cast<std::size_t>(rest_.data() + rest_.size() - past_line_feed)};
        next_number_ += count;
    }

    // Where the next line starts (untrimmed); empty once the text is used up.
    std::string_view rest() const noexcept { return rest_; }
    // The physical line number where rest() starts.
    std::size_t next_number() const noexcept { return next_number_; }

private:
    std::string_view rest_;
    std::size_t next_number_ = 1;
};

// Cuts at the first '=' into key and value, both trimmed; false without '='.
// Keys are short: a plain loop beats a memchr call.
inline bool split_key_value(std::string_view line, std::string_view& key, std::string_view& value) {
    std::size_t equals = 0;
    while (equals < line.size() && line[equals] != '=') ++equals;
    if (equals == line.size()) return false;
    key = trim(line.substr(0, equals));
    value = trim(line.substr(equals + 1));
    return true;
}

// Replaces what `out` holds with [first, last), which lies outside it. Into a
// fresh or short label this costs less than assign, which must allow overlap.
inline void assign_text(std::string& out, const char* first, const char* last) {
    out.clear();
    out.append(first, static_cast<std::size_t>(last - first));
}

// Drops every '"' at the start and at the end.
std::string_view strip_quotes(std::string_view text);

// Praat's string into `out`, reusing its storage: "..." loses its outer quotes
// and "" becomes "; anything else goes through strip_quotes. A label with no
// quote inside, nearly every one, is copied straight from the text.
inline void decode_praat_string(std::string_view text, std::string& out) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        const char* const inner = text.data() + 1;
        const char* const inner_end = text.data() + text.size() - 1;
        if (scan::find_quote(inner, inner_end) == inner_end) {
            assign_text(out, inner, inner_end);
        } else {
            detail::unescape_quotes({inner, static_cast<std::size_t>(inner_end - inner)}, out);
        }
        return;
    }
    out.assign(strip_quotes(text));
}

// Direct steps over the lines the readers meet most, as Praat writes them.
// Each returns the byte past the line's line feed, or nullptr for any other
// shape (which then goes the general way, nothing taken): so they only ever
// read what the general way would, faster.
namespace quick {

// ASCII spaces, then the line feed ending the line.
inline const char* line_end(const char* p, const char* end) {
    // Praat ends a line right after the value, or after one blank.
    if (p < end && *p == '\n') return p + 1;
    if (end - p >= 2 && p[0] == ' ' && p[1] == '\n') return p + 2;
    while (p < end && *p != '\n' && is_ascii_space(*p)) ++p;
    return p < end && *p == '\n' ? p + 1 : nullptr;
}

// A decimal with no sign or name that ends its line: a plain one (see
// read_plain_decimal), else one from_chars reads, such as the 17 digits Praat
// writes for most times it computed.
inline const char* number_line(const char* p, const char* end, double& value) {
    double read;
    const char* const stop = detail::read_plain_decimal(p, end, read);
    if (!stop) [[unlikely]]
        return detail::number_line_by_from_chars(p, end, value);
    const char* const next = line_end(stop, end);
    if (next) value = read;
    return next;
}

// A quoted Praat string on one line (`p` at its opening quote) that ends the
// line, decoded into `out` as decode_praat_string would.
inline const char* quoted_line(const char* p, const char* end, std::string& out) {
    const char* const inner = p + 1;
    const char* at = inner;
    bool doubled = false;
    for (;;) {
        at = scan::find_line_stop(at, end);
        if (at == end || *at == '\n') return nullptr;
        if (at + 1 < end && at[1] == '"') {
            doubled = true;
            at += 2;
            continue;
        }
        break;
    }
    const char* const next = line_end(at + 1, end);
    if (!next) return nullptr;
    if (doubled) {
        detail::unescape_quotes({inner, static_cast<std::size_t>(at - inner)}, out);
    } else {
        assign_text(out, inner, at);
    }
    return next;
}

}  // namespace quick

// A tier's class as Praat writes it ("IntervalTier" or "TextTier", quoted):
// whether it holds intervals. Anything else is "Unknown tier class: " + value.
Result<bool> read_tier_class(std::string_view value);

// Room reserved ahead for declared item counts, drawn from one budget per text:
// the most items the text could hold. However many counts lie, and by however
// much, all their reservations together stay within what the text could fill.
class ReservationBudget {
public:
    explicit ReservationBudget(std::size_t items) noexcept : left_(items) {}

    // How many of `declared` items to reserve room for now.
    std::size_t take(std::uint64_t declared) noexcept {
        const auto granted = static_cast<std::size_t>(std::min<std::uint64_t>(declared, left_));
        left_ -= granted;
        return granted;
    }

private:
    std::size_t left_;
};

}  // namespace textgrid
