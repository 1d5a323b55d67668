#pragma once
// Shared by the native benchmarks.

#include <time.h>

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

// CPU time of every thread of this process so far, the pool's workers included.
inline double process_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Timing {
    double wall_seconds;
    double cpu_seconds;  // of all threads: above wall_seconds when several were busy
};

// Median wall and median CPU time of `runs` runs (odd), as the Python
// benchmarks report, after one run not counted: the first fills the memory
// every later run reuses.
template <class Run>
Timing median_timing(int runs, Run&& run) {
    run();
    std::vector<double> walls, cpus;
    for (int i = 0; i < runs; ++i) {
        const double cpu_start = process_cpu_seconds();
        const auto start = std::chrono::steady_clock::now();
        run();
        walls.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        cpus.push_back(process_cpu_seconds() - cpu_start);
    }
    const auto middle = static_cast<std::size_t>(runs / 2);
    std::nth_element(walls.begin(), walls.begin() + middle, walls.end());
    std::nth_element(cpus.begin(), cpus.begin() + middle, cpus.end());
    return Timing{walls[middle], cpus[middle]};
}
