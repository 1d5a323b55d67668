// data2textgrids and vectors2textgrids: many files written at once.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "arguments.hpp"
#include "binding.hpp"
#include "functions.hpp"
#include "write/batch_writer.hpp"

namespace velmar {

namespace {

// One document of data2textgrids: (data, tmin, tmax).
struct DocumentArguments {
    std::vector<textgrid::TierData> tiers;
    std::optional<double> tmin;
    std::optional<double> tmax;
};

DocumentArguments extract_document(PyObject* object) {
    const auto [data, tmin, tmax] = extract_triple(object);
    DocumentArguments document;
    document.tiers = extract_tier_data(data);
    document.tmin = extract_optional_double(tmin);
    document.tmax = extract_optional_double(tmax);
    return document;
}

[[noreturn]] void raise_value_error(const std::string& message) {
    PyErr_SetString(PyExc_ValueError, message.c_str());
    throw_python_error();
}

// One entry per file: None where it was written, else the message its
// single-file call would raise.
PyObject* outcomes_list(const std::vector<textgrid::Status>& outcomes) {
    PyRef list = created(PyList_New(static_cast<Py_ssize_t>(outcomes.size())));
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        PyRef entry = PyRef::borrow(Py_None);
        if (!outcomes[i]) {
            const std::string message = CREATE_ERROR_PREFIX + outcomes[i].error().to_string();
            entry = created(PyUnicode_DecodeUTF8(
                message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
        }
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), entry.release());
    }
    return list.release();
}

}  // namespace

PyObject* data2textgrids(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        static constexpr std::array<const char*, 3> PARAMETERS{"documents", "output_files",
                                                               "file_type"};
        const auto [documents_object, output_files_object, file_type_object] =
            bind_arguments("data2textgrids", PARAMETERS, args, nargs, kwnames);
        auto documents = convert_argument("documents", documents_object, [](PyObject* object) {
            return extract_sequence(object, extract_document);
        });
        const auto output_files =
            convert_argument("output_files", output_files_object, extract_texts);
        const auto file_type = convert_argument("file_type", file_type_object, extract_text_view);
        if (documents.size() != output_files.size())
            raise_value_error(
                "documents and output_files differ in length: " + std::to_string(documents.size()) +
                " and " + std::to_string(output_files.size()));

        return outcomes_list(textgrid::write_textgrids(
            output_files, textgrid::output_file_type(file_type), [&](std::size_t i) {
                DocumentArguments& document = documents[i];
                return textgrid::data_to_textgrid(std::move(document.tiers), document.tmin,
                                                  document.tmax);
            }));
    });
}

PyObject* vectors2textgrids(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        static constexpr std::array<const char*, 8> PARAMETERS{
            "tmins",        "tmaxs",    "labels",       "tier_names",
            "is_intervals", "file_ids", "output_files", "file_type"};
        const auto [tmins_object, tmaxs_object, labels_object, tier_names_object,
                    is_intervals_object, file_ids_object, output_files_object, file_type_object] =
            bind_arguments("vectors2textgrids", PARAMETERS, args, nargs, kwnames);
        const auto tmins = convert_argument("tmins", tmins_object, extract_doubles);
        const auto tmaxs = convert_argument("tmaxs", tmaxs_object, extract_doubles);
        // Only viewed here: each file's task copies its own rows' texts.
        const auto labels = convert_argument("labels", labels_object, extract_text_views);
        const auto tier_names =
            convert_argument("tier_names", tier_names_object, extract_text_views);
        const auto is_intervals =
            convert_argument("is_intervals", is_intervals_object, extract_flags);
        const auto file_ids = convert_argument("file_ids", file_ids_object, extract_file_ids);
        const auto output_files =
            convert_argument("output_files", output_files_object, extract_texts);
        const auto file_type = convert_argument("file_type", file_type_object, extract_text_view);

        const std::size_t rows = file_ids.size();
        if (tmins.size() != rows || tmaxs.size() != rows || labels.views.size() != rows ||
            tier_names.views.size() != rows || is_intervals.size() != rows)
            raise_value_error(
                "tmins, tmaxs, labels, tier_names, is_intervals and file_ids differ in length");
        for (const std::uint32_t id : file_ids) {
            if (id >= output_files.size())
                raise_value_error("file_ids holds " + std::to_string(id) + ", but only " +
                                  std::to_string(output_files.size()) + " output_files are given");
        }
        const textgrid::ColumnViews columns{tmins, tmaxs, labels.views, tier_names.views,
                                            is_intervals};
        return outcomes_list(textgrid::write_vectors_textgrids(
            columns, file_ids, output_files, textgrid::output_file_type(file_type)));
    });
}

}  // namespace velmar
