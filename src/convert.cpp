#include "convert.hpp"

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>

#include "once.hpp"

namespace velmar {

namespace {

OnceCell<PyObject*> sequence_abc_cell;
// Set once a NumPy bool scalar type has been recognised; keeps a reference
// that is never released, like every process-wide object of the module.
std::atomic<PyTypeObject*> numpy_bool_type{nullptr};

// The repr of the pending exception (cleared), for internal failure texts.
std::string pending_error_text() {
    PyRef error = PyRef::steal(take_pending_exception());
    PyRef text = PyRef::steal(error ? PyObject_Repr(error.get()) : nullptr);
    const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (utf8 == nullptr) {
        PyErr_Clear();
        return "<unprintable error>";
    }
    return utf8;
}

// collections.abc.Sequence, whose name the sequence cast error uses.
PyObject* sequence_abc() {
    return sequence_abc_cell.get([] {
        PyRef module = PyRef::steal(PyImport_ImportModule("collections.abc"));
        PyObject* type = module ? PyObject_GetAttrString(module.get(), "Sequence") : nullptr;
        if (type == nullptr)
            throw textgrid::InternalFailure("called `Result::unwrap()` on an `Err` value: " +
                                            pending_error_text());
        return type;
    });
}

[[noreturn]] void raise_cast_error_named(PyObject* object, PyObject* target_name) {
    PyRef source_name = PyRef::steal(PyType_GetQualName(Py_TYPE(object)));
    if (!source_name) {
        PyErr_Clear();
        source_name = PyRef::steal(PyUnicode_FromString("<failed to extract type name>"));
        if (!source_name) throw_python_error();
    }
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be cast as '%U'", source_name.get(),
                 target_name);
    throw_python_error();
}

PyObject* type_module_name(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyType_GetModuleName(type);
#else
    return PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__");
#endif
}

bool is_numpy_bool_type(PyTypeObject* type) {
    if (type == numpy_bool_type.load(std::memory_order_acquire)) return true;
    PyRef module = PyRef::steal(type_module_name(type));
    if (!text_equals(module.get(), "numpy")) return false;
    PyRef name = PyRef::steal(PyType_GetName(type));
    if (!text_equals(name.get(), "bool_") && !text_equals(name.get(), "bool")) return false;
    PyTypeObject* expected = nullptr;
    if (numpy_bool_type.compare_exchange_strong(expected, type)) Py_INCREF(type);
    return true;
}

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

bool text_equals(PyObject* object, std::string_view expected) noexcept {
    if (object == nullptr || !PyUnicode_Check(object)) {
        PyErr_Clear();
        return false;
    }
#if PY_VERSION_HEX >= 0x030D0000
    return PyUnicode_EqualToUTF8AndSize(object, expected.data(),
                                        static_cast<Py_ssize_t>(expected.size())) == 1;
#else
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) {
        PyErr_Clear();
        return false;
    }
    return std::string_view(utf8, static_cast<std::size_t>(size)) == expected;
#endif
}

void raise_cast_error(PyObject* object, const char* target) {
    PyRef target_name = PyRef::steal(PyUnicode_FromString(target));
    if (!target_name) throw_python_error();
    raise_cast_error_named(object, target_name.get());
}

std::string_view extract_text_view(PyObject* object) {
    if (!PyUnicode_Check(object)) raise_cast_error(object, "str");
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) throw_python_error();
    return {utf8, static_cast<std::size_t>(size)};
}

bool extract_numpy_bool(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    if (!is_numpy_bool_type(type)) raise_cast_error(object, "bool");
    inquiry truth = type->tp_as_number != nullptr ? type->tp_as_number->nb_bool : nullptr;
    if (truth == nullptr) {
        PyRef shown = PyRef::steal(PyObject_Str(reinterpret_cast<PyObject*>(type)));
        if (!shown) throw_python_error();
        PyErr_Format(PyExc_TypeError, "object of type '%U' does not define a '__bool__' conversion",
                     shown.get());
        throw_python_error();
    }
    switch (truth(object)) {
        case 0: return false;
        case 1: return true;
        default: throw_python_error();
    }
}

