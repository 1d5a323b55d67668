#pragma once
// The one unit that talks to the operating system about files: an owned
// descriptor, reading, and storing a text so that a failed write never costs
// the file it was to replace.

#include <errno.h>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <functional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "model/error.hpp"

namespace textgrid {

// The one policy for interrupted calls: a call that a signal interrupts
// (EINTR) is made again, as Python's own file functions do. Only close is not
// repeated: Linux frees the descriptor even then.
template <class Call>
auto retrying_interrupted(Call call) {
    for (;;) {
        const auto result = call();
        if (!(result < 0 && errno == EINTR)) return result;
    }
}

// Sole owner of one open file descriptor; closed when it goes.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~FileDescriptor() { close(); }

    // open(2); on failure an invalid descriptor, and errno says why.
    static FileDescriptor open(const char* path, int flags, mode_t mode = 0) {
        return FileDescriptor(retrying_interrupted([&] { return ::open(path, flags, mode); }));
    }

    explicit operator bool() const noexcept { return fd_ >= 0; }
    int get() const noexcept { return fd_; }

    // read(2) and pread(2): bytes read, 0 at end of file, -1 with errno.
    ssize_t read_some(char* buffer, std::size_t size) const {
        return retrying_interrupted([&] { return ::read(fd_, buffer, size); });
    }
    ssize_t read_some_at(char* buffer, std::size_t size, std::size_t offset) const {
        return retrying_interrupted(
            [&] { return ::pread(fd_, buffer, size, static_cast<off_t>(offset)); });
    }

    // Closes now: 0, or the errno of an error that close reports (delayed
    // write errors of network file systems surface here). Interrupted counts
    // as closed.
    int close() noexcept {
        if (fd_ < 0) return 0;
        const int fd = std::exchange(fd_, -1);
        return ::close(fd) != 0 && errno != EINTR ? errno : 0;
    }

private:
    int fd_ = -1;
};

// The call that writes gathered chunks: writev, or in tests one that fails
// as a full disk does.
using WriteCall = ssize_t (*)(int fd, const iovec* chunks, int count);

// Takes the next chunks of a text and answers 0, or the errno that ends the
// writing.
using ChunkSink = std::function<int(std::span<const iovec>)>;
// Hands a whole text to the sink, in order, as it is produced, and answers the
// sink's first errno (0 if none); once the sink has failed it is not called
// again. Called again from the start if the text must be stored anew.
using TextSource = std::function<int(const ChunkSink&)>;

// Stores the text of `source` as the file at `path`, as store_chunks does.
// The text is written as it comes, so it never needs to be whole in memory.
Status store_text(const TextSource& source, std::string_view path, WriteCall write = ::writev);

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
