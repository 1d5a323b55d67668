#include "runtime/thread_count.hpp"

#include <sched.h>

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <string_view>
#include <thread>

namespace textgrid {

std::size_t logical_processors() {
    // Asked on every parallel call, so it must be cheap: the affinity mask is
    // one system call, where hardware_concurrency opens and parses a sysfs file
    // each time (it cost a batch of small files more than reading them). The
    // mask also leaves out processors this process may not run on.
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        const int count = CPU_COUNT(&allowed);
        if (count > 0) return static_cast<std::size_t>(count);
    }
    const unsigned count = std::thread::hardware_concurrency();  // a mask wider than cpu_set_t
    return count == 0 ? 1 : count;
}

namespace {

// 0: not set, follow the environment or the processors.
std::atomic<std::size_t> threads_set{0};

// VELMAR_NUM_THREADS as a count, 0 if absent or not a whole number in range.
std::size_t threads_from_environment() {
    const char* text = std::getenv("VELMAR_NUM_THREADS");
    if (text == nullptr) return 0;
    const std::string_view digits(text);
    std::size_t count = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
    if (error != std::errc{} || end != digits.data() + digits.size()) return 0;
    return count <= MOST_THREADS ? count : 0;
}

}  // namespace

std::size_t thread_count() {
    if (const std::size_t set = threads_set.load(std::memory_order_relaxed)) return set;
    static const std::size_t from_environment = threads_from_environment();
    return from_environment != 0 ? from_environment : logical_processors();
}

namespace detail {

void remember_thread_count(std::size_t threads) {
    threads_set.store(threads, std::memory_order_relaxed);
}

}  // namespace detail

}  // namespace textgrid
