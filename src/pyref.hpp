#pragma once
// Sole owner of one strong Python reference. Every new reference the module
// creates lives in a PyRef from creation until it is returned to the
// interpreter (release) or dropped, so no early exit can leak one.

#include <Python.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "runtime/large_memory.hpp"

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

// Sole owner of a run of strong references, held as plain pointers so that
// growing the run moves bytes, not handles: a column of a result by the row.
class PyRefColumn {
public:
    PyRefColumn() = default;
    PyRefColumn(const PyRefColumn&) = delete;
    PyRefColumn& operator=(const PyRefColumn&) = delete;
    ~PyRefColumn() {
        for (PyObject* object : objects_) Py_XDECREF(object);
    }

    std::size_t size() const noexcept { return objects_.size(); }
    void reserve(std::size_t rows) { objects_.reserve(rows); }
    void push_back(PyRef ref) {
        objects_.push_back(ref.get());  // may throw: `ref` still owns it then
        (void)ref.release();
    }
    // Hands every reference to a new list, returned as PyList_New returns
    // it (null on failure, the column then unchanged); empty after.
    PyObject* to_list() {
        PyObject* list = PyList_New(static_cast<Py_ssize_t>(objects_.size()));
        if (!list) return nullptr;
        for (std::size_t row = 0; row < objects_.size(); ++row)
            PyList_SET_ITEM(list, static_cast<Py_ssize_t>(row), objects_[row]);
        objects_.clear();
        return list;
    }

private:
    // Reused memory, as for the numeric columns (native_column.hpp).
    std::vector<PyObject*, textgrid::LargeAllocator<PyObject*>> objects_;
};

}  // namespace velmar
