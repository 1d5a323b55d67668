#pragma once
// Shared by the native benchmarks.

#include <algorithm>
#include <chrono>
#include <vector>

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

// Median of `runs` runs (odd), as the Python benchmarks report.
template <class Run>
double median_seconds(int runs, Run&& run) {
    std::vector<double> took;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        took.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(took.begin(), took.begin() + runs / 2, took.end());
    return took[static_cast<std::size_t>(runs / 2)];
}
