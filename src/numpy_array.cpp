#define PY_SSIZE_T_CLEAN
#include "numpy_array.hpp"

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "failure.hpp"
#include "model/error.hpp"
#include "once.hpp"
#include "pyref.hpp"

namespace velmar {

namespace {

using textgrid::InternalFailure;

// The pending Python error as "Type: text", cleared.
std::string take_error_text() {
    PyRef error = PyRef::steal(take_pending_exception());
    if (!error) return "unknown error";
    std::string text = Py_TYPE(error.get())->tp_name;
    PyRef message = PyRef::steal(PyObject_Str(error.get()));
    Py_ssize_t size = 0;
    const char* utf8 = message ? PyUnicode_AsUTF8AndSize(message.get(), &size) : nullptr;
    if (utf8 && size > 0) text.append(": ").append(utf8, static_cast<std::size_t>(size));
    PyErr_Clear();
    return text;
}

// ---------------------------------------------------------------------------
// NumPy's C interface table. Only the slots used here are named; their indices
// are fixed by NumPy's ABI and equal in 1.x and 2.x.

using npy_intp = Py_intptr_t;

constexpr int NPY_BOOL = 0;
constexpr int NPY_UINT = 6;
constexpr int NPY_ULONG = 8;
constexpr int NPY_DOUBLE = 12;
constexpr int NPY_UINT32 = sizeof(unsigned int) == 4 ? NPY_UINT : NPY_ULONG;
static_assert(sizeof(unsigned int) == 4 || sizeof(unsigned long) == 4);
constexpr int NPY_ARRAY_WRITEABLE = 0x0400;

constexpr std::size_t SLOT_ARRAY_TYPE = 2;
constexpr std::size_t SLOT_DESCR_FROM_TYPE = 45;
constexpr std::size_t SLOT_NEW_FROM_DESCR = 94;
constexpr std::size_t SLOT_SET_BASE_OBJECT = 282;

using DescrFromType = PyObject* (*)(int);
using NewFromDescr = PyObject* (*)(PyTypeObject*, PyObject*, int, const npy_intp*, const npy_intp*,
                                   void*, int, PyObject*);
using SetBaseObject = int (*)(PyObject*, PyObject*);

// Each step of the chain returns null with a Python error pending.
PyObject* load_array_api_capsule() {
    PyRef numpy = PyRef::steal(PyImport_ImportModule("numpy"));
    if (!numpy) return nullptr;
    PyRef version = PyRef::steal(PyObject_GetAttrString(numpy.get(), "__version__"));
    if (!version) return nullptr;
    PyRef lib = PyRef::steal(PyImport_ImportModule("numpy.lib"));
    if (!lib) return nullptr;
    PyRef parsed = PyRef::steal(PyObject_CallMethod(lib.get(), "NumpyVersion", "O", version.get()));
    if (!parsed) return nullptr;
    PyRef major = PyRef::steal(PyObject_GetAttrString(parsed.get(), "major"));
    if (!major) return nullptr;
    long major_version = PyLong_AsLong(major.get());
    if (major_version == -1 && PyErr_Occurred()) return nullptr;
    const char* multiarray =
        major_version >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray";
    PyRef module = PyRef::steal(PyImport_ImportModule(multiarray));
    if (!module) return nullptr;
    return PyObject_GetAttrString(module.get(), "_ARRAY_API");
}

void** load_array_api() {
    PyRef capsule = PyRef::steal(load_array_api_capsule());
    if (!capsule) {
        throw InternalFailure("Failed to access NumPy array API capsule: " + take_error_text());
    }
    if (!PyCapsule_CheckExact(capsule.get())) {
        throw InternalFailure(
            "Failed to access NumPy array API capsule: _ARRAY_API is not a capsule");
    }
    void* table = PyCapsule_GetPointer(capsule.get(), PyCapsule_GetName(capsule.get()));
    if (!table) {
        throw InternalFailure("Failed to access NumPy array API capsule: " + take_error_text());
    }
    // The capsule is owned by NumPy's module, which stays imported for good.
    return static_cast<void**>(table);
}

OnceCell<void**> array_api_cell;

void** array_api() { return array_api_cell.get(load_array_api); }

// ---------------------------------------------------------------------------
// PySliceContainer: owns one column's block, handed over by its NativeColumn,
// and frees it when the last array or view over it is gone. `data` is null in
// an instance that holds nothing; such an instance is harmless.

struct SliceContainer {
    PyObject_HEAD void* data;
    Py_ssize_t length;
    std::size_t large_bytes;  // for release_column_block
};

void container_dealloc(PyObject* object) {
    auto* self = reinterpret_cast<SliceContainer*>(object);
    release_column_block(std::exchange(self->data, nullptr), self->large_bytes);
    PyTypeObject* type = Py_TYPE(object);
    type->tp_free(object);
    Py_DECREF(type);
}

PyDoc_STRVAR(container_doc,
             "Utility type that safely keeps a native buffer alive on the Python heap.");

PyTypeObject* create_container_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(container_dealloc)},
        {Py_tp_doc, const_cast<char*>(container_doc)},
        {0, nullptr},
    };
    // Named after the module that makes it, though the module does not export it.
    static PyType_Spec container_type_description = {
        "velmar.PySliceContainer",
        static_cast<int>(sizeof(SliceContainer)),
        0,
        // Instances come only from array_from_buffer: Python can neither
        // create, subclass nor patch the type.
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    PyObject* type = PyType_FromSpec(&container_type_description);
    if (!type) {
        throw InternalFailure("failed to create type object for `PySliceContainer`: " +
                              take_error_text());
    }
    return reinterpret_cast<PyTypeObject*>(type);
}

