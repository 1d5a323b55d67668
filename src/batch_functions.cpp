// textgrids2data and textgrids2vectors: many files at once.

#include <string>
#include <string_view>
#include <vector>

#include "binding.hpp"
#include "convert.hpp"
#include "functions.hpp"

namespace velmar {

namespace {

struct BatchArguments {
    std::vector<std::string> files;
    bool strict = false;
    std::string_view file_type;
};

BatchArguments convert_batch_arguments(const char* function, PyObject* const* args,
                                       Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<const char*, 3> PARAMETERS{"files", "strict", "file_type"};
    const auto slots = bind_arguments(function, PARAMETERS, args, nargs, kwnames);
    BatchArguments arguments;
    arguments.files =
        convert_argument("files", [&] { return extract_texts(slots[0]); });
    arguments.strict = convert_argument("strict", [&] { return extract_bool(slots[1]); });
    arguments.file_type = convert_argument("file_type", [&] { return extract_text_view(slots[2]); });
    return arguments;
}

[[noreturn]] void not_implemented(const char* function) {
    PyErr_Format(PyExc_NotImplementedError, "%s() is not available yet", function);
    throw_python_error();
}

}  // namespace

PyObject* textgrids2data(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&]() -> PyObject* {
        const auto arguments = convert_batch_arguments("textgrids2data", args, nargs, kwnames);
        (void)arguments;
        // Reading every file -> build_data_list arrive here.
        not_implemented("textgrids2data");
    });
}

PyObject* textgrids2vectors(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    return run_guarded([&]() -> PyObject* {
        const auto arguments = convert_batch_arguments("textgrids2vectors", args, nargs, kwnames);
        (void)arguments;
        // Columns over all documents plus a file_ids column (array_from_buffer
        // of uint32) arrive here, built like build_vector_result.
        not_implemented("textgrids2vectors");
    });
}

}  // namespace velmar
