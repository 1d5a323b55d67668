#include "runtime/large_memory.hpp"

#include <sys/mman.h>
#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>

namespace textgrid::large_memory {

namespace {

// Block sizes go up in steps of half a power of two (128, 192, 256, 384 KiB
// ... 256 MiB), so a block is kept for the sizes it fits without much to spare.
constexpr std::size_t CLASSES = 23;
constexpr std::size_t KEPT_PER_CLASS = 16;

constexpr std::size_t class_size(std::size_t c) {
    return c % 2 == 0 ? std::size_t{1} << (17 + c / 2) : std::size_t{3} << (16 + c / 2);
}
static_assert(class_size(0) == FROM_BYTES || FROM_BYTES > class_size(CLASSES - 1));
static_assert(class_size(CLASSES - 1) == KEPT_UP_TO_BYTES);

// The smallest class that holds `bytes`, or CLASSES if none does.
std::size_t class_of(std::size_t bytes) {
    std::size_t c = 0;
    while (c < CLASSES && class_size(c) < bytes) ++c;
    return c;
}

// The system's page size; a guess if it will not say.
std::size_t page_bytes() {
    static const std::size_t page = [] {
        const long size = ::sysconf(_SC_PAGESIZE);
        return size > 0 ? static_cast<std::size_t>(size) : std::size_t{4096};
    }();
    return page;
}

std::size_t whole_pages(std::size_t bytes) {
    return (bytes + page_bytes() - 1) / page_bytes() * page_bytes();
}

// Smaller blocks would hold much more memory in huge pages than they use.
constexpr std::size_t HUGE_PAGES_FROM_BYTES = std::size_t{8} << 20;

// Blocks beyond every class are mapped to their size and never kept.
std::size_t mapped_size(std::size_t bytes) {
    const std::size_t c = class_of(bytes);
    return c < CLASSES ? class_size(c) : whole_pages(bytes);
}

// Marking a block's pages free costs the system a step for every small page it
// holds, which for the blocks below huge pages is more than a reading of them
// saves: these are kept unmarked, up to this much in all.
constexpr std::size_t UNMARKED_UP_TO_BYTES = std::size_t{64} << 20;

// A kept block's address, with its lowest bit set if its pages were left unmarked
// (blocks are page aligned).
constexpr std::uintptr_t UNMARKED = 1;

struct Kept {
    std::array<std::array<std::atomic<void*>, KEPT_PER_CLASS>, CLASSES> blocks{};
    std::atomic<std::size_t> bytes{0};
    std::atomic<std::size_t> unmarked_bytes{0};
};

Kept& kept() {
    static Kept blocks;  // atomics only: nothing to destroy
    return blocks;
}

void* take_kept(std::size_t c) {
    for (auto& slot : kept().blocks[c]) {
        void* block = slot.load(std::memory_order_relaxed);
        if (block && slot.compare_exchange_strong(block, nullptr, std::memory_order_acquire)) {
            kept().bytes.fetch_sub(class_size(c), std::memory_order_relaxed);
            const auto address = reinterpret_cast<std::uintptr_t>(block);
            if (address & UNMARKED)
                kept().unmarked_bytes.fetch_sub(class_size(c), std::memory_order_relaxed);
            return reinterpret_cast<void*>(address & ~UNMARKED);
        }
    }
    return nullptr;
}

// Adds `bytes` to `total` if it stays within `bound`; true if it did.
bool count_within(std::atomic<std::size_t>& total, std::size_t bytes, std::size_t bound) {
    if (total.fetch_add(bytes, std::memory_order_relaxed) + bytes <= bound) return true;
    total.fetch_sub(bytes, std::memory_order_relaxed);
    return false;
}

bool keep([[maybe_unused]] void* block, [[maybe_unused]] std::size_t c) {
#ifdef MADV_FREE
    auto& total = kept().bytes;
    if (count_within(total, class_size(c), KEPT_UP_TO_BYTES)) {
        const bool unmarked =
            class_size(c) < HUGE_PAGES_FROM_BYTES &&
            count_within(kept().unmarked_bytes, class_size(c), UNMARKED_UP_TO_BYTES);
        if (unmarked || ::madvise(block, class_size(c), MADV_FREE) == 0) {
            void* const tagged = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(block) |
                                                         (unmarked ? UNMARKED : 0));
            for (auto& slot : kept().blocks[c]) {
                void* empty = nullptr;
                if (slot.compare_exchange_strong(empty, tagged, std::memory_order_release))
                    return true;
            }
        }
        if (unmarked) kept().unmarked_bytes.fetch_sub(class_size(c), std::memory_order_relaxed);
        total.fetch_sub(class_size(c), std::memory_order_relaxed);
    }
#endif
    return false;
}

}  // namespace

void* take(std::size_t bytes) {
    const std::size_t c = class_of(bytes);
    if (c < CLASSES) {
        if (void* block = take_kept(c)) return block;
    }
    const std::size_t size = mapped_size(bytes);
    void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
    if (size >= HUGE_PAGES_FROM_BYTES) ::madvise(block, size, MADV_HUGEPAGE);  // advice only
#endif
    return block;
}

void give_back(void* block, std::size_t bytes) noexcept {
    const std::size_t c = class_of(bytes);
    if (c < CLASSES && keep(block, c)) return;
    ::munmap(block, mapped_size(bytes));
}

std::size_t shrink(void* block, std::size_t bytes, std::size_t used) noexcept {
    const std::size_t size = mapped_size(bytes);
    const std::size_t smaller = mapped_size(std::max(used, FROM_BYTES));
    // Classes are whole pages of any common size; should the system still
    // decline, the block stays as it was.
    if (smaller >= size || smaller % page_bytes() != 0 ||
        ::munmap(static_cast<char*>(block) + smaller, size - smaller) != 0)
        return bytes;
    return smaller;
}

void release_tail(void* block, std::size_t bytes, std::size_t used) noexcept {
    const std::size_t from = whole_pages(used);
    const std::size_t size = mapped_size(bytes);
    // Advice only: if the system declines, the pages simply stay.
    if (from < size) ::madvise(static_cast<char*>(block) + from, size - from, MADV_DONTNEED);
}

std::size_t kept_bytes() noexcept { return kept().bytes.load(std::memory_order_relaxed); }

std::size_t kept_unmarked_bytes() noexcept {
    return kept().unmarked_bytes.load(std::memory_order_relaxed);
}

std::size_t release_kept() noexcept {
    std::size_t released = 0;
    for (std::size_t c = 0; c < CLASSES; ++c) {
        while (void* block = take_kept(c)) {
            ::munmap(block, class_size(c));
            released += class_size(c);
        }
    }
#if defined(__GLIBC__)
    // The heap keeps freed memory at its top, and in the arenas of the pool's
    // threads, until asked.
    ::malloc_trim(0);
#endif
    return released;
}

}  // namespace textgrid::large_memory
