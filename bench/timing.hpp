#pragma once
// Shared by the native benchmarks.

#include <algorithm>
#include <chrono>

// Best of several runs, so one slow start (page faults, pool start) does not count.
template <class Run>
double best_seconds(int runs, Run&& run) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}
