#include "text.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>

namespace textgrid {

namespace {

// ---- reading the file -------------------------------------------------------

class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Reads until end of file; the size from fstat is only a first guess, so files
// that grow, shrink or report no size (pipes, /proc) still read correctly.
Result<std::string> read_all(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return TextGridError::os(errno);
    std::size_t capacity = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 4096;
    std::string bytes(capacity, '\0');
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) bytes.resize(bytes.size() * 2);
        const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            return TextGridError::os(errno);
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

Result<std::string> read_file(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) {
        return TextGridError::invalid_input("file name contained an unexpected NUL byte");
    }
    const std::string terminated(path);
    FileHandle file(::open(terminated.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return TextGridError::os(errno);
    return read_all(file.get());
}

// ---- encodings ----------------------------------------------------------------

void append_utf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

Result<std::string> decode_utf16(std::string_view bytes, bool big_endian) {
    const auto invalid = [] {
        return TextGridError::invalid_data("stream did not contain valid UTF-16");
    };
    if (bytes.size() % 2 != 0) return invalid();
    const auto unit_at = [&](std::size_t i) -> char32_t {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return big_endian ? (a << 8 | b) : (b << 8 | a);
    };
    std::string out;
    out.reserve(bytes.size() / 2 * 3 / 2);
    for (std::size_t i = 2; i < bytes.size(); i += 2) {  // the mark is dropped
        char32_t unit = unit_at(i);
        if (unit >= 0xDC00 && unit <= 0xDFFF) return invalid();
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 2 >= bytes.size()) return invalid();
            const char32_t low = unit_at(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return invalid();
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        append_utf8(out, unit);
    }
    return out;
}

// Length of the valid UTF-8 sequence at `p`, or 0.
std::size_t utf8_sequence_length(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = p[0];
    const auto continuation = [&](std::size_t k) { return p + k < end && (p[k] & 0xC0) == 0x80; };
    if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2)) return 0;
        if (lead == 0xE0 && p[1] < 0xA0) return 0;   // overlong
        if (lead == 0xED && p[1] >= 0xA0) return 0;  // surrogate
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
        if (lead == 0xF0 && p[1] < 0x90) return 0;   // overlong
        if (lead == 0xF4 && p[1] >= 0x90) return 0;  // above U+10FFFF
        return 4;
    }
    return 0;
}

bool is_valid_utf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        // Skip ASCII eight bytes at a time; labels are mostly ASCII.
        while (end - p >= 8) {
            std::uint64_t block;
            std::memcpy(&block, p, 8);
            if (block & 0x8080808080808080ull) break;
            p += 8;
        }
        if (p == end) break;
        if (*p < 0x80) {
            ++p;
            continue;
        }
        const std::size_t length = utf8_sequence_length(p, end);
        if (length == 0) return false;
        p += length;
    }
    return true;
}

// ---- white space ----------------------------------------------------------------

bool is_ascii_space(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

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
    if (is_ascii_space(end[-1])) return 1;
    if (end[-1] < 0x80) return 0;
    if (available >= 2 && wide_space_at(end - 2, 2) == 2) return 2;
    if (available >= 3 && wide_space_at(end - 3, 3) == 3) return 3;
    return 0;
}

// ---- numbers ------------------------------------------------------------------

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
        for (; i < digits.size(); ++i) exponent = std::min(exponent * 10 + (digits[i] - '0'), 1LL << 40);
        if (negative) exponent = -exponent;
    }
    return position + exponent >= 0;
}

}  // namespace

Result<std::string> load_text(std::string_view path) {
    auto bytes = read_file(path);
    if (!bytes) return bytes;
    std::string& text = bytes.value();
    if (text.size() >= 2) {
        const auto first = static_cast<unsigned char>(text[0]);
        const auto second = static_cast<unsigned char>(text[1]);
        if (first == 0xFE && second == 0xFF) return decode_utf16(text, true);
        if (first == 0xFF && second == 0xFE) return decode_utf16(text, false);
    }
    if (!is_valid_utf8(text)) {
        return TextGridError::invalid_data("stream did not contain valid UTF-8");
    }
    return bytes;
}

