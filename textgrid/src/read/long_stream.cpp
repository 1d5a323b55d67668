#include "read/long_stream.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "read/loading.hpp"
#include "read/parser_long_stretches.hpp"
#include "runtime/file_io.hpp"
#include "runtime/parallel.hpp"

namespace textgrid {

using namespace long_stretches;

namespace {

// Smaller files are read whole, where one pass beats cutting them up.
constexpr std::size_t STREAMED_FROM_BYTES = std::size_t{2} << 20;
// A piece this size, and the rows read from it, stay in a core's cache.
constexpr std::size_t PIECE_BYTES = std::size_t{256} << 10;
// What the start of a file tells about its whole: its encoding, its line
// breaks, and for "auto" its layout.
constexpr std::size_t HEAD_BYTES = std::size_t{64} << 10;
// Past its piece a stretch reads on to the next header, this much at a time
// (at most a piece).
constexpr std::size_t OVERRUN_BYTES = std::size_t{16} << 10;
// A thread's memory for pieces grows in steps this large.
constexpr std::size_t ROOM_STEP = std::size_t{64} << 10;
// A worker keeps its memory for the next piece, unless a stretch without a
// header for this long made it grow.
constexpr std::size_t KEPT_BUFFER_BYTES = std::size_t{8} << 20;

// The bytes a thread reads its pieces into; they only grow, so no call clears
// them again.
class PieceBuffer {
public:
    static PieceBuffer& of_this_thread() {
        thread_local PieceBuffer buffer;
        return buffer;
    }

    char* data() { return bytes_.data(); }
    std::string_view view(std::size_t size) const { return {bytes_.data(), size}; }
    // Room for `size` bytes; true if the bytes moved.
    bool make_room(std::size_t size) {
        if (bytes_.size() >= size) return false;
        // Pieces differ by a byte, and reading past one goes on a step at a time.
        const std::size_t grown = std::max(size, bytes_.size() + bytes_.size() / 2);
        bytes_.resize((grown + ROOM_STEP - 1) / ROOM_STEP * ROOM_STEP);
        return true;
    }
    void trim() {
        if (bytes_.size() > KEPT_BUFFER_BYTES) std::vector<char>().swap(bytes_);
    }

private:
    std::vector<char> bytes_;
};

struct StreamSettings {
    bool strict = false;
    std::size_t overrun_bytes = OVERRUN_BYTES;
};

// One piece [begin, end) of the file, as a worker read it. Where it begins
// inside quotes is only known once every piece before it is counted: the worker
// takes the first line feed in it for one outside quotes, and the join reads
// the piece again where that was wrong (a label of several lines across the
// cut). Its line numbers count from its beginning; the join adds the lines
// before it.
struct StreamedPiece {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool last = false;  // reads on to the end of the file, however far
    int read_error = 0;
    bool complete = false;  // every byte up to `end` arrived
    bool in_quotes = false;
    detail::CheckedPiece checked;  // positions from the byte before `begin`
    std::string head;              // continuation bytes it begins with
    std::string tail;              // a character its end may cut off
    std::optional<Partial> stretch;
};

// Reads a piece into this thread's buffer, from the byte before it (which
// tells whether it begins a line), each run checked as it arrives; then what
// lies past it, up to the next header.
class PieceReader {
public:
    PieceReader(const FileDescriptor& file, StreamedPiece& piece, std::size_t overrun_bytes)
        : file_(file),
          piece_(piece),
          buffer_(PieceBuffer::of_this_thread()),
          overrun_bytes_(overrun_bytes) {}

    std::string_view bytes() const { return buffer_.view(filled_); }
    // Where the piece begins and ends in bytes().
    std::size_t lead() const { return piece_.begin - first_; }
    std::size_t piece_end() const { return piece_.end - first_; }

    // The piece itself: false if it did not all arrive.
    bool read_piece() {
        first_ = piece_.begin > 0 ? piece_.begin - 1 : 0;
        buffer_.make_room(piece_end() + overrun_bytes_);
        detail::PieceChecker checker(bytes(), lead());
        for (;;) {
            const std::size_t at = first_ + filled_;
            if (!piece_.last && at == piece_.end) break;
            const std::size_t want = piece_.last
                                         ? detail::CHECKED_AFTER_BYTES
                                         : std::min(piece_.end - at, detail::CHECKED_AFTER_BYTES);
            buffer_.make_room(filled_ + want);
            const ssize_t got = file_.read_some_at(buffer_.data() + filled_, want, at);
            if (got < 0) piece_.read_error = errno;
            if (got <= 0) {
                if (!piece_.last || got < 0) return false;
                break;
            }
            filled_ += static_cast<std::size_t>(got);
            // The last piece's bytes may have moved to make room.
            checker.moved_to(bytes());
            checker.arrived(filled_);
        }
        if (piece_.last) piece_.end = first_ + filled_;
        piece_.checked = checker.piece();
        piece_.complete = true;
        return true;
    }

