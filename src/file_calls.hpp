#pragma once
// The steps the single-file functions share: reading the file named by the
// (file, strict, file_type) arguments, and storing a built document.

#include <Python.h>

#include <functional>
#include <optional>
#include <string_view>

#include "model/textgrid.hpp"
#include "read/lib.hpp"

namespace velmar {

// Binds and converts (file, strict, file_type), then reads the file, handing
// `observe` its rows (and `observe_size` its size first, if given); a
// TextGridError becomes IOError with the read prefix.
textgrid::TextGrid read_file_arguments(
    const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
    const textgrid::RowObserver& observe,
    textgrid::AfterReading after = textgrid::AfterReading::KeepText,
    const textgrid::SizeObserver& observe_size = {});

// The arguments both writing functions end with: (tmin, tmax, output_file,
// file_type).
struct WriteArguments {
    std::optional<double> tmin;
    std::optional<double> tmax;
    std::string_view output_file;
    std::string_view file_type;
};

// Converts the bound (tmin, tmax, output_file, file_type) in that order.
WriteArguments convert_write_arguments(PyObject* tmin, PyObject* tmax, PyObject* output_file,
                                       PyObject* file_type);

// Builds a document from native data (without the interpreter lock) and
// writes it where and in the layout the arguments name; a TextGridError from
// building or writing becomes IOError with the create prefix.
using DocumentBuilder = std::function<textgrid::Result<textgrid::TextGrid>()>;
void store_document(const DocumentBuilder& build, const WriteArguments& arguments);

}  // namespace velmar
