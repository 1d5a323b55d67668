#pragma once
// Python values to native values (arguments) and back (results). Failures set
// a Python exception and throw PythonErrorSet; callers wrap them with the
// parameter's name (convert_argument).

#include <Python.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "converter.hpp"
#include "failure.hpp"
#include "pyref.hpp"

namespace velmar {

// TypeError "'<type of object>' object cannot be cast as '<target>'".
[[noreturn]] void raise_cast_error(PyObject* object, const char* target);

// The UTF-8 text of a str, valid while the object lives; NUL bytes included.
std::string_view extract_text_view(PyObject* object);
inline std::string extract_text(PyObject* object) { return std::string(extract_text_view(object)); }

// Whether `object` is a str equal to `expected`; false for anything else
// (errors cleared).
bool text_equals(PyObject* object, std::string_view expected) noexcept;

inline double extract_double(PyObject* object) {
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) throw_python_error();
    return value;
}

inline std::optional<double> extract_optional_double(PyObject* object) {
    if (object == Py_None) return std::nullopt;
    return extract_double(object);
}

bool extract_numpy_bool(PyObject* object);
inline bool extract_bool(PyObject* object) {
    if (PyBool_Check(object)) return object == Py_True;
    return extract_numpy_bool(object);
}

// Rejects str and non-sequences with their TypeErrors.
void check_sequence(PyObject* object);
// How many elements to reserve for a sequence that is neither list nor tuple.
std::size_t size_hint(PyObject* object);

// Any sequence except str, element by element with `rule`, in iteration order.
template <class Rule>
auto extract_sequence(PyObject* object, Rule&& rule)
    -> std::vector<std::invoke_result_t<Rule&, PyObject*>> {
    check_sequence(object);
    std::vector<std::invoke_result_t<Rule&, PyObject*>> result;
    if (PyTuple_CheckExact(object)) {
        const Py_ssize_t size = PyTuple_GET_SIZE(object);
        result.reserve(static_cast<std::size_t>(size));
        for (Py_ssize_t i = 0; i < size; ++i) result.push_back(rule(PyTuple_GET_ITEM(object, i)));
    } else if (PyList_CheckExact(object)) {
        // The rule may run Python code that changes the list; re-read the size
        // and hold the element, as the list's own iterator would.
        result.reserve(static_cast<std::size_t>(PyList_GET_SIZE(object)));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(object); ++i) {
            PyRef element = PyRef::borrow(PyList_GET_ITEM(object, i));
            result.push_back(rule(element.get()));
        }
    } else {
        result.reserve(size_hint(object));
        PyRef iterator = PyRef::steal(PyObject_GetIter(object));
        if (!iterator) throw_python_error();
        while (PyRef element = PyRef::steal(PyIter_Next(iterator.get())))
            result.push_back(rule(element.get()));
        if (PyErr_Occurred()) throw_python_error();
    }
    return result;
}

inline std::vector<std::string> extract_texts(PyObject* object) {
    return extract_sequence(object, extract_text);
}

// The three elements (borrowed from the tuple) of a tuple of exactly three.
// Callers convert them in order 0, 1, 2.
std::array<PyObject*, 3> extract_triple(PyObject* object);

// The `data` argument: tiers of (name, is_interval, items of (tmin, tmax, label)).
std::vector<textgrid::TierData> extract_tier_data(PyObject* object);

// Results. Each returns a new reference or ends the call with an internal
// failure ("Python API call failed").
PyRef make_float(double value);
PyRef make_text(std::string_view text);
PyRef make_bool(bool value);

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
    PyRef text(std::string_view text);

private:
    // Texts up to SHORT bytes are told apart by two words and their length
    // alone, without a call to hash or compare bytes. Their slots are small
    // so the busy part of the table stays in the cache.
    static constexpr std::size_t SHORT = 16;
    static constexpr std::size_t LONGEST_SHARED = 64;
    static constexpr int SHORT_SLOT_BITS = 12;
    static constexpr int LONG_SLOT_BITS = 8;
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

    PyRef short_text(std::string_view text);
    PyRef long_text(std::string_view text);
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

// Builds the structured form, (tmin, tmax, [(name, is_interval, [(tmin, tmax,
// label), ...]), ...]), from a document or from its converted form. What it
// shares (equal labels, equal neighbouring times) spans every result it builds.
class DataBuilder {
public:
    PyRef document(const textgrid::TextGrid& grid);
    PyRef document(const textgrid::TextGridData& data);

private:
    template <class Item>
    PyRef item(const Item& item);
    template <class Tier>
    PyRef tier(const Tier& tier);
    template <class Grid>
    PyRef whole(const Grid& grid);

    FloatReuse floats_;
    TextCache texts_;
};

// The structured form read from the document itself.
PyRef build_data_result(const textgrid::TextGrid& grid);

}  // namespace velmar
