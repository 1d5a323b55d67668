#include "parallel.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "error.hpp"

namespace textgrid {

std::size_t logical_processors() {
    const unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : count;
}

namespace detail {

// Several pieces per processor let fast workers take over from slow ones.
constexpr std::size_t PIECES_PER_PROCESSOR = 8;

std::size_t piece_count(std::size_t n, std::size_t processors) {
    const std::size_t p = std::max<std::size_t>(processors, 1);
    const std::size_t balanced = p > n / PIECES_PER_PROCESSOR ? n : p * PIECES_PER_PROCESSOR;
    return std::max<std::size_t>(1, std::min(n / MIN_PIECE_LENGTH, balanced));
}

}  // namespace detail

namespace {

thread_local bool this_thread_is_worker = false;
std::atomic<bool> pool_started{false};

// One parallel_map call on the pool. It lives on the caller's stack; the caller
// leaves only once no piece is claimed or running, all under the pool's mutex.
struct Job {
    std::size_t n;
    std::size_t pieces;
    std::size_t limit;  // at most this many pieces run at once
    detail::PieceBody body;
    void* context;
    std::size_t next = 0;     // first unclaimed piece
    std::size_t running = 0;  // claimed and not yet finished
    std::exception_ptr error;

    bool claimable() const { return next < pieces && running < limit; }
    bool finished() const { return next == pieces && running == 0; }
};

class WorkerPool {
public:
    // Starts the workers; they serve until the process ends.
    static WorkerPool* start(std::size_t workers);

    void run(Job& job);

private:
    using Lock = std::unique_lock<std::mutex>;

    void serve();
    Job* find_claimable();
    std::size_t claim(Job& job);
    void run_piece(Job& job, std::size_t piece, Lock& lock);
    void withdraw(Job& job);

    std::mutex mutex_;
    std::condition_variable work_available_;
    std::condition_variable piece_finished_;
    std::vector<Job*> jobs_;  // jobs with unclaimed pieces, newest last
};

WorkerPool* WorkerPool::start(std::size_t workers) {
    auto* pool = new WorkerPool;
    std::size_t started = 0;
    try {
        for (; started < workers; ++started) std::thread([pool] { pool->serve(); }).detach();
    } catch (const std::system_error& error) {
        if (started == 0) {
            delete pool;
            throw InternalFailure(std::string("cannot start the worker pool: ") + error.what());
        }
        // Fewer workers than processors still serve every job.
    }
    return pool;
}

void WorkerPool::run(Job& job) {
    Lock lock(mutex_);
    jobs_.push_back(&job);
    work_available_.notify_all();
    while (!job.finished()) {
        // A worker that waited here for a busy pool could deadlock, so it takes
        // its own pieces; any other caller only waits.
        if (this_thread_is_worker && job.claimable()) {
            run_piece(job, claim(job), lock);
        } else {
            piece_finished_.wait(lock);
        }
    }
    lock.unlock();
    if (job.error) std::rethrow_exception(job.error);
}

void WorkerPool::serve() {
    this_thread_is_worker = true;
    Lock lock(mutex_);
    for (;;) {
        Job* job = nullptr;
        work_available_.wait(lock, [&] { return (job = find_claimable()) != nullptr; });
        run_piece(*job, claim(*job), lock);
    }
}

Job* WorkerPool::find_claimable() {
    // Newest first: a nested job is what some outer piece is waiting for.
    for (auto it = jobs_.rbegin(); it != jobs_.rend(); ++it) {
        if ((*it)->claimable()) return *it;
    }
    return nullptr;
}

std::size_t WorkerPool::claim(Job& job) {
    const std::size_t piece = job.next++;
    ++job.running;
    if (job.next == job.pieces) withdraw(job);
    return piece;
}

void WorkerPool::withdraw(Job& job) {
    const auto it = std::find(jobs_.begin(), jobs_.end(), &job);
    if (it != jobs_.end()) jobs_.erase(it);
}

void WorkerPool::run_piece(Job& job, std::size_t piece, Lock& lock) {
    lock.unlock();
    std::exception_ptr error;
    try {
        job.body(job.context, piece, detail::piece_begin(job.n, job.pieces, piece),
                 detail::piece_begin(job.n, job.pieces, piece + 1));
    } catch (...) {
        error = std::current_exception();
    }
    lock.lock();
    --job.running;
    if (error) {
        if (!job.error) job.error = error;
        job.next = job.pieces;  // pieces not started are skipped
        withdraw(job);
    }
    if (job.claimable()) work_available_.notify_one();
    piece_finished_.notify_all();
}

WorkerPool& pool() {
    // Never destroyed: workers may still be waiting on it while the process exits.
    static WorkerPool* const instance = [] {
        WorkerPool* started = WorkerPool::start(logical_processors());
        pool_started.store(true);
        return started;
    }();
    return *instance;
}

}  // namespace

bool worker_pool_started() { return pool_started.load(); }

bool on_pool_worker() { return this_thread_is_worker; }

namespace detail {

void run_pieces(std::size_t n, std::size_t pieces, std::size_t processors, PieceBody body,
                void* context) {
    Job job{n, pieces, std::max<std::size_t>(processors, 1), body, context, 0, 0, nullptr};
    pool().run(job);
}

}  // namespace detail

}  // namespace textgrid
