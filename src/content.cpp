#include "content.hpp"

#include "arguments.hpp"
#include "failure.hpp"

namespace velmar {

namespace {

std::string_view bytes_of(PyObject* bytes_object) {
    return {PyBytes_AS_STRING(bytes_object),
            static_cast<std::size_t>(PyBytes_GET_SIZE(bytes_object))};
}

}  // namespace

Content::Content(PyObject* object) {
    if (PyUnicode_Check(object)) {
        if (PyUnicode_IS_COMPACT_ASCII(object)) {
            bytes_ = extract_text_view(object);
            return;
        }
        // Encoded for this call only: the str keeps no second copy of a
        // large text after it.
        encoded_ = PyRef::steal(PyUnicode_AsUTF8String(object));
        if (!encoded_) throw_python_error();
        bytes_ = bytes_of(encoded_.get());
        return;
    }
    if (!PyObject_CheckBuffer(object)) raise_cast_error(object, "str or bytes-like");
    if (PyObject_GetBuffer(object, &buffer_, PyBUF_SIMPLE) != 0) throw_python_error();
    held_ = true;
    bytes_ = {static_cast<const char*>(buffer_.buf), static_cast<std::size_t>(buffer_.len)};
}

Content::~Content() {
    if (held_) PyBuffer_Release(&buffer_);
}

}  // namespace velmar