void check_sequence(PyObject* object) {
    if (PyList_CheckExact(object) || PyTuple_CheckExact(object)) return;
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        throw_python_error();
    }
    if (!PySequence_Check(object)) {
        PyRef name = PyRef::steal(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(sequence_abc())));
        if (!name) throw_python_error();
        raise_cast_error_named(object, name.get());
    }
}

std::size_t size_hint(PyObject* object) {
    // A sequence's length is only a hint: a huge one must not reserve huge memory.
    constexpr Py_ssize_t LARGEST_HINT = Py_ssize_t{1} << 20;
    Py_ssize_t size = PyObject_Size(object);
    if (size < 0) {
        PyErr_Clear();
        return 0;
    }
    return static_cast<std::size_t>(std::min(size, LARGEST_HINT));
}

std::array<PyObject*, 3> extract_triple(PyObject* object) {
    if (!PyTuple_Check(object)) raise_cast_error(object, "tuple");
    const Py_ssize_t size = PyTuple_GET_SIZE(object);
    if (size != 3) {
        PyErr_Format(PyExc_ValueError, "expected tuple of length %d, but got tuple of length %zd", 3,
                     size);
        throw_python_error();
    }
    return {PyTuple_GET_ITEM(object, 0), PyTuple_GET_ITEM(object, 1), PyTuple_GET_ITEM(object, 2)};
}

std::vector<textgrid::TierData> extract_tier_data(PyObject* object) {
    return extract_sequence(object, [](PyObject* tier_object) {
        const auto tier = extract_triple(tier_object);
        textgrid::TierData data;
        data.tier_name = extract_text(tier[0]);
        data.is_interval = extract_bool(tier[1]);
        data.items = extract_sequence(tier[2], [](PyObject* item_object) {
            const auto item = extract_triple(item_object);
            // Braced initialisation evaluates left to right: elements in order.
            return textgrid::ItemData{extract_double(item[0]), extract_double(item[1]),
                                      extract_text(item[2])};
        });
        return data;
    });
}

PyRef make_float(double value) { return created(PyFloat_FromDouble(value)); }

PyRef make_bool(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }

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

namespace {

std::uint64_t load_bytes(const char* data, std::size_t count) {
    std::uint64_t word = 0;
    std::memcpy(&word, data, count);
    return word;
}

// Two words that, with the length, determine a text of at most 16 bytes: the
// loads overlap, but together they cover every byte.
std::pair<std::uint64_t, std::uint64_t> short_text_words(std::string_view text) {
    const char* data = text.data();
    const std::size_t size = text.size();
    if (size >= 8) return {load_bytes(data, 8), load_bytes(data + size - 8, 8)};
    if (size >= 4) return {load_bytes(data, 4), load_bytes(data + size - 4, 4)};
    if (size == 0) return {0, 0};
    const auto byte = [&](std::size_t i) {
        return static_cast<std::uint64_t>(static_cast<unsigned char>(data[i]));
    };
    return {byte(0) | byte(size / 2) << 8 | byte(size - 1) << 16, 0};
}

}  // namespace

TextCache::TextCache()
    : short_slots_(std::size_t{1} << SHORT_SLOT_BITS),
      long_slots_(std::size_t{1} << LONG_SLOT_BITS) {}

PyRef TextCache::text(std::string_view text) {
    return text.size() <= SHORT ? short_text(text) : long_text(text);
}

PyRef TextCache::short_text(std::string_view text) {
    const auto [head, tail] = short_text_words(text);
    const auto size = static_cast<std::uint32_t>(text.size());
    const std::uint64_t hash = (head ^ std::rotl(tail, 29) ^ size) * 0x9E3779B97F4A7C15ULL;
    ShortSlot& slot = short_slots_[hash >> (64 - SHORT_SLOT_BITS)];
    if (slot.size != size || slot.head != head || slot.tail != tail)
        slot = {head, tail, make_text(text), size};
    return PyRef::borrow(slot.str.get());
}

