#pragma once
// The pieces of every result: Python objects for native numbers, flags and
// texts, shared where a result repeats a value, and the collector paused while
// a large result is built.

#include <Python.h>

#include <array>
#include <cstdint>
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
// each str it keeps.
class TextCache {
public:
    TextCache();
    ~TextCache();
    TextCache(const TextCache&) = delete;
    TextCache& operator=(const TextCache&) = delete;
    // Inline: the dispatch is all there is, on every label of a result.
    PyRef text(std::string_view text) {
        return text.size() <= SHORT ? short_text(text) : long_text(text);
    }

private:
    // Texts up to SHORT bytes are told apart by two words and their length
    // alone, without a call to hash or compare bytes. Their slots are small
    // so the busy part of the table stays in the cache.
    static constexpr std::size_t SHORT = 16;
    static constexpr std::size_t LONGEST_SHARED = 64;
    static constexpr int SHORT_SLOT_BITS = 12;
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
    std::vector<ShortSlot> short_slots_;
    std::vector<LongSlot> long_slots_;
    // The first taken_over_count_ are references of our own, not yet released.
    std::array<PyObject*, RELEASED_TOGETHER> taken_over_{};
    std::size_t taken_over_count_ = 0;

    PyRef short_text(std::string_view text);
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
    PyRef number(double value);

private:
    double last_value_ = 0.0;
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
