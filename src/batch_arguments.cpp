#include "batch_arguments.hpp"

#include <array>

#include "arguments.hpp"
#include "binding.hpp"

namespace velmar {

BatchArguments convert_batch_arguments(const char* function, PyObject* const* args,
                                       Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<const char*, 3> PARAMETERS{"files", "strict", "file_type"};
    const auto [files_object, strict_object, file_type_object] =
        bind_arguments(function, PARAMETERS, args, nargs, kwnames);
    BatchArguments arguments;
    arguments.files = convert_argument("files", files_object, extract_texts);
    arguments.strict = convert_argument("strict", strict_object, extract_bool);
    arguments.file_type = convert_argument("file_type", file_type_object, extract_text_view);
    return arguments;
}

}  // namespace velmar
