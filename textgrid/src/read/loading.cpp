#include "read/loading.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <utility>

#include "runtime/file_io.hpp"
#include "runtime/large_memory.hpp"
#include "runtime/parallel.hpp"
#include "text/utf16.hpp"
#include "text/utf8.hpp"

namespace textgrid {

namespace {

// A piece of a text read or checked on the pool, with its bounds.
struct CheckedStretch {
    std::size_t begin = 0;
    std::size_t end = 0;
    CheckedPiece checked;
};

// What the pieces of a text found together.
struct TextCheck {
    bool checked = false;  // the two below tell nothing otherwise
    bool valid_utf8 = false;
    std::vector<CountedPiece> pieces;
};

// The pieces' own checks and the bytes around each cut between them cover the
// whole text: valid UTF-8 pieces joined are valid UTF-8.
TextCheck join_piece_checks(std::string_view text, const std::vector<CheckedStretch>& pieces) {
    TextCheck check{true, true, {}};
    check.pieces.reserve(pieces.size());
    for (std::size_t k = 0; k < pieces.size() && check.valid_utf8; ++k) {
        const CheckedPiece& piece = pieces[k].checked;
        const std::size_t to =
            k + 1 < pieces.size() ? pieces[k + 1].begin + pieces[k + 1].checked.head : text.size();
        check.valid_utf8 = piece.valid && is_valid_utf8(text.substr(piece.cut, to - piece.cut));
        check.pieces.push_back({pieces[k].begin, pieces[k].end, piece.count});
    }
    return check;
}

// How a file is read: in one run, or a stretch per worker with each stretch
// checked as UTF-8 as it arrives, or not (a UTF-16 text is decoded whole later).
enum class Spread { No, Checked, Unchecked };

Spread spread_of(const FilePlan& plan) {
    if (!plan.load_spread) return Spread::No;
    return plan.load_unchecked ? Spread::Unchecked : Spread::Checked;
}

// Fills [0, length) of `buffer` with pread, a stretch per worker. Nothing if
// any stretch failed or came up short (the sequential read then starts over
// and sees what really is there).
std::optional<TextCheck> read_spread(const FileDescriptor& file, char* buffer, std::size_t length,
                                     Spread spread) {
    const std::string_view text(buffer, length);
    const auto pieces = parallel_map_pieces(length, [&](std::size_t begin, std::size_t end) {
        PieceChecker checker(text, begin);
        for (std::size_t at = begin; at < end;) {
            const std::size_t want = std::min(end - at, CHECKED_AFTER_BYTES);
            const ssize_t got = file.read_some_at(buffer + at, want, at);
            if (got <= 0) return std::optional<CheckedStretch>();
            at += static_cast<std::size_t>(got);
            if (spread == Spread::Checked) checker.arrived(at);
        }
        return std::optional<CheckedStretch>(CheckedStretch{begin, end, checker.piece()});
    });
    std::vector<CheckedStretch> checked;
    checked.reserve(pieces.size());
    for (const auto& piece : pieces) {
        if (!piece) return std::nullopt;
        checked.push_back(*piece);
    }
    if (spread == Spread::Unchecked) return TextCheck{};
    return join_piece_checks(text, checked);
}

// Reads until end of file into `bytes` (from `filled` on); the size from fstat
// is only a first guess, so files that grow, shrink or report no size still read
// correctly.
Status read_rest(const FileDescriptor& file, std::string& bytes, std::size_t filled) {
    for (;;) {
        if (filled == bytes.size()) bytes.resize(std::max<std::size_t>(bytes.size() * 2, 4096));
        const ssize_t got = file.read_some(bytes.data() + filled, bytes.size() - filled);
        if (got < 0) return errors::read_failed(errno);
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return Ok{};
}

// Fills `buffer` up to `capacity` or end of file; a full buffer means the file
// grew since fstat. Spread: a regular file of capacity - 1 bytes, worth
// reading on the pool; the sequential read then only looks for more. A
// regular file whose read fell short exactly at the size fstat gave has
// ended there: asking again, a system call a file, would only say so.
Result<std::size_t> read_into(const FileDescriptor& file, char* buffer, std::size_t capacity,
                              bool regular, Spread spread, std::optional<TextCheck>& check) {
    std::size_t filled = 0;
    if (spread != Spread::No) {
        check = read_spread(file, buffer, capacity - 1, spread);
        if (check) filled = capacity - 1;
        if (::lseek(file.get(), static_cast<off_t>(filled), SEEK_SET) < 0)
            return errors::read_failed(errno);
    }
    while (filled < capacity) {
        const ssize_t got = file.read_some(buffer + filled, capacity - filled);
        if (got < 0) return errors::read_failed(errno);
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
        if (regular && filled == capacity - 1) break;
    }
    return filled;
}

// A text read whole in pieces keeps what they found (a file that shrank was
// read again in one run, one that grew goes on in a string).
Result<LoadedText> checked(LoadedText text, std::optional<TextCheck>& check) {
    if (check && check->checked) {
        if (!check->valid_utf8) return errors::invalid_utf8();
        text.set_pieces(std::move(check->pieces));
    }
    return text;
}

// A file that outgrew its buffer is finished in a string.
Result<LoadedText> read_grown(const FileDescriptor& file, const char* start, std::size_t filled) {
    std::string bytes(start, filled);
    if (auto status = read_rest(file, bytes, filled); !status) return std::move(status).error();
    return LoadedText(std::move(bytes));
}

// One spare byte tells a file that grew since fstat. Not zero-filled: every
// byte handed out was read.
Result<LoadedText> read_small(const FileDescriptor& file, std::size_t expected, bool regular,
                              Spread spread) {
    const std::size_t capacity = expected + 1;
    std::unique_ptr<char[]> buffer(new char[capacity]);
    std::optional<TextCheck> check;
    auto filled = read_into(file, buffer.get(), capacity, regular, spread, check);
    if (!filled) return std::move(filled).error();
    if (filled.value() < capacity)
        return checked(LoadedText(std::move(buffer), filled.value()), check);
    return read_grown(file, buffer.get(), filled.value());
}

// A large text's memory comes from, and goes back to, the blocks kept for
// reuse: reading a file into fresh pages costs nearly twice as much.
class Mapping {
public:
    explicit Mapping(std::size_t size) : size_(size), memory_(large_memory::take(size)) {}
    ~Mapping() {
        if (memory_) large_memory::give_back(memory_, size_);
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    bool ok() const { return memory_ != nullptr; }
    char* data() const { return static_cast<char*>(memory_); }
    char* release() { return static_cast<char*>(std::exchange(memory_, nullptr)); }

private:
    std::size_t size_;
    void* memory_;
};

Result<LoadedText> read_large(const FileDescriptor& file, std::size_t expected, bool regular,
                              Spread spread) {
    const std::size_t capacity = expected + 1;
    Mapping mapping(capacity);
    if (!mapping.ok()) return read_small(file, expected, regular, spread);
    std::optional<TextCheck> check;
    auto filled = read_into(file, mapping.data(), capacity, regular, spread, check);
    if (!filled) return std::move(filled).error();
    if (filled.value() < capacity)
        return checked(LoadedText(mapping.release(), capacity, filled.value()), check);
    return read_grown(file, mapping.data(), filled.value());
}

Result<LoadedText> read_file(const OpenedFile& opened, const FilePlan& plan) {
    const FileDescriptor& file = opened.file;
    const struct stat& info = opened.info;
    const std::size_t expected = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;
    const bool regular = S_ISREG(info.st_mode);
    const Spread spread = spread_of(plan);
    return plan.own_block ? read_large(file, expected, regular, spread)
                          : read_small(file, expected, regular, spread);
}

// UTF-8 text's memory: a large text's is kept for reuse, as a file's is.
class Utf8Room {
public:
    explicit Utf8Room(std::size_t bytes) : bytes_(std::max<std::size_t>(bytes, 1)) {
        if (bytes_ >= large_memory::FROM_BYTES) mapping_.emplace(bytes_);
        if (!mapping_ || !mapping_->ok()) heap_.reset(new char[bytes_]);
    }
    char* data() const { return heap_ ? heap_.get() : mapping_->data(); }
    LoadedText text(std::size_t length) && {
        if (heap_) return LoadedText(std::move(heap_), length);
        return LoadedText(mapping_->release(), bytes_, length);
    }

private:
    std::size_t bytes_;
    std::optional<Mapping> mapping_;
    std::unique_ptr<char[]> heap_;
};

// A small UTF-16 text goes into room for its longest UTF-8 in one pass.
Result<LoadedText> decode_utf16_at_once(std::string_view units, bool big_endian) {
    Utf8Room room(units.size() / 2 * 3);
    const char* const end = utf16_to_utf8(units, big_endian, room.data());
    if (!end) return errors::invalid_utf16();
    return std::move(room).text(static_cast<std::size_t>(end - room.data()));
}

// A large one is spread over the pool: each piece's UTF-8 counted, then
// written where it belongs. A few pieces per processor let fast threads take
// over from slow ones.
constexpr std::size_t UTF16_PIECES_PER_PROCESSOR = 8;

Result<LoadedText> decode_utf16_spread(std::string_view units, bool big_endian) {
    const std::size_t count = units.size() / 2;
    const std::size_t pieces = std::min(count, thread_count() * UTF16_PIECES_PER_PROCESSOR);
    std::vector<std::size_t> cuts(pieces + 1, count);
    for (std::size_t k = 0; k < pieces; ++k)
        cuts[k] = utf16_cut(units, big_endian, k * count / pieces);
    const auto piece = [&](std::size_t k) {
        return units.substr(2 * cuts[k], 2 * (cuts[k + 1] - cuts[k]));
    };
    const auto sizes = parallel_map_each(
        pieces, [&](std::size_t k) { return utf8_size_of_utf16(piece(k), big_endian); });
    std::vector<std::size_t> offsets(pieces + 1, 0);
    for (std::size_t k = 0; k < pieces; ++k) {
        if (!sizes[k]) return errors::invalid_utf16();
        offsets[k + 1] = offsets[k] + *sizes[k];
    }
    Utf8Room room(offsets[pieces]);
    // Counted as valid, so written the same.
    parallel_map_each(pieces, [&](std::size_t k) {
        return utf16_to_utf8(piece(k), big_endian, room.data() + offsets[k]) != nullptr;
    });
    return std::move(room).text(offsets[pieces]);
}

// UTF-16 with its mark, as UTF-8.
Result<LoadedText> decode_utf16(std::string_view bytes, bool big_endian) {
    if (bytes.size() % 2 != 0) return errors::invalid_utf16();
    const std::string_view units = bytes.substr(2);  // the mark is dropped
    if (decode_spread(units.size())) return decode_utf16_spread(units, big_endian);
    return decode_utf16_at_once(units, big_endian);
}

// Classic Mac tools end lines with a lone CR. Only a text without a single line
// feed is taken for one of theirs: elsewhere a lone CR belongs to a label.
LoadedText with_mac_line_breaks_as_line_feeds(LoadedText loaded) {
    const std::string_view text = loaded.view();
    if (text.find('\n') != std::string_view::npos || text.find('\r') == std::string_view::npos)
        return loaded;
    std::replace(loaded.data(), loaded.data() + text.size(), '\r', '\n');
    loaded.set_pieces({});  // they counted no line feeds
    return loaded;
}

}  // namespace

LoadedText& LoadedText::operator=(LoadedText&& other) noexcept {
    if (this != &other) {
        if (mapped_) large_memory::give_back(mapped_, capacity_);
        owned_ = std::move(other.owned_);
        heap_ = std::move(other.heap_);
        mapped_ = std::exchange(other.mapped_, nullptr);
        capacity_ = std::exchange(other.capacity_, 0);
        length_ = std::exchange(other.length_, 0);
        pieces_ = std::move(other.pieces_);
    }
    return *this;
}

LoadedText::~LoadedText() {
    if (mapped_) large_memory::give_back(mapped_, capacity_);
}

void release_read_text(const char* begin, const char* end) noexcept {
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto first = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) / page * page;
    const auto last = reinterpret_cast<std::uintptr_t>(end) / page * page;
    // Advice only: if the system declines, the pages simply stay.
    if (first < last) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

std::optional<bool> utf16_big_endian(std::string_view bytes) noexcept {
    if (bytes.size() < 2) return std::nullopt;
    const auto first = static_cast<unsigned char>(bytes[0]);
    const auto second = static_cast<unsigned char>(bytes[1]);
    if (first == 0xFE && second == 0xFF) return true;
    if (first == 0xFF && second == 0xFE) return false;
    return std::nullopt;
}

Result<OpenedFile> open_for_reading(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) return errors::nul_in_file_name();
    const std::string terminated(path);
    OpenedFile opened{FileDescriptor::open(terminated.c_str(), O_RDONLY | O_CLOEXEC)};
    if (!opened.file) return errors::read_failed(errno);
    if (::fstat(opened.file.get(), &opened.info) != 0) return errors::read_failed(errno);
    return opened;
}

Result<LoadedText> load_text(std::string_view path) {
    auto opened = open_for_reading(path);
    if (!opened) return std::move(opened).error();
    FilePlan plan = plan_file_read(opened.value(), {FileType::Short, false});
    return load_text(std::move(opened).value(), plan);
}

Result<LoadedText> load_text(OpenedFile opened, const FilePlan& plan) {
    auto bytes = read_file(opened, plan);
    if (!bytes) return bytes;
    const std::string_view text = bytes.value().view();
    if (const auto big_endian = utf16_big_endian(text)) {
        auto decoded = decode_utf16(text, *big_endian);
        if (!decoded) return decoded;
        return with_mac_line_breaks_as_line_feeds(std::move(decoded).value());
    }
    // A text read in pieces was checked as they arrived.
    if (bytes.value().pieces().empty() && !is_valid_utf8(text)) return errors::invalid_utf8();
    return with_mac_line_breaks_as_line_feeds(std::move(bytes).value());
}

Result<TextInMemory> text_in_memory(std::string_view bytes) {
    TextInMemory result{bytes, {}, false};
    if (const auto big_endian = utf16_big_endian(bytes)) {
        auto decoded = decode_utf16(bytes, *big_endian);
        if (!decoded) return std::move(decoded).error();
        result.own = with_mac_line_breaks_as_line_feeds(std::move(decoded).value());
        result.utf8_checked = true;
        return result;
    }
    if (bytes.find('\n') == std::string_view::npos && bytes.find('\r') != std::string_view::npos) {
        // Line feeds in place of the CRs need a text of its own.
        if (!is_valid_utf8(bytes)) return errors::invalid_utf8();
        result.own = with_mac_line_breaks_as_line_feeds(LoadedText(std::string(bytes)));
        result.utf8_checked = true;
    }
    return result;
}

}  // namespace textgrid
