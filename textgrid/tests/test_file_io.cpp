#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "fake_disk.hpp"
#include "read/loading.hpp"
#include "runtime/file_io.hpp"
#include "temp_files.hpp"

using namespace textgrid;
namespace fs = std::filesystem;

namespace {

// Every name under `dir`, relative to it; a temporary file left over shows here.
std::set<std::string> names_under(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        names.insert(entry.path().lexically_relative(dir).string());
    }
    return names;
}

// 300 kB, longer than a pipe's or a small disk's room.
const std::string NEW_TEXT = [] {
    std::string text;
    for (int line = 0; text.size() < 300000; ++line)
        text += "line " + std::to_string(line) + "\r\n";
    return text;
}();

// The text in several chunks, as the writer hands over its parts.
std::vector<iovec> chunks_of(const std::string& text) {
    constexpr std::size_t chunk = 40000;
    std::vector<iovec> chunks;
    for (std::size_t at = 0; at < text.size(); at += chunk) {
        chunks.push_back({const_cast<char*>(text.data() + at), std::min(chunk, text.size() - at)});
    }
    return chunks;
}

std::string os_error(const fs::path& path, int code) {
    return "cannot write " + path.string() + ": " + std::strerror(code) + " (os error " +
           std::to_string(code) + ")";
}

// ---- failed writes ------------------------------------------------------------

using support::disk_room;
using support::fill_disk;

ssize_t accept_nothing(int, const iovec*, int) { return 0; }

struct FailingDisk {
    const char* name;
    std::size_t room;
    WriteCall write;
    int code;
};

class FailedWrites : public ::testing::TestWithParam<FailingDisk> {};

TEST_P(FailedWrites, KeepTheOldFileAndLeaveNoNewOne) {
    const FailingDisk& disk = GetParam();
    const fs::path dir = support::temp_dir("failed_writes");
    const fs::path old = dir / "old.TextGrid";
    support::write_file(old, "old text");
    for (const fs::path& path : {old, dir / "new.TextGrid"}) {
        disk_room = disk.room;
        const Status status = store_chunks(chunks_of(NEW_TEXT), path.string(), disk.write);
        ASSERT_FALSE(status);
        EXPECT_EQ(status.error().to_string(), os_error(path, disk.code));
    }
    EXPECT_EQ(support::read_file(old), "old text");
    EXPECT_EQ(names_under(dir), std::set<std::string>{"old.TextGrid"});
}

INSTANTIATE_TEST_SUITE_P(
    Disks, FailedWrites,
    ::testing::Values(FailingDisk{"full_at_once", 0, fill_disk, ENOSPC},
                      FailingDisk{"full_after_64_KiB", 65536, fill_disk, ENOSPC},
                      FailingDisk{"accepting_nothing", 0, accept_nothing, EIO}),
    [](const auto& info) { return std::string(info.param.name); });

// The text is written as it is made: a source that fails midway (rendering
// that throws) costs no old text and leaves no new file.
TEST(StoreText, ASourceThrowingMidwayLeavesNoTrace) {
    const fs::path dir = support::temp_dir("throwing_source");
    const fs::path old = dir / "old.TextGrid";
    support::write_file(old, "old text");
    const auto source = [](const ChunkSink& sink) -> int {
        sink(chunks_of(NEW_TEXT));
        throw std::runtime_error("rendering failed");
    };
    for (const fs::path& path : {old, dir / "new.TextGrid"}) {
        EXPECT_THROW((void)store_text(source, path.string()), std::runtime_error);
    }
    EXPECT_EQ(support::read_file(old), "old text");
    EXPECT_EQ(names_under(dir), std::set<std::string>{"old.TextGrid"});
}

// ---- where the text lands ------------------------------------------------------

struct Destination {
    const char* name;
    const char* given;  // the path written, relative to the directory
    const char* lands;  // the file that then holds the text
    mode_t mode;        // its permission bits (new files: umask 027)
};

class Destinations : public ::testing::TestWithParam<Destination> {};

