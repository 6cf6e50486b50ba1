// Slicing of a batch over threads for the batch forms of the C++ interface.
#pragma once

#include <algorithm>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

#include "evaluation/batch.hpp"

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

// Runs body(first, last) over the points [0, count) in contiguous slices,
// one per thread, as plan_spread cuts them. Each point is evaluated on its
// own, so the results do not depend on the slicing. A thread that cannot be
// started leaves its slice to the calling thread.
template <class Body>
void spread(std::size_t count, std::size_t numbers_per_point, unsigned threads, const Body &body) {
    const SpreadPlan plan = plan_spread(count, numbers_per_point, threads, std::thread::hardware_concurrency());
    if (plan.workers <= 1) {
        body(std::size_t(0), count);
        return;
    }
    const std::size_t slice = plan.slice;
    std::vector<std::jthread> pool;
    pool.reserve(plan.workers - 1);
    for (std::size_t first = slice; first < count; first += slice) {
        const std::size_t last = std::min(count, first + slice);
        try {
            pool.emplace_back([&body, first, last] { body(first, last); });
        } catch (const std::system_error &) {
            body(first, last);
        }
    }
    body(std::size_t(0), std::min(count, slice));
}

}  // namespace travo::detail
