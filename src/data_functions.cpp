// textgrid2data and data2textgrid: a file to the structured form and back.

#include <string>
#include <string_view>
#include <utility>

#include "arguments.hpp"
#include "binding.hpp"
#include "data_result.hpp"
#include "file_calls.hpp"
#include "functions.hpp"

namespace velmar {

PyObject* textgrid2data(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        const auto grid = read_file_arguments("textgrid2data", args, nargs, kwnames);
        return build_data_result(grid).release();
    });
}

PyObject* data2textgrid(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        static constexpr std::array<const char*, 5> PARAMETERS{"data", "tmin", "tmax",
                                                               "output_file", "file_type"};
        const auto [data_object, tmin_object, tmax_object, output_file_object, file_type_object] =
            bind_arguments("data2textgrid", PARAMETERS, args, nargs, kwnames);
        auto tiers = convert_argument("data", data_object, extract_tier_data);
        const auto tmin = convert_argument("tmin", tmin_object, extract_optional_double);
        const auto tmax = convert_argument("tmax", tmax_object, extract_optional_double);
        const std::string_view output_file =
            convert_argument("output_file", output_file_object, extract_text_view);
        const std::string_view file_type =
            convert_argument("file_type", file_type_object, extract_text_view);

        store_document(textgrid::data_to_textgrid(std::move(tiers), tmin, tmax), output_file,
                       file_type);
        return Py_NewRef(Py_None);
    });
}

}  // namespace velmar
