#include "runtime/parallel.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "model/error.hpp"

namespace textgrid {

std::size_t piece_count(std::size_t n, std::size_t processors, std::size_t per_processor,
                        std::size_t min_length) {
    const std::size_t p = std::max<std::size_t>(processors, 1);
    const std::size_t per = std::max<std::size_t>(per_processor, 1);
    const std::size_t balanced = p > n / per ? n : p * per;
    return std::max<std::size_t>(1, std::min(n / std::max<std::size_t>(min_length, 1), balanced));
}

namespace {

thread_local bool this_thread_is_worker = false;

// The calling thread counts as a worker for the lifetime of this: calls nested
// in a piece it runs take their own pieces, and reading that would spread over
// the pool does not.
struct AsWorker {
    const bool was = std::exchange(this_thread_is_worker, true);
    ~AsWorker() { this_thread_is_worker = was; }
};

// Workers are told apart from the caller as the scheduler's batch threads: a
// worker that wakes then waits its turn instead of taking the core of a
// caller that hands rows to Python, which every other piece waits for. Their
// share of the processors is unchanged (no lower priority). Only from the
// ordinary policy: a process run as real-time or idle keeps its own. Advice
// only.
void mark_as_batch_thread() {
#ifdef SCHED_BATCH
    int policy = 0;
    sched_param priority{};
    if (pthread_getschedparam(pthread_self(), &policy, &priority) != 0 || policy != SCHED_OTHER)
        return;
    (void)pthread_setschedparam(pthread_self(), SCHED_BATCH, &priority);
#endif
}

constexpr std::size_t AHEAD_OF_OBSERVER = 2;

// One parallel_map call on the pool. It lives on the caller's stack; the caller
// leaves only once no piece is claimed or running, all under the pool's mutex.
struct Job {
    Job(std::size_t n_, std::size_t pieces_, std::size_t limit_, detail::PieceBody body_,
        void* context_, detail::PieceBody observe_, detail::Lookahead lookahead_,
        bool caller_is_worker_)
        : n(n_),
          pieces(pieces_),
          limit(limit_),
          body(body_),
          context(context_),
          observe(observe_),
          lookahead(lookahead_),
          caller_is_worker(caller_is_worker_),
          caller_helps(observe_ && !caller_is_worker_ && limit_ > 1),
          finished_pieces(observe_ ? pieces_ : 0, 0) {}

    std::size_t n;
    std::size_t pieces;
    std::size_t limit;  // at most this many pieces run at once
    detail::PieceBody body;
    void* context;
    detail::PieceBody observe;  // run by the caller for each finished piece, in order
    detail::Lookahead lookahead;
    std::size_t waiting_weight = 0;  // of the pieces finished and not yet handed over
    bool caller_is_worker;
    // An observing caller runs pieces itself while none is ready for it, in
    // place of one worker: the job then keeps as many threads busy as it has
    // processors, not one more, so the caller, whose observing every later
    // piece waits for, never queues for a core behind the workers.
    bool caller_helps;
    std::size_t running_on_caller = 0;
    std::size_t next = 0;                       // first unclaimed piece
    std::size_t running = 0;                    // claimed and not yet finished
    std::size_t handed = 0;                     // pieces given to observe so far
    std::vector<std::uint8_t> finished_pieces;  // kept only for observe
    std::exception_ptr error;
    std::condition_variable progress;  // only the caller waits on it

    // An observed job's pieces run at most AHEAD_OF_OBSERVER pieces per
    // processor ahead of the one being observed: results waiting for a slow
    // observer would otherwise pile up, all alive at once. A weighed job's go
    // on while what waits is light.
    bool within_reach() const {
        if (!observe || next < handed + AHEAD_OF_OBSERVER * limit) return true;
        return lookahead.weights && waiting_weight < lookahead.most;
    }
    // Pieces are weighed once finished, and unweighed as they are handed over.
    void finished_piece(std::size_t piece) {
        finished_pieces[piece] = 1;
        if (lookahead.weights) waiting_weight += lookahead.weights[piece];
    }
    void handing_over(std::size_t piece) {
        if (lookahead.weights) waiting_weight -= lookahead.weights[piece];
    }
    // Pieces the workers may run at once.
    std::size_t worker_slots() const { return caller_helps ? limit - 1 : limit; }
    // By a worker.
    bool claimable() const {
        return next < pieces && running < worker_slots() + running_on_caller && within_reach();
    }
    bool caller_may_claim() const {
        return caller_helps && next < pieces && running < limit && within_reach();
    }
    bool finished() const { return next == pieces && running == 0; }
    // Once a piece failed, the pieces after it may never run.
    bool next_done_ready() const {
        return observe && !error && handed < pieces && finished_pieces[handed];
    }
    // Whether the caller has something to do after this piece: a worker caller
    // may take another piece, an observing caller a finished one.
    bool caller_has_work() const {
        return finished() || observe || (caller_is_worker && claimable());
    }
};

class WorkerPool {
public:
    // Starts the workers; they serve until the process ends or the pool is
    // made smaller.
    static WorkerPool* start(std::size_t workers);