OnceCell<PyTypeObject*> container_type_cell;

PyTypeObject* container_type() { return container_type_cell.get(create_container_type); }

template <class T>
PyRef make_container(NativeColumn<T>& column) {
    PyTypeObject* type = container_type();
    PyRef object = PyRef::steal(type->tp_alloc(type, 0));
    if (!object) {
        throw InternalFailure("Failed to create slice container: " + take_error_text());
    }
    auto* self = reinterpret_cast<SliceContainer*>(object.get());
    self->length = static_cast<Py_ssize_t>(column.size());
    // Never null, even for no values: given null, NumPy would allocate and own
    // a buffer of its own.
    const auto block = column.take_block();
    self->data = block.values;
    self->large_bytes = block.large_bytes;
    return object;
}

template <class T>
PyRef array_over(NativeColumn<T>&& column, int type_number) {
    void** api = array_api();
    PyRef owner = make_container(column);
    auto* container = reinterpret_cast<SliceContainer*>(owner.get());

    PyObject* descr = reinterpret_cast<DescrFromType>(api[SLOT_DESCR_FROM_TYPE])(type_number);
    if (!descr) python_api_failed();
    const npy_intp dims[1] = {container->length};
    const npy_intp strides[1] = {static_cast<npy_intp>(sizeof(T))};
    auto* array_type = static_cast<PyTypeObject*>(api[SLOT_ARRAY_TYPE]);
    // Steals descr, also on failure.
    PyRef array = created(reinterpret_cast<NewFromDescr>(api[SLOT_NEW_FROM_DESCR])(
        array_type, descr, 1, dims, strides, container->data, NPY_ARRAY_WRITEABLE, nullptr));
    // Steals the container reference, also on failure.
    if (reinterpret_cast<SetBaseObject>(api[SLOT_SET_BASE_OBJECT])(array.get(), owner.release()) !=
        0) {
        python_api_failed();
    }
    return array;
}

}  // namespace

bool is_exact_numpy_array(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    if (std::strcmp(type->tp_name, "numpy.ndarray") != 0) return false;
    return type == static_cast<PyTypeObject*>(array_api()[SLOT_ARRAY_TYPE]);
}

PyRef array_from_buffer(NativeColumn<double>&& column) {
    return array_over(std::move(column), NPY_DOUBLE);
}

PyRef array_from_buffer(NativeColumn<std::uint8_t>&& flags) {
    return array_over(std::move(flags), NPY_BOOL);
}

PyRef array_from_buffer(NativeColumn<std::uint32_t>&& column) {
    return array_over(std::move(column), NPY_UINT32);
}

}  // namespace velmar
