#pragma once
// Python arguments to native values. Failures set a Python exception and
// throw PythonErrorSet; callers wrap them with the parameter's name
// (convert_argument, binding.hpp).

#include <Python.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "convert/converter.hpp"
#include "failure.hpp"
#include "pyref.hpp"

namespace velmar {

// TypeError "'<type of object>' object cannot be cast as '<target>'".
[[noreturn]] void raise_cast_error(PyObject* object, const char* target);

std::string_view extract_text_view_slowly(PyObject* object);
// The UTF-8 text of a str, valid while the object lives; NUL bytes included.
inline std::string_view extract_text_view(PyObject* object) {
    // An ASCII str holds its UTF-8 text already, right after its header.
    if (PyUnicode_CheckExact(object) && PyUnicode_IS_COMPACT_ASCII(object))
        return {static_cast<const char*>(PyUnicode_DATA(object)),
                static_cast<std::size_t>(PyUnicode_GET_LENGTH(object))};
    return extract_text_view_slowly(object);
}
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

// Any sequence except str, element by element with `rule`, in iteration order,
// into a vector (or another container of push_back and reserve, `Out`).
template <class Out = void, class Rule>
auto extract_sequence(PyObject* object, Rule&& rule) {
    using Result = std::conditional_t<std::is_void_v<Out>,
                                      std::vector<std::invoke_result_t<Rule&, PyObject*>>, Out>;
    check_sequence(object);
    Result result;
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

// A column of numbers or flags: an exact 1-D NumPy array of float64 (bool) is
// copied as one block, anything else goes element by element, with the same
// values and messages. Flags are bytes, so the column goes to the library as
// it is.
std::vector<double> extract_doubles(PyObject* object);
std::vector<std::uint8_t> extract_flags(PyObject* object);
// The UTF-8 texts of a sequence of str, viewed where the objects hold them
// (kept alive, and the sequence's order fixed, by a tuple of them), for work
// spread over threads that may not touch Python objects. Same errors as
// extract_texts.
struct TextViews {
    PyRef holder;
    std::vector<std::string_view> views;
};
TextViews extract_text_views(PyObject* object);

// File ids as textgrids2vectors gives them (a uint32 array, copied as one
// block) or any sequence of ints from 0 to 2**32 - 1.
std::vector<std::uint32_t> extract_file_ids(PyObject* object);

}  // namespace velmar
