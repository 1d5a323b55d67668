#include "file_calls.hpp"

#include <array>
#include <string>

#include "arguments.hpp"
#include "binding.hpp"
#include "functions.hpp"
#include "read/lib.hpp"
#include "write/writer.hpp"

namespace velmar {

textgrid::TextGrid read_file_arguments(const char* function, PyObject* const* args,
                                       Py_ssize_t nargs, PyObject* kwnames,
                                       const textgrid::RowObserver& observe,
                                       textgrid::AfterReading after,
                                       const textgrid::SizeObserver& observe_size) {
    static constexpr std::array<const char*, 3> PARAMETERS{"file", "strict", "file_type"};
    const auto [file_object, strict_object, file_type_object] =
        bind_arguments(function, PARAMETERS, args, nargs, kwnames);
    const std::string_view file = convert_argument("file", file_object, extract_text_view);
    const bool strict = convert_argument("strict", strict_object, extract_bool);
    const std::string_view file_type =
        convert_argument("file_type", file_type_object, extract_text_view);

    auto grid = textgrid::read_textgrid(file, strict, file_type, observe, after, observe_size);
    if (!grid) {
        std::string prefix = READ_ERROR_PREFIX;
        prefix.append(file).append(READ_ERROR_INFIX);
        raise_io_error(prefix, grid.error());
    }
    return std::move(grid).value();
}

WriteArguments convert_write_arguments(PyObject* tmin, PyObject* tmax, PyObject* output_file,
                                       PyObject* file_type) {
    WriteArguments arguments;
    arguments.tmin = convert_argument("tmin", tmin, extract_optional_double);
    arguments.tmax = convert_argument("tmax", tmax, extract_optional_double);
    arguments.output_file = convert_argument("output_file", output_file, extract_text_view);
    arguments.file_type = convert_argument("file_type", file_type, extract_text_view);
    return arguments;
}

void store_document(textgrid::Result<textgrid::TextGrid> built, const WriteArguments& arguments) {
    if (!built) raise_io_error(CREATE_ERROR_PREFIX, built.error());
    const auto written = textgrid::write_textgrid(built.value(), arguments.output_file,
                                                  textgrid::output_file_type(arguments.file_type));
    if (!written) raise_io_error(CREATE_ERROR_PREFIX, written.error());
}

}  // namespace velmar
