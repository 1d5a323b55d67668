#include "text.hpp"

#include "file_io.hpp"
#include "line_scan.hpp"
#include "parallel.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

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

// From this size on a file gets a mapping of its own; below it the heap's
// allocator keeps freed buffers for the next file (its threshold for handing
// memory back to the system grows up to 32 MB).
constexpr std::size_t kMappedFromBytes = std::size_t{32} << 20;

// Large files are read, and checked for UTF-8, a stretch per worker: copying
// them out of the page cache is a good part of reading them. Not on a pool
// worker, which is busy with one file of a batch already.
constexpr std::size_t kSpreadFromBytes = std::size_t{2} << 20;

bool spread_over_pool(std::size_t bytes) {
    return bytes >= kSpreadFromBytes && !on_pool_worker() && logical_processors() > 1;
}

// Fills [0, length) of `buffer` with pread, a stretch per worker; false if any
// stretch failed or came up short (the sequential read then starts over and
// sees what really is there).
bool read_spread(int fd, char* buffer, std::size_t length) {
    const auto complete = parallel_map_pieces(length, [&](std::size_t begin, std::size_t end) {
        while (begin < end) {
            const ssize_t got = ::pread(fd, buffer + begin, end - begin, static_cast<off_t>(begin));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            begin += static_cast<std::size_t>(got);
        }
        return true;
    });
    return std::all_of(complete.begin(), complete.end(), [](bool done) { return done; });
}

