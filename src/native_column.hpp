#pragma once
// A numeric column of a result, in one block handed to the array's owner as it
// is. Small blocks come from malloc: they grow and are trimmed with realloc,
// which trims in place where a std::vector would copy every value once more.
// Large ones come from the blocks the library keeps for reuse
// (large_memory.hpp): a fresh block's pages would fault in again on every
// call, unless some other large block was freed before and made the
// allocator keep such sizes on its heap.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "runtime/large_memory.hpp"

namespace velmar {

// Frees a block that a NativeColumn handed over.
inline void release_column_block(void* values, std::size_t large_bytes) noexcept {
    if (large_bytes != 0) {
        textgrid::large_memory::give_back(values, large_bytes);
    } else {
        std::free(values);
    }
}

template <class T>
class NativeColumn {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    // A block handed over, to free with release_column_block.
    struct Block {
        T* values = nullptr;
        std::size_t large_bytes = 0;  // 0: from malloc
    };

    NativeColumn() = default;
    NativeColumn(const NativeColumn&) = delete;
    NativeColumn& operator=(const NativeColumn&) = delete;
    ~NativeColumn() { release_column_block(values_, large_bytes_); }

    std::size_t size() const noexcept { return size_; }
    std::size_t capacity() const noexcept { return capacity_; }
    T* data() noexcept { return values_; }
    const T* data() const noexcept { return values_; }

    // Room for `rows` values in all; std::bad_alloc if there is none.
    void reserve(std::size_t rows) {
        if (rows > capacity_) resize_block(rows);
    }
    void push_back(T value) {
        if (size_ == capacity_) reserve(std::max<std::size_t>(1, 2 * capacity_));
        values_[size_++] = value;
    }
    void append(const T* first, std::size_t count) {
        reserve(size_ + count);
        std::copy_n(first, count, values_ + size_);
        size_ += count;
    }
    void append_copies(std::size_t count, T value) {
        reserve(size_ + count);
        std::fill_n(values_ + size_, count, value);
        size_ += count;
    }

    // Hands the block over, holding no memory beyond the values (room for
    // one at least, so an empty column still has a block of its own); the
    // column is empty after. A small block is trimmed; a large one gives back
    // the address space past the size its values need (and the pages past the
    // values), or, if the values are few, they move to a small block.
    Block take_block() {
        if (!values_) reserve(1);
        const std::size_t rows = std::max<std::size_t>(size_, 1);
        if (large_bytes_ != 0 && rows * sizeof(T) < textgrid::large_memory::FROM_BYTES) {
            if (void* small = std::malloc(rows * sizeof(T))) {
                std::memcpy(small, values_, size_ * sizeof(T));
                release_column_block(values_, large_bytes_);
                values_ = static_cast<T*>(small);
                large_bytes_ = 0;
                capacity_ = rows;
            }
        }
        if (large_bytes_ != 0) {
            large_bytes_ = textgrid::large_memory::shrink(values_, large_bytes_, rows * sizeof(T));
            textgrid::large_memory::release_tail(values_, large_bytes_, rows * sizeof(T));
        } else if (rows != capacity_) {
            // Should the allocator refuse even this, the block goes untrimmed.
            if (void* trimmed = std::realloc(values_, rows * sizeof(T)))
                values_ = static_cast<T*>(trimmed);
        }
        size_ = capacity_ = 0;
        return Block{std::exchange(values_, nullptr), std::exchange(large_bytes_, 0)};
    }

private:
    void resize_block(std::size_t rows) {
        if (rows > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = rows * sizeof(T);
        if (bytes < textgrid::large_memory::FROM_BYTES) {
            void* block = std::realloc(values_, bytes);
            if (!block) throw std::bad_alloc();
            values_ = static_cast<T*>(block);
        } else {
            void* block = textgrid::large_memory::take(bytes);
            if (!block) throw std::bad_alloc();
            if (size_ != 0) std::memcpy(block, values_, size_ * sizeof(T));
            release_column_block(values_, large_bytes_);
            values_ = static_cast<T*>(block);
            large_bytes_ = bytes;
        }
        capacity_ = rows;
    }

    T* values_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t large_bytes_ = 0;  // of a block from large_memory, else 0
};

}  // namespace velmar
