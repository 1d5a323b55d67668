#pragma once
// The steps the single-file functions share: reading the file named by the
// (file, strict, file_type) arguments, and storing a built document.

#include <Python.h>

#include <string_view>

#include "textgrid.hpp"

namespace velmar {

// Binds and converts (file, strict, file_type), then reads the file, telling
// `observe` its rows; a TextGridError becomes IOError with the read prefix.
textgrid::TextGrid read_file_arguments(const char* function, PyObject* const* args,
                                       Py_ssize_t nargs, PyObject* kwnames,
                                       const textgrid::RowObserver& observe = {});

// Writes a document built from Python data in the layout file_type names; a
// TextGridError from building or writing becomes IOError with the create prefix.
void store_document(textgrid::Result<textgrid::TextGrid> built, std::string_view output_file,
                    std::string_view file_type);

}  // namespace velmar
