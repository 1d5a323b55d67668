#pragma once
// Opening files, and storing a text so that a failed write never costs the
// file it was to replace.

#include <sys/types.h>
#include <sys/uio.h>

#include <string_view>
#include <vector>

#include "error.hpp"

namespace textgrid {

// open(2), retried while a signal interrupts it, as Python's own open() does.
int open_retrying(const char* path, int flags, mode_t mode = 0);

// The call that writes gathered chunks: writev, or in tests one that fails
// as a full disk does.
using WriteCall = ssize_t (*)(int fd, const iovec* chunks, int count);

// Stores the chunks, in order, as the file at `path`. A regular file or a new
// path gets a new file beside it (hidden, unique name) that is renamed over it
// once complete: readers see the old text or the new, and a failure leaves the
// old file as it was and no new file behind. Symlinks are followed (the file
// they lead to is replaced, the links stay); the replacement keeps the old
// permission bits. Anything else (FIFO, device, descriptor link such as
// /dev/stdout) is written in place. No fsync.
// Errors read "cannot write <path>: <system message> (os error N)".
Status store_chunks(const std::vector<iovec>& chunks, std::string_view path,
                    WriteCall write = ::writev);

}  // namespace textgrid
