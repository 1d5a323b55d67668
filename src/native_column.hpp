#pragma once
// A numeric column of a result, in one block from malloc. It grows and is
// trimmed with realloc: the allocator trims a block in place and moves a large
// one by remapping its pages, where a std::vector copies every value on each
// doubling and once more to drop the room left over. The block then goes to
// the array's owner as it is.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

namespace velmar {

template <class T>
class NativeColumn {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    NativeColumn() = default;
    NativeColumn(const NativeColumn&) = delete;
    NativeColumn& operator=(const NativeColumn&) = delete;
    ~NativeColumn() { std::free(values_); }

    std::size_t size() const noexcept { return size_; }
    std::size_t capacity() const noexcept { return capacity_; }

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

    // Hands the block over, trimmed to the values (room for one at least, so
    // an empty column still has a block of its own); the column is empty after.
    // The caller frees it with std::free.
    T* take_block() {
        if (!values_) reserve(1);
        const std::size_t rows = std::max<std::size_t>(size_, 1);
        if (rows != capacity_) {
            // Should the allocator refuse even this, the block goes untrimmed.
            if (void* trimmed = std::realloc(values_, rows * sizeof(T)))
                values_ = static_cast<T*>(trimmed);
        }
        size_ = capacity_ = 0;
        return std::exchange(values_, nullptr);
    }

private:
    void resize_block(std::size_t rows) {
        if (rows > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        void* block = std::realloc(values_, rows * sizeof(T));
        if (!block) throw std::bad_alloc();
        values_ = static_cast<T*>(block);
        capacity_ = rows;
    }

    T* values_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace velmar
