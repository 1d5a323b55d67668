#pragma once
// The boundary between the module functions and the interpreter: every way a
// call can fail becomes a Python exception here, and no C++ exception crosses
// into the interpreter.

#include <Python.h>

#include <string_view>

#include "model/error.hpp"
#include "pyref.hpp"

namespace velmar {

// Thrown once a Python exception has been set; the boundary just returns null.
struct PythonErrorSet {};

[[noreturn]] inline void throw_python_error() { throw PythonErrorSet{}; }

// A Python object the module needed could not be created: print the pending
// error and end the call as an internal failure.
[[noreturn]] void python_api_failed();

// Owns the new reference of a Python API call that creates an object; null
// means the creation failed (see python_api_failed).
inline PyRef created(PyObject* object) {
    if (object == nullptr) python_api_failed();
    return PyRef::steal(object);
}

// Takes the pending exception, normalised (new reference, null if none), and
// puts one back as the pending exception (stealing it); the same on every
// supported Python version.
PyObject* take_pending_exception() noexcept;
void restore_exception(PyObject* exception) noexcept;

// Sets IOError(prefix + error text) and throws PythonErrorSet.
[[noreturn]] void raise_io_error(std::string_view prefix, const textgrid::TextGridError& error);

// The class of internal failures, created at the first one of the process.
PyObject* panic_exception_type();

// Turns the exception being handled into a Python exception; always returns
// null. Must be called from inside a catch block.
PyObject* translate_current_exception() noexcept;

// Runs one module function body. body returns a new reference (or null with
// an exception set).
template <class Body>
PyObject* run_guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return translate_current_exception();
    }
}

}  // namespace velmar
