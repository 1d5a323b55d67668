#include "arguments.hpp"

#include <atomic>
#include <cstring>

#include "numpy_array.hpp"
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

std::string_view extract_text_view_slowly(PyObject* object) {
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
        case 0:
            return false;
        case 1:
            return true;
        default:
            throw_python_error();
    }
}

void check_sequence(PyObject* object) {
    if (PyList_CheckExact(object) || PyTuple_CheckExact(object)) return;
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        throw_python_error();
    }
    if (!PySequence_Check(object)) {
        PyRef name =
            PyRef::steal(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(sequence_abc())));
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
        PyErr_Format(PyExc_ValueError, "expected tuple of length %d, but got tuple of length %zd",
                     3, size);
        throw_python_error();
    }
    return {PyTuple_GET_ITEM(object, 0), PyTuple_GET_ITEM(object, 1), PyTuple_GET_ITEM(object, 2)};
}

namespace {

textgrid::Item extract_item(PyObject* object) {
    const auto item = extract_triple(object);
    // Braced initialisation evaluates left to right: elements in order.
    return textgrid::Item{extract_double(item[0]), extract_double(item[1]), extract_text(item[2])};
}

// A tuple of two floats and a str: reading it runs no Python code, so the
// list holding it cannot change meanwhile.
bool is_plain_item(PyObject* object) {
    return PyTuple_CheckExact(object) && PyTuple_GET_SIZE(object) == 3 &&
           PyFloat_CheckExact(PyTuple_GET_ITEM(object, 0)) &&
           PyFloat_CheckExact(PyTuple_GET_ITEM(object, 1)) &&
           PyUnicode_CheckExact(PyTuple_GET_ITEM(object, 2));
}

// A tier's items. Plain items of a list, nearly all there are, are read
// straight into place; anything else goes by the general rules, with the same
// values and messages.
textgrid::Items extract_items(PyObject* object) {
    if (!PyList_CheckExact(object)) return extract_sequence<textgrid::Items>(object, extract_item);
    textgrid::Items items;
    items.reserve(static_cast<std::size_t>(PyList_GET_SIZE(object)));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(object); ++i) {
        PyObject* element = PyList_GET_ITEM(object, i);
        if (!is_plain_item(element)) {
            PyRef held = PyRef::borrow(element);
            items.push_back(extract_item(held.get()));
            continue;
        }
        textgrid::Item& item = items.emplace_back();
        item.tmin = PyFloat_AS_DOUBLE(PyTuple_GET_ITEM(element, 0));
        item.tmax = PyFloat_AS_DOUBLE(PyTuple_GET_ITEM(element, 1));
        item.label = extract_text_view(PyTuple_GET_ITEM(element, 2));
    }
    return items;
}

}  // namespace

std::vector<textgrid::TierData> extract_tier_data(PyObject* object) {
    return extract_sequence(object, [](PyObject* tier_object) {
        const auto tier = extract_triple(tier_object);
        textgrid::TierData data;
        data.tier_name = extract_text(tier[0]);
        data.is_interval = extract_bool(tier[1]);
        data.items = extract_items(tier[2]);
        return data;
    });
}

namespace {

// A buffer held from an exporter, released on every exit.
class HeldBuffer {
public:
    HeldBuffer() noexcept = default;
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    ~HeldBuffer() {
        if (held_) PyBuffer_Release(&view_);
    }

    // A C-contiguous buffer with its format; false (error cleared) if the
    // object does not give one.
    bool acquire(PyObject* object) noexcept {
        held_ = PyObject_GetBuffer(object, &view_, PyBUF_ND | PyBUF_FORMAT) == 0;
        if (!held_) PyErr_Clear();
        return held_;
    }
    const Py_buffer& view() const noexcept { return view_; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// Copies the memory of an exact 1-D C-contiguous NumPy array whose elements
// have `format`, a column at a time rather than one scalar object per element.
// Nothing for any other object: it goes element by element, with the same
// values and messages as before.
template <class T>
std::optional<std::vector<T>> copy_numpy_column(PyObject* object, std::string_view format) {
    if (!is_exact_numpy_array(object)) return std::nullopt;
    HeldBuffer buffer;
    if (!buffer.acquire(object)) return std::nullopt;
    const Py_buffer& view = buffer.view();
    if (view.ndim != 1 || view.itemsize != static_cast<Py_ssize_t>(sizeof(T)) ||
        view.format == nullptr || format != view.format)
        return std::nullopt;
    std::vector<T> column(static_cast<std::size_t>(view.shape[0]));
    // memcpy: the array's memory need not be aligned for T.
    if (!column.empty()) std::memcpy(column.data(), view.buf, column.size() * sizeof(T));
    return column;
}

}  // namespace

std::vector<double> extract_doubles(PyObject* object) {
    if (auto column = copy_numpy_column<double>(object, "d")) return std::move(*column);
    return extract_sequence(object, extract_double);
}

std::vector<std::uint8_t> extract_flags(PyObject* object) {
    if (auto column = copy_numpy_column<std::uint8_t>(object, "?")) {
        // A bool array viewed over other bytes may hold any value; each is true
        // when non-zero, as its scalar would be.
        for (std::uint8_t& flag : *column) flag = flag != 0;
        return std::move(*column);
    }
    return extract_sequence(object,
                            [](PyObject* flag) -> std::uint8_t { return extract_bool(flag); });
}

namespace {

std::uint32_t extract_file_id(PyObject* object) {
    PyRef index = PyRef::steal(PyNumber_Index(object));
    if (!index) throw_python_error();
    const long long value = PyLong_AsLongLong(index.get());
    if (value == -1 && PyErr_Occurred()) throw_python_error();
    if (value < 0 || value > static_cast<long long>(UINT32_MAX)) {
        PyErr_Format(PyExc_ValueError, "file id %lld is not between 0 and 4294967295", value);
        throw_python_error();
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace

TextViews extract_text_views(PyObject* object) {
    check_sequence(object);
    TextViews texts;
    texts.holder = PyRef::steal(PySequence_Tuple(object));
    if (!texts.holder) throw_python_error();
    const Py_ssize_t size = PyTuple_GET_SIZE(texts.holder.get());
    texts.views.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < size; ++i)
        texts.views.push_back(extract_text_view(PyTuple_GET_ITEM(texts.holder.get(), i)));
    return texts;
}

std::vector<std::uint32_t> extract_file_ids(PyObject* object) {
    if (auto column = copy_numpy_column<std::uint32_t>(object, "I")) return std::move(*column);
    return extract_sequence(object, extract_file_id);
}

}  // namespace velmar
