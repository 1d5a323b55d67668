#pragma once
// Reading a file into memory as UTF-8 text, the way the readers take it.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "model/error.hpp"
#include "runtime/file_io.hpp"
#include "text/byte_scan.hpp"

namespace textgrid {

// The text of a file, held the way the parsers read it fastest: on the heap
// below 32 MB, where the allocator hands the same pages back call after call
// (no page faults), and in a large block above (see large_memory.hpp), kept
// for the next large text once this one is done. Move-only.
class LoadedText {
public:
    LoadedText() = default;
    explicit LoadedText(std::string text) : owned_(std::move(text)) {}
    LoadedText(std::unique_ptr<char[]> heap, std::size_t length) noexcept
        : heap_(std::move(heap)), length_(length) {}
    LoadedText(char* mapped, std::size_t capacity, std::size_t length) noexcept
        : mapped_(mapped), capacity_(capacity), length_(length) {}
    LoadedText(LoadedText&& other) noexcept { *this = std::move(other); }
    LoadedText& operator=(LoadedText&& other) noexcept;
    ~LoadedText();

    // The bytes themselves, to change in place.
    char* data() noexcept {
        if (mapped_) return mapped_;
        if (heap_) return heap_.get();
        return owned_.data();
    }
    std::string_view view() const noexcept {
        if (mapped_) return {mapped_, length_};
        if (heap_) return {heap_.get(), length_};
        return owned_;
    }

    // The quote and line feed counts of the pieces a large text was checked
    // in (parallel_map_pieces over its bytes), counted while each piece was
    // at hand; empty if it was not checked in pieces.
    const std::vector<QuoteAndLineCount>& piece_counts() const noexcept { return piece_counts_; }
    void set_piece_counts(std::vector<QuoteAndLineCount> counts) noexcept {
        piece_counts_ = std::move(counts);
    }
    // Whether the text is valid UTF-8, if reading it in pieces found out.
    std::optional<bool> checked_utf8() const noexcept { return checked_utf8_; }
    void set_checked_in_pieces(bool valid_utf8, std::vector<QuoteAndLineCount> counts) noexcept {
        checked_utf8_ = valid_utf8;
        piece_counts_ = std::move(counts);
    }

private:
    std::string owned_;
    std::unique_ptr<char[]> heap_;
    char* mapped_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t length_ = 0;
    std::vector<QuoteAndLineCount> piece_counts_;
    std::optional<bool> checked_utf8_;
};

namespace detail {
// A large file's pieces are checked as they arrive, this many bytes at a time,
// while those bytes are still in the cache.
inline constexpr std::size_t CHECKED_AFTER_BYTES = std::size_t{256} << 10;

// A piece of a large text, checked for UTF-8 and counted while its bytes are
// in the cache of the processor that has it. Its characters are checked from
// the first that starts in it (`head` continuation bytes in) to the one its end
// cuts off (`cut`); the few bytes around each cut are checked once all pieces
// are.
struct CheckedPiece {
    bool valid = false;
    std::size_t head = 0;
    std::size_t cut = 0;
    QuoteAndLineCount count;
};

// Checks a piece as its bytes arrive, each run while it is still in the cache.
// `text` holds the piece from `begin` on; a byte before it tells nothing.
class PieceChecker {
public:
    PieceChecker(std::string_view text, std::size_t begin)
        : text_(text), begin_(begin), counted_(begin) {}

    // Bytes up to `end` have arrived.
    void arrived(std::size_t end);
    // The text, grown or moved (the bytes so far at the same offsets).
    void moved_to(std::string_view text) { text_ = text; }

    const CheckedPiece& piece() const { return piece_; }

private:
    std::string_view text_;
    std::size_t begin_;
    std::size_t counted_;
    CheckedPiece piece_;
};

bool is_valid_utf8(std::string_view text);
}  // namespace detail

// From this size a file is read a stretch per worker of the pool, unless the
// reader is a worker itself.
inline constexpr std::size_t SPREAD_FROM_BYTES = std::size_t{2} << 20;

// What a reader may do with text it has read: keep it, or hand its memory back
// to the system as it goes (only text loaded for that one reading).
enum class AfterReading { KeepText, ReleaseText };

// Gives the whole pages inside [begin, end) of a text loaded for release back
// to the system, so a large text shrinks while it is read; those bytes then
// read as zeros.
void release_read_text(const char* begin, const char* end) noexcept;

// Whether bytes begin with a UTF-16 byte-order mark: true for big-endian,
// false for little-endian, nothing for no mark.
std::optional<bool> utf16_big_endian(std::string_view bytes) noexcept;

// A file open for reading, and what fstat said of it.
struct OpenedFile {
    FileDescriptor file;
    struct stat info {};
};

// Opens a file for reading; a path with a NUL byte is refused. Opened once,
// so that a FIFO's writer meets one reader only.
Result<OpenedFile> open_for_reading(std::string_view path);

// Whole file as UTF-8. UTF-16 with a byte-order mark is decoded to UTF-8 (mark
// dropped); anything else must be valid UTF-8. A path with a NUL byte is refused.
// A text without any line feed but with carriage returns (classic Mac) gets a
// line feed for each of them; with any line feed present a lone CR is text.
// With ReleaseText a large text gets a block of its own (see large_memory.hpp),
// whose pages can go back to the system while it is read.
Result<LoadedText> load_text(std::string_view path, AfterReading after = AfterReading::KeepText);
// The same for a file opened already.
Result<LoadedText> load_text(OpenedFile opened, AfterReading after = AfterReading::KeepText);

// Bytes held in memory rather than in a file, as the readers take them: the
// text to read, `bytes` itself wherever it can be (checked, not copied), or a
// text of its own where UTF-16 was decoded or lone CRs became line feeds.
struct TextInMemory {
    std::string_view bytes;
    std::optional<LoadedText> own;
    std::vector<QuoteAndLineCount> piece_counts;

    std::string_view text() const noexcept { return own ? own->view() : bytes; }
};
// As load_text takes a file's bytes, with the same errors.
Result<TextInMemory> text_in_memory(std::string_view bytes);

}  // namespace textgrid
