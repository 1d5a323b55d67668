#include "runtime/file_io.hpp"

#include <fcntl.h>
#include <limits.h>
#include <linux/magic.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace textgrid {

namespace {

// Writes every chunk, repeating partial and interrupted writes; 0 or an errno.
int write_all(const FileDescriptor& file, std::span<const iovec> all_chunks, WriteCall write) {
    std::vector<iovec> chunks;
    for (const iovec& chunk : all_chunks) {
        if (chunk.iov_len > 0) chunks.push_back(chunk);
    }
    std::size_t first = 0;
    while (first < chunks.size()) {
        const int count = static_cast<int>(std::min<std::size_t>(chunks.size() - first, IOV_MAX));
        const ssize_t written =
            retrying_interrupted([&] { return write(file.get(), &chunks[first], count); });
        // A write that accepts nothing would loop forever.
        if (written <= 0) return written < 0 ? errno : EIO;
        // Drop what was written; a partly written chunk keeps its tail.
        auto left = static_cast<std::size_t>(written);
        while (left > 0 && left >= chunks[first].iov_len) left -= chunks[first++].iov_len;
        if (left > 0) {
            chunks[first].iov_base = static_cast<char*>(chunks[first].iov_base) + left;
            chunks[first].iov_len -= left;
        }
    }
    return 0;
}

// Starts the disk writes of what a file was given so far, a step at a time.
// Renaming a file over another makes ext4 write the new one out first
// (auto_da_alloc) and wait for the disk; begun early, that writing overlaps
// the rest of the call, and the rename finds it done. Other file systems do
// not wait there. Best effort: no error counts.
class EarlyWriteback {
public:
    explicit EarlyWriteback(bool wanted) : wanted_(wanted) {}

    void written(const FileDescriptor& file, std::span<const iovec> chunks) {
        for (const iovec& chunk : chunks) written_ += chunk.iov_len;
        if (wanted_ && written_ - started_ >= STEP) start(file);
    }
    void finish(const FileDescriptor& file) {
        if (wanted_ && written_ > started_) start(file);
    }

private:
    static constexpr std::size_t STEP = std::size_t{1} << 20;

    void start(const FileDescriptor& file) {
        ::sync_file_range(file.get(), static_cast<off_t>(started_),
                          static_cast<off_t>(written_ - started_), SYNC_FILE_RANGE_WRITE);
        started_ = written_;
    }

    bool wanted_;
    std::size_t written_ = 0;
    std::size_t started_ = 0;
};

// Delayed write errors (e.g. of network file systems) surface at close.
int write_and_close(FileDescriptor file, const TextSource& source, WriteCall write,
                    bool early_writeback = false) {
    EarlyWriteback writeback(early_writeback);
    const int error = source([&](std::span<const iovec> chunks) {
        const int failed = write_all(file, chunks, write);
        if (failed == 0) writeback.written(file, chunks);
        return failed;
    });
    if (error == 0) writeback.finish(file);
    const int closing = file.close();
    return error != 0 ? error : closing;
}

Status store_in_place(const TextSource& source, const std::string& file, std::string_view path,
                      WriteCall write) {
    auto fd = FileDescriptor::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (!fd) return errors::write_failed(path, errno);
    if (const int error = write_and_close(std::move(fd), source, write)) {
        return errors::write_failed(path, error);
    }
    return Ok{};
}

std::string directory_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool on_procfs(const std::string& path) {
    const std::string directory = directory_of(path);
    struct statfs info {};
    return ::statfs(directory.empty() ? "." : directory.c_str(), &info) == 0 &&
           info.f_type == PROC_SUPER_MAGIC;
}

bool on_ext4(const FileDescriptor& file) {
    struct statfs info {};
    return ::fstatfs(file.get(), &info) == 0 && info.f_type == EXT4_SUPER_MAGIC;
}

// The name of the file that `path` leads to through symlinks (`path` itself if
// it is no link). Nothing for procfs's links: /dev/stdout leads through
// /proc/self/fd/1 to an open file, which a rename would not reach.
std::optional<std::string> through_links(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {  // the kernel's own limit
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length < 0) return path;
        if (length == sizeof target || on_procfs(path)) return std::nullopt;
        const std::string_view link(target, static_cast<std::size_t>(length));
        path = link.starts_with('/') ? std::string(link) : directory_of(path).append(link);
    }
    return std::nullopt;
}

