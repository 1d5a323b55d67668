#include "runtime/large_memory.hpp"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "model/textgrid.hpp"

using namespace textgrid;

namespace {

constexpr std::size_t MiB = std::size_t{1} << 20;

// Writes a mark on every page of the block, so a block smaller than asked for,
// or handed to two owners at once, shows.
void mark(void* block, std::size_t bytes, std::uint64_t owner) {
    for (std::size_t at = 0; at + 8 <= bytes; at += 4096)
        std::memcpy(static_cast<char*>(block) + at, &owner, 8);
}

bool marked(const void* block, std::size_t bytes, std::uint64_t owner) {
    for (std::size_t at = 0; at + 8 <= bytes; at += 4096) {
        std::uint64_t found;
        std::memcpy(&found, static_cast<const char*>(block) + at, 8);
        if (found != owner) return false;
    }
    return true;
}

}  // namespace

// A block freed is the one the next reading of a size it fits gets; blocks
// beyond every kept size, or past what may be kept, go back to the system.
TEST(LargeMemory, KeepsFreedBlocksForSizesTheyFit) {
    for (const std::size_t bytes : {MiB, 5 * MiB + 7, 100 * MiB, 300 * MiB}) {
        void* block = large_memory::take(bytes);
        ASSERT_NE(block, nullptr);
        mark(block, bytes, bytes);
        const std::size_t before = large_memory::kept_bytes();
        large_memory::give_back(block, bytes);
        const bool kept = bytes <= 256 * MiB;
        EXPECT_EQ(large_memory::kept_bytes() > before, kept) << bytes;
        void* again = large_memory::take(bytes - 1);
        if (kept) {  // else the system may well map the same place again
            EXPECT_EQ(again, block) << bytes;
        }
        EXPECT_EQ(large_memory::kept_bytes(), before) << bytes;
        mark(again, bytes - 1, 1);
        large_memory::give_back(again, bytes - 1);
    }
    // Past each bound, blocks are marked free or go back to the system; either
    // way every one can be taken again whole.
    for (const std::vector<std::size_t>& sizes :
         {std::vector<std::size_t>{3 * MiB, 4 * MiB, 6 * MiB},
          std::vector<std::size_t>{64 * MiB}}) {
        std::vector<std::pair<void*, std::size_t>> taken;
        for (const std::size_t bytes : sizes) {
            for (std::size_t k = 0; k < 2 * large_memory::KEPT_UP_TO_BYTES / (64 * MiB) + 16; ++k)
                taken.emplace_back(large_memory::take(bytes), bytes);
        }
        for (auto [block, bytes] : taken) large_memory::give_back(block, bytes);
        EXPECT_LE(large_memory::kept_bytes(), large_memory::KEPT_UP_TO_BYTES);
        EXPECT_LE(large_memory::kept_unmarked_bytes(), 64 * MiB);
        for (auto& [block, bytes] : taken) {
            block = large_memory::take(bytes);
            mark(block, bytes, bytes);
        }
        for (auto [block, bytes] : taken) large_memory::give_back(block, bytes);
    }
}

TEST(LargeMemory, NeverHandsOneBlockToTwoOwners) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4);
    for (std::size_t t = 0; t < failures.size(); ++t) {
        threads.emplace_back([t, &failures] {
            for (std::uint64_t round = 0; round < 200; ++round) {
                const std::size_t bytes = (1 + (round + t) % 3) * MiB;
                void* block = large_memory::take(bytes);
                const std::uint64_t owner = (t << 32) | round;
                mark(block, bytes, owner);
                std::this_thread::yield();
                failures[t] += !marked(block, bytes, owner);
                large_memory::give_back(block, bytes);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (std::size_t t = 0; t < failures.size(); ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

// Items in large memory grow, shrink and move like any vector's.
TEST(LargeMemory, HoldsItemsAcrossGrowth) {
    Items items;
    for (std::size_t i = 0; i < 100000; ++i)
        items.push_back({double(i), double(i + 1), std::to_string(i)});
    Items moved = std::move(items);
    moved.resize(30000);
    moved.shrink_to_fit();
    Items copy = moved;
    for (std::size_t i = 0; i < copy.size(); i += 997) {
        ASSERT_EQ(copy[i].tmin, double(i));
        ASSERT_EQ(copy[i].label, std::to_string(i));
    }
}

// A block its user keeps holds the pages its values need and no more; those
// keep their values.
TEST(LargeMemory, ReleasedTailLeavesTheValuesAndNoPagesPast) {
    for (const std::size_t used : {std::size_t{1}, std::size_t{4096 * 3 + 5}, MiB + 1}) {
        const std::size_t bytes = 3 * MiB;
        void* block = large_memory::take(bytes);
        ASSERT_NE(block, nullptr);
        mark(block, bytes, 42);
        large_memory::release_tail(block, bytes, used);
        EXPECT_TRUE(marked(block, used, 42));
        const std::size_t pages = bytes / 4096;
        std::vector<unsigned char> resident(pages);
        ASSERT_EQ(::mincore(block, bytes, resident.data()), 0);
        const std::size_t kept_pages = (used + 4095) / 4096;
        for (std::size_t page = 0; page < pages; ++page)
            ASSERT_EQ(resident[page] & 1, page < kept_pages ? 1 : 0) << "page " << page;
        large_memory::give_back(block, bytes);
    }
}
