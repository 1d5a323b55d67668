#pragma once
// Sole owner of one strong Python reference. Every new reference the module
// creates lives in a PyRef from creation until it is returned to the
// interpreter (release) or dropped, so no early exit can leak one.

#include <Python.h>

#include <utility>

namespace velmar {

class PyRef {
public:
    PyRef() noexcept = default;
    // Takes over a new reference (may be null).
    static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
    // Adds a reference of our own to a borrowed object.
    static PyRef borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return PyRef(object);
    }

    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        PyRef old(std::exchange(object_, std::exchange(other.object_, nullptr)));
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // Hands the reference to the caller (e.g. the interpreter or a container
    // slot that steals it).
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

private:
    explicit PyRef(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace velmar
