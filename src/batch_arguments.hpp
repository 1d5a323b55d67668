#pragma once
// The (files, strict, file_type) arguments every batch function takes.

#include <Python.h>

#include <string>
#include <string_view>
#include <vector>

namespace velmar {

struct BatchArguments {
    std::vector<std::string> files;
    bool strict = false;
    std::string_view file_type;  // a view of the caller's str
};

BatchArguments convert_batch_arguments(const char* function, PyObject* const* args,
                                       Py_ssize_t nargs, PyObject* kwnames);

}  // namespace velmar
