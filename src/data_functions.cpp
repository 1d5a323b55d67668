// textgrid2data and data2textgrid: a file to the structured form and back.

#include <string>
#include <string_view>
#include <utility>

#include "binding.hpp"
#include "convert.hpp"
#include "functions.hpp"
#include "lib.hpp"
#include "writer.hpp"

namespace velmar {

PyObject* textgrid2data(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        static constexpr std::array<const char*, 3> PARAMETERS{"file", "strict", "file_type"};
        const auto [file_object, strict_object, file_type_object] =
            bind_arguments("textgrid2data", PARAMETERS, args, nargs, kwnames);
        const std::string_view file =
            convert_argument("file", [&] { return extract_text_view(file_object); });
        const bool strict = convert_argument("strict", [&] { return extract_bool(strict_object); });
        const std::string_view file_type =
            convert_argument("file_type", [&] { return extract_text_view(file_type_object); });

        auto grid = textgrid::read_textgrid(file, strict, file_type);
        if (!grid) {
            std::string prefix = READ_ERROR_PREFIX;
            prefix.append(file).append(READ_ERROR_INFIX);
            raise_io_error(prefix, grid.error());
        }
        return build_data_result(grid.value()).release();
    });
}

PyObject* data2textgrid(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        static constexpr std::array<const char*, 5> PARAMETERS{"data", "tmin", "tmax",
                                                               "output_file", "file_type"};
        const auto [data_object, tmin_object, tmax_object, output_file_object, file_type_object] =
            bind_arguments("data2textgrid", PARAMETERS, args, nargs, kwnames);
        auto tiers = convert_argument("data", [&] { return extract_tier_data(data_object); });
        const auto tmin =
            convert_argument("tmin", [&] { return extract_optional_double(tmin_object); });
        const auto tmax =
            convert_argument("tmax", [&] { return extract_optional_double(tmax_object); });
        const std::string_view output_file = convert_argument(
            "output_file", [&] { return extract_text_view(output_file_object); });
        const std::string_view file_type =
            convert_argument("file_type", [&] { return extract_text_view(file_type_object); });

        auto grid = textgrid::data_to_textgrid(std::move(tiers), tmin, tmax);
        if (!grid) raise_io_error(CREATE_ERROR_PREFIX, grid.error());
        const auto written = textgrid::write_textgrid(grid.value(), output_file,
                                                      textgrid::output_file_type(file_type));
        if (!written) raise_io_error(CREATE_ERROR_PREFIX, written.error());
        return Py_NewRef(Py_None);
    });
}

}  // namespace velmar
