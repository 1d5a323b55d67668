// The module object: created once per process, owned by the first interpreter
// that imports it, holding the six functions in a fixed order.

#include <Python.h>

#include <atomic>
#include <cstdint>

#include "arguments.hpp"
#include "arrow_table.hpp"
#include "docstrings.hpp"
#include "failure.hpp"
#include "functions.hpp"
#include "once.hpp"
#include "pyref.hpp"

namespace velmar {

namespace {

template <class Function>
PyCFunction as_cfunction(Function function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

constexpr int FASTCALL_WITH_KEYWORDS = METH_FASTCALL | METH_KEYWORDS;

// Static: function objects keep pointers to their definitions for ever.
PyMethodDef function_table[] = {
    {"textgrid2vectors", as_cfunction(textgrid2vectors), FASTCALL_WITH_KEYWORDS,
     docs::TEXTGRID2VECTORS},
    {"textgrids2vectors", as_cfunction(textgrids2vectors), FASTCALL_WITH_KEYWORDS,
     docs::TEXTGRIDS2VECTORS},
    {"textgrid2data", as_cfunction(textgrid2data), FASTCALL_WITH_KEYWORDS, docs::TEXTGRID2DATA},
    {"textgrids2data", as_cfunction(textgrids2data), FASTCALL_WITH_KEYWORDS, docs::TEXTGRIDS2DATA},
    {"data2textgrid", as_cfunction(data2textgrid), FASTCALL_WITH_KEYWORDS, docs::DATA2TEXTGRID},
    {"vectors2textgrid", as_cfunction(vectors2textgrid), FASTCALL_WITH_KEYWORDS,
     docs::VECTORS2TEXTGRID},
    {"textgrids2arrow", as_cfunction(textgrids2arrow), FASTCALL_WITH_KEYWORDS,
     docs::TEXTGRIDS2ARROW},
    {"textgrid2arrow", as_cfunction(textgrid2arrow), FASTCALL_WITH_KEYWORDS, docs::TEXTGRID2ARROW},
    {"set_num_threads", as_cfunction(set_num_threads), FASTCALL_WITH_KEYWORDS,
     docs::SET_NUM_THREADS},
    {"get_num_threads", as_cfunction(get_num_threads), FASTCALL_WITH_KEYWORDS,
     docs::GET_NUM_THREADS},
    {"release_memory", as_cfunction(release_memory), FASTCALL_WITH_KEYWORDS, docs::RELEASE_MEMORY},
    {"text2data", as_cfunction(text2data), FASTCALL_WITH_KEYWORDS, docs::TEXT2DATA},
    {"text2vectors", as_cfunction(text2vectors), FASTCALL_WITH_KEYWORDS, docs::TEXT2VECTORS},
    {"data2text", as_cfunction(data2text), FASTCALL_WITH_KEYWORDS, docs::DATA2TEXT},
    {"vectors2text", as_cfunction(vectors2text), FASTCALL_WITH_KEYWORDS, docs::VECTORS2TEXT},
    {"data2textgrids", as_cfunction(data2textgrids), FASTCALL_WITH_KEYWORDS, docs::DATA2TEXTGRIDS},
    {"vectors2textgrids", as_cfunction(vectors2textgrids), FASTCALL_WITH_KEYWORDS,
     docs::VECTORS2TEXTGRIDS},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "velmar",
    docs::MODULE,
    0,        // m_size: no per-module state
    nullptr,  // functions are added one by one after creation
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

std::atomic<std::int64_t> owning_interpreter{-1};
OnceCell<PyObject*> module_cell;
OnceCell<PyObject*> interned_name_cell;
OnceCell<PyObject*> interned_all_cell;

PyObject* interned(OnceCell<PyObject*>& cell, const char* text) {
    return cell.get([text] {
        PyObject* name = PyUnicode_InternFromString(text);
        if (name == nullptr) throw_python_error();
        return name;
    });
}

// The module's __all__ list, created empty if it does not exist yet.
PyRef all_list(PyObject* module) {
    PyObject* all_name = interned(interned_all_cell, "__all__");
    PyRef all = PyRef::steal(PyObject_GetAttr(module, all_name));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_python_error();
        PyErr_Clear();
        all = PyRef::steal(PyList_New(0));
        if (!all || PyObject_SetAttr(module, all_name, all.get()) < 0) throw_python_error();
    }
    if (!PyList_Check(all.get())) raise_cast_error(all.get(), "list");
    return all;
}

void add_function(PyObject* module, PyObject* module_name, PyMethodDef& definition) {
    PyRef function = PyRef::steal(PyCMethod_New(&definition, module, module_name, nullptr));
    if (!function) throw_python_error();
    PyRef name =
        PyRef::steal(PyObject_GetAttr(function.get(), interned(interned_name_cell, "__name__")));
    if (!name) throw_python_error();
    if (!PyUnicode_Check(name.get())) raise_cast_error(name.get(), "str");
    PyRef all = all_list(module);
    if (PyList_Append(all.get(), name.get()) < 0)
        throw textgrid::InternalFailure("could not append __name__ to __all__");
    if (PyObject_SetAttr(module, name.get(), function.get()) < 0) throw_python_error();
}

PyObject* create_module() {
    PyRef module = PyRef::steal(PyModule_Create2(&module_definition, PYTHON_API_VERSION));
    if (!module) throw_python_error();
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module.get()));
    if (!module_name) throw_python_error();
    for (PyMethodDef& definition : function_table)
        add_function(module.get(), module_name.get(), definition);
    // The class of the Arrow results, for isinstance and the stub; not made
    // by users, so not in __all__.
    if (PyModule_AddObjectRef(module.get(), "TextGridTable", arrow_table_type()) < 0)
        throw_python_error();
    return module.release();
}

// The module belongs to the first interpreter that imports it: its functions
// and process-wide objects are not isolated per interpreter.
bool claim_for_this_interpreter() {
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current < 0) throw_python_error();
    std::int64_t expected = -1;
    if (owning_interpreter.compare_exchange_strong(expected, current) || expected == current)
        return true;
    PyErr_SetString(PyExc_ImportError,
                    "velmar does not support subinterpreters: it can only be imported in the "
                    "interpreter that imported it first");
    return false;
}

}  // namespace

}  // namespace velmar

PyMODINIT_FUNC PyInit_velmar() {
    return velmar::run_guarded([]() -> PyObject* {
        if (!velmar::claim_for_this_interpreter()) return nullptr;
        return Py_NewRef(velmar::module_cell.get(velmar::create_module));
    });
}
