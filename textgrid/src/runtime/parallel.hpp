#pragma once
// Ordered parallel map over an index range. Small ranges (fewer than 10 x P
// elements) stay on the calling thread and never touch the pool; larger ones go
// to the process-wide worker pool in pieces of at least 20.

#include <algorithm>
#include <cstddef>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "runtime/thread_count.hpp"

namespace textgrid {

inline constexpr std::size_t PARALLEL_ELEMENTS_PER_PROCESSOR = 10;
inline constexpr std::size_t MIN_PIECE_LENGTH = 20;

// Calls from now on use `threads` (thread_count.hpp; at least 1, at most
// MOST_THREADS); a pool already running gains or loses workers to match, a
// worker leaving once its piece is done.
void set_thread_count(std::size_t threads);

// Whether the calling thread is one of the pool's workers.
bool on_pool_worker();

// How the pool cuts a range: public, so that work cut the same way elsewhere
// (a file's pieces) can say where its pieces begin.

// Fewer than 10 x P elements are mapped on the calling thread.
inline bool stays_on_caller(std::size_t n, std::size_t processors) {
    // n < 10 x P without overflow; P = 0 counts as 1.
    return n / PARALLEL_ELEMENTS_PER_PROCESSOR < (processors == 0 ? 1 : processors);
}

// Several pieces per processor let fast workers take over from slow ones.
inline constexpr std::size_t PIECES_PER_PROCESSOR = 8;

// How many pieces the pool cuts n elements into: enough to balance P
// processors, each piece holding at least `min_length` elements (at least one).
std::size_t piece_count(std::size_t n, std::size_t processors,
                        std::size_t per_processor = PIECES_PER_PROCESSOR,
                        std::size_t min_length = MIN_PIECE_LENGTH);

// Piece k covers [piece_begin(k), piece_begin(k + 1)).
inline std::size_t piece_begin(std::size_t n, std::size_t pieces, std::size_t k) {
    return k * n / pieces;
}

namespace detail {

using PieceBody = void (*)(void* context, std::size_t piece, std::size_t begin, std::size_t end);

// Runs body over every piece on the pool, at most `processors` at a time, and
// returns when all have finished. The first exception of any piece is rethrown
// here once the running pieces are done; pieces not yet started are skipped.
// Called from a worker, that worker runs pieces of this job itself. With
// observe, the calling thread runs it for each finished piece in piece order
// while later pieces still run; if it throws, pieces not yet started are
// skipped and its exception is rethrown once the running ones are done.
// With `lookahead`, an observed job runs on past its usual few pieces per
// processor ahead of the observer while the pieces finished and not yet observed
// weigh less than `most` together; each piece's body sets its weight in
// weights[piece] (rows, bytes: any unit) before it returns.
struct Lookahead {
    const std::size_t* weights = nullptr;
    std::size_t most = 0;
};
void run_pieces(std::size_t n, std::size_t pieces, std::size_t processors, PieceBody body,
                void* context, PieceBody observe = nullptr, Lookahead lookahead = {});

// Result slots reserved up front, each written by exactly one thread. vector<bool>
// packs bits, so neighbouring slots would share a word; such results (and ones
// that cannot be default-constructed) go through std::optional instead.
template <class R>
class Slots {
    static constexpr bool direct = std::is_default_constructible_v<R> && !std::is_same_v<R, bool>;
    using Slot = std::conditional_t<direct, R, std::optional<R>>;

public:
    explicit Slots(std::size_t n) : slots_(n) {}

    template <class V>
    void store(std::size_t i, V&& value) {
        if constexpr (direct) {
            slots_[i] = std::forward<V>(value);
        } else {
            slots_[i].emplace(std::forward<V>(value));
        }
    }

    R take(std::size_t i) {
        if constexpr (direct) {
            return std::move(slots_[i]);
        } else {
            return std::move(*slots_[i]);
        }
    }

