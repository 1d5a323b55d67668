// set_num_threads, get_num_threads and release_memory: what the module takes
// from the process, and gives back.

#include <array>

#include "binding.hpp"
#include "failure.hpp"
#include "functions.hpp"
#include "gil.hpp"
#include "runtime/large_memory.hpp"
#include "runtime/parallel.hpp"

namespace velmar {

namespace {

// A whole number from 1 to MOST_THREADS, as an index would be taken.
std::size_t extract_thread_count(PyObject* object) {
    PyRef index = PyRef::steal(PyNumber_Index(object));
    if (!index) throw_python_error();
    const Py_ssize_t count = PyLong_AsSsize_t(index.get());
    if (count == -1 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw_python_error();
        PyErr_Clear();
    }
    if (count < 1 || static_cast<std::size_t>(count) > textgrid::MOST_THREADS) {
        PyErr_Format(PyExc_ValueError, "n must be between 1 and %zu, not %R",
                     textgrid::MOST_THREADS, index.get());
        throw_python_error();
    }
    return static_cast<std::size_t>(count);
}

}  // namespace

PyObject* set_num_threads(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        static constexpr std::array<const char*, 1> PARAMETERS{"n"};
        const auto [n_object] = bind_arguments("set_num_threads", PARAMETERS, args, nargs, kwnames);
        const std::size_t threads = convert_argument("n", n_object, extract_thread_count);
        // Workers that leave finish their piece first; nothing here waits.
        textgrid::set_thread_count(threads);
        return Py_NewRef(Py_None);
    });
}

PyObject* get_num_threads(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        bind_arguments("get_num_threads", std::array<const char*, 0>{}, args, nargs, kwnames);
        return created(PyLong_FromSize_t(textgrid::thread_count())).release();
    });
}

PyObject* release_memory(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_guarded([&] {
        bind_arguments("release_memory", std::array<const char*, 0>{}, args, nargs, kwnames);
        // Unmapping and trimming take the system a while: others run meanwhile.
        const std::size_t released = without_gil(textgrid::large_memory::release_kept);
        return created(PyLong_FromSize_t(released)).release();
    });
}

}  // namespace velmar
