#pragma once
// The content argument of the functions that read a TextGrid held in memory:
// a str, or any object whose bytes are contiguous (bytes, bytearray,
// memoryview, mmap), looked at where it lies.

#include <Python.h>

#include <string_view>

#include "pyref.hpp"

namespace velmar {

class Content {
public:
    // TypeError for anything else; a str that cannot be UTF-8 (lone
    // surrogates) raises the encoder's error.
    explicit Content(PyObject* object);
    ~Content();
    Content(const Content&) = delete;
    Content& operator=(const Content&) = delete;

    // A str's UTF-8, or the object's own bytes (held unchanged: a bytearray
    // cannot be resized while its buffer is held).
    std::string_view bytes() const noexcept { return bytes_; }

private:
    Py_buffer buffer_{};
    bool held_ = false;
    PyRef encoded_;  // a str that is not plain ASCII, as UTF-8
    std::string_view bytes_;
};

}  // namespace velmar
