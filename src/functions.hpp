#pragma once
// The module functions, as fast-call entries: (module, argument vector,
// positional count, keyword names) -> new reference, or null with an exception.

#include <Python.h>

namespace velmar {

PyObject* textgrid2vectors(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);
PyObject* textgrids2vectors(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);
PyObject* textgrid2data(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);
PyObject* textgrids2data(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);
PyObject* data2textgrid(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);
PyObject* vectors2textgrid(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);
PyObject* textgrids2arrow(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames);
PyObject* textgrid2arrow(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);
PyObject* set_num_threads(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames);
PyObject* get_num_threads(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames);
PyObject* release_memory(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);
PyObject* text2data(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* text2vectors(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames);
PyObject* data2text(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* vectors2text(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames);
PyObject* data2textgrids(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);
PyObject* vectors2textgrids(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);

// The prefixes of the IOError of the single-file functions.
inline constexpr const char* CREATE_ERROR_PREFIX = "Failed to create TextGrid because: ";
inline constexpr const char* READ_ERROR_PREFIX = "Failed to read TextGrid file ";
inline constexpr const char* READ_ERROR_INFIX = " because: ";
// A read from memory names no file.
inline constexpr const char* READ_TEXT_ERROR_PREFIX = "Failed to read TextGrid because: ";

}  // namespace velmar
