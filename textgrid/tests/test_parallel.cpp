#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "model/error.hpp"
#include "runtime/parallel.hpp"
#include "threads.hpp"

using namespace textgrid;
using support::threads_in_process;

namespace {

// The ordered map element by element: each piece's results handed on one by one.
template <class F, class O>
void map_ordered(std::size_t n, F f, O observe, std::size_t processors = thread_count()) {
    parallel_map_pieces_ordered(
        n,
        [&](std::size_t begin, std::size_t end) {
            std::vector<decltype(f(begin))> results;
            for (std::size_t i = begin; i < end; ++i) results.push_back(f(i));
            return results;
        },
        [&](std::size_t begin, auto&& results) {
            for (std::size_t j = 0; j < results.size(); ++j)
                observe(begin + j, std::move(results[j]));
        },
        processors);
}

// The most threads that were ever inside `busy` at once.
class Overlap {
public:
    // Marks the calling thread inside for `how_long`.
    void busy(std::chrono::microseconds how_long) {
        const int now = ++active_;
        int seen = most_.load();
        while (now > seen && !most_.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(how_long);
        --active_;
    }
    int most() const { return most_.load(); }

private:
    std::atomic<int> active_{0};
    std::atomic<int> most_{0};
};

struct MapCase {
    std::size_t n;
    std::size_t processors;
    bool on_caller;
};

// "n40_p4": 40 elements, 4 processors.
std::string map_case_name(const ::testing::TestParamInfo<MapCase>& info) {
    return "n" + std::to_string(info.param.n) + "_p" + std::to_string(info.param.processors);
}

class ParallelMapSizes : public ::testing::TestWithParam<MapCase> {};

// Results must come back in element order whichever path ran them, and only
// inputs of at least 10 x P elements may leave the calling thread (none at
// all with one thread).
TEST_P(ParallelMapSizes, KeepsOrderAndChoosesThePath) {
    const auto [n, processors, on_caller] = GetParam();
    const auto caller = std::this_thread::get_id();
    std::atomic<std::size_t> off_caller{0};
    const auto results = parallel_map(
        n,
        [&](std::size_t i) {
            if (std::this_thread::get_id() != caller) ++off_caller;
            return std::to_string(i * 7);
        },
        processors);
    ASSERT_EQ(results.size(), n);
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(results[i], std::to_string(i * 7));
    if (on_caller) {
        EXPECT_EQ(off_caller.load(), 0u);
    } else {
        EXPECT_EQ(off_caller.load(), n);  // an outside caller only waits
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ParallelMapSizes,
                         ::testing::Values(MapCase{0, 4, true}, MapCase{1, 4, true},
                                           MapCase{39, 4, true}, MapCase{40, 4, false},
                                           MapCase{41, 4, false}, MapCase{9, 1, true},
                                           MapCase{10, 1, true}, MapCase{5003, 3, false},
                                           MapCase{100000, 64, false}),
                         map_case_name);

// Each case runs in a fresh process, so the pool cannot have been started by
// another test.
class SmallInputs : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SmallInputs, NeverCreateThePool) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::size_t n = GetParam();
    EXPECT_EXIT(
        {
            const std::size_t before = threads_in_process();
            const auto results = parallel_map(
                n, [](std::size_t i) { return i; }, 4);
            std::exit(results.size() == n && threads_in_process() == before ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, SmallInputs, ::testing::Values(0, 1, 39));

struct NoDefault {
    explicit NoDefault(std::size_t v) : value(v) {}
    std::size_t value;
};

TEST(ParallelMap, ResultsNeedNoDefaultConstructorAndBoolsDoNotShareSlots) {
    const std::size_t n = 20000;
    const auto objects = parallel_map(
        n, [](std::size_t i) { return NoDefault(i + 1); }, 4);
    const auto flags = parallel_map(
        n, [](std::size_t i) { return i % 3 == 0; }, 4);
    ASSERT_EQ(objects.size(), n);
    ASSERT_EQ(flags.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(objects[i].value, i + 1);
        ASSERT_EQ(flags[i], i % 3 == 0);
    }
}

class Pieces : public ::testing::TestWithParam<MapCase> {};

TEST_P(Pieces, CoverTheRangeInOrderAndAreLongEnough) {
    const auto [n, processors, on_caller] = GetParam();
    using Range = std::pair<std::size_t, std::size_t>;
    const auto ranges = parallel_map_pieces(
        n,
        [](std::size_t begin, std::size_t end) {
            return Range{begin, end};
        },
        processors);
    if (n == 0) {
        EXPECT_TRUE(ranges.empty());
        return;
    }
    if (on_caller) {
        ASSERT_EQ(ranges.size(), 1u);
    }
    std::size_t expected_begin = 0;
    for (const auto& [begin, end] : ranges) {
        EXPECT_EQ(begin, expected_begin);
        if (ranges.size() > 1) {
            EXPECT_GE(end - begin, MIN_PIECE_LENGTH);
        }
        expected_begin = end;
    }
    EXPECT_EQ(expected_begin, n);
}

INSTANTIATE_TEST_SUITE_P(Cases, Pieces,
                         ::testing::Values(MapCase{0, 4, true}, MapCase{39, 4, true},
                                           MapCase{40, 4, false}, MapCase{59, 4, false},
                                           MapCase{10, 1, true}, MapCase{39, 1, false},
                                           MapCase{1000001, 2, false}, MapCase{777, 16, false}),
                         map_case_name);

// P bounds how many workers one call uses at once; it is what lets a call be
// measured on one core.
TEST(ParallelMap, UsesAtMostPWorkersAtOnce) {
    for (std::size_t processors : {1, 2}) {
        Overlap overlap;
        parallel_map(
            400,
            [&](std::size_t i) {
                overlap.busy(std::chrono::microseconds(50));
                return i;
            },
            processors);
        EXPECT_LE(overlap.most(), static_cast<int>(processors));
    }
}

#ifdef SCHED_BATCH
// Workers yield to the caller when they wake; the caller's own scheduling is
// the program's and stays as it was, and a program run as real-time or idle
// keeps that policy in its workers too.
TEST(ParallelMap, WorkersRunAsBatchThreadsAndTheCallerIsUntouched) {
    if (thread_count() < 2) GTEST_SKIP() << "one processor: no pool";
    const int caller_policy = sched_getscheduler(0);
    const int expected =
        caller_policy == SCHED_OTHER || caller_policy == SCHED_BATCH ? SCHED_BATCH : caller_policy;
    const auto policies = parallel_map(
        100000, [](std::size_t) { return on_pool_worker() ? sched_getscheduler(0) : -1; }, 2);
    for (int policy : policies) {
        if (policy != -1) {
            EXPECT_EQ(policy, expected);
        }
    }
    EXPECT_NE(std::count(policies.begin(), policies.end(), expected), 0);
    EXPECT_EQ(sched_getscheduler(0), caller_policy);
}
#endif

// Every worker blocks in an outer element until all of them are there, then
// each makes a large nested call: with no worker free, the nested calls must be
// served by the workers that make them.
TEST(ParallelMap, NestedCallsCompleteWhileEveryWorkerIsBusy) {
    const std::size_t workers = thread_count();
    std::mutex mutex;
    std::set<std::thread::id> arrived;
    std::atomic<bool> all_busy{false};
    const std::size_t inner_n = 40 * workers + 500;
    const auto outer = parallel_map(
        40 * workers,
        [&](std::size_t i) {
            {
                std::lock_guard lock(mutex);
                arrived.insert(std::this_thread::get_id());
                if (arrived.size() == workers) all_busy = true;
            }
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!all_busy && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
            const auto inner = parallel_map(
                inner_n, [i](std::size_t j) { return i * 100000 + j; }, workers);
            std::size_t matching = 0;
            for (std::size_t j = 0; j < inner.size(); ++j) matching += inner[j] == i * 100000 + j;
            return matching;
        },
        workers);
    EXPECT_TRUE(all_busy.load());
    for (std::size_t matching : outer) EXPECT_EQ(matching, inner_n);
}

struct FailureCase {
    const char* name;
    std::size_t failing_element;
    bool internal;
};

class Failures : public ::testing::TestWithParam<FailureCase> {};

// The failure reaches the caller unchanged, and only after the pieces already
// running have finished (they may still be using the caller's data).
TEST_P(Failures, ReachTheCallerAfterRunningPiecesFinish) {
    const auto [name, failing_element, internal] = GetParam();
    std::atomic<int> active{0};
    auto map = [&] {
        parallel_map(
            4000,
            [&](std::size_t i) {
                ++active;
                std::this_thread::sleep_for(std::chrono::microseconds(20));
                if (i == failing_element) {
                    --active;
                    if (internal) throw InternalFailure("element failed");
                    throw std::runtime_error("other failure");
                }
                --active;
                return i;
            },
            4);
    };
    if (internal) {
        try {
            map();
            FAIL() << "no failure";
        } catch (const InternalFailure& failure) {
            EXPECT_EQ(failure.message(), "element failed");
        }
    } else {
        EXPECT_THROW(map(), std::runtime_error);
    }
    EXPECT_EQ(active.load(), 0);
    // The pool still serves later calls.
    EXPECT_EQ(parallel_map(
                  100, [](std::size_t i) { return i; }, 4)
                  .back(),
              99u);
}

INSTANTIATE_TEST_SUITE_P(Cases, Failures,
                         ::testing::Values(FailureCase{"first", 0, true},
                                           FailureCase{"last", 3999, true},
                                           FailureCase{"middle", 2000, false}),
                         [](const auto& info) { return std::string(info.param.name); });

class OrderedMapSizes : public ::testing::TestWithParam<MapCase> {};

// Results reach observe on the calling thread in index order, each once,
// whichever path mapped them; on the pool every element is mapped as on a
// worker, the caller's share included.
TEST_P(OrderedMapSizes, HandsResultsToTheCallerInOrder) {
    const auto [n, processors, on_caller] = GetParam();
    const auto caller = std::this_thread::get_id();
    std::atomic<std::size_t> as_worker{0};
    std::vector<std::string> seen;
    bool observed_on_caller = true;
    map_ordered(
        n,
        [&](std::size_t i) {
            if (on_pool_worker()) ++as_worker;
            return std::to_string(i * 7);
        },
        [&](std::size_t i, std::string&& result) {
            observed_on_caller &= std::this_thread::get_id() == caller;
            EXPECT_EQ(i, seen.size());
            seen.push_back(std::move(result));
        },
        processors);
    ASSERT_EQ(seen.size(), n);
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(seen[i], std::to_string(i * 7));
    EXPECT_TRUE(observed_on_caller);
    EXPECT_EQ(as_worker.load(), on_caller ? 0u : n);
}

INSTANTIATE_TEST_SUITE_P(Cases, OrderedMapSizes,
                         ::testing::Values(MapCase{0, 4, true}, MapCase{39, 4, true},
                                           MapCase{40, 4, false}, MapCase{5003, 3, false},
                                           MapCase{100000, 64, false}),
                         map_case_name);

// A slow observer holds the pool back: pieces run at most a few per processor
// ahead of the one handed over, so their results never pile up.
TEST_P(OrderedMapSizes, RunsOnlyAFewPiecesAheadOfTheObserver) {
    const auto [n, processors, on_caller] = GetParam();
    if (on_caller || processors > 4) GTEST_SKIP() << "no pool pieces to hold back here";
    std::atomic<std::size_t> started{0};
    std::size_t handed = 0;
    std::size_t most_ahead = 0;
    parallel_map_pieces_ordered(
        n, [&](std::size_t, std::size_t) { return ++started; },
        [&](std::size_t, std::size_t) {
            most_ahead = std::max(most_ahead, started.load() - handed++);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        },
        processors);
    EXPECT_EQ(handed, piece_count(n, processors));
    EXPECT_LE(most_ahead, 2 * processors + 1);
}

// Weighed pieces run ahead of a slow observer while those waiting are light:
// light ones all run while it is still on its first; heavy ones keep to the
// few pieces ahead of unweighed ones.
class WeighedLookahead : public ::testing::TestWithParam<std::size_t> {};

TEST_P(WeighedLookahead, RunsAheadOnlyWhileWhatWaitsIsLight) {
    const std::size_t weight = GetParam(), most_waiting = 100, processors = 2;
    const std::size_t n = 4000;
    const std::size_t pieces = piece_count(n, processors, PIECES_PER_PROCESSOR, 1);
    std::atomic<std::size_t> started{0};
    std::size_t handed = 0, most_ahead = 0;
    parallel_map_pieces_ordered_weighed(
        n, [&](std::size_t, std::size_t) { return ++started; }, [&](std::size_t) { return weight; },
        most_waiting,
        [&](std::size_t, std::size_t) {
            if (handed == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            most_ahead = std::max(most_ahead, started.load() - handed++);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        },
        processors, PIECES_PER_PROCESSOR);
    EXPECT_EQ(handed, pieces);
    if (weight * (pieces - 1) < most_waiting) {
        EXPECT_EQ(most_ahead, pieces);
    } else {
        EXPECT_LE(most_ahead, 2 * processors + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, WeighedLookahead, ::testing::Values(0, 1, 100));

// While no result is ready, the caller maps pieces itself, in place of a
// worker: with P = 2, one worker and the caller map at once, never more.
TEST(OrderedMap, CallerMapsPiecesInPlaceOfAWorker) {
    const auto caller = std::this_thread::get_id();
    Overlap overlap;
    std::atomic<std::size_t> on_caller{0};
    parallel_map_pieces_ordered(
        4000,
        [&](std::size_t begin, std::size_t end) {
            if (std::this_thread::get_id() == caller) ++on_caller;
            overlap.busy(std::chrono::microseconds(100));
            return end - begin;
        },
        [](std::size_t, std::size_t) {}, 2);
    EXPECT_LE(overlap.most(), 2);
    EXPECT_GT(on_caller.load(), 0u);
}

// Where each value a piece made was freed, and whether the map still ran.
struct Freeing {
    std::thread::id maker;
    std::thread::id freer;
    bool while_mapping;
};

struct FreeingLog {
    std::mutex mutex;
    std::vector<Freeing> freeings;
    std::atomic<bool> mapping{true};
};

class Tracked {
public:
    explicit Tracked(FreeingLog* log) : log_(log), maker_(std::this_thread::get_id()) {}
    Tracked(Tracked&& other) noexcept
        : log_(std::exchange(other.log_, nullptr)), maker_(other.maker_) {}
    // Swaps: a value assigned over is freed with the other one, and logged then.
    Tracked& operator=(Tracked&& other) noexcept {
        std::swap(log_, other.log_);
        std::swap(maker_, other.maker_);
        return *this;
    }
    ~Tracked() {
        if (!log_) return;
        std::lock_guard lock(log_->mutex);
        log_->freeings.push_back({maker_, std::this_thread::get_id(), log_->mapping});
    }

private:
    FreeingLog* log_;
    std::thread::id maker_;
};

// What the caller is done with is freed on the thread that made it, each
// value once; only what no maker came back for is freed after the map.
TEST(OrderedMap, WhatPiecesMadeIsFreedByItsMaker) {
    if (thread_count() < 2) GTEST_SKIP() << "one processor: no pool";
    const auto caller = std::this_thread::get_id();
    FreeingLog log;
    std::size_t pieces = 0;
    {
        FreedByMakers<Tracked> freed;
        parallel_map_pieces_ordered(
            4000,
            [&](std::size_t, std::size_t) {
                freed.free_own();
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                return made_here(Tracked(&log));
            },
            [&](std::size_t, MadeOnThread<Tracked>&& made) {
                ++pieces;
                freed.give_back(std::move(made));
            },
            2, 32);
        log.mapping = false;
    }
    ASSERT_EQ(log.freeings.size(), pieces);
    std::size_t freed_by_a_worker_while_mapping = 0;
    for (const Freeing& freeing : log.freeings) {
        EXPECT_TRUE(freeing.freer == freeing.maker || !freeing.while_mapping);
        if (freeing.while_mapping && freeing.freer != caller) ++freed_by_a_worker_while_mapping;
    }
    EXPECT_GT(freed_by_a_worker_while_mapping, 0u);
}

// The caller starts on the first results while later pieces are still being
// mapped: the last element waits until the caller has seen element 0.
TEST(OrderedMap, CallerWorksWhileLaterPiecesRun) {
    std::atomic<bool> first_observed{false};
    bool waited_in_vain = false;
    const std::size_t n = 2000;
    map_ordered(
        n,
        [&](std::size_t i) {
            if (i == n - 1) {
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (!first_observed && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::yield();
                waited_in_vain = !first_observed;
            }
            return i;
        },
        [&](std::size_t i, std::size_t) {
            if (i == 0) first_observed = true;
        },
        2);
    EXPECT_FALSE(waited_in_vain);
}

struct OrderedFailureCase {
    const char* name;
    std::size_t failing_map;      // n: none
    std::size_t failing_observe;  // n: none
};

class OrderedFailures : public ::testing::TestWithParam<OrderedFailureCase> {};

// Whether mapping or observing fails, the exception reaches the caller only
// after the running pieces finish; what was observed is a prefix, in order.
TEST_P(OrderedFailures, ReachTheCallerAfterRunningPiecesFinish) {
    const auto [name, failing_map, failing_observe] = GetParam();
    constexpr std::size_t n = 4000;
    std::atomic<int> active{0};
    std::vector<std::size_t> observed;
    try {
        map_ordered(
            n,
            [&](std::size_t i) {
                ++active;
                std::this_thread::sleep_for(std::chrono::microseconds(20));
                --active;
                if (i == failing_map) throw InternalFailure("map failed");
                return i;
            },
            [&](std::size_t i, std::size_t value) {
                if (i == failing_observe) throw std::runtime_error("observe failed");
                observed.push_back(value);
            },
            4);
        FAIL() << "no failure";
    } catch (const InternalFailure& failure) {
        EXPECT_EQ(failure.message(), "map failed");
        EXPECT_LT(observed.size(), failing_map + 1);
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "observe failed");
        EXPECT_EQ(observed.size(), failing_observe);
    }
    EXPECT_EQ(active.load(), 0);
    for (std::size_t i = 0; i < observed.size(); ++i) ASSERT_EQ(observed[i], i);
    EXPECT_EQ(parallel_map(
                  100, [](std::size_t i) { return i; }, 4)
                  .back(),
              99u);
}

INSTANTIATE_TEST_SUITE_P(Cases, OrderedFailures,
                         ::testing::Values(OrderedFailureCase{"map_first", 0, 4000},
                                           OrderedFailureCase{"map_middle", 2100, 4000},
                                           OrderedFailureCase{"observe_first", 4000, 0},
                                           OrderedFailureCase{"observe_middle", 4000, 1900},
                                           OrderedFailureCase{"observe_last", 4000, 3999}),
                         [](const auto& info) { return std::string(info.param.name); });

// An ordered map made inside a pool worker is served by that worker too.
TEST(OrderedMap, NestedInAWorker) {
    const auto sums = parallel_map(
        80,
        [](std::size_t i) {
            std::size_t sum = 0;
            map_ordered(
                500, [i](std::size_t j) { return i + j; },
                [&sum](std::size_t, std::size_t value) { sum += value; });
            return sum;
        },
        2);
    for (std::size_t i = 0; i < sums.size(); ++i) EXPECT_EQ(sums[i], 500 * i + 499 * 500 / 2);
}

// Code run in a forked child of a test: no gtest assertions there.
namespace in_child {

// A large map and a nested one, both on the pool, give the right results.
bool maps_on_the_pool() {
    const auto squares = parallel_map(
        1000, [](std::size_t i) { return i * i; }, 4);
    bool right = squares.size() == 1000;
    for (std::size_t i = 0; right && i < squares.size(); ++i) right = squares[i] == i * i;
    const auto nested = parallel_map(
        80,
        [](std::size_t) {
            return parallel_map(
                       100, [](std::size_t j) { return j; }, 4)
                .size();
        },
        4);
    for (std::size_t size : nested) right = right && size == 100;
    return right;
}

// The maps run on workers this process started itself.
bool maps_on_a_pool_of_its_own() {
    const std::size_t before = threads_in_process();
    return maps_on_the_pool() && threads_in_process() > before;
}

}  // namespace in_child

// The child's exit code, or -1 (the child killed) if it has not exited within
// `seconds`: a child that hangs fails the test instead of hanging it.
int exit_code_within(pid_t child, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ParallelMapFork : public ::testing::TestWithParam<bool> {};

// Returns once every worker has run a piece. A worker still starting up may
// hold AddressSanitizer's allocator lock, which its allocator does not release
// across fork: the child's own workers would then wait on it forever.
void let_every_worker_start() {
    const std::size_t workers = thread_count();
    std::atomic<std::size_t> entered{0};
    parallel_map(
        workers * MIN_PIECE_LENGTH,
        [&](std::size_t i) {
            if (i % MIN_PIECE_LENGTH != 0) return i;
            ++entered;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (entered < workers && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            return i;
        },
        workers);
}

// fork() copies only the calling thread. The child's first parallel use must
// start workers of its own, never wait for the parent's, also when another
// thread had the pool busy (its lock perhaps held) at the fork, and again in a
// grandchild.
TEST_P(ParallelMapFork, ChildStartsAPoolOfItsOwn) {
    const bool busy = GetParam();
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's own allocator is not made safe across fork: a child can
    // hang on a lock the busy thread held, whatever the pool does.
    if (busy) GTEST_SKIP() << "AddressSanitizer's allocator may be locked by the busy thread";
#endif
    let_every_worker_start();
    std::atomic<bool> stop{false};
    std::atomic<bool> stopped{!busy};
    if (busy) {
        // Detached, as the workers are: ThreadSanitizer keeps a joinable
        // thread's id alive in a forked child and takes a new thread that gets
        // the same id there for a duplicate.
        std::thread([&] {
            while (!stop)
                parallel_map(
                    400, [](std::size_t i) { return i + 1; }, 4);
            stopped = true;
        }).detach();
    }
    for (int round = 0; round < (busy ? 10 : 1); ++round) {
        const pid_t child = fork();
        if (child == 0) {
            alarm(60);  // ends the child even if the test is gone
            bool right = in_child::maps_on_a_pool_of_its_own();
            let_every_worker_start();
            const pid_t grandchild = fork();
            if (grandchild == 0) {
                alarm(60);
                _exit(in_child::maps_on_a_pool_of_its_own() ? 0 : 1);
            }
            right = right && grandchild > 0 && exit_code_within(grandchild, 20) == 0;
            _exit(right ? 0 : 1);
        }
        if (child < 0) {
            ADD_FAILURE() << "fork failed";
            break;
        }
        EXPECT_EQ(exit_code_within(child, 30), 0) << "round " << round;
    }
    stop = true;
    while (!stopped) std::this_thread::yield();
    EXPECT_TRUE(in_child::maps_on_the_pool());  // the parent's pool is unharmed
}

INSTANTIATE_TEST_SUITE_P(Cases, ParallelMapFork, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "BusyPool" : "IdlePool"; });

}  // namespace
