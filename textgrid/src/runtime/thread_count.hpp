#pragma once
// How many threads a call uses: the setting, the environment or the machine.

#include <cstddef>

namespace textgrid {

inline constexpr std::size_t MOST_THREADS = 1024;

// Logical processors this process may run on, as the operating system reports
// them now (at least 1).
std::size_t logical_processors();

// Threads a call uses: the number last set (set_thread_count, parallel.hpp),
// else VELMAR_NUM_THREADS (a whole number from 1 to MOST_THREADS, read at the
// first call that needs it; anything else is ignored), else
// logical_processors(). With 1 the calling thread does all the work and no
// pool is started; with more, the pool holds that many workers.
std::size_t thread_count();

namespace detail {
// Stores the setting that thread_count() gives from now on.
void remember_thread_count(std::size_t threads);
}  // namespace detail

}  // namespace textgrid
