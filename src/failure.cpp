#include "failure.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "once.hpp"
#include "pyref.hpp"

namespace velmar {

namespace {

constexpr const char* PANIC_NAME = "native_runtime.PanicException";
constexpr const char* PANIC_DOC =
    "Raised when native code called from Python fails irrecoverably.\n"
    "\n"
    "Like SystemExit, it derives from BaseException, not from Exception, so it\n"
    "usually propagates through the whole stack and makes the interpreter exit.";
constexpr std::string_view GENERIC_FAILURE_TEXT = "internal failure without a message";

OnceCell<PyObject*> panic_type_cell;

[[noreturn]] void abort_with(const char* diagnostic) noexcept {
    std::fprintf(stderr, "velmar: %s\n", diagnostic);
    std::fflush(stderr);
    std::abort();
}

void raise_panic(std::string_view message) {
    if (message.empty()) message = GENERIC_FAILURE_TEXT;
    PyRef text = PyRef::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text) throw PythonErrorSet{};
    PyErr_SetObject(panic_exception_type(), text.get());
}

// Rethrows the exception being handled and sets the matching Python error.
void set_python_error_for_current_exception() {
    try {
        throw;
    } catch (const PythonErrorSet&) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    } catch (const textgrid::InternalFailure& failure) {
        raise_panic(failure.message());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& unforeseen) {
        raise_panic(unforeseen.what());
    } catch (...) {
        raise_panic({});
    }
}

}  // namespace

PyObject* take_pending_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return nullptr;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
#endif
}

void restore_exception(PyObject* exception) noexcept {
    if (exception == nullptr) return;
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception);
#else
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception))), exception,
                  PyException_GetTraceback(exception));
#endif
}

void python_api_failed() {
    if (PyErr_Occurred()) PyErr_Print();
    throw textgrid::InternalFailure("Python API call failed");
}

void raise_io_error(std::string_view prefix, const textgrid::TextGridError& error) {
    std::string message(prefix);
    message += error.to_string();
    PyRef text = PyRef::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text) throw PythonErrorSet{};
    PyErr_SetObject(PyExc_IOError, text.get());
    throw PythonErrorSet{};
}

PyObject* panic_exception_type() {
    return panic_type_cell.get([] {
        PyObject* type =
            PyErr_NewExceptionWithDoc(PANIC_NAME, PANIC_DOC, PyExc_BaseException, nullptr);
        if (type == nullptr) {
            PyErr_Print();
            abort_with("Failed to initialize new exception type.");
        }
        return type;
    });
}

PyObject* translate_current_exception() noexcept {
    try {
        set_python_error_for_current_exception();
    } catch (...) {
        abort_with("uncaught panic at ffi boundary: a failure occurred while reporting a failure");
    }
    return nullptr;
}

}  // namespace velmar
