// textgrids2arrow and textgrid2arrow: files to one Arrow table, built without
// a Python object per row.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "arguments.hpp"
#include "arrow_table.hpp"
#include "batch_arguments.hpp"
#include "binding.hpp"
#include "convert/converter.hpp"
#include "failure.hpp"
#include "file_calls.hpp"
#include "functions.hpp"

namespace velmar {

namespace {

// Other Python threads run while this one works without Python objects; the
// lock is taken back however the work ends.
class InterpreterLockReleased {
public:
    InterpreterLockReleased() : state_(PyEval_SaveThread()) {}
    ~InterpreterLockReleased() { PyEval_RestoreThread(state_); }
    InterpreterLockReleased(const InterpreterLockReleased&) = delete;
    InterpreterLockReleased& operator=(const InterpreterLockReleased&) = delete;

private:
    PyThreadState* state_;
};

PyObject* finished_table(std::shared_ptr<ArrowTable> table) {
    table->layout = table->columns.layout();
    return arrow_table_object(std::move(table)).release();
}

}  // namespace

PyObject* textgrids2arrow(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        const auto arguments = convert_batch_arguments("textgrids2arrow", args, nargs, kwnames);
        auto table = std::make_shared<ArrowTable>();
        {
            InterpreterLockReleased released;
            for (const std::string& file : arguments.files) table->columns.name_file(file);
            textgrid::read_textgrids(arguments.files, arguments.strict, arguments.file_type,
                                     [&](std::size_t index, textgrid::TextGrid&& file) {
                                         table->columns.add(static_cast<std::int32_t>(index), file);
                                     });
        }
        return finished_table(std::move(table));
    });
}

PyObject* textgrid2arrow(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        auto table = std::make_shared<ArrowTable>();
        // Rows become columns while the rest of a large file is still read.
        read_file_arguments(
            "textgrid2arrow", args, nargs, kwnames,
            [&](const textgrid::Tier& tier, bool, std::span<const textgrid::Item> items) {
                table->columns.add(0, tier, items);
            },
            textgrid::AfterReading::KeepText,
            [&](std::uint64_t bytes) { table->columns.expect_text_bytes(bytes); });
        // The arguments are known good by now: the file's name is taken as given.
        static constexpr std::array<const char*, 3> PARAMETERS{"file", "strict", "file_type"};
        const auto bound = bind_arguments("textgrid2arrow", PARAMETERS, args, nargs, kwnames);
        table->columns.name_file(convert_argument("file", bound[0], extract_text_view));
        return finished_table(std::move(table));
    });
}

}  // namespace velmar
