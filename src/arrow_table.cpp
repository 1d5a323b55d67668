#include "arrow_table.hpp"

#include <string>
#include <utility>

#include "docstrings.hpp"
#include "failure.hpp"
#include "once.hpp"

namespace velmar {

namespace {

struct TableObject {
    PyObject_HEAD
        // Behind a pointer: the object's memory is the interpreter's, raw.
        std::shared_ptr<const ArrowTable>* table;
};

const ArrowTable& table_of(PyObject* self) { return **reinterpret_cast<TableObject*>(self)->table; }

std::shared_ptr<const void> owner_of(PyObject* self) {
    return *reinterpret_cast<TableObject*>(self)->table;
}

// The capsule names the Arrow PyCapsule interface fixes.
template <class Struct>
constexpr const char* CAPSULE_NAME = nullptr;
template <>
constexpr const char* CAPSULE_NAME<ArrowSchema> = "arrow_schema";
template <>
constexpr const char* CAPSULE_NAME<ArrowArray> = "arrow_array";
template <>
constexpr const char* CAPSULE_NAME<ArrowArrayStream> = "arrow_array_stream";

// A capsule's struct, released unless a consumer moved it out already.
template <class Struct>
void release_capsule(PyObject* capsule) noexcept {
    auto* exported = static_cast<Struct*>(PyCapsule_GetPointer(capsule, CAPSULE_NAME<Struct>));
    if (!exported) {
        PyErr_Clear();
        return;
    }
    if (exported->release) exported->release(exported);
    delete exported;
}

// An exported struct, released should no capsule come to own it.
template <class Struct>
struct Exported {
    std::unique_ptr<Struct> value = std::make_unique<Struct>();
    Exported() { *value = Struct{}; }
    Exported(const Exported&) = delete;
    Exported& operator=(const Exported&) = delete;
    ~Exported() {
        if (value && value->release) value->release(value.get());
    }

    PyRef capsule() {
        PyRef made =
            created(PyCapsule_New(value.get(), CAPSULE_NAME<Struct>, release_capsule<Struct>));
        (void)value.release();
        return made;
    }
};

// A requested schema may be ignored: the consumer then casts, or refuses.
bool parse_requested_schema(PyObject* args, PyObject* kwargs, const char* format) {
    static const char* keywords[] = {"requested_schema", nullptr};
    PyObject* requested = nullptr;
    return PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords),
                                       &requested) != 0;
}

PyObject* arrow_c_stream(PyObject* self, PyObject* args, PyObject* kwargs) {
    return run_guarded([&]() -> PyObject* {
        if (!parse_requested_schema(args, kwargs, "|O:__arrow_c_stream__")) return nullptr;
        Exported<ArrowArrayStream> stream;
        export_stream(owner_of(self), table_of(self).layout, stream.value.get());
        return stream.capsule().release();
    });
}

PyObject* arrow_c_array(PyObject* self, PyObject* args, PyObject* kwargs) {
    return run_guarded([&]() -> PyObject* {
        if (!parse_requested_schema(args, kwargs, "|O:__arrow_c_array__")) return nullptr;
        Exported<ArrowSchema> schema;
        export_schema(table_of(self).layout, schema.value.get());
        Exported<ArrowArray> array;
        export_array(owner_of(self), table_of(self).layout, array.value.get());
        PyRef schema_capsule = schema.capsule();
        PyRef array_capsule = array.capsule();
        return created(PyTuple_Pack(2, schema_capsule.get(), array_capsule.get())).release();
    });
}

Py_ssize_t table_length(PyObject* self) {
    return static_cast<Py_ssize_t>(table_of(self).columns.rows());
}

PyObject* table_repr(PyObject* self) {
    return run_guarded([&] {
        const ArrowColumns& columns = table_of(self).columns;
        const std::string text = "<velmar.TextGridTable: " + std::to_string(columns.rows()) +
                                 " rows from " + std::to_string(columns.files()) + " files, " +
                                 std::to_string(columns.tiers()) +
                                 " tier names; columns file, tier, is_interval, tmin, tmax, "
                                 "label>";
        return created(
                   PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())))
            .release();
    });
}

void table_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<TableObject*>(self)->table;
    type->tp_free(self);
    Py_DECREF(type);
}

template <class Method>
PyCFunction as_cfunction(Method method) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method));
}

PyMethodDef table_methods[] = {
    {"__arrow_c_stream__", as_cfunction(arrow_c_stream), METH_VARARGS | METH_KEYWORDS,
     docs::ARROW_C_STREAM},
    {"__arrow_c_array__", as_cfunction(arrow_c_array), METH_VARARGS | METH_KEYWORDS,
     docs::ARROW_C_ARRAY},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot table_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(table_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(table_repr)},
    {Py_tp_methods, table_methods},
    {Py_tp_doc, const_cast<char*>(docs::TEXTGRID_TABLE)},
    {Py_mp_length, reinterpret_cast<void*>(table_length)},
    {0, nullptr},
};

PyType_Spec table_spec = {
    "velmar.TextGridTable",
    sizeof(TableObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    table_slots,
};

OnceCell<PyObject*> table_type_cell;

}  // namespace

PyObject* arrow_table_type() {
    return table_type_cell.get([] {
        PyObject* type = PyType_FromSpec(&table_spec);
        if (!type) throw_python_error();
        return type;
    });
}

PyRef arrow_table_object(std::shared_ptr<const ArrowTable> table) {
    auto* type = reinterpret_cast<PyTypeObject*>(arrow_table_type());
    PyRef object = created(type->tp_alloc(type, 0));
    reinterpret_cast<TableObject*>(object.get())->table =
        new std::shared_ptr<const ArrowTable>(std::move(table));
    return object;
}

}  // namespace velmar
