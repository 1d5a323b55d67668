#pragma once
// Process-wide objects created on first need. A thread that has to wait for
// another thread's creation must not hold the interpreter lock, because the
// creating thread needs it to finish; so the lock is released before the guard
// is entered and taken back inside it.

#include <Python.h>

#include <atomic>
#include <mutex>
#include <type_traits>

namespace velmar {

// Holds a value that is never destroyed (Python objects kept until the process
// ends must not be released after the interpreter is gone), hence T must be
// trivially destructible, typically a pointer.
template <class T>
class OnceCell {
    static_assert(std::is_trivially_destructible_v<T>);

public:
    // Returns the value, running make() with the interpreter lock held if this
    // is the first successful call. If make() throws, nothing is stored and a
    // later call tries again.
    template <class Make>
    T get(Make&& make) {
        if (ready_.load(std::memory_order_acquire)) return value_;
        PyThreadState* saved = PyEval_SaveThread();
        std::unique_lock guard(mutex_);
        PyEval_RestoreThread(saved);
        if (!ready_.load(std::memory_order_relaxed)) {
            value_ = make();
            ready_.store(true, std::memory_order_release);
        }
        return value_;
    }

private:
    std::atomic<bool> ready_{false};
    std::mutex mutex_;
    T value_{};
};

}  // namespace velmar
