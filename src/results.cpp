#include "results.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <utility>

#include "failure.hpp"

namespace velmar {

namespace {

bool is_ascii(std::string_view text) {
    const char* data = text.data();
    std::size_t size = text.size(), i = 0;
    std::uint64_t high_bits = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        high_bits |= word;
    }
    for (; i < size; ++i) high_bits |= static_cast<unsigned char>(data[i]);
    return (high_bits & 0x8080808080808080ULL) == 0;
}

}  // namespace

PyRef make_float(double value) { return created(PyFloat_FromDouble(value)); }

PyRef make_text(std::string_view text) {
    const auto size = static_cast<Py_ssize_t>(text.size());
    // Empty and one-character texts come from the interpreter's shared objects.
    if (size > 1 && is_ascii(text)) {
        PyRef result = created(PyUnicode_New(size, 127));
        std::memcpy(PyUnicode_1BYTE_DATA(result.get()), text.data(), text.size());
        return result;
    }
    return created(PyUnicode_DecodeUTF8(text.data(), size, nullptr));
}

TextCache::TextCache() : short_slots_(std::size_t{1} << FIRST_SHORT_SLOT_BITS) {}

TextCache::~TextCache() { release_taken_over(); }

void TextCache::release_later(PyRef str) noexcept {
    if (!str) return;
    taken_over_[taken_over_count_++] = str.release();
    if (taken_over_count_ == RELEASED_TOGETHER) release_taken_over();
}

void TextCache::hold(PyRef& held, const PyRef& str) noexcept {
    release_later(std::move(held));
    held = PyRef::borrow(str.get());
}

void TextCache::release_taken_over() noexcept {
    const std::size_t count = std::exchange(taken_over_count_, 0);
    for (std::size_t k = 0; k < count; ++k) __builtin_prefetch(taken_over_[k], 1);
    for (std::size_t k = 0; k < count; ++k) Py_DECREF(taken_over_[k]);
}

PyRef TextCache::short_text(std::string_view text, const ShortKey& key, ShortSlot& slot) {
    PyRef str = make_text(text);
    hold(slot.str, str);
    slot.head = key.head;
    slot.tail = key.tail;
    slot.size = key.size;
    // Half as many texts made as there are slots: the table is too small for
    // the texts at hand, or a few of them keep meeting in a slot.
    if (++short_fills_ >= short_slots_.size() / 2 && short_slot_bits_ < MOST_SHORT_SLOT_BITS)
        grow_short_slots();
    return str;
}

void TextCache::grow_short_slots() {
    std::vector<ShortSlot> held(short_slots_.size() << SHORT_SLOT_GROWTH_BITS);
    held.swap(short_slots_);
    short_slot_bits_ += SHORT_SLOT_GROWTH_BITS;
    short_fills_ = 0;
    for (ShortSlot& slot : held) {
        if (slot.size == UINT32_MAX) continue;
        ShortSlot& to = short_slots_[slot_of(slot.head, slot.tail, slot.size)];
        if (to.size != UINT32_MAX) {
            release_later(std::move(slot.str));
            continue;
        }
        to = std::move(slot);
        ++short_fills_;
    }
}

PyRef TextCache::long_text(std::string_view text) {
    if (text.size() > LONGEST_SHARED) return make_text(text);
    if (long_slots_.empty()) long_slots_.resize(std::size_t{1} << LONG_SLOT_BITS);
    const std::size_t hash = std::hash<std::string_view>{}(text);
    LongSlot& slot = long_slots_[hash & ((std::size_t{1} << LONG_SLOT_BITS) - 1)];
    if (slot.str && slot.text == text) return PyRef::borrow(slot.str.get());
    PyRef str = make_text(text);
    slot.text.assign(text);  // may throw: the slot then still holds its old pair
    hold(slot.str, str);
    return str;
}

void FloatReuse::remember(double value) {
    last_ = make_float(value);
    last_bits_ = std::bit_cast<std::uint64_t>(value);
}

#ifdef Py_GIL_DISABLED
// Other threads run Python code meanwhile and may switch the collector
// themselves; leave it alone.
GcPause::GcPause() noexcept = default;
GcPause::~GcPause() = default;
#else
GcPause::GcPause() noexcept : was_enabled_(PyGC_Disable() == 1) {}
GcPause::~GcPause() {
    if (was_enabled_) PyGC_Enable();
}
#endif

}  // namespace velmar
