#pragma once
// The bytes of one piece of a text, fetched from a file or a text in memory:
// the piece itself, the byte before it (which tells whether the piece begins a
// line), and as much past it as the stretch begun in it needs.

#include <sys/types.h>

#include <cstddef>
#include <string_view>

#include "read/loading.hpp"
#include "runtime/file_io.hpp"
#include "text/utf8.hpp"

namespace textgrid {

// Where pieces come from: a file, read with pread into memory each thread
// keeps for its next piece, or a text in memory, looked at where it lies.
class PieceSource {
public:
    explicit PieceSource(const FileDescriptor& file) : file_(&file) {}
    explicit PieceSource(std::string_view text) : text_(text) {}

    bool is_file() const { return file_ != nullptr; }
    const FileDescriptor& file() const { return *file_; }
    std::string_view text() const { return text_; }

private:
    const FileDescriptor* file_ = nullptr;
    std::string_view text_;
};

class PieceReader {
public:
    // The piece [begin, end); `last`: on to the end of the text, however far.
    PieceReader(const PieceSource& source, std::size_t begin, std::size_t end, bool last);

    // Fetched so far, from the byte before the piece (or the text's first).
    std::string_view bytes() const;
    // Where the piece begins and ends in bytes(); the end only once fetched.
    std::size_t lead() const { return begin_ - first_; }
    std::size_t piece_end() const { return end_ - first_; }
    std::size_t begin() const { return begin_; }
    std::size_t end() const { return end_; }

    // Fetches the piece, a run at a time, each run handed to `checker` while it
    // is in the cache: false if it did not all arrive (a read failed, or the
    // file ended before the piece did: it shrank).
    bool fetch_piece(PieceChecker& checker);
    // Fetches up to `want` bytes past those fetched: false at the end.
    bool fetch_more(std::size_t want);
    // errno of a read that failed, or 0.
    int read_error() const { return read_error_; }

private:
    ssize_t fetch(std::size_t want);

    const PieceSource& source_;
    std::size_t begin_;
    std::size_t end_;
    bool last_;
    std::size_t first_;
    std::size_t fetched_ = 0;
    int read_error_ = 0;
};

// A thread's memory for pieces grows to fit a stretch without a header; past
// this it is not kept for the next piece.
void trim_piece_memory();

}  // namespace textgrid