// Links stay links, the replaced file keeps its bits, nothing else appears.
TEST_P(Destinations, ReplaceTheFileLinksLeadTo) {
    const Destination& to = GetParam();
    const fs::path dir = support::temp_dir("destinations");
    support::write_file(dir / "old.TextGrid", "old text");
    fs::permissions(dir / "old.TextGrid", fs::perms(0604));
    fs::create_directory(dir / "sub");
    fs::create_symlink("old.TextGrid", dir / "link");
    fs::create_symlink(dir / "link", dir / "sub" / "chain");
    fs::create_symlink("sub/new.TextGrid", dir / "dangling");
    std::set<std::string> names = names_under(dir);
    names.insert(to.lands);

    const mode_t saved_umask = ::umask(027);
    const Status status = store_chunks(chunks_of(NEW_TEXT), (dir / to.given).string());
    ::umask(saved_umask);

    ASSERT_TRUE(status) << status.error().to_string();
    EXPECT_EQ(support::read_file(dir / to.lands), NEW_TEXT);
    EXPECT_EQ(fs::status(dir / to.lands).permissions(), fs::perms(to.mode));
    for (const char* link : {"link", "sub/chain", "dangling"})
        EXPECT_TRUE(fs::is_symlink(dir / link));
    EXPECT_EQ(names_under(dir), names);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, Destinations,
    ::testing::Values(Destination{"new_file", "fresh.TextGrid", "fresh.TextGrid", 0640},
                      Destination{"existing_file", "old.TextGrid", "old.TextGrid", 0604},
                      Destination{"symlink", "link", "old.TextGrid", 0604},
                      Destination{"chain_of_links", "sub/chain", "old.TextGrid", 0604},
                      Destination{"dangling_link", "dangling", "sub/new.TextGrid", 0640}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- interrupted open ------------------------------------------------------------

std::atomic<int> interruptions{0};
void count_interruption(int) { interruptions.fetch_add(1); }

const std::string FIFO_TEXT = "sent through a FIFO\r\n";

// The FIFO's other end, opened once the caller waits in its own open(). Never
// blocks for long, so a caller that gave up fails the test instead of hanging it.
void serve_other_end(const std::string& fifo, bool caller_writes, std::string& received) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int fd;
    while ((fd = ::open(fifo.c_str(), (caller_writes ? O_RDONLY : O_WRONLY) | O_NONBLOCK)) < 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (fd < 0) return;
    if (caller_writes) {
        pollfd ready{fd, POLLIN, 0};
        char buffer[4096];
        ssize_t got;
        while (::poll(&ready, 1, 5000) > 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0) {
            received.append(buffer, static_cast<std::size_t>(got));
        }
    } else {
        EXPECT_EQ(::write(fd, FIFO_TEXT.data(), FIFO_TEXT.size()), ssize_t(FIFO_TEXT.size()));
    }
    ::close(fd);
}

// A FIFO's open() waits for the other end; signals that arrive meanwhile
// (a handler without SA_RESTART, as Python installs them) must not end it.
class InterruptedOpen : public ::testing::TestWithParam<bool> {};

TEST_P(InterruptedOpen, IsRetried) {
    const bool writing = GetParam();
    const std::string fifo = support::temp_dir("interrupted_open") + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct sigaction action {
    }, saved{};
    action.sa_handler = count_interruption;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &saved), 0);
    interruptions = 0;

    std::string received;
    const pthread_t caller = ::pthread_self();
    std::thread peer([&] {
        for (int i = 0; i < 20; ++i) {
            ::pthread_kill(caller, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        serve_other_end(fifo, writing, received);
    });
    std::string outcome;
    if (writing) {
        const Status status = store_chunks(chunks_of(FIFO_TEXT), fifo);
        outcome = status ? "stored" : status.error().to_string();
    } else {
        auto text = load_text(fifo);
        outcome = text ? std::string(text.value().view()) : text.error().to_string();
    }
    peer.join();
    ::sigaction(SIGUSR1, &saved, nullptr);

    EXPECT_GT(interruptions.load(), 0);
    EXPECT_EQ(outcome, writing ? "stored" : FIFO_TEXT);
    EXPECT_EQ(received, writing ? FIFO_TEXT : "");
    EXPECT_TRUE(fs::is_fifo(fifo));
}

INSTANTIATE_TEST_SUITE_P(Calls, InterruptedOpen, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "writing" : "reading");
});

}  // namespace
