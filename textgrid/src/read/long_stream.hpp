#pragma once
// Reading a large long-layout file whose rows are handed over as they come,
// straight from the file: each worker reads a piece into memory of its own
// that it reuses, checks it, and reads its stretch of rows from it while the
// bytes are still in its cache. The text is never whole in memory, so no call
// pays for fresh pages to hold it, and the first rows are handed over as soon
// as the first piece is read instead of once the whole file is.

#include <cstddef>
#include <optional>
#include <string_view>

#include "model/file_type.hpp"
#include "model/textgrid.hpp"
#include "read/loading.hpp"

namespace textgrid {

// What read_textgrid with `observe` returns, read this way; nothing, before
// anything is handed over, for a file this way does not read: below a few
// MB, not a regular file, UTF-16, without a line feed near its start, read
// as "auto" without the long layout's tier list near its start, or read on
// a pool worker or a single processor.
std::optional<Result<TextGrid>> read_long_streamed(const OpenedFile& opened, bool strict,
                                                   FileType type, const RowObserver& observe);

namespace detail {
// The same with the processors, the size of the pieces and the least size
// read this way given, for tests.
std::optional<Result<TextGrid>> read_long_streamed(const OpenedFile& opened, bool strict,
                                                   FileType type, const RowObserver& observe,
                                                   std::size_t processors, std::size_t piece_bytes,
                                                   std::size_t from_bytes);
}  // namespace detail

}  // namespace textgrid