// Reads until end of file into `bytes` (from `filled` on); the size from fstat
// is only a first guess, so files that grow, shrink or report no size still read
// correctly.
Status read_rest(int fd, std::string& bytes, std::size_t filled) {
    for (;;) {
        if (filled == bytes.size()) bytes.resize(std::max<std::size_t>(bytes.size() * 2, 4096));
        const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            return TextGridError::os(errno);
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return Ok{};
}

// Fills `buffer` up to `capacity` or end of file; a full buffer means the file
// grew since fstat. `spread`: a regular file of capacity - 1 bytes, worth
// reading on the pool; the sequential read then only looks for more.
Result<std::size_t> read_into(int fd, char* buffer, std::size_t capacity, bool spread) {
    std::size_t filled = 0;
    if (spread) {
        if (read_spread(fd, buffer, capacity - 1)) filled = capacity - 1;
        if (::lseek(fd, static_cast<off_t>(filled), SEEK_SET) < 0) return TextGridError::os(errno);
    }
    while (filled < capacity) {
        const ssize_t got = ::read(fd, buffer + filled, capacity - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            return TextGridError::os(errno);
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    return filled;
}

// A file that outgrew its buffer is finished in a string.
Result<LoadedText> read_grown(int fd, const char* start, std::size_t filled) {
    std::string bytes(start, filled);
    if (auto status = read_rest(fd, bytes, filled); !status) return std::move(status).error();
    return LoadedText(std::move(bytes));
}

// One spare byte tells a file that grew since fstat. Not zero-filled: every
// byte handed out was read.
Result<LoadedText> read_small(int fd, std::size_t expected, bool spread) {
    const std::size_t capacity = expected + 1;
    std::unique_ptr<char[]> buffer(new char[capacity]);
    auto filled = read_into(fd, buffer.get(), capacity, spread);
    if (!filled) return std::move(filled).error();
    if (filled.value() < capacity) return LoadedText(std::move(buffer), filled.value());
    return read_grown(fd, buffer.get(), filled.value());
}

class Mapping {
public:
    explicit Mapping(std::size_t size)
        : size_(size),
          memory_(::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1,
                         0)) {
#ifdef MADV_HUGEPAGE
        if (ok()) ::madvise(memory_, size_, MADV_HUGEPAGE);
#endif
    }
    ~Mapping() {
        if (ok()) ::munmap(memory_, size_);
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    bool ok() const { return memory_ != MAP_FAILED; }
    char* data() const { return static_cast<char*>(memory_); }
    char* release() { return static_cast<char*>(std::exchange(memory_, MAP_FAILED)); }

private:
    std::size_t size_;
    void* memory_;
};

Result<LoadedText> read_large(int fd, std::size_t expected, bool spread) {
    const std::size_t capacity = expected + 1;
    Mapping mapping(capacity);
    if (!mapping.ok()) return read_small(fd, expected, spread);
    auto filled = read_into(fd, mapping.data(), capacity, spread);
    if (!filled) return std::move(filled).error();
    if (filled.value() < capacity) return LoadedText(mapping.release(), capacity, filled.value());
    return read_grown(fd, mapping.data(), filled.value());
}

Result<LoadedText> read_file(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) {
        return TextGridError::invalid_input("file name contained an unexpected NUL byte");
    }
    const std::string terminated(path);
    FileHandle file(open_retrying(terminated.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return TextGridError::os(errno);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return TextGridError::os(errno);
    const std::size_t expected = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;
    const bool spread = S_ISREG(info.st_mode) && spread_over_pool(expected);
    return expected >= kMappedFromBytes ? read_large(file.get(), expected, spread)
                                        : read_small(file.get(), expected, spread);
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
        // Skip ASCII in blocks; labels are mostly ASCII.
#if defined(__SSE2__)
        while (end - p >= 64) {
            const auto* block = reinterpret_cast<const __m128i*>(p);
            const __m128i any = _mm_or_si128(
                _mm_or_si128(_mm_loadu_si128(block), _mm_loadu_si128(block + 1)),
                _mm_or_si128(_mm_loadu_si128(block + 2), _mm_loadu_si128(block + 3)));
            if (_mm_movemask_epi8(any) != 0) break;
            p += 64;
        }
#endif
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

// is_valid_utf8 for a loaded text; large ones are checked a stretch per worker.
// Inner cuts move past continuation bytes, so each stretch starts where a
// character would: in valid text a character never spans a cut, and a broken
// one fails in its stretch.
// Each piece's quotes and line feeds are counted while it is in the cache, for
// the long-layout reader, which would otherwise read the text once more.
bool check_utf8_and_count_pieces(LoadedText& loaded) {
    const std::string_view text = loaded.view();
    if (!spread_over_pool(text.size())) return is_valid_utf8(text);
    const auto cut = [text](std::size_t at) {
        if (at == 0) return at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
        return at;
    };
    struct Checked {
        bool valid;
        QuoteAndLineCount count;
    };
    const auto pieces = parallel_map_pieces(text.size(), [&](std::size_t begin, std::size_t end) {
        const std::size_t from = cut(begin);
        return Checked{is_valid_utf8(text.substr(from, cut(end) - from)),
                       count_quotes_and_line_feeds(text.substr(begin, end - begin))};
    });
    std::vector<QuoteAndLineCount> counts;
    counts.reserve(pieces.size());
    for (const Checked& piece : pieces) {
        if (!piece.valid) return false;
        counts.push_back(piece.count);
    }
    loaded.set_piece_counts(std::move(counts));
    return true;
}

// ---- white space ----------------------------------------------------------------

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
    if (scan::is_ascii_space(static_cast<char>(end[-1]))) return 1;
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

// Classic Mac tools end lines with a lone CR. Only a text without a single line
// feed is taken for one of theirs: elsewhere a lone CR belongs to a label.
LoadedText with_mac_line_breaks_as_line_feeds(LoadedText loaded) {
    const std::string_view text = loaded.view();
    if (text.find('\n') != std::string_view::npos || text.find('\r') == std::string_view::npos)
        return loaded;
    std::replace(loaded.data(), loaded.data() + text.size(), '\r', '\n');
    loaded.set_piece_counts({});  // they counted no line feeds
    return loaded;
}

}  // namespace

LoadedText& LoadedText::operator=(LoadedText&& other) noexcept {
    if (this != &other) {
        if (mapped_) ::munmap(mapped_, capacity_);
        owned_ = std::move(other.owned_);
        heap_ = std::move(other.heap_);
        mapped_ = std::exchange(other.mapped_, nullptr);
        capacity_ = std::exchange(other.capacity_, 0);
        length_ = std::exchange(other.length_, 0);
        piece_counts_ = std::move(other.piece_counts_);
    }
    return *this;
}

LoadedText::~LoadedText() {
    if (mapped_) ::munmap(mapped_, capacity_);
}

Result<LoadedText> load_text_buffer(std::string_view path) {
    auto bytes = read_file(path);
    if (!bytes) return bytes;
    const std::string_view text = bytes.value().view();
    if (text.size() >= 2) {
        const auto first = static_cast<unsigned char>(text[0]);
        const auto second = static_cast<unsigned char>(text[1]);
        const bool big_endian = first == 0xFE && second == 0xFF;
        if (big_endian || (first == 0xFF && second == 0xFE)) {
            auto decoded = decode_utf16(text, big_endian);
            if (!decoded) return std::move(decoded).error();
            return with_mac_line_breaks_as_line_feeds(LoadedText(std::move(decoded).value()));
        }
    }
    if (!check_utf8_and_count_pieces(bytes.value())) {
        return TextGridError::invalid_data("stream did not contain valid UTF-8");
    }
    return with_mac_line_breaks_as_line_feeds(std::move(bytes).value());
}

Result<std::string> load_text(std::string_view path) {
    auto text = load_text_buffer(path);
    if (!text) return std::move(text).error();
    return std::string(text.value().view());
}

namespace {

// Lines mostly begin with blanks and a letter and end with a blank or a quote,
// so ASCII is handled first and the wide spaces only looked up past 0x7F.
std::string_view trim_front(std::string_view text) {
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
        } else if (const std::size_t wide =
                       wide_space_at(reinterpret_cast<const unsigned char*>(p),
                                     static_cast<std::size_t>(end - p))) {
            p += wide;
        } else {
            break;
        }
    }
    return {p, static_cast<std::size_t>(end - p)};
}

std::string_view trim_back(std::string_view text) {
    const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = begin + text.size();
    while (end > begin) {
        if (scan::is_ascii_space(static_cast<char>(end[-1]))) {
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

}  // namespace

std::string_view trim(std::string_view text) { return trim_back(trim_front(text)); }

bool LineCursor::next(Line& line) {
    if (rest_.empty()) return false;
    scan::cut_logical_line(rest_, next_number_, line);
    return true;
}

QuoteAndLineCount count_quotes_and_line_feeds(std::string_view text) {
    QuoteAndLineCount count;
    const char* p = text.data();
    const char* const end = p + text.size();
#if defined(__SSE2__)
    // Byte-wise tallies (at most 255 blocks before they are summed): no popcount,
    // which plain x86-64 lacks.
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i zero = _mm_setzero_si128();
    const auto total = [&](__m128i tallies) {
        const __m128i sums = _mm_sad_epu8(tallies, zero);
        return static_cast<std::size_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
    };
    while (end - p >= 16) {
        const auto blocks = std::min<std::size_t>(255, static_cast<std::size_t>(end - p) / 16);
        const char* const stop = p + blocks * 16;
        __m128i quotes = zero, line_feeds = zero;
        for (; p < stop; p += 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            quotes = _mm_sub_epi8(quotes, _mm_cmpeq_epi8(block, quote));
            line_feeds = _mm_sub_epi8(line_feeds, _mm_cmpeq_epi8(block, newline));
        }
        count.quotes += total(quotes);
        count.line_feeds += total(line_feeds);
    }
#endif
    for (; p < end; ++p) {
        count.quotes += *p == '"';
        count.line_feeds += *p == '\n';
    }
    return count;
}

std::optional<std::pair<std::string_view, std::string_view>> split_key_value(
    std::string_view line) {
    // Keys are short: a plain loop beats a memchr call.
    std::size_t equals = 0;
    while (equals < line.size() && line[equals] != '=') ++equals;
    if (equals == line.size()) return std::nullopt;
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

Result<bool> read_tier_class(std::string_view value) {
    const std::string kind = decode_praat_string(value);
    if (kind == "IntervalTier") return true;
    if (kind == "TextTier") return false;
    return TextGridError::invalid_data("Unknown tier class: " + std::string(value));
}

std::optional<double> parse_f64(std::string_view text) {
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
        if (equals_ignoring_case(body, "nan")) return negative ? -std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::quiet_NaN();
        if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
            return negative ? -std::numeric_limits<double>::infinity()
                            : std::numeric_limits<double>::infinity();
        }
        return std::nullopt;
    }
    double value = 0.0;
    if (scan::parse_plain_decimal(body, value)) return negative ? -value : value;
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

double parse_f64_or_zero(std::string_view text) { return parse_f64(text).value_or(0.0); }

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
