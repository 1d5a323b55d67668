#pragma once
// Memory for the large arrays of a reading (a file's text, a tier's items),
// kept for the next reading once freed.
//
// Every fresh page costs the system a fault and a clear: on some machines that
// is as much as parsing the bytes that fill it, and the heap's allocator hands
// blocks this large back to the system as soon as they are freed. Freed blocks
// wait here instead, their pages marked for the system to take when it runs
// short (MADV_FREE): until it does, the next reading lands on them without a
// fault. Marking costs the system a step per small page, so some of the blocks
// below huge pages are kept unmarked instead. Lock-free, so a fork at any moment
// leaves the child a usable cache.

#include <cstddef>
#include <limits>
#include <memory>
#include <new>

namespace textgrid {

namespace large_memory {

#if defined(__SANITIZE_ADDRESS__)
#define TEXTGRID_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TEXTGRID_ADDRESS_SANITIZER 1
#endif
#endif

// Smaller blocks come from the heap as usual.
#if defined(TEXTGRID_ADDRESS_SANITIZER)
// The address checker sees only the heap's blocks.
inline constexpr std::size_t FROM_BYTES = std::numeric_limits<std::size_t>::max();
#else
// The allocator maps blocks from 128 KiB on afresh, and unmaps them once freed.
inline constexpr std::size_t FROM_BYTES = std::size_t{128} << 10;
#endif
// Kept for reuse, all blocks together, counted at their full size.
inline constexpr std::size_t KEPT_UP_TO_BYTES = std::size_t{256} << 20;

// A block of at least `bytes` (from FROM_BYTES on), a kept one if one fits;
// nullptr if the system has no memory. New blocks from 8 MiB ask for huge
// pages: such arrays are walked end to end, and blocks are kept, so a slow
// first fault pays.
void* take(std::size_t bytes);
// Gives back a block that take(bytes) returned, with the same `bytes`.
void give_back(void* block, std::size_t bytes) noexcept;
// Gives the address space of such a block past what its first `used` bytes
// need back to the system (to the smallest size take() hands out that holds
// them): the size to give it back with from then on.
std::size_t shrink(void* block, std::size_t bytes, std::size_t used) noexcept;
// Hands the whole pages of such a block past its first `used` bytes back to
// the system, so a block kept by its user holds no memory it does not use;
// they read as zeros if touched again.
void release_tail(void* block, std::size_t bytes, std::size_t used) noexcept;
// Bytes of the blocks kept now.
std::size_t kept_bytes() noexcept;
// Bytes of those kept without their pages marked free (blocks below 8 MiB,
// up to 64 MiB in all).
std::size_t kept_unmarked_bytes() noexcept;
// Hands every block kept now back to the system, and the heap's free memory
// too where the C library can; the bytes of the kept blocks given back.
std::size_t release_kept() noexcept;

}  // namespace large_memory

// std::allocator, but large arrays live in large_memory.
template <class T>
struct LargeAllocator {
    using value_type = T;

    LargeAllocator() noexcept = default;
    template <class U>
    LargeAllocator(const LargeAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T))
            throw std::bad_array_new_length();
        if (n * sizeof(T) < large_memory::FROM_BYTES) return std::allocator<T>().allocate(n);
        void* block = large_memory::take(n * sizeof(T));
        if (!block) throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n * sizeof(T) < large_memory::FROM_BYTES) return std::allocator<T>().deallocate(p, n);
        large_memory::give_back(p, n * sizeof(T));
    }

    template <class U>
    bool operator==(const LargeAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace textgrid
