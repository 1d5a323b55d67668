// The thread setting: the caller alone at 1, a pool that grows and shrinks
// to match otherwise, every job served the same meanwhile.

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <numeric>
#include <thread>
#include <vector>

#include "runtime/large_memory.hpp"
#include "runtime/parallel.hpp"
#include "threads.hpp"

using namespace textgrid;
using support::threads_in_process;

namespace {

// The process's threads once they settle at `expected`, or after 5 s.
std::size_t threads_settled_at(std::size_t expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (threads_in_process() != expected && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return threads_in_process();
}

// A plain and an observed job of n elements; true if both give every element in order.
bool jobs_keep_order(std::size_t n) {
    const auto mapped = parallel_map(n, [](std::size_t i) { return i; });
    std::vector<std::size_t> expected(n);
    std::iota(expected.begin(), expected.end(), std::size_t{0});
    std::vector<std::size_t> observed;
    parallel_map_pieces_ordered(
        n,
        [](std::size_t begin, std::size_t end) {
            std::vector<std::size_t> piece(end - begin);
            std::iota(piece.begin(), piece.end(), begin);
            return piece;
        },
        [&](std::size_t, std::vector<std::size_t>&& piece) {
            observed.insert(observed.end(), piece.begin(), piece.end());
        });
    return mapped == expected && observed == expected;
}

}  // namespace

// Settings in turn: the pool starts at the first that needs it, and then
// gains and loses workers; 1 leaves the caller alone.
TEST(ThreadCount, PoolFollowsTheSetting) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer starts a thread of its own once the first is started";
#endif
    // Without the workers of a pool an earlier test may have started.
    set_thread_count(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::size_t before = threads_in_process();
    for (const std::size_t threads : {1, 3, 1, 2, 4}) {
        set_thread_count(threads);
        EXPECT_EQ(thread_count(), threads);
        EXPECT_TRUE(jobs_keep_order(5000));
        EXPECT_EQ(threads_settled_at(before + (threads > 1 ? threads : 0)),
                  before + (threads > 1 ? threads : 0))
            << threads << " threads";
    }
    set_thread_count(logical_processors());
}

// A pool made empty under a running job still finishes it, on its caller.
TEST(ThreadCount, JobsFinishWhileThePoolShrinks) {
    set_thread_count(2);
    std::thread shrink([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        set_thread_count(1);
    });
    const auto slow = parallel_map(4000, [](std::size_t i) {
        std::this_thread::sleep_for(std::chrono::microseconds(5));
        return i;
    });
    shrink.join();
    EXPECT_EQ(slow.size(), 4000u);
    EXPECT_EQ(slow.back(), 3999u);
    set_thread_count(logical_processors());
}

TEST(LargeMemory, ReleaseKeptUnmapsEveryKeptBlock) {
    const std::size_t bytes = std::size_t{1} << 20;
    void* block = large_memory::take(bytes);
    ASSERT_NE(block, nullptr);
    large_memory::give_back(block, bytes);
    EXPECT_GE(large_memory::kept_bytes(), bytes);
    EXPECT_GE(large_memory::release_kept(), bytes);
    EXPECT_EQ(large_memory::kept_bytes(), 0u);
}