    // Reads on past the piece; false at the end of the file.
    bool read_more() {
        buffer_.make_room(filled_ + overrun_bytes_);
        const ssize_t got =
            file_.read_some_at(buffer_.data() + filled_, overrun_bytes_, first_ + filled_);
        if (got < 0) piece_.read_error = errno;
        if (got <= 0) return false;
        filled_ += static_cast<std::size_t>(got);
        return true;
    }

private:
    const FileDescriptor& file_;
    StreamedPiece& piece_;
    PieceBuffer& buffer_;
    std::size_t overrun_bytes_;
    std::size_t first_ = 0;
    std::size_t filled_ = 0;
};

// The bytes up to the last line feed in them: their lines are whole.
std::string_view whole_lines(std::string_view bytes) {
    const auto last = bytes.rfind('\n');
    return last == std::string_view::npos ? std::string_view() : bytes.substr(0, last + 1);
}

// Where the stretch of the piece ends, as an offset into the reader's bytes:
// at the first header from the piece's end on, or at the end of the file.
std::size_t stretch_end(PieceReader& reader, const StreamedPiece& piece) {
    const std::size_t from = reader.piece_end();
    if (piece.last) return reader.bytes().size();
    const bool in_quotes = piece.in_quotes != (piece.checked.count.quotes % 2 != 0);
    for (bool at_end = false;; at_end = !reader.read_more()) {
        // Only whole lines tell a header, except for the file's last one.
        const std::string_view lines = at_end ? reader.bytes() : whole_lines(reader.bytes());
        if (lines.size() > from) {
            if (auto cut = find_cut(lines, from, lines.size(), in_quotes, 1)) return cut->position;
        }
        if (at_end) return reader.bytes().size();
    }
}

// Whether the piece begins inside quotes, taking its first line feed for one
// outside them.
bool assumed_in_quotes(std::string_view bytes, std::size_t lead) {
    const std::string_view piece = bytes.substr(lead);
    const std::string_view first_line = piece.substr(0, piece.find('\n'));
    return std::count(first_line.begin(), first_line.end(), '"') % 2 != 0;
}

void keep_edges(StreamedPiece& piece, const PieceReader& reader) {
    const detail::CheckedPiece& checked = piece.checked;
    piece.head.assign(reader.bytes().substr(reader.lead(), checked.head));
    if (checked.valid)
        piece.tail.assign(reader.bytes().substr(checked.cut, reader.piece_end() - checked.cut));
}

void read_and_parse(StreamedPiece& piece, PieceReader& reader, std::optional<bool> in_quotes,
                    bool strict) {
    if (!reader.read_piece()) return;
    const std::size_t begin = piece.begin;
    piece.in_quotes =
        in_quotes.value_or(begin > 0 && assumed_in_quotes(reader.bytes(), reader.lead()));
    const std::size_t stop = stretch_end(reader, piece);
    if (piece.read_error != 0) return;
    keep_edges(piece, reader);
    const std::string_view bytes = reader.bytes().substr(0, stop);
    std::optional<Cut> start;
    if (begin == 0) {
        start = Cut{0, 1};
    } else {
        start = find_cut(bytes, reader.lead(), reader.piece_end(), piece.in_quotes, 1);
    }
    if (start) {
        piece.stretch = parse_stretch(bytes.substr(start->position, stop - start->position),
                                      start->line, begin == 0, strict);
    }
}

// Reads, checks and parses one piece; `in_quotes` nothing to take it from the
// piece itself.
StreamedPiece read_piece(const FileDescriptor& file, std::size_t begin, std::size_t end, bool last,
                         std::optional<bool> in_quotes, const StreamSettings& settings) {
    StreamedPiece piece;
    piece.begin = begin;
    piece.end = end;
    piece.last = last;
    PieceReader reader(file, piece, settings.overrun_bytes);
    read_and_parse(piece, reader, in_quotes, settings.strict);
    PieceBuffer::of_this_thread().trim();
    return piece;
}

// Takes the pieces in file order: checks what each worker took for granted,
// reads a piece again on this thread where that was wrong, and joins the
// stretches. The file's faults come as reading it whole would give them: a
// read that failed first, then text that is not UTF-8, then the rows'.
class StreamJoin {
public:
    StreamJoin(const FileDescriptor& file, const RowObserver& observe,
               const StreamSettings& settings)
        : file_(file), settings_(settings), join_(observe, settings.strict) {}

