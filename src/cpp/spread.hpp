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

// Runs body(first, last) over the points [0, count) in contiguous slices,
// one per thread: `threads` of them, or (0) as many as the hardware runs at
// once when each gets kNumbersPerThread numbers. Each point is evaluated on
// its own, so the results do not depend on the slicing. A thread that cannot
// be started leaves its slice to the calling thread.
template <class Body>
void spread(std::size_t count, std::size_t numbers_per_point, unsigned threads, const Body &body) {
    std::size_t workers = threads;
    if (threads == 0) {
        const std::size_t hardware = std::max(1u, std::thread::hardware_concurrency());
        const std::size_t min_points = std::max<std::size_t>(1, kNumbersPerThread / numbers_per_point);
        workers = std::min(hardware, count / min_points);
    }
    workers = std::min(workers, count);
    if (workers <= 1) {
        body(std::size_t(0), count);
        return;
    }
    // Slices of whole blocks, so that only the last one ends in a short block.
    constexpr std::size_t block = core::BatchEvaluator::kBlock;
    const std::size_t share = (count + workers - 1) / workers;
    const std::size_t slice = (share + block - 1) / block * block;
    std::vector<std::jthread> pool;
    pool.reserve(workers - 1);
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
