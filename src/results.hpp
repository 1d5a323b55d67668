#pragma once
// The pieces of every result: Python objects for native numbers, flags and
// texts, shared where a result repeats a value, and the collector paused while
// a large result is built.

#include <Python.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "pyref.hpp"

namespace velmar {

// Python objects for native values. Each returns a new reference or ends the
// call with an internal failure ("Python API call failed").
PyRef make_float(double value);
PyRef make_text(std::string_view text);
inline PyRef make_bool(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }

// Labels repeat a lot (phones, frequent words, empty texts, a tier's name on
// every row). Equal texts within one result may share one str, which callers
// cannot tell apart; it saves the allocation here, the memory of the result and
// the time to free it. A direct-mapped table of recent short texts finds most
// repeats for the price of one hash. The cache keeps copies of its keys (the
// texts may be freed while it lives on, as in a batch) and a reference to
// each str it keeps. Its table starts small and grows as texts fill it: a
// call reading a small file would spend more on a large table than on the
// file.
class TextCache {
public:
    TextCache();
    ~TextCache();
    TextCache(const TextCache&) = delete;
    TextCache& operator=(const TextCache&) = delete;
    // Inline up to a short text found: that is the work on nearly every label
    // of a result, and a call would cost a good part of it.
    PyRef text(std::string_view text) {
        if (text.size() > SHORT) return long_text(text);
        const ShortKey key = short_key(text);
        ShortSlot& slot = short_slots_[key.slot];
        if (slot.size == key.size && slot.head == key.head && slot.tail == key.tail)
            return PyRef::borrow(slot.str.get());
        return short_text(text, key, slot);
    }

private:
    // Texts up to SHORT bytes are told apart by two words and their length
    // alone, without a call to hash or compare bytes. Their slots are small
    // so the busy part of the table stays in the cache.
    static constexpr std::size_t SHORT = 16;
    static constexpr std::size_t LONGEST_SHARED = 64;
    static constexpr int FIRST_SHORT_SLOT_BITS = 6;
    static constexpr int MOST_SHORT_SLOT_BITS = 12;
    static constexpr int SHORT_SLOT_GROWTH_BITS = 2;
    static constexpr int LONG_SLOT_BITS = 8;
    // A str whose slot is taken over was made thousands of labels before and
    // is long out of the processor's cache: releasing it touches its count.
    // So such strs are released RELEASED_TOGETHER at a time, all fetched
    // first, and their misses overlap instead of coming one by one.
    static constexpr std::size_t RELEASED_TOGETHER = 32;
    struct ShortSlot {
        std::uint64_t head = 0;
        std::uint64_t tail = 0;
        PyRef str;
        std::uint32_t size = UINT32_MAX;  // none yet
    };
    struct LongSlot {
        std::string text;
        PyRef str;
    };
    // Two words that, with the length, determine a short text (their loads
    // overlap, but together they cover every byte), and its slot.
    struct ShortKey {
        std::uint64_t head;
        std::uint64_t tail;
        std::uint32_t size;
        std::size_t slot;
    };
    static std::uint64_t load_bytes(const char* data, std::size_t count) {
        std::uint64_t word = 0;
        std::memcpy(&word, data, count);
        return word;
    }
    ShortKey short_key(std::string_view text) const {
        const char* data = text.data();
        const auto size = static_cast<std::uint32_t>(text.size());
        std::uint64_t head = 0, tail = 0;
        if (size >= 8) {
            head = load_bytes(data, 8);
            tail = load_bytes(data + size - 8, 8);
        } else if (size >= 4) {
            head = load_bytes(data, 4);
            tail = load_bytes(data + size - 4, 4);
        } else if (size > 0) {
            const auto byte = [&](std::size_t i) {
                return static_cast<std::uint64_t>(static_cast<unsigned char>(data[i]));
            };
            head = byte(0) | byte(size / 2) << 8 | byte(size - 1) << 16;
        }
        return {head, tail, size, slot_of(head, tail, size)};
    }
    std::size_t slot_of(std::uint64_t head, std::uint64_t tail, std::uint32_t size) const {
        const std::uint64_t hash = (head ^ std::rotl(tail, 29) ^ size) * 0x9E3779B97F4A7C15ULL;
        return static_cast<std::size_t>(hash >> (64 - short_slot_bits_));
    }
    int short_slot_bits_ = FIRST_SHORT_SLOT_BITS;
    std::vector<ShortSlot> short_slots_;
    std::size_t short_fills_ = 0;       // texts made into slots since the table last grew
    std::vector<LongSlot> long_slots_;  // made at the first long text
    // The first taken_over_count_ are references of our own, not yet released.
    std::array<PyObject*, RELEASED_TOGETHER> taken_over_{};
    std::size_t taken_over_count_ = 0;

    // A short text not in its slot: made, and kept there.
    PyRef short_text(std::string_view text, const ShortKey& key, ShortSlot& slot);
    // A table four times as large, holding what this one held (where two
    // texts meet in one slot, the first).
    void grow_short_slots();
    PyRef long_text(std::string_view text);
    // A slot's str becomes `str`; the one it held is released later.
    void hold(PyRef& held, const PyRef& str) noexcept;
    void release_later(PyRef str) noexcept;
    void release_taken_over() noexcept;
};

// In an interval tier one item's end is usually the next one's start, and a
// point's two times are equal: consecutive equal times (bit for bit) share one
// float.
class FloatReuse {
public:
    // Inline: two calls a row would cost a good part of the work on it.
    PyRef number(double value) {
        // Bit for bit, so 0.0 and -0.0 stay apart and a NaN keeps its payload.
        if (!last_ || std::bit_cast<std::uint64_t>(value) != last_bits_) remember(value);
        return PyRef::borrow(last_.get());
    }

private:
    void remember(double value);

    std::uint64_t last_bits_ = 0;
    PyRef last_;
};

// Pauses the cyclic garbage collector while a large result is built: each
// collection would walk the half-built result again and again. Restores the
// previous state on every exit.
class GcPause {
public:
    GcPause() noexcept;
    ~GcPause();
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;

private:
    bool was_enabled_ = false;
};

}  // namespace velmar
