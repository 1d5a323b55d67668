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
#include "read/read_plan.hpp"
#include "runtime/file_io.hpp"
#include "text/byte_scan.hpp"

namespace textgrid {

// The text of a file, held the way the parsers read it fastest: on the heap
// below 32 MB, where the allocator hands the same pages back call after call
// (no page faults), and in a large block above (see large_memory.hpp), kept
// for the next large text once this one is done. Move-only.
// A piece [begin, end) of a text and what it holds.
struct CountedPiece {
    std::size_t begin = 0;
    std::size_t end = 0;
    QuoteAndLineCount count;
};

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

    // The pieces a large text was read in, each with the quotes and line
    // feeds counted while it was at hand; empty if it was read in one run.
    const std::vector<CountedPiece>& pieces() const noexcept { return pieces_; }
    void set_pieces(std::vector<CountedPiece> pieces) noexcept { pieces_ = std::move(pieces); }
    // Whether the text lies in a block of the library's own, whose pages may go
    // back to the system while it is read.
    bool in_own_block() const noexcept { return mapped_ != nullptr; }

private:
    std::string owned_;
    std::unique_ptr<char[]> heap_;
    char* mapped_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t length_ = 0;
    std::vector<CountedPiece> pieces_;
};

// What a reader may do with text it has read: keep it, or hand its memory back
// to the system as it goes (only text loaded for that one reading).
enum class AfterReading { KeepText, ReleaseText };

// Gives the whole pages inside [begin, end) of a text in a block of the
// library's own back to the system, so a large text shrinks while it is read;
// those bytes then read as zeros.
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
Result<LoadedText> load_text(std::string_view path);
// The same for a file opened already, loaded as `plan` says.
Result<LoadedText> load_text(OpenedFile opened, const FilePlan& plan);

// Bytes held in memory rather than in a file, as the readers take them: the
// text to read, `bytes` itself wherever it can be (not copied, and checked for
// UTF-8 as it is read), or a text of its own where UTF-16 was decoded or lone
// CRs became line feeds.
struct TextInMemory {
    std::string_view bytes;
    std::optional<LoadedText> own;
    bool utf8_checked = false;

    std::string_view text() const noexcept { return own ? own->view() : bytes; }
};
// As load_text takes a file's bytes, with the same errors.
Result<TextInMemory> text_in_memory(std::string_view bytes);

}  // namespace textgrid
