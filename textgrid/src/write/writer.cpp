#include "write/writer.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "runtime/parallel.hpp"
#include "write/time_text.hpp"

namespace textgrid {

using time_text::MAX_TIME_TEXT;
using time_text::put_small_count;
using time_text::write_time;

namespace {

// Growable text written through raw pointers: the caller asks for room for a
// whole line (or item) once, then copies fixed-size pieces without any checks.
// Unlike std::string, growing never fills the new room first.
class TextBuffer {
public:
    explicit TextBuffer(std::size_t capacity = 256)
        : data_(std::make_unique_for_overwrite<char[]>(capacity)), capacity_(capacity) {}

    // Room for at least `bytes` more; write there and hand the end to commit.
    char* room(std::size_t bytes) {
        if (capacity_ - size_ < bytes) grow(bytes);
        return data_.get() + size_;
    }
    void commit(char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }

    std::string_view view() const { return {data_.get(), size_}; }
    void clear() { size_ = 0; }

private:
    void grow(std::size_t bytes) {
        const std::size_t capacity = std::max(capacity_ * 2, size_ + bytes);
        auto data = std::make_unique_for_overwrite<char[]>(capacity);
        std::memcpy(data.get(), data_.get(), size_);
        data_ = std::move(data);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> data_;
    std::size_t capacity_;
    std::size_t size_ = 0;
};

// A fixed piece of text; N - 1 drops the literal's terminating NUL, and the
// constant length lets the copy compile to a few moves.
template <std::size_t N>
char* put(char* out, const char (&text)[N]) {
    std::memcpy(out, text, N - 1);
    return out + N - 1;
}

char* put_count(char* out, std::uint64_t count) {
    if (count < 1'000'000'000) return put_small_count(out, static_cast<std::uint32_t>(count));
    return std::to_chars(out, out + 20, count).ptr;
}

// Room for a quoted text: every byte may be a quote and become two.
std::size_t escaped_bound(std::string_view text) { return 2 * text.size(); }

char* put_escaped(char* out, std::string_view text) {
    for (;;) {
        const auto* quote = static_cast<const char*>(std::memchr(text.data(), '"', text.size()));
        if (quote == nullptr) break;
        const auto through_quote = static_cast<std::size_t>(quote - text.data()) + 1;
        out = std::copy_n(text.data(), through_quote, out);
        *out++ = '"';
        text.remove_prefix(through_quote);
    }
    return std::copy_n(text.data(), text.size(), out);
}

// Bound on any line's fixed text plus two times and a count.
constexpr std::size_t LINE_ROOM = 256 + 2 * MAX_TIME_TEXT;

// Typical bytes per item besides its label; a piece's buffer starts this big
// and doubles if it needs more.
template <class Layout>
std::size_t estimated_size(const Tier& tier, std::size_t begin, std::size_t end) {
    const std::size_t per_item = tier.is_interval ? Layout::INTERVAL_BYTES : Layout::POINT_BYTES;
    std::size_t size = (end - begin) * per_item + LINE_ROOM;
    for (std::size_t i = begin; i < end; ++i) size += tier.items[i].label.size();
    return size;
}

struct LongLayout {
    static void header(TextBuffer& text, const TextGrid& grid) {
        char* out = text.room(LINE_ROOM);
        out = put(out, "File type = \"ooTextFile\"\r\nObject class = \"TextGrid\"\r\n\r\nxmin = ");
        out = write_time(out, grid.tmin);
        out = put(out, " \r\nxmax = ");
        out = write_time(out, grid.tmax);
        out = put(out, " \r\ntiers? <exists> \r\nsize = ");
        out = put_count(out, grid.tiers.size());
        out = put(out, " \r\nitem []: \r\n");
        text.commit(out);
    }

    static void tier_header(TextBuffer& text, const Tier& tier, std::size_t position) {
        char* out = text.room(2 * LINE_ROOM + escaped_bound(tier.name));
        out = put(out, "    item [");
        out = put_count(out, position);
        out = tier.is_interval
                  ? put(out, "]:\r\n        class = \"IntervalTier\" \r\n        name = \"")
                  : put(out, "]:\r\n        class = \"TextTier\" \r\n        name = \"");
        out = put_escaped(out, tier.name);
        out = put(out, "\" \r\n        xmin = ");
        out = write_time(out, tier.tmin);
        out = put(out, " \r\n        xmax = ");
        out = write_time(out, tier.tmax);
        out = tier.is_interval ? put(out, " \r\n        intervals: size = ")
                               : put(out, " \r\n        points: size = ");
        out = put_count(out, tier.items.size());
        out = put(out, " \r\n");
        text.commit(out);
    }

    static constexpr std::size_t INTERVAL_BYTES = 130;
    static constexpr std::size_t POINT_BYTES = 90;

    static void items(TextBuffer& text, const Tier& tier, std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const Item& item = tier.items[i];
            char* out = text.room(LINE_ROOM + escaped_bound(item.label));
            if (tier.is_interval) {
                out = put(out, "        intervals [");
                out = put_count(out, i + 1);
                out = put(out, "]:\r\n            xmin = ");
                out = write_time(out, item.tmin);
                out = put(out, " \r\n            xmax = ");
                out = write_time(out, item.tmax);
                out = put(out, " \r\n            text = \"");
            } else {
                out = put(out, "        points [");
                out = put_count(out, i + 1);
                out = put(out, "]:\r\n            number = ");
                out = write_time(out, item.tmin);
                out = put(out, " \r\n            mark = \"");
            }
            out = put_escaped(out, item.label);
            out = put(out, "\" \r\n");
            text.commit(out);
        }
    }
};

struct ShortLayout {
    static void header(TextBuffer& text, const TextGrid& grid) {
        char* out = text.room(LINE_ROOM);
        out = put(out, "File type = \"ooTextFile\"\r\nObject class = \"TextGrid\"\r\n\r\n");
        out = write_time(out, grid.tmin);
        out = put(out, "\r\n");
        out = write_time(out, grid.tmax);
        out = put(out, "\r\n<exists>\r\n");
        out = put_count(out, grid.tiers.size());
        out = put(out, "\r\n");
        text.commit(out);
    }

