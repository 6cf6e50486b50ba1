// Long evaluations: split over threads, with progress on standard error when
// it is a terminal.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "travo/travo.hpp"

namespace travo::cli {

// Runs work(begin, end) over [0, total) in chunks of `chunk` items on up to
// `threads` threads (the calling thread among them). Progress is shown as
// "<label> NN%" on standard error when that is a terminal and the work lasts
// more than about half a second; the line is cleared at the end. The first
// exception thrown by `work` is rethrown after every thread has stopped.
void run_chunks(std::size_t total, std::size_t chunk, unsigned threads, const std::string &label,
                const std::function<void(std::size_t, std::size_t)> &work);

// travo::generate, with its progress shown as "generating NN%" in the same
// way.
Member generate_with_progress(const Parameters &params);

}  // namespace travo::cli
