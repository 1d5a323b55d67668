#pragma once
// A disk that takes only so many more bytes, for the writers' failure paths.

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>

namespace support {

inline std::size_t disk_room = 0;  // bytes the fake disk still takes

// A write call, as the writers take one, onto that disk: ENOSPC once it is full.
inline ssize_t fill_disk(int fd, const iovec* chunks, int) {
    if (disk_room == 0) {
        errno = ENOSPC;
        return -1;
    }
    const ssize_t written = ::write(fd, chunks[0].iov_base, std::min(disk_room, chunks[0].iov_len));
    if (written > 0) disk_room -= static_cast<std::size_t>(written);
    return written;
}

}  // namespace support