    std::vector<R> take() && {
        if constexpr (direct) {
            return std::move(slots_);
        } else {
            std::vector<R> results;
            results.reserve(slots_.size());
            for (auto& slot : slots_) results.push_back(std::move(*slot));
            return results;
        }
    }

private:
    std::vector<Slot> slots_;
};

}  // namespace detail

// Returns {piece(b0, e0), piece(b1, e1), ...} for consecutive pieces covering
// [0, n) in order: none for n = 0, the single piece [0, n) on the calling thread
// when n < 10 x P, otherwise pieces of at least 20 mapped on the pool. For work
// that is cheaper done a run of elements at a time (one buffer per piece).
template <class F>
auto parallel_map_pieces(std::size_t n, F&& piece, std::size_t processors = thread_count())
    -> std::vector<std::remove_cvref_t<std::invoke_result_t<F&, std::size_t, std::size_t>>> {
    using R = std::remove_cvref_t<std::invoke_result_t<F&, std::size_t, std::size_t>>;
    if (stays_on_caller(n, processors)) {
        std::vector<R> results;
        if (n > 0) results.push_back(piece(std::size_t{0}, n));
        return results;
    }
    const std::size_t pieces = piece_count(n, processors);
    struct Context {
        F& piece;
        detail::Slots<R> slots;
    } context{piece, detail::Slots<R>(pieces)};
    const detail::PieceBody body = [](void* raw, std::size_t k, std::size_t begin,
                                      std::size_t end) {
        auto& ctx = *static_cast<Context*>(raw);
        ctx.slots.store(k, ctx.piece(begin, end));
    };
    detail::run_pieces(n, pieces, processors, body, &context);
    return std::move(context.slots).take();
}

namespace detail {

// {f(0), ..., f(n-1)} from the pool, the indices cut into `pieces`.
template <class F>
auto map_on_pool(std::size_t n, std::size_t pieces, F& f, std::size_t processors)
    -> std::vector<std::remove_cvref_t<std::invoke_result_t<F&, std::size_t>>> {
    using R = std::remove_cvref_t<std::invoke_result_t<F&, std::size_t>>;
    struct Context {
        F& f;
        Slots<R> slots;
    } context{f, Slots<R>(n)};
    const PieceBody body = [](void* raw, std::size_t, std::size_t begin, std::size_t end) {
        auto& ctx = *static_cast<Context*>(raw);
        for (std::size_t i = begin; i < end; ++i) ctx.slots.store(i, ctx.f(i));
    };
    if (n > 0) run_pieces(n, pieces, processors, body, &context);
    return std::move(context.slots).take();
}

}  // namespace detail

// Returns {f(0), ..., f(n-1)}. f must be safe to run concurrently on different
// indices. An InternalFailure from any f reaches the caller after the running
// pieces finish. `processors` is P; tests inject it. On the pool a call uses at
// most P workers at once.
template <class F>
auto parallel_map(std::size_t n, F&& f, std::size_t processors = thread_count())
    -> std::vector<std::remove_cvref_t<std::invoke_result_t<F&, std::size_t>>> {
    using R = std::remove_cvref_t<std::invoke_result_t<F&, std::size_t>>;
    if (stays_on_caller(n, processors)) {
        std::vector<R> results;
        results.reserve(n);
        for (std::size_t i = 0; i < n; ++i) results.push_back(f(i));
        return results;
    }
    return detail::map_on_pool(n, piece_count(n, processors), f, processors);
}

// parallel_map with every element a piece of its own, on the pool however few
// they are: for a few large tasks (the tiers of a large document).
template <class F>
auto parallel_map_each(std::size_t n, F&& f, std::size_t processors = thread_count()) {
    return detail::map_on_pool(n, n, f, processors);
}

namespace detail {

// Results not weighed: the pool keeps to its usual few pieces ahead.
struct Unweighed {};

// parallel_map_pieces_ordered's work on the pool, cut into `pieces`; `weigh`
// (or Unweighed) and `most_waiting` as in parallel_map_pieces_ordered_weighed.
template <class F, class O, class W = Unweighed>
void map_pieces_ordered_on_pool(std::size_t n, std::size_t pieces, F& piece, O& observe,
                                std::size_t processors, W weigh = {},
                                std::size_t most_waiting = 0) {
    using R = std::remove_cvref_t<std::invoke_result_t<F&, std::size_t, std::size_t>>;
    constexpr bool weighed = !std::is_same_v<W, Unweighed>;
    struct Context {
        F& piece;
        O& observe;
        W& weigh;
        Slots<R> slots;
        std::vector<std::size_t> weights;
    } context{piece, observe, weigh, Slots<R>(pieces),
              std::vector<std::size_t>(weighed ? pieces : 0)};
    const PieceBody body = [](void* raw, std::size_t k, std::size_t begin, std::size_t end) {
        auto& ctx = *static_cast<Context*>(raw);
        if constexpr (weighed) {
            R result = ctx.piece(begin, end);
            ctx.weights[k] = ctx.weigh(std::as_const(result));
            ctx.slots.store(k, std::move(result));
        } else {
            ctx.slots.store(k, ctx.piece(begin, end));
        }
    };
    const PieceBody observe_piece = [](void* raw, std::size_t k, std::size_t begin, std::size_t) {
        auto& ctx = *static_cast<Context*>(raw);
        ctx.observe(begin, ctx.slots.take(k));
    };
    Lookahead lookahead;
    if constexpr (weighed) lookahead = {context.weights.data(), most_waiting};
    run_pieces(n, pieces, processors, body, &context, observe_piece, lookahead);
}

}  // namespace detail

// parallel_map_pieces whose results go to observe(begin, std::move(result)) on
// the calling thread, piece by piece in order (begin: the piece's first
// element), as soon as each is done, while the pool goes on with later pieces
// (a few per processor ahead, no further): the caller's own work on the
// results overlaps the mapping, and only a few results are alive at once.
// While no result is ready for it, the caller maps pieces too, in place of one
// of the P workers (and as a worker would: on_pool_worker() holds meanwhile).
// An exception from a piece or from observe reaches the caller once the
// running pieces finish. Fewer pieces per processor than the pool's usual
// number make longer pieces.
template <class F, class O>
void parallel_map_pieces_ordered(std::size_t n, F&& piece, O&& observe,
                                 std::size_t processors = thread_count(),
                                 std::size_t pieces_per_processor = PIECES_PER_PROCESSOR) {
    if (stays_on_caller(n, processors)) {
        if (n > 0) observe(std::size_t{0}, piece(std::size_t{0}, n));
        return;
    }
    detail::map_pieces_ordered_on_pool(n, piece_count(n, processors, pieces_per_processor), piece,
                                       observe, processors);
}

// parallel_map_pieces_ordered for elements that are tasks of their own, of
// very different sizes (the files of a batch): on the pool from two elements
// on, in pieces of one element and more. Past the usual few pieces ahead of
// the observer, the pool goes on while the results finished and not yet
// observed weigh less than `most_waiting` together (weigh(result): rows,
// bytes, any unit). While the observer waits for one heavy piece, light ones
// after it are then still made, and heavy ones still never pile up.
template <class F, class W, class O>
void parallel_map_pieces_ordered_weighed(std::size_t n, F&& piece, W&& weigh,
                                         std::size_t most_waiting, O&& observe,
                                         std::size_t processors, std::size_t pieces_per_processor) {
    if (n < 2) {
        if (n > 0) observe(std::size_t{0}, piece(std::size_t{0}, n));
        return;
    }
    // With one thread the pieces are made and handed over in turn on the
    // caller: the observer still sees the first files early and often.
    detail::map_pieces_ordered_on_pool(n, piece_count(n, processors, pieces_per_processor, 1),
                                       piece, observe, processors, std::ref(weigh), most_waiting);
}

// parallel_map_each whose results go to observe(i, std::move(f(i))) as
// parallel_map_pieces_ordered's do: for a few large tasks whose results the
// caller works on while later ones run.
template <class F, class O>
void parallel_map_each_ordered(std::size_t n, F&& f, O&& observe,
                               std::size_t processors = thread_count()) {
    auto piece = [&f](std::size_t begin, std::size_t) { return f(begin); };
    if (n > 0) detail::map_pieces_ordered_on_pool(n, n, piece, observe, processors);
}

// What a piece made, and the thread that made it.
template <class T>
struct MadeOnThread {
    std::thread::id maker;
    T value;
};

template <class T>
MadeOnThread<T> made_here(T value) {
    return {std::this_thread::get_id(), std::move(value)};
}

// What pieces made (documents read, say) once their observer is done with it,
// kept until the thread that made it frees it. Freed on another thread, each
// of its blocks would take the lock of its maker's arena of the heap, and that
// thread, the caller whom every later piece waits for, would sleep whenever
// the maker held the lock for a block of its own. A maker frees its own at the
// start of its next piece; what is left when this goes, goes with it.
template <class T>
class FreedByMakers {
public:
    // By the observer: kept for the maker, or freed now if the observer made it.
    void give_back(MadeOnThread<T>&& made) {
        if (made.maker == std::this_thread::get_id()) return;
        std::lock_guard lock(mutex_);
        waiting_.push_back(std::move(made));
    }

    // Frees what this thread made and was given back.
    void free_own() {
        std::vector<MadeOnThread<T>> own;
        const auto others = [](const MadeOnThread<T>& made) {
            return made.maker != std::this_thread::get_id();
        };
        std::lock_guard lock(mutex_);
        const auto mine = std::partition(waiting_.begin(), waiting_.end(), others);
        own.assign(std::make_move_iterator(mine), std::make_move_iterator(waiting_.end()));
        waiting_.erase(mine, waiting_.end());
        // `own` goes after the lock: freeing takes no one else's time.
    }

private:
    std::mutex mutex_;
    std::vector<MadeOnThread<T>> waiting_;
};

}  // namespace textgrid