PyRef TextCache::long_text(std::string_view text) {
    if (text.size() > LONGEST_SHARED) return make_text(text);
    const std::size_t hash = std::hash<std::string_view>{}(text);
    LongSlot& slot = long_slots_[hash & ((std::size_t{1} << LONG_SLOT_BITS) - 1)];
    if (!slot.str || slot.text != text) {
        slot.str = make_text(text);
        slot.text.assign(text);
    }
    return PyRef::borrow(slot.str.get());
}

PyRef FloatReuse::number(double value) {
    // Bit for bit, so 0.0 and -0.0 stay apart and a NaN keeps its payload.
    const auto bits = std::bit_cast<std::uint64_t>(value);
    if (!last_ || bits != std::bit_cast<std::uint64_t>(last_value_)) {
        last_ = make_float(value);
        last_value_ = value;
    }
    return PyRef::borrow(last_.get());
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

namespace {

PyRef make_tuple(PyRef first, PyRef second, PyRef third) {
    PyRef tuple = created(PyTuple_New(3));
    PyTuple_SET_ITEM(tuple.get(), 0, first.release());
    PyTuple_SET_ITEM(tuple.get(), 1, second.release());
    PyTuple_SET_ITEM(tuple.get(), 2, third.release());
    return tuple;
}

const std::string& name_of(const textgrid::Tier& tier) { return tier.name; }
const std::string& name_of(const textgrid::TierData& tier) { return tier.tier_name; }

}  // namespace

template <class Item>
PyRef DataBuilder::item(const Item& item) {
    PyRef tuple = created(PyTuple_New(3));
    // Filled in order: the float reuse depends on it.
    PyTuple_SET_ITEM(tuple.get(), 0, floats_.number(item.tmin).release());
    PyTuple_SET_ITEM(tuple.get(), 1, floats_.number(item.tmax).release());
    PyTuple_SET_ITEM(tuple.get(), 2, texts_.text(item.label).release());
    // Only floats and a str: it can never be part of a cycle, so the
    // collector need not walk it (it would untrack it at its first pass).
    PyObject_GC_UnTrack(tuple.get());
    return tuple;
}

template <class Tier>
PyRef DataBuilder::tier(const Tier& tier) {
    PyRef name = texts_.text(name_of(tier));
    PyRef items = created(PyList_New(static_cast<Py_ssize_t>(tier.items.size())));
    for (std::size_t i = 0; i < tier.items.size(); ++i)
        PyList_SET_ITEM(items.get(), static_cast<Py_ssize_t>(i), item(tier.items[i]).release());
    return make_tuple(std::move(name), make_bool(tier.is_interval), std::move(items));
}

template <class Grid>
PyRef DataBuilder::whole(const Grid& grid) {
    PyRef tmin = make_float(grid.tmin);
    PyRef tmax = make_float(grid.tmax);
    PyRef tiers = created(PyList_New(static_cast<Py_ssize_t>(grid.tiers.size())));
    for (std::size_t i = 0; i < grid.tiers.size(); ++i)
        PyList_SET_ITEM(tiers.get(), static_cast<Py_ssize_t>(i), tier(grid.tiers[i]).release());
    return make_tuple(std::move(tmin), std::move(tmax), std::move(tiers));
}

PyRef DataBuilder::document(const textgrid::TextGrid& grid) { return whole(grid); }

PyRef DataBuilder::document(const textgrid::TextGridData& data) { return whole(data); }

PyRef build_data_result(const textgrid::TextGrid& grid) {
    GcPause pause;
    DataBuilder builder;
    return builder.document(grid);
}

}  // namespace velmar