    static void tier_header(TextBuffer& text, const Tier& tier, std::size_t) {
        char* out = text.room(LINE_ROOM + escaped_bound(tier.name));
        out =
            tier.is_interval ? put(out, "\"IntervalTier\"\r\n\"") : put(out, "\"TextTier\"\r\n\"");
        out = put_escaped(out, tier.name);
        out = put(out, "\"\r\n");
        out = write_time(out, tier.tmin);
        out = put(out, "\r\n");
        out = write_time(out, tier.tmax);
        out = put(out, "\r\n");
        out = put_count(out, tier.items.size());
        out = put(out, "\r\n");
        text.commit(out);
    }

    static constexpr std::size_t INTERVAL_BYTES = 30;
    static constexpr std::size_t POINT_BYTES = 20;

    static void items(TextBuffer& text, const Tier& tier, std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const Item& item = tier.items[i];
            char* out = text.room(LINE_ROOM + escaped_bound(item.label));
            out = write_time(out, item.tmin);
            out = put(out, "\r\n");
            if (tier.is_interval) {
                out = write_time(out, item.tmax);
                out = put(out, "\r\n");
            }
            *out++ = '"';
            out = put_escaped(out, item.label);
            out = put(out, "\"\r\n");
            text.commit(out);
        }
    }
};

// The buffers of one text's pieces: each goes back once its text is handed
// on, and the next piece is rendered into it, so a long text is made in a few
// warm buffers rather than all at once in fresh memory.
class PieceBuffers {
public:
    TextBuffer take(std::size_t capacity) {
        {
            const std::lock_guard lock(mutex_);
            if (!free_.empty()) {
                TextBuffer buffer = std::move(free_.back());
                free_.pop_back();
                buffer.clear();
                buffer.room(capacity);
                return buffer;
            }
        }
        return TextBuffer(capacity);
    }

