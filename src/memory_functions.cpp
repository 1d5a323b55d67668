// text2data, text2vectors, data2text and vectors2text: TextGrids held in
// memory, read as a file with the same bytes and rendered as a file's text.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "arguments.hpp"
#include "binding.hpp"
#include "content.hpp"
#include "data_result.hpp"
#include "functions.hpp"
#include "read/from_memory.hpp"
#include "results.hpp"
#include "vector_result.hpp"
#include "write/writer.hpp"

namespace velmar {

namespace {

// Binds and converts (text, strict, file_type), then reads the content,
// handing `observe` its rows; a TextGridError becomes IOError with the
// prefix of a read from memory. `size` is told the content's length first.
template <class Size>
textgrid::TextGrid read_content_arguments(const char* function, PyObject* const* args,
                                          Py_ssize_t nargs, PyObject* kwnames,
                                          const textgrid::RowObserver& observe, Size&& size) {
    static constexpr std::array<const char*, 3> PARAMETERS{"text", "strict", "file_type"};
    const auto [text_object, strict_object, file_type_object] =
        bind_arguments(function, PARAMETERS, args, nargs, kwnames);
    const Content content =
        convert_argument("text", text_object, [](PyObject* text) { return Content(text); });
    const bool strict = convert_argument("strict", strict_object, extract_bool);
    const std::string_view file_type =
        convert_argument("file_type", file_type_object, extract_text_view);

    size(content.bytes().size());
    auto grid = textgrid::read_textgrid_from_memory(content.bytes(), strict, file_type, observe);
    if (!grid) raise_io_error(READ_TEXT_ERROR_PREFIX, grid.error());
    return std::move(grid).value();
}

// A built document's text in the layout `file_type` names, as a str.
PyObject* rendered_text(textgrid::Result<textgrid::TextGrid> built, std::string_view file_type) {
    if (!built) raise_io_error(CREATE_ERROR_PREFIX, built.error());
    const std::string text =
        textgrid::render_textgrid(built.value(), textgrid::output_file_type(file_type));
    return created(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr))
        .release();
}

}  // namespace

PyObject* text2data(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        DataRows rows;
        const auto headers = read_content_arguments(
            "text2data", args, nargs, kwnames,
            [&](const textgrid::Tier& tier, bool begins, std::span<const textgrid::Item> items) {
                rows.add(tier, begins, items);
            },
            [](std::size_t) {});
        return rows.finish(headers).release();
    });
}

PyObject* text2vectors(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        VectorColumns columns;
        read_content_arguments(
            "text2vectors", args, nargs, kwnames,
            [&](const textgrid::Tier& tier, bool, std::span<const textgrid::Item> items) {
                columns.add(tier, items);
            },
            [&](std::size_t bytes) { columns.expect_text_bytes(bytes); });
        return columns.finish().release();
    });
}

PyObject* data2text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        static constexpr std::array<const char*, 4> PARAMETERS{"data", "tmin", "tmax", "file_type"};
        const auto [data_object, tmin_object, tmax_object, file_type_object] =
            bind_arguments("data2text", PARAMETERS, args, nargs, kwnames);
        auto tiers = convert_argument("data", data_object, extract_tier_data);
        const auto tmin = convert_argument("tmin", tmin_object, extract_optional_double);
        const auto tmax = convert_argument("tmax", tmax_object, extract_optional_double);
        const auto file_type = convert_argument("file_type", file_type_object, extract_text_view);
        return rendered_text(textgrid::data_to_textgrid(std::move(tiers), tmin, tmax), file_type);
    });
}

PyObject* vectors2text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        static constexpr std::array<const char*, 8> PARAMETERS{
            "tmins", "tmaxs", "labels", "tier_names", "is_intervals", "tmin", "tmax", "file_type"};
        const auto [tmins_object, tmaxs_object, labels_object, tier_names_object,
                    is_intervals_object, tmin_object, tmax_object, file_type_object] =
            bind_arguments("vectors2text", PARAMETERS, args, nargs, kwnames);
        auto tmins = convert_argument("tmins", tmins_object, extract_doubles);
        auto tmaxs = convert_argument("tmaxs", tmaxs_object, extract_doubles);
        auto labels = convert_argument("labels", labels_object, extract_texts);
        auto tier_names = convert_argument("tier_names", tier_names_object, extract_texts);
        auto is_intervals = convert_argument("is_intervals", is_intervals_object, extract_flags);
        const auto tmin = convert_argument("tmin", tmin_object, extract_optional_double);
        const auto tmax = convert_argument("tmax", tmax_object, extract_optional_double);
        const auto file_type = convert_argument("file_type", file_type_object, extract_text_view);
        return rendered_text(textgrid::vectors_to_textgrid(std::move(tmins), std::move(tmaxs),
                                                           std::move(labels), std::move(tier_names),
                                                           std::move(is_intervals), tmin, tmax),
                             file_type);
    });
}

}  // namespace velmar
