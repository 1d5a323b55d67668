// textgrid2vectors and vectors2textgrid: a file to columns and back.

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding.hpp"
#include "convert.hpp"
#include "file_calls.hpp"
#include "functions.hpp"
#include "numpy_array.hpp"

namespace velmar {

namespace {

// A buffer held from an exporter, released on every exit.
class HeldBuffer {
public:
    HeldBuffer() noexcept = default;
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    ~HeldBuffer() {
        if (held_) PyBuffer_Release(&view_);
    }

    // A C-contiguous buffer with its format; false (error cleared) if the
    // object does not give one.
    bool acquire(PyObject* object) noexcept {
        held_ = PyObject_GetBuffer(object, &view_, PyBUF_ND | PyBUF_FORMAT) == 0;
        if (!held_) PyErr_Clear();
        return held_;
    }
    const Py_buffer& view() const noexcept { return view_; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// Copies the memory of an exact 1-D C-contiguous NumPy array whose elements
// have `format`, a column at a time rather than one scalar object per element.
// Nothing for any other object: it goes element by element, with the same
// values and messages as before.
template <class T>
std::optional<std::vector<T>> copy_numpy_column(PyObject* object, std::string_view format) {
    if (!is_exact_numpy_array(object)) return std::nullopt;
    HeldBuffer buffer;
    if (!buffer.acquire(object)) return std::nullopt;
    const Py_buffer& view = buffer.view();
    if (view.ndim != 1 || view.itemsize != static_cast<Py_ssize_t>(sizeof(T)) ||
        view.format == nullptr || format != view.format)
        return std::nullopt;
    std::vector<T> column(static_cast<std::size_t>(view.shape[0]));
    // memcpy: the array's memory need not be aligned for T.
    if (!column.empty()) std::memcpy(column.data(), view.buf, column.size() * sizeof(T));
    return column;
}

std::vector<double> extract_doubles(PyObject* object) {
    if (auto column = copy_numpy_column<double>(object, "d")) return std::move(*column);
    return extract_sequence(object, extract_double);
}

// Bytes, not std::vector<bool>, so the column can go to the library as it is.
std::vector<std::uint8_t> extract_flags(PyObject* object) {
    if (auto column = copy_numpy_column<std::uint8_t>(object, "?")) {
        // A bool array viewed over other bytes may hold any value; each is true
        // when non-zero, as its scalar would be.
        for (std::uint8_t& flag : *column) flag = flag != 0;
        return std::move(*column);
    }
    return extract_sequence(object, [](PyObject* flag) -> std::uint8_t { return extract_bool(flag); });
}

}  // namespace

PyObject* textgrid2vectors(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        // Rows become columns while the rest of a large file is still read.
        VectorColumns columns;
        read_file_arguments("textgrid2vectors", args, nargs, kwnames,
                            [&](const textgrid::Tier& tier, std::span<const textgrid::Item> items) {
                                columns.add(tier, items);
                            });
        return columns.finish().release();
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

        store_document(textgrid::vectors_to_textgrid(std::move(tmins), std::move(tmaxs),
                                                  std::move(labels), std::move(tier_names),
                                                  std::move(is_intervals), tmin, tmax),
                       output_file, file_type);
        return Py_NewRef(Py_None);
    });
}

}  // namespace velmar
