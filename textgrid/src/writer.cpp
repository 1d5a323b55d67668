#include "writer.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "parallel.hpp"

namespace textgrid {

namespace {

// Room for the longest positional text: "-0." + 323 zeros + 17 digits (the
// smallest subnormal) or "-" + 309 integer digits (the largest finite double).
constexpr std::size_t MAX_TIME_TEXT = 352;

// Lays out the shortest round-trip digits of a finite, non-zero value (from
// scientific notation "d.ddde-XX") positionally. Returns the end of the text.
char* write_positional(char* out, double value) {
    char scientific[32];
    const auto written =
        std::to_chars(scientific, scientific + sizeof scientific, value, std::chars_format::scientific);
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

void append_count(std::string& out, std::uint64_t count) {
    char text[24];
    const auto written = std::to_chars(text, text + sizeof text, count);
    out.append(text, written.ptr);
}

void append_escaped(std::string& out, std::string_view text) {
    for (;;) {
        const std::size_t quote = text.find('"');
        if (quote == std::string_view::npos) break;
        out.append(text.data(), quote + 1);
        out += '"';
        text.remove_prefix(quote + 1);
    }
    out.append(text);
}

// Quoted text followed by the line's tail, e.g. "\" \r\n".
void append_quoted(std::string& out, std::string_view text, std::string_view tail) {
    out += '"';
    append_escaped(out, text);
    out.append(tail);
}

// Bytes per item besides its label, enough for typical times; the string grows
// if a piece needs more.
std::size_t estimated_size(const Tier& tier, std::size_t begin, std::size_t end,
                           std::size_t per_item) {
    std::size_t size = (end - begin) * per_item;
    for (std::size_t i = begin; i < end; ++i) size += tier.items[i].label.size();
    return size;
}

struct LongLayout {
    static void header(std::string& out, const TextGrid& grid) {
        out.append("File type = \"ooTextFile\"\r\nObject class = \"TextGrid\"\r\n\r\nxmin = ");
        append_time(out, grid.tmin);
        out.append(" \r\nxmax = ");
        append_time(out, grid.tmax);
        out.append(" \r\ntiers? <exists> \r\nsize = ");
        append_count(out, grid.tiers.size());
        out.append(" \r\nitem []: \r\n");
    }

    static void tier_header(std::string& out, const Tier& tier, std::size_t position) {
        out.append("    item [");
        append_count(out, position);
        out.append(tier.is_interval ? "]:\r\n        class = \"IntervalTier\" \r\n        name = "
                                    : "]:\r\n        class = \"TextTier\" \r\n        name = ");
        append_quoted(out, tier.name, "\" \r\n        xmin = ");
        append_time(out, tier.tmin);
        out.append(" \r\n        xmax = ");
        append_time(out, tier.tmax);
        out.append(tier.is_interval ? " \r\n        intervals: size = " : " \r\n        points: size = ");
        append_count(out, tier.items.size());
        out.append(" \r\n");
    }

    static std::string items(const Tier& tier, std::size_t begin, std::size_t end) {
        std::string out;
        if (tier.is_interval) {
            out.reserve(estimated_size(tier, begin, end, 140));
            for (std::size_t i = begin; i < end; ++i) {
                const Item& item = tier.items[i];
                out.append("        intervals [");
                append_count(out, i + 1);
                out.append("]:\r\n            xmin = ");
                append_time(out, item.tmin);
                out.append(" \r\n            xmax = ");
                append_time(out, item.tmax);
                out.append(" \r\n            text = ");
                append_quoted(out, item.label, "\" \r\n");
            }
        } else {
            out.reserve(estimated_size(tier, begin, end, 100));
            for (std::size_t i = begin; i < end; ++i) {
                const Item& item = tier.items[i];
                out.append("        points [");
                append_count(out, i + 1);
                out.append("]:\r\n            number = ");
                append_time(out, item.tmin);
                out.append(" \r\n            mark = ");
                append_quoted(out, item.label, "\" \r\n");
            }
        }
        return out;
    }
};

struct ShortLayout {
    static void header(std::string& out, const TextGrid& grid) {
        out.append("File type = \"ooTextFile\"\r\nObject class = \"TextGrid\"\r\n\r\n");
        append_time(out, grid.tmin);
        out.append("\r\n");
        append_time(out, grid.tmax);
        out.append("\r\n<exists>\r\n");
        append_count(out, grid.tiers.size());
        out.append("\r\n");
    }

    static void tier_header(std::string& out, const Tier& tier, std::size_t) {
        out.append(tier.is_interval ? "\"IntervalTier\"\r\n" : "\"TextTier\"\r\n");
        append_quoted(out, tier.name, "\"\r\n");
        append_time(out, tier.tmin);
        out.append("\r\n");
        append_time(out, tier.tmax);
        out.append("\r\n");
        append_count(out, tier.items.size());
        out.append("\r\n");
    }

    static std::string items(const Tier& tier, std::size_t begin, std::size_t end) {
        std::string out;
        out.reserve(estimated_size(tier, begin, end, tier.is_interval ? 50 : 30));
        for (std::size_t i = begin; i < end; ++i) {
            const Item& item = tier.items[i];
            append_time(out, item.tmin);
            out.append("\r\n");
            if (tier.is_interval) {
                append_time(out, item.tmax);
                out.append("\r\n");
            }
            append_quoted(out, item.label, "\"\r\n");
        }
        return out;
    }
};

// Headers and item pieces are rendered first (a large tier's pieces on the
// pool) and copied once into a text of the exact final size.
template <class Layout>
std::string render(const TextGrid& grid, std::size_t processors) {
    std::vector<std::string> parts;
    parts.emplace_back();
    Layout::header(parts.back(), grid);
    for (std::size_t k = 0; k < grid.tiers.size(); ++k) {
        const Tier& tier = grid.tiers[k];
        parts.emplace_back();
        Layout::tier_header(parts.back(), tier, k + 1);
        auto pieces = parallel_map_pieces(
            tier.items.size(),
            [&tier](std::size_t begin, std::size_t end) { return Layout::items(tier, begin, end); },
            processors);
        for (auto& piece : pieces) parts.push_back(std::move(piece));
    }
    std::size_t total = 0;
    for (const auto& part : parts) total += part.size();
    std::string text;
    text.reserve(total);
    for (const auto& part : parts) text.append(part);
    return text;
}

TextGridError write_error(std::string_view path, int code) {
    return TextGridError::os(code, "cannot write " + std::string(path) + ": ");
}

Status store(const std::string& text, std::string_view path) {
    const std::string file_name(path);
    int fd;
    do {
        fd = ::open(file_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return write_error(path, errno);

    const char* rest = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, rest, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            // A write that accepts nothing would loop forever.
            const int code = written < 0 ? errno : EIO;
            ::close(fd);
            return write_error(path, code);
        }
        rest += written;
        left -= static_cast<std::size_t>(written);
    }
    // Delayed write errors (e.g. on network file systems) surface here.
    if (::close(fd) != 0 && errno != EINTR) return write_error(path, errno);
    return Ok{};
}

}  // namespace

void append_time(std::string& out, double value) {
    if (std::isnan(value)) {
        out.append("NaN");
    } else if (std::isinf(value)) {
        out.append(value < 0 ? "-inf" : "inf");
    } else if (value == 0) {
        out.append(std::signbit(value) ? "-0" : "0");
    } else {
        char text[MAX_TIME_TEXT];
        out.append(text, write_positional(text, value));
    }
}

std::string format_time(double value) {
    std::string text;
    append_time(text, value);
    return text;
}

std::string escape_quotes(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    append_escaped(escaped, text);
    return escaped;
}

std::string render_long(const TextGrid& grid, std::size_t processors) {
    return render<LongLayout>(grid, processors);
}

std::string render_short(const TextGrid& grid, std::size_t processors) {
    return render<ShortLayout>(grid, processors);
}

std::string render_long(const TextGrid& grid) { return render_long(grid, logical_processors()); }

std::string render_short(const TextGrid& grid) { return render_short(grid, logical_processors()); }

Status write_textgrid(const TextGrid& grid, std::string_view path, FileType file_type) {
    if (path.find('\0') != std::string_view::npos) {
        return TextGridError::invalid_input("cannot write " + std::string(path) +
                                            ": file name contained an unexpected NUL byte");
    }
    const std::string text = file_type == FileType::Long ? render_long(grid) : render_short(grid);
    return store(text, path);
}

}  // namespace textgrid
