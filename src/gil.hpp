#pragma once
// The interpreter lock around the library's work: let go while files are read
// and parsed and while the caller waits for the pool, taken back only to make
// Python objects of the rows the library hands over on the calling thread.

#include <Python.h>

#include <chrono>
#include <thread>
#include <utility>

#include "failure.hpp"

namespace velmar {

namespace gil_detail {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

// A thread waiting for the lock is only woken when it is let go, and the
// caller, handing over row after row, would take it back sooner than that
// thread can wake: so while other Python threads may want it, the caller
// holds it some BURST at most before it leaves it free for PAUSE.
inline constexpr microseconds BURST{300};
inline constexpr microseconds PAUSE{20};

// The calling thread's state while a GilReleased lets the lock go and no
// GilTaken has it back; null otherwise.
inline thread_local PyThreadState* released = nullptr;
// Whether other Python threads were there when the call let the lock go.
inline thread_local bool shared = false;
inline thread_local Clock::duration held{};  // since the last pause

inline bool other_threads(PyThreadState* self) {
    // Only the caller's own state is looked into: others may come and go.
    // A new state goes to the head of the list.
    return PyInterpreterState_ThreadHead(PyThreadState_GetInterpreter(self)) != self ||
           PyThreadState_Next(self) != nullptr;
}

inline void pause_if_held_long() {
    if (held < BURST) return;
    held = {};
    std::this_thread::sleep_for(PAUSE);
}

}  // namespace gil_detail

// Lets the lock go for its lifetime. Every Python value the work needs must be
// native by then: other threads run meanwhile and may change any object.
class GilReleased {
public:
    GilReleased() noexcept {
        gil_detail::shared = gil_detail::other_threads(PyThreadState_Get());
        gil_detail::held = {};
        saved_ = PyEval_SaveThread();
        gil_detail::released = saved_;
    }
    ~GilReleased() {
        gil_detail::released = nullptr;
        PyEval_RestoreThread(saved_);
    }
    GilReleased(const GilReleased&) = delete;
    GilReleased& operator=(const GilReleased&) = delete;

private:
    PyThreadState* saved_ = nullptr;
};

// Takes the lock back for its lifetime, on the thread a GilReleased let it go
// on (the library's observers run there); does nothing where it is held.
class GilTaken {
public:
    GilTaken() noexcept : saved_(std::exchange(gil_detail::released, nullptr)) {
        if (!saved_) return;
        PyEval_RestoreThread(saved_);
        if (gil_detail::shared) taken_at_ = gil_detail::Clock::now();
    }
    ~GilTaken() {
        if (!saved_) return;
        gil_detail::released = PyEval_SaveThread();
        if (!gil_detail::shared) return;
        gil_detail::held += gil_detail::Clock::now() - taken_at_;
        gil_detail::pause_if_held_long();
    }
    GilTaken(const GilTaken&) = delete;
    GilTaken& operator=(const GilTaken&) = delete;

    // Runs the handlers of the signals that arrived meanwhile (Ctrl-C); one
    // that raises (KeyboardInterrupt) ends the call with its exception, which
    // the library carries to the caller once its running pieces are done.
    static void check_signals() {
        if (PyErr_CheckSignals() < 0) throw_python_error();
    }

private:
    PyThreadState* saved_;
    gil_detail::Clock::time_point taken_at_{};
};

// f() with the lock let go.
template <class F>
decltype(auto) without_gil(F&& f) {
    GilReleased released;
    return std::forward<F>(f)();
}

}  // namespace velmar
