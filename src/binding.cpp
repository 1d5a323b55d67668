#include "binding.hpp"

#include <string>
#include <vector>

#include "arguments.hpp"
#include "pyref.hpp"

namespace velmar {

namespace {

[[noreturn]] void too_many_positional(const char* function, std::size_t expected,
                                      Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zu positional arguments but %zd %s given", function,
                 expected, given, given == 1 ? "was" : "were");
    throw_python_error();
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string join_quoted(const std::vector<const char*>& names) {
    const std::size_t count = names.size();
    std::string joined;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            if (count > 2) joined += ",";
            joined += i + 1 == count ? " and " : " ";
        }
        joined += "'";
        joined += names[i];
        joined += "'";
    }
    return joined;
}

[[noreturn]] void missing_arguments(const char* function, std::span<const char* const> parameters,
                                    std::span<PyObject*> slots) {
    std::vector<const char*> names;
    for (std::size_t i = 0; i < slots.size(); ++i)
        if (slots[i] == nullptr) names.push_back(parameters[i]);
    std::string joined = join_quoted(names);
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional %s: %s", function,
                 names.size(), names.size() == 1 ? "argument" : "arguments", joined.c_str());
    throw_python_error();
}

}  // namespace

void bind_arguments(const char* function, std::span<const char* const> parameters,
                    PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    std::span<PyObject*> slots) {
    if (static_cast<std::size_t>(nargs) > parameters.size())
        too_many_positional(function, parameters.size(), nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];

    Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        std::size_t slot = 0;
        while (slot < parameters.size() && !text_equals(keyword, parameters[slot])) ++slot;
        if (slot == parameters.size()) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function,
                         keyword);
            throw_python_error();
        }
        if (slots[slot] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%U'", function,
                         keyword);
            throw_python_error();
        }
        slots[slot] = args[nargs + k];
    }

    for (PyObject* slot : slots)
        if (slot == nullptr) missing_arguments(function, parameters, slots);
}

void argument_error(const char* parameter) noexcept {
    PyRef raised = PyRef::steal(take_pending_exception());
    if (!raised) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        return;
    }
    if (Py_TYPE(raised.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        restore_exception(raised.release());
        return;
    }
    PyRef text = PyRef::steal(PyObject_Str(raised.get()));
    if (!text) return;  // the error of str() is pending instead
    PyRef message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", parameter, text.get()));
    if (!message) return;
    PyRef wrapped = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!wrapped) return;
    // Setting a null cause would still suppress the context; only copy a real one.
    if (PyObject* cause = PyException_GetCause(raised.get()))
        PyException_SetCause(wrapped.get(), cause);
    // Not PyErr_SetObject: the replaced exception must not become the context.
    restore_exception(wrapped.release());
}

}  // namespace velmar