    void run(Job& job);
    // Starts workers (throws if none serves), or lets the ones past
    // `workers` leave once idle.
    void resize(std::size_t workers);

    // Keeps a pool that an earlier fork() left behind reachable from this one.
    void keep_reachable(WorkerPool* older) { older_ = older; }

private:
    using Lock = std::unique_lock<std::mutex>;

    void serve();
    Job* find_claimable();
    std::size_t claim(Job& job);
    void run_piece(Job& job, std::size_t piece, Lock& lock);
    void run_piece_on_caller(Job& job, Lock& lock);
    // Gives the next finished piece to the caller's observe; what it threw.
    std::exception_ptr hand_over(Job& job, Lock& lock);
    void withdraw(Job& job);
    bool leaving() const { return workers_serving_ > workers_wanted_; }

    std::mutex mutex_;
    std::size_t workers_wanted_ = 0;
    std::size_t workers_serving_ = 0;
    std::condition_variable work_available_;
    std::vector<Job*> jobs_;  // jobs with unclaimed pieces, newest last
    WorkerPool* older_ = nullptr;
};

WorkerPool* WorkerPool::start(std::size_t workers) {
    auto* pool = new WorkerPool;
    try {
        pool->resize(workers);
    } catch (...) {
        delete pool;
        throw;
    }
    return pool;
}

void WorkerPool::resize(std::size_t workers) {
    Lock lock(mutex_);
    workers_wanted_ = workers;
    if (leaving()) work_available_.notify_all();
    try {
        for (; workers_serving_ < workers_wanted_; ++workers_serving_)
            std::thread([this] { serve(); }).detach();
    } catch (const std::system_error& error) {
        // Fewer workers than wanted still serve every job.
        if (workers_serving_ == 0) throw errors::pool_not_started(error.what());
    }
}

void WorkerPool::run(Job& job) {
    Lock lock(mutex_);
    jobs_.push_back(&job);
    work_available_.notify_all();
    std::exception_ptr caller_error;
    while (!job.finished() || job.next_done_ready()) {
        if (job.next_done_ready()) {
            if (auto error = hand_over(job, lock)) caller_error = error;
        } else if ((job.caller_is_worker || workers_serving_ == 0) && job.claimable()) {
            // A worker that waited here for a busy pool could deadlock, so it
            // takes its own pieces; any other caller only waits, unless the
            // pool was made empty under it.
            const AsWorker as_worker;
            run_piece(job, claim(job), lock);
        } else if (job.caller_may_claim()) {
            run_piece_on_caller(job, lock);
        } else {
            job.progress.wait(lock);
        }
    }
    lock.unlock();
    if (caller_error) std::rethrow_exception(caller_error);
    if (job.error) std::rethrow_exception(job.error);
}

// Runs `body` on one piece of `job` with the pool's lock released; what it
// threw, if anything.
std::exception_ptr run_unlocked(detail::PieceBody body, Job& job, std::size_t piece,
                                std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    std::exception_ptr error;
    try {
        body(job.context, piece, piece_begin(job.n, job.pieces, piece),
             piece_begin(job.n, job.pieces, piece + 1));
    } catch (...) {
        error = std::current_exception();
    }
    lock.lock();
    return error;
}

std::exception_ptr WorkerPool::hand_over(Job& job, Lock& lock) {
    const std::size_t piece = job.handed++;
    job.handing_over(piece);
    // Handing over lets the pool run further ahead.
    if (job.claimable()) work_available_.notify_all();
    std::exception_ptr error = run_unlocked(job.observe, job, piece, lock);
    if (error) {
        // Nobody will take the results: skip what has not started and stop
        // handing over; the running pieces still finish before we unwind.
        job.next = job.pieces;
        job.handed = job.pieces;
        withdraw(job);
    }
    return error;
}

void WorkerPool::serve() {
    this_thread_is_worker = true;
    mark_as_batch_thread();
    Lock lock(mutex_);
    for (;;) {
        Job* job = nullptr;
        work_available_.wait(lock,
                             [&] { return leaving() || (job = find_claimable()) != nullptr; });
        if (leaving()) break;
        run_piece(*job, claim(*job), lock);
    }
    --workers_serving_;
    // A caller waiting for pieces no worker is left to run takes them itself.
    for (Job* waiting : jobs_) waiting->progress.notify_one();
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
    const std::exception_ptr error = run_unlocked(job.body, job, piece, lock);
    --job.running;
    if (job.observe) job.finished_piece(piece);
    if (error) {
        if (!job.error) job.error = error;
        job.next = job.pieces;  // pieces not started are skipped
        withdraw(job);
    }
    if (job.claimable()) work_available_.notify_one();
    // The caller itself may be this thread (running its own piece); then
    // nobody waits and the notification is a no-op.
    if (job.caller_has_work()) job.progress.notify_one();
}

void WorkerPool::run_piece_on_caller(Job& job, Lock& lock) {
    const AsWorker as_worker;
    ++job.running_on_caller;
    run_piece(job, claim(job), lock);
    --job.running_on_caller;
}

// The pool in use; null until the first parallel use, and again in a child
// after fork(). Creation is serialised by pool_creation.
std::atomic<WorkerPool*> current_pool{nullptr};
std::mutex pool_creation;
// Pools a fork() left behind in this process: their workers are gone and their
// lock may be held for good, so they are never touched again, only kept
// reachable (a leak checker would otherwise flag them).
WorkerPool* left_behind = nullptr;

// fork() copies only the calling thread. Holding pool_creation across it keeps
// the child from inheriting it locked by a thread that no longer exists.
void before_fork() { pool_creation.lock(); }
void after_fork_in_parent() { pool_creation.unlock(); }
void after_fork_in_child() {
    if (WorkerPool* old = current_pool.exchange(nullptr)) {
        old->keep_reachable(left_behind);
        left_behind = old;
    }
    this_thread_is_worker = false;  // a worker that forked is the child's caller
    pool_creation.unlock();
}

WorkerPool& pool() {
    if (WorkerPool* started = current_pool.load(std::memory_order_acquire)) return *started;
    std::lock_guard lock(pool_creation);
    if (WorkerPool* started = current_pool.load(std::memory_order_relaxed)) return *started;
    static const bool fork_handlers_set = [] {
        if (const int error =
                pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child))
            throw errors::fork_handlers_not_set(std::system_category().message(error));
        return true;
    }();
    (void)fork_handlers_set;
    // Never destroyed: workers may still be waiting on it while the process exits.
    WorkerPool* started = WorkerPool::start(thread_count());
    current_pool.store(started, std::memory_order_release);
    return *started;
}

}  // namespace