    void take(StreamedPiece piece) {
        if (done_ || read_error_ != 0) return;
        if (!piece.complete && piece.read_error == 0) {
            // The file shrank while it was read: what is there now
            // is read on from this piece to its end.
            piece = again(piece, true);
            done_ = true;
        } else if (piece.in_quotes != (before_.quotes % 2 != 0)) {
            piece = again(piece, piece.last);
        }
        if (piece.read_error != 0) {
            read_error_ = piece.read_error;
            return;
        }
        check_utf8(piece);
        if (piece.stretch) join_stretch(piece);
        before_ += piece.checked.count;
    }

    Result<TextGrid> finish() && {
        if (read_error_ != 0) return errors::read_failed(read_error_);
        if (!valid_utf8_ || !detail::is_valid_utf8(tail_)) return errors::invalid_utf8();
        return std::move(join_).finish();
    }

private:
    StreamedPiece again(const StreamedPiece& piece, bool last) {
        return read_piece(file_, piece.begin, piece.end, last, before_.quotes % 2 != 0, settings_);
    }

    void check_utf8(const StreamedPiece& piece) {
        if (!valid_utf8_) return;
        valid_utf8_ = piece.checked.valid && detail::is_valid_utf8(tail_ + piece.head);
        tail_ = piece.tail;
    }

    void join_stretch(StreamedPiece& piece) {
        if (join_.failed()) return;
        // Only the first stretch's faults name a line; later ones' leading
        // items may make one.
        piece.stretch->leading_item_line += before_.line_feeds;
        join_.take(*piece.stretch);
    }

    const FileDescriptor& file_;
    const StreamSettings& settings_;
    StretchJoin join_;
    QuoteAndLineCount before_;
    bool valid_utf8_ = true;
    std::string tail_;
    int read_error_ = 0;
    bool done_ = false;
};

bool long_layout_by_its_head(std::string_view head, FileType type) {
    if (utf16_big_endian(head)) return false;
    // Without a line feed, lone carriage returns may end the lines.
    if (head.find('\n') == std::string_view::npos) return false;
    return type == FileType::Long || has_tier_list_header(head);
}

// The size of the file, if it is one to read this way.
std::optional<std::size_t> streamable_size(const OpenedFile& opened, FileType type,
                                           std::size_t from_bytes) {
    const struct stat& info = opened.info;
    if (type == FileType::Short || !S_ISREG(info.st_mode) ||
        info.st_size < static_cast<off_t>(std::max<std::size_t>(from_bytes, 1)))
        return std::nullopt;
    const auto size = static_cast<std::size_t>(info.st_size);
    std::string head(std::min(size, HEAD_BYTES), '\0');
    const ssize_t got = opened.file.read_some_at(head.data(), head.size(), 0);
    if (got <= 0) return std::nullopt;
    head.resize(static_cast<std::size_t>(got));
    if (!long_layout_by_its_head(head, type)) return std::nullopt;
    return size;
}

}  // namespace

namespace detail {

std::optional<Result<TextGrid>> read_long_streamed(const OpenedFile& opened, bool strict,
                                                   FileType type, const RowObserver& observe,
                                                   std::size_t processors, std::size_t piece_bytes,
                                                   std::size_t from_bytes) {
    const auto streamable = streamable_size(opened, type, from_bytes);
    if (!streamable) return std::nullopt;
    const FileDescriptor& file = opened.file;
    const std::size_t size = *streamable;
    const StreamSettings settings{strict, std::min(OVERRUN_BYTES, piece_bytes)};
    StreamJoin join(file, observe, settings);
    const std::size_t per_processor =
        std::max(PIECES_PER_PROCESSOR, size / (std::max<std::size_t>(processors, 1) * piece_bytes));
    parallel_map_pieces_ordered(
        size,
        [&](std::size_t begin, std::size_t end) {
            return read_piece(file, begin, end, end == size, std::nullopt, settings);
        },
        [&](std::size_t, StreamedPiece&& piece) { join.take(std::move(piece)); }, processors,
        per_processor);
    return std::move(join).finish();
}

}  // namespace detail

std::optional<Result<TextGrid>> read_long_streamed(const OpenedFile& opened, bool strict,
                                                   FileType type, const RowObserver& observe) {
    const std::size_t processors = thread_count();
    if (processors < 2 || on_pool_worker()) return std::nullopt;
    return detail::read_long_streamed(opened, strict, type, observe, processors, PIECE_BYTES,
                                      STREAMED_FROM_BYTES);
}

}  // namespace textgrid
