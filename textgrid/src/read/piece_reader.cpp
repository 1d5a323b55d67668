#include "read/piece_reader.hpp"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace textgrid {

namespace {

// A thread's memory for pieces grows in steps this large.
constexpr std::size_t ROOM_STEP = std::size_t{64} << 10;
// A thread keeps its memory for the next piece, unless a stretch without a
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
    const char* data() const { return bytes_.data(); }
    void make_room(std::size_t size) {
        if (bytes_.size() >= size) return;
        // Pieces differ by a byte, and reading past one goes on in growing steps.
        const std::size_t grown = std::max(size, bytes_.size() + bytes_.size() / 2);
        bytes_.resize((grown + ROOM_STEP - 1) / ROOM_STEP * ROOM_STEP);
    }
    void trim() {
        if (bytes_.size() > KEPT_BUFFER_BYTES) std::vector<char>().swap(bytes_);
    }

private:
    std::vector<char> bytes_;
};

}  // namespace

PieceReader::PieceReader(const PieceSource& source, std::size_t begin, std::size_t end, bool last)
    : source_(source), begin_(begin), end_(end), last_(last), first_(begin > 0 ? begin - 1 : 0) {}

std::string_view PieceReader::bytes() const {
    if (source_.is_file()) return {PieceBuffer::of_this_thread().data(), fetched_};
    return source_.text().substr(first_, fetched_);
}

ssize_t PieceReader::fetch(std::size_t want) {
    const std::size_t at = first_ + fetched_;
    ssize_t got;
    if (source_.is_file()) {
        PieceBuffer& buffer = PieceBuffer::of_this_thread();
        buffer.make_room(fetched_ + want);
        got = source_.file().read_some_at(buffer.data() + fetched_, want, at);
        if (got < 0) read_error_ = errno;
    } else {
        const std::size_t size = source_.text().size();
        got = static_cast<ssize_t>(at < size ? std::min(want, size - at) : 0);
    }
    if (got > 0) fetched_ += static_cast<std::size_t>(got);
    return got;
}

bool PieceReader::fetch_piece(PieceChecker& checker) {
    // Room for the piece and a little past it at once, not grown as it arrives.
    if (source_.is_file()) PieceBuffer::of_this_thread().make_room(end_ - first_ + ROOM_STEP);
    for (;;) {
        const std::size_t at = first_ + fetched_;
        if (!last_ && at >= end_) break;
        const std::size_t run = CHECKED_AFTER_BYTES;
        const ssize_t got = fetch(last_ ? run : std::min(end_ - at, run));
        if (got <= 0) {
            if (!last_ || got < 0) return false;
            break;
        }
        // A file's bytes may have moved to make room.
        checker.moved_to(bytes());
        checker.arrived(fetched_);
    }
    // A last piece ends where the text does, even before it was to begin.
    if (last_) end_ = std::max(begin_, first_ + fetched_);
    return true;
}

bool PieceReader::fetch_more(std::size_t want) { return fetch(want) > 0; }

void trim_piece_memory() { PieceBuffer::of_this_thread().trim(); }

}  // namespace textgrid