bool on_pool_worker() { return this_thread_is_worker; }

void set_thread_count(std::size_t threads) {
    threads = std::clamp<std::size_t>(threads, 1, MOST_THREADS);
    std::lock_guard lock(pool_creation);
    detail::remember_thread_count(threads);
    // One thread is the caller alone: the pool, if any, has nothing to do.
    if (WorkerPool* running = current_pool.load(std::memory_order_acquire))
        running->resize(threads > 1 ? threads : 0);
}

namespace detail {

namespace {

// A job for one thread: the pieces in order on the caller, each observed as
// soon as it is done.
void run_pieces_here(std::size_t n, std::size_t pieces, PieceBody body, void* context,
                     PieceBody observe) {
    for (std::size_t piece = 0; piece < pieces; ++piece) {
        const std::size_t begin = piece_begin(n, pieces, piece);
        const std::size_t end = piece_begin(n, pieces, piece + 1);
        {
            const AsWorker as_worker;
            body(context, piece, begin, end);
        }
        if (observe) observe(context, piece, begin, end);
    }
}

}  // namespace

void run_pieces(std::size_t n, std::size_t pieces, std::size_t processors, PieceBody body,
                void* context, PieceBody observe, Lookahead lookahead) {
    if (processors <= 1) return run_pieces_here(n, pieces, body, context, observe);
    Job job(n, pieces, std::max<std::size_t>(processors, 1), body, context, observe, lookahead,
            this_thread_is_worker);
    pool().run(job);
}

}  // namespace detail

}  // namespace textgrid
