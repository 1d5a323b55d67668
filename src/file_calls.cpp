#include "file_calls.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "arguments.hpp"
#include "binding.hpp"
#include "functions.hpp"
#include "gil.hpp"
#include "read/lib.hpp"
#include "read/read_plan.hpp"
#include "write/writer.hpp"

namespace velmar {

namespace {
constexpr std::size_t ROWS_WITH_GIL = 1024;
}  // namespace

textgrid::TextGrid read_file_arguments(const char* function, PyObject* const* args,
                                       Py_ssize_t nargs, PyObject* kwnames,
                                       const textgrid::RowObserver& observe,
                                       textgrid::AfterReading after,
                                       const textgrid::SizeObserver& observe_size) {
    static constexpr std::array<const char*, 3> PARAMETERS{"file", "strict", "file_type"};
    const auto [file_object, strict_object, file_type_object] =
        bind_arguments(function, PARAMETERS, args, nargs, kwnames);
    const std::string_view file = convert_argument("file", file_object, extract_text_view);
    const bool strict = convert_argument("strict", strict_object, extract_bool);
    const std::string_view file_type =
        convert_argument("file_type", file_type_object, extract_text_view);

    // A small file's call stays as short as it was: only a large one's rows
    // look for Ctrl-C.
    bool large = false;
    const textgrid::SizeObserver sized = [&](std::uint64_t bytes) {
        large = textgrid::read_by_batch_caller(bytes);  // the size read a piece per thread
        if (!observe_size) return;
        GilTaken gil;
        observe_size(bytes);
    };
    const textgrid::RowObserver with_gil = [&](const textgrid::Tier& tier, bool begins,
                                               std::span<const textgrid::Item> items) {
        // In runs short enough that other threads wait little for the lock.
        std::size_t done = 0;
        do {
            const std::size_t run = std::min(items.size() - done, ROWS_WITH_GIL);
            GilTaken gil;
            if (large) GilTaken::check_signals();
            observe(tier, begins && done == 0, items.subspan(done, run));
            done += run;
        } while (done < items.size());
    };
    auto grid = without_gil([&] {
        return textgrid::read_textgrid(file, strict, file_type, observe ? with_gil : observe, after,
                                       sized);
    });
    if (!grid) {
        std::string prefix = READ_ERROR_PREFIX;
        prefix.append(file).append(READ_ERROR_INFIX);
        raise_io_error(prefix, grid.error());
    }
    return std::move(grid).value();
}

WriteArguments convert_write_arguments(PyObject* tmin, PyObject* tmax, PyObject* output_file,
                                       PyObject* file_type) {
    WriteArguments arguments;
    arguments.tmin = convert_argument("tmin", tmin, extract_optional_double);
    arguments.tmax = convert_argument("tmax", tmax, extract_optional_double);
    arguments.output_file = convert_argument("output_file", output_file, extract_text_view);
    arguments.file_type = convert_argument("file_type", file_type, extract_text_view);
    return arguments;
}

void store_document(const DocumentBuilder& build, const WriteArguments& arguments) {
    // Built, checked, written and freed without the lock; the error, if any,
    // is raised with it.
    auto failure = without_gil([&]() -> std::optional<textgrid::TextGridError> {
        auto built = build();
        if (!built) return std::move(built).error();
        auto written = textgrid::write_textgrid(built.value(), arguments.output_file,
                                                textgrid::output_file_type(arguments.file_type));
        if (!written) return std::move(written).error();
        return std::nullopt;
    });
    if (failure) raise_io_error(CREATE_ERROR_PREFIX, *failure);
}

}  // namespace velmar
