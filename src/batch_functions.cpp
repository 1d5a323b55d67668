// textgrids2data and textgrids2vectors: many files at once.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "batch_arguments.hpp"
#include "convert/converter.hpp"
#include "data_result.hpp"
#include "failure.hpp"
#include "functions.hpp"
#include "gil.hpp"
#include "results.hpp"
#include "vector_result.hpp"

namespace velmar {

namespace {

// Reads the batch with the lock let go; each file's entry is made with it
// taken back, after a look for Ctrl-C.
void read_without_gil(const BatchArguments& arguments, const textgrid::DocumentObserver& observe) {
    without_gil([&] {
        textgrid::read_textgrids(arguments.files, arguments.strict, arguments.file_type,
                                 [&](std::size_t index, textgrid::TextGrid&& file) {
                                     GilTaken gil;
                                     GilTaken::check_signals();
                                     observe(index, std::move(file));
                                 });
    });
}

}  // namespace

PyObject* textgrids2data(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        const auto arguments = convert_batch_arguments("textgrids2data", args, nargs, kwnames);
        // Each entry is built while the pool reads later files, and dropped.
        GcPause pause;
        DataBuilder builder;  // labels are shared across the whole batch
        PyRef list = created(PyList_New(static_cast<Py_ssize_t>(arguments.files.size())));
        // Built straight from the documents read: no converted copy of each.
        read_without_gil(arguments, [&](std::size_t index, textgrid::TextGrid&& entry) {
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(index),
                            builder.document(entry).release());
        });
        return list.release();
    });
}

PyObject* textgrids2vectors(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        const auto arguments = convert_batch_arguments("textgrids2vectors", args, nargs, kwnames);
        VectorColumns columns;
        // Columns straight from the documents read, as for one file: no
        // per-row copy of each document's columns first.
        read_without_gil(arguments, [&](std::size_t index, textgrid::TextGrid&& file) {
            columns.add(static_cast<std::uint32_t>(index), file);
        });
        return columns.finish_with_file_ids().release();
    });
}

}  // namespace velmar