std::string_view trim(std::string_view text) {
    const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = begin + text.size();
    while (begin < end) {
        if (is_ascii_space(*begin)) {
            ++begin;
        } else if (std::size_t wide = *begin >= 0x80 ? wide_space_at(begin, end - begin) : 0) {
            begin += wide;
        } else {
            break;
        }
    }
    while (begin < end) {
        const std::size_t width = space_before(begin, end);
        if (width == 0) break;
        end -= width;
    }
    return {reinterpret_cast<const char*>(begin), static_cast<std::size_t>(end - begin)};
}

bool LineCursor::next(Line& line) {
    if (rest_.empty()) return false;
    const char* const start = rest_.data();
    const char* const end = start + rest_.size();
    const char* pos = start;
    line.number = next_number_;
    for (;;) {
        // Outside quotes: the line ends at the next line feed unless a quote opens first.
        const char* newline = static_cast<const char*>(std::memchr(pos, '\n', end - pos));
        const char* stop = newline ? newline : end;
        const char* quote = static_cast<const char*>(std::memchr(pos, '"', stop - pos));
        if (!quote) {
            line.text = trim(std::string_view(start, stop - start));
            if (newline) {
                ++next_number_;
                rest_ = std::string_view(newline + 1, end - newline - 1);
            } else {
                rest_ = {};
            }
            return true;
        }
        // Inside quotes: line feeds belong to the text until the closing quote.
        const char* closing = static_cast<const char*>(std::memchr(quote + 1, '"', end - quote - 1));
        if (!closing) {
            next_number_ += std::count(quote + 1, end, '\n');
            line.text = trim(std::string_view(start, end - start));
            rest_ = {};
            return true;
        }
        if (newline && newline < closing) next_number_ += std::count(newline, closing, '\n');
        pos = closing + 1;
    }
}

std::vector<std::string_view> logical_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    LineCursor cursor(text);
    Line line;
    while (cursor.next(line)) lines.push_back(line.text);
    return lines;
}

std::optional<std::pair<std::string_view, std::string_view>> split_key_value(
    std::string_view line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    return std::pair{trim(line.substr(0, equals)), trim(line.substr(equals + 1))};
}

std::string_view strip_quotes(std::string_view text) {
    const std::size_t first = text.find_first_not_of('"');
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of('"');
    return text.substr(first, last - first + 1);
}

std::string decode_praat_string(std::string_view text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
        return std::string(strip_quotes(text));
    }
    const std::string_view inner = text.substr(1, text.size() - 2);
    std::size_t quote = inner.find('"');
    if (quote == std::string_view::npos) return std::string(inner);
    std::string out;
    out.reserve(inner.size());
    std::size_t from = 0;
    while (quote != std::string_view::npos) {
        out.append(inner, from, quote + 1 - from);
        // A doubled quote stands for one; a lone one is kept as written.
        from = quote + 1 < inner.size() && inner[quote + 1] == '"' ? quote + 2 : quote + 1;
        quote = inner.find('"', from);
    }
    out.append(inner, from);
    return out;
}

double parse_f64_or_zero(std::string_view text) {
    std::string_view body = text;
    bool negative = false;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (body.empty()) return 0.0;
    const char lead = body.front();
    if (!is_digit(lead) && lead != '.') {
        // Only the three names; from_chars would also take "nan(...)".
        if (equals_ignoring_case(body, "nan")) return negative ? -std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::quiet_NaN();
        if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
            return negative ? -std::numeric_limits<double>::infinity()
                            : std::numeric_limits<double>::infinity();
        }
        return 0.0;
    }
    double value = 0.0;
    const char* end = body.data() + body.size();
    const auto [stop, error] = std::from_chars(body.data(), end, value, std::chars_format::general);
    if (stop != end) return 0.0;
    if (error == std::errc::result_out_of_range) {
        value = is_overflow(body) ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (error != std::errc{}) {
        return 0.0;
    }
    return negative ? -value : value;
}

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