struct Replacement {
    std::string file;            // the name renamed over
    std::optional<mode_t> mode;  // the permission bits of the file replaced
};

// Whether `path` is stored by renaming a new file over it; nothing where the
// file is to be written in place, which also gives every failing path the
// error it always gave.
std::optional<Replacement> replacement_for(const std::string& path) {
    if (path.empty() || path.back() == '/') return std::nullopt;
    struct stat info {};
    std::optional<mode_t> mode;
    if (::stat(path.c_str(), &info) == 0) {
        // A file the caller may not write must not be replaced either.
        if (!S_ISREG(info.st_mode) || ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
            return std::nullopt;
        }
        mode = info.st_mode & 07777;
    } else if (errno != ENOENT) {
        return std::nullopt;
    }
    auto file = through_links(path);
    if (!file || file->back() == '/') return std::nullopt;
    return Replacement{std::move(*file), mode};
}

std::uint64_t random_bits() {
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == sizeof bits) return bits;
    // No entropy yet: distinct enough, as O_EXCL settles any clash.
    static std::atomic<std::uint64_t> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return (static_cast<std::uint64_t>(::getpid()) << 40) ^ (counter++ << 24) ^
           static_cast<std::uint64_t>(now);
}

// ".<base name>.<10 letters and digits>" beside `file`, within NAME_MAX.
std::string temporary_name(const std::string& file) {
    constexpr std::string_view symbols =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    constexpr std::size_t suffix = 10;
    const std::string directory = directory_of(file);
    std::string name = directory + '.' + file.substr(directory.size(), NAME_MAX - 2 - suffix) + '.';
    auto bits = random_bits();
    for (std::size_t i = 0; i < suffix; ++i, bits /= symbols.size()) {
        name += symbols[bits % symbols.size()];
    }
    return name;
}

// A new file of a fresh name beside `file`; invalid, with errno, on failure.
FileDescriptor create_beside(const std::string& file, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = temporary_name(file);
        auto fd = FileDescriptor::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd || errno != EEXIST) return fd;
    }
    return FileDescriptor();
}

// The directory refuses a new name, or the old name cannot be replaced (a
// mount point, another user's file in a sticky directory): written in place
// as before, the file's own permissions decide.
bool write_in_place_instead(int code) { return code == EACCES || code == EPERM || code == EBUSY; }

// The hidden file until it is renamed into place: removed on every other way
// out, an exception from the text's source included.
class HiddenFile {
public:
    explicit HiddenFile(std::string name) : name_(std::move(name)) {}
    HiddenFile(const HiddenFile&) = delete;
    HiddenFile& operator=(const HiddenFile&) = delete;
    ~HiddenFile() { remove(); }

    const char* name() const { return name_.c_str(); }
    void remove() {
        if (!name_.empty()) ::unlink(name_.c_str());
        name_.clear();
    }
    void renamed() { name_.clear(); }

private:
    std::string name_;
};

Status store_by_rename(const TextSource& source, const Replacement& to, const std::string& given,
                       std::string_view path, WriteCall write) {
    std::string name;
    auto fd = create_beside(to.file, name);
    if (!fd) {
        const int error = errno;
        return write_in_place_instead(error) ? store_in_place(source, given, path, write)
                                             : errors::write_failed(path, error);
    }
    HiddenFile temporary(std::move(name));
    // Best effort: some file systems (FAT) keep no permission bits.
    if (to.mode) ::fchmod(fd.get(), *to.mode);
    // Only ext4's rename over an existing file waits for the disk.
    const bool early_writeback = to.mode.has_value() && on_ext4(fd);
    if (const int error = write_and_close(std::move(fd), source, write, early_writeback)) {
        return errors::write_failed(path, error);
    }
    if (::rename(temporary.name(), to.file.c_str()) != 0) {
        const int error = errno;
        temporary.remove();
        return write_in_place_instead(error) ? store_in_place(source, given, path, write)
                                             : errors::write_failed(path, error);
    }
    temporary.renamed();
    return Ok{};
}

}  // namespace

Status store_text(const TextSource& source, std::string_view path, WriteCall write) {
    const std::string given(path);
    const auto replacement = replacement_for(given);
    return replacement ? store_by_rename(source, *replacement, given, path, write)
                       : store_in_place(source, given, path, write);
}

Status store_chunks(const std::vector<iovec>& chunks, std::string_view path, WriteCall write) {
    return store_text([&chunks](const ChunkSink& sink) { return sink(chunks); }, path, write);
}

}  // namespace textgrid
