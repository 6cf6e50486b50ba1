// Slicing of a batch over threads for the batch forms of the C++ interface.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "evaluation/batch.hpp"
#include "travo/travo.hpp"

namespace travo::detail {

// A thread of its own is given to at least this many numbers read or
// written (coordinates in, results out), so that starting it costs little
// beside the work: about ten thousand values in two dimensions, a few
// Hessians in a hundred.
inline constexpr std::size_t kNumbersPerThread = std::size_t(1) << 15;

// How a batch is cut: `workers` threads (the calling one included) at most,
// each taking `slice` points, the last slice perhaps fewer.
struct SpreadPlan {
    std::size_t workers;
    std::size_t slice;
};

// The plan for `count` points of `numbers_per_point` numbers each when
// `threads` are asked for and the hardware runs `hardware` threads at once
// (0: it does not tell). `threads` 0 takes as many as the hardware runs when
// each gets kNumbersPerThread numbers; k > 0 takes k, but no more than the
// hardware runs, since more cannot help (where the hardware does not tell,
// no more than those that get kNumbersPerThread numbers each). Never more
// than one per point.
constexpr SpreadPlan plan_spread(std::size_t count, std::size_t numbers_per_point, unsigned threads,
                                 unsigned hardware) {
    const std::size_t min_points = std::max<std::size_t>(1, kNumbersPerThread / numbers_per_point);
    std::size_t workers = threads;
    if (threads == 0) {
        workers = std::min<std::size_t>(std::max(1u, hardware), count / min_points);
    } else if (hardware > 0) {
        workers = std::min<std::size_t>(threads, hardware);
    } else {
        workers = std::min<std::size_t>(threads, std::max<std::size_t>(1, count / min_points));
    }
    workers = std::min(workers, count);
    if (workers <= 1) return {1, count};
    // Slices of whole blocks, so that only the last one ends in a short block.
    constexpr std::size_t block = core::BatchEvaluator::kBlock;
    const std::size_t share = (count + workers - 1) / workers;
    return {workers, (share + block - 1) / block * block};
}

// Work a thread does between two looks at its batch's progress (see take).
inline constexpr std::chrono::steady_clock::duration kChunkTime = std::chrono::milliseconds(2);

// What the threads of one batch share: the first exception any of them
// met, whether they are to stop (after that exception, or when the progress
// function said so), the points done and the workers still running. Only
// the calling thread calls the progress function.
class Crew {
public:
    Crew(std::size_t count, const BatchProgress &progress) : count_(count), progress_(progress) {}

    bool chunked() const { return static_cast<bool>(progress_); }
    bool stopped() const { return stop_.load(std::memory_order_relaxed); }

    void fail(std::exception_ptr error) noexcept {
        const std::lock_guard lock(mutex_);
        if (!error_) error_ = std::move(error);
        stop_.store(true, std::memory_order_relaxed);
    }

    // Counts points done; on the calling thread, tells the progress function.
    void done(std::size_t points, bool caller) {
        done_.fetch_add(points, std::memory_order_relaxed);
        if (caller) ask();
    }

    void started() {
        const std::lock_guard lock(mutex_);
        ++running_;
    }
    void finished() noexcept {
        const std::lock_guard lock(mutex_);
        --running_;
        ended_.notify_all();
    }

    // Waits for the workers, asking the progress function every kChunkTime
    // meanwhile (the workers' slices end the wait without one).
    void wait() {
        if (!chunked()) return;
        std::unique_lock lock(mutex_);
        while (!ended_.wait_for(lock, kChunkTime, [this] { return running_ == 0; })) {
            lock.unlock();
            try {
                ask();
            } catch (...) {
                fail(std::current_exception());
            }
            lock.lock();
        }
    }

    // Once every thread has ended: the first exception, or BatchAbandoned.
    void finish() const {
        if (error_) std::rethrow_exception(error_);
        if (abandoned_) throw BatchAbandoned();
    }

private:
    void ask() {
        if (stopped()) return;
        const double fraction = double(done_.load(std::memory_order_relaxed)) / double(count_);
        if (!progress_(fraction)) {
            abandoned_ = true;
            stop_.store(true, std::memory_order_relaxed);
        }
    }

    const std::size_t count_;
    const BatchProgress &progress_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> done_{0};
    bool abandoned_ = false;  // the calling thread's only
    std::mutex mutex_;
    std::condition_variable ended_;
    std::size_t running_ = 0;
    std::exception_ptr error_;
};

// Runs body over the points [first, last): in one piece without a progress
// function; with one, in chunks that each take about kChunkTime, looking
// whether to stop before each. The first chunk is a block; each next one is
// sized by the time the last took (at most 1024 times larger, or half as
// large when it took more than twice kChunkTime).
template <class Body>
void take(const Body &body, std::size_t first, std::size_t last, Crew &crew, bool caller) {
    if (!crew.chunked()) {
        body(first, last);
        return;
    }
    using Clock = std::chrono::steady_clock;
    std::size_t chunk = core::BatchEvaluator::kBlock;
    for (std::size_t p = first; p < last && !crew.stopped();) {
        const std::size_t end = p + std::min(chunk, last - p);
        const Clock::time_point start = Clock::now();
        body(p, end);
        const Clock::duration took = Clock::now() - start;
        crew.done(end - p, caller);
        p = end;
        if (took < kChunkTime / 2) {
            const auto factor = took.count() > 0 ? kChunkTime / took : 1024;
            chunk *= std::size_t(std::clamp<decltype(factor)>(factor, 2, 1024));
        } else if (took > 2 * kChunkTime) {
            chunk = std::max<std::size_t>(1, chunk / 2);
        }
    }
}

// Runs body(first, last) over the points [0, count) in contiguous slices,
// one per thread, as plan_spread cuts them, and with a progress function in
// chunks (see take). Each point is evaluated on its own, so the results
// depend neither on the slicing nor on the chunks. A thread that cannot be
// started leaves its slice to the calling thread. An exception in any
// thread stops the others (at their next chunk) and is rethrown once all
// have ended; so is BatchAbandoned when the progress function said stop.
template <class Body>
void spread(std::size_t count, std::size_t numbers_per_point, unsigned threads, const BatchProgress &progress,
            const Body &body) {
    const SpreadPlan plan = plan_spread(count, numbers_per_point, threads, std::thread::hardware_concurrency());
    Crew crew(count, progress);
    if (plan.workers <= 1) {
        take(body, 0, count, crew, true);
        crew.finish();
        return;
    }
    const std::size_t slice = plan.slice;
    const auto work = [&body, &crew](std::size_t first, std::size_t last, bool caller) {
        try {
            take(body, first, last, crew, caller);
        } catch (...) {
            crew.fail(std::current_exception());
        }
    };
    std::vector<std::jthread> pool;
    pool.reserve(plan.workers - 1);
    for (std::size_t first = slice; first < count; first += slice) {
        const std::size_t last = std::min(count, first + slice);
        crew.started();
        try {
            pool.emplace_back([&work, &crew, first, last] {
                work(first, last, false);
                crew.finished();
            });
        } catch (const std::system_error &) {
            crew.finished();
            work(first, last, true);
        }
    }
    work(0, std::min(count, slice), true);
    crew.wait();
    pool.clear();  // joins every worker
    crew.finish();
}

}  // namespace travo::detail
