// textgrid2vectors and vectors2textgrid: a file to columns and back.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "arguments.hpp"
#include "binding.hpp"
#include "file_calls.hpp"
#include "functions.hpp"
#include "vector_result.hpp"

namespace velmar {

PyObject* textgrid2vectors(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        // Rows become columns while the rest of a large file is still read.
        VectorColumns columns;
        read_file_arguments(
            "textgrid2vectors", args, nargs, kwnames,
            [&](const textgrid::Tier& tier, bool, std::span<const textgrid::Item> items) {
                columns.add(tier, items);
            },
            textgrid::AfterReading::KeepText,
            [&](std::uint64_t bytes) { columns.expect_text_bytes(bytes); });
        return columns.finish().release();
    });
}

PyObject* vectors2textgrid(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 9> PARAMETERS{
            "tmins", "tmaxs", "labels",      "tier_names", "is_intervals",
            "tmin",  "tmax",  "output_file", "file_type"};
        const auto [tmins_object, tmaxs_object, labels_object, tier_names_object,
                    is_intervals_object, tmin_object, tmax_object, output_file_object,
                    file_type_object] =
            bind_arguments("vectors2textgrid", PARAMETERS, args, nargs, kwnames);
        auto tmins = convert_argument("tmins", tmins_object, extract_doubles);
        auto tmaxs = convert_argument("tmaxs", tmaxs_object, extract_doubles);
        auto labels = convert_argument("labels", labels_object, extract_texts);
        auto tier_names = convert_argument("tier_names", tier_names_object, extract_texts);
        auto is_intervals = convert_argument("is_intervals", is_intervals_object, extract_flags);
        const auto write_arguments =
            convert_write_arguments(tmin_object, tmax_object, output_file_object, file_type_object);

        store_document(
            [&] {
                return textgrid::vectors_to_textgrid(
                    std::move(tmins), std::move(tmaxs), std::move(labels), std::move(tier_names),
                    std::move(is_intervals), write_arguments.tmin, write_arguments.tmax);
            },
            write_arguments);
        return Py_NewRef(Py_None);
    });
}

}  // namespace velmar
