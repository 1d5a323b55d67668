#pragma once
// Ordered parallel map over an index range. Small ranges (fewer than 10 x P
// elements) stay on the calling thread and never touch the pool; larger ones go
// to the process-wide worker pool in pieces of at least 20.
//
// NOTE: sequential placeholder; the worker pool replaces the body.

#include <cstddef>
#include <span>
#include <type_traits>
#include <vector>

namespace textgrid {

inline constexpr std::size_t PARALLEL_ELEMENTS_PER_PROCESSOR = 10;
inline constexpr std::size_t MIN_PIECE_LENGTH = 20;

// Logical processors as the operating system reports them now (at least 1).
std::size_t logical_processors();

// Returns {f(0), ..., f(n-1)}. f must be safe to run concurrently on different
// indices. An InternalFailure from any f reaches the caller after the running
// pieces finish. `processors` is P; tests inject it.
template <class F>
auto parallel_map(std::size_t n, F&& f, std::size_t processors = logical_processors())
    -> std::vector<std::invoke_result_t<F&, std::size_t>> {
    (void)processors;
    std::vector<std::invoke_result_t<F&, std::size_t>> results;
    results.reserve(n);
    for (std::size_t i = 0; i < n; ++i) results.push_back(f(i));
    return results;
}

}  // namespace textgrid
