// textgrid2vectors and vectors2textgrid: a file to columns and back.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "binding.hpp"
#include "convert.hpp"
#include "functions.hpp"

namespace velmar {

namespace {

[[noreturn]] void not_implemented(const char* function) {
    PyErr_Format(PyExc_NotImplementedError, "%s() is not available yet", function);
    throw_python_error();
}

std::vector<double> extract_doubles(PyObject* object) {
    return extract_sequence(object, extract_double);
}

std::vector<std::string> extract_texts(PyObject* object) {
    return extract_sequence(object, extract_text);
}

// Bytes, not std::vector<bool>, so the column can go to the library as it is.
std::vector<std::uint8_t> extract_flags(PyObject* object) {
    return extract_sequence(object, [](PyObject* flag) -> std::uint8_t { return extract_bool(flag); });
}

}  // namespace

PyObject* textgrid2vectors(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 3> PARAMETERS{"file", "strict", "file_type"};
        const auto [file_object, strict_object, file_type_object] =
            bind_arguments("textgrid2vectors", PARAMETERS, args, nargs, kwnames);
        const std::string_view file =
            convert_argument("file", [&] { return extract_text_view(file_object); });
        const bool strict = convert_argument("strict", [&] { return extract_bool(strict_object); });
        const std::string_view file_type =
            convert_argument("file_type", [&] { return extract_text_view(file_type_object); });
        (void)file, (void)strict, (void)file_type;
        // read_textgrid -> textgrid_to_vectors -> the NumPy result arrive here.
        not_implemented("textgrid2vectors");
    });
}

PyObject* vectors2textgrid(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&]() -> PyObject* {
        static constexpr std::array<const char*, 9> PARAMETERS{
            "tmins", "tmaxs", "labels", "tier_names", "is_intervals",
            "tmin",  "tmax",  "output_file", "file_type"};
        const auto slots = bind_arguments("vectors2textgrid", PARAMETERS, args, nargs, kwnames);
        auto tmins = convert_argument("tmins", [&] { return extract_doubles(slots[0]); });
        auto tmaxs = convert_argument("tmaxs", [&] { return extract_doubles(slots[1]); });
        auto labels = convert_argument("labels", [&] { return extract_texts(slots[2]); });
        auto tier_names = convert_argument("tier_names", [&] { return extract_texts(slots[3]); });
        auto is_intervals = convert_argument("is_intervals", [&] { return extract_flags(slots[4]); });
        const auto tmin = convert_argument("tmin", [&] { return extract_optional_double(slots[5]); });
        const auto tmax = convert_argument("tmax", [&] { return extract_optional_double(slots[6]); });
        const std::string_view output_file =
            convert_argument("output_file", [&] { return extract_text_view(slots[7]); });
        const std::string_view file_type =
            convert_argument("file_type", [&] { return extract_text_view(slots[8]); });
        (void)tmins, (void)tmaxs, (void)labels, (void)tier_names, (void)is_intervals;
        (void)tmin, (void)tmax, (void)output_file, (void)file_type;
        // vectors_to_textgrid -> write_textgrid arrive here, with CREATE_ERROR_PREFIX.
        not_implemented("vectors2textgrid");
    });
}

}  // namespace velmar
