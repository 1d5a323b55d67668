// textgrid2data and data2textgrid: a file to the structured form and back.

#include <span>
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
        // Rows become tuples while the rest of a large file is still read, and
        // the text read goes back to the system meanwhile: the result and the
        // whole text are never alive together.
        DataRows rows;
        const auto headers = read_file_arguments(
            "textgrid2data", args, nargs, kwnames,
            [&](const textgrid::Tier& tier, bool begins, std::span<const textgrid::Item> items) {
                rows.add(tier, begins, items);
            },
            textgrid::AfterReading::ReleaseText);
        return rows.finish(headers).release();
    });
}

PyObject* data2textgrid(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        static constexpr std::array<const char*, 5> PARAMETERS{"data", "tmin", "tmax",
                                                               "output_file", "file_type"};
        const auto [data_object, tmin_object, tmax_object, output_file_object, file_type_object] =
            bind_arguments("data2textgrid", PARAMETERS, args, nargs, kwnames);
        auto tiers = convert_argument("data", data_object, extract_tier_data);
        const auto write_arguments =
            convert_write_arguments(tmin_object, tmax_object, output_file_object, file_type_object);

        store_document(
            [&] {
                return textgrid::data_to_textgrid(std::move(tiers), write_arguments.tmin,
                                                  write_arguments.tmax);
            },
            write_arguments);
        return Py_NewRef(Py_None);
    });
}

}  // namespace velmar
