// textgrids2data and textgrids2vectors: many files at once.

#include <string>
#include <string_view>
#include <vector>

#include "binding.hpp"
#include "convert.hpp"
#include "functions.hpp"
#include "numpy_array.hpp"

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

}  // namespace

PyObject* textgrids2data(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        const auto arguments = convert_batch_arguments("textgrids2data", args, nargs, kwnames);
        const auto files = textgrid::textgrids_to_data(arguments.files, arguments.strict,
                                                       arguments.file_type);
        return build_data_list(files).release();
    });
}

PyObject* textgrids2vectors(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    return run_guarded([&] {
        const auto arguments = convert_batch_arguments("textgrids2vectors", args, nargs, kwnames);
        auto files = textgrid::textgrids_to_vectors(arguments.files, arguments.strict,
                                                    arguments.file_type);
        return build_batch_vector_result(textgrid::concatenate_vectors(std::move(files)))
            .release();
    });
}

}  // namespace velmar