    void give_back(TextBuffer buffer) {
        const std::lock_guard lock(mutex_);
        free_.push_back(std::move(buffer));
    }

private:
    std::mutex mutex_;
    std::vector<TextBuffer> free_;
};

// Hands the file text to `sink` as it is rendered: the headers, and each
// tier's items in pieces (a large tier's pieces rendered on the pool while the
// calling thread hands on the ones before). Stops handing on at the sink's
// first error and answers it.
template <class Layout>
int stream_text(const TextGrid& grid, std::size_t processors, const ChunkSink& sink) {
    int error = 0;
    TextBuffer headers;  // not yet handed on; goes out with the next piece
    const auto hand_on = [&](std::string_view piece) {
        if (error != 0) return;
        const std::array<iovec, 2> chunks{
            {{const_cast<char*>(headers.view().data()), headers.view().size()},
             {const_cast<char*>(piece.data()), piece.size()}}};
        error = sink(chunks);
        headers.clear();
    };
    Layout::header(headers, grid);
    PieceBuffers buffers;
    for (std::size_t k = 0; k < grid.tiers.size(); ++k) {
        const Tier& tier = grid.tiers[k];
        Layout::tier_header(headers, tier, k + 1);
        parallel_map_pieces_ordered(
            tier.items.size(),
            [&](std::size_t begin, std::size_t end) {
                TextBuffer text = buffers.take(estimated_size<Layout>(tier, begin, end));
                Layout::items(text, tier, begin, end);
                return text;
            },
            [&](std::size_t, TextBuffer&& text) {
                hand_on(text.view());
                buffers.give_back(std::move(text));
            },
            processors);
    }
    if (!headers.view().empty()) hand_on({});
    return error;
}

int stream_text(const TextGrid& grid, FileType file_type, std::size_t processors,
                const ChunkSink& sink) {
    return file_type == FileType::Long ? stream_text<LongLayout>(grid, processors, sink)
                                       : stream_text<ShortLayout>(grid, processors, sink);
}

template <class Layout>
std::size_t estimated_text_size(const TextGrid& grid) {
    std::size_t size = LINE_ROOM;
    for (const Tier& tier : grid.tiers)
        size += LINE_ROOM + estimated_size<Layout>(tier, 0, tier.items.size());
    return size;
}

std::string rendered(const TextGrid& grid, FileType file_type, std::size_t processors) {
    std::string text;
    text.reserve(file_type == FileType::Long ? estimated_text_size<LongLayout>(grid)
                                             : estimated_text_size<ShortLayout>(grid));
    stream_text(grid, file_type, processors, [&text](std::span<const iovec> chunks) {
        for (const iovec& chunk : chunks)
            text.append(static_cast<const char*>(chunk.iov_base), chunk.iov_len);
        return 0;
    });
    return text;
}

}  // namespace

void append_time(std::string& out, double value) {
    char text[MAX_TIME_TEXT];
    out.append(text, write_time(text, value));
}

std::string format_time(double value) {
    std::string text;
    append_time(text, value);
    return text;
}

std::string escape_quotes(std::string_view text) {
    std::string escaped(escaped_bound(text), '\0');
    escaped.resize(static_cast<std::size_t>(put_escaped(escaped.data(), text) - escaped.data()));
    return escaped;
}

std::string render_long(const TextGrid& grid, std::size_t processors) {
    return rendered(grid, FileType::Long, processors);
}

std::string render_short(const TextGrid& grid, std::size_t processors) {
    return rendered(grid, FileType::Short, processors);
}

std::string render_long(const TextGrid& grid) { return render_long(grid, thread_count()); }

std::string render_short(const TextGrid& grid) { return render_short(grid, thread_count()); }

std::string render_textgrid(const TextGrid& grid, FileType file_type) {
    return rendered(grid, file_type, logical_processors());
}

std::string render_textgrid_here(const TextGrid& grid, FileType file_type) {
    // As many processors as a tier could have items: every tier stays on this
    // thread, in one piece.
    return rendered(grid, file_type, std::numeric_limits<std::size_t>::max());
}

Status write_textgrid(const TextGrid& grid, std::string_view path, FileType file_type) {
    return write_textgrid(grid, path, file_type, thread_count());
}

Status write_textgrid(const TextGrid& grid, std::string_view path, FileType file_type,
                      std::size_t processors, WriteCall write) {
    if (path.find('\0') != std::string_view::npos) {
        return errors::nul_in_output_file_name(path);
    }
    return store_text(
        [&](const ChunkSink& sink) { return stream_text(grid, file_type, processors, sink); }, path,
        write);
}

}  // namespace textgrid
