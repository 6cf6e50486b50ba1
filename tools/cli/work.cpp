#include "work.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace travo::cli {
namespace {

using Clock = std::chrono::steady_clock;

class Progress {
public:
    Progress(std::string label, std::size_t total)
        : label_(std::move(label)), total_(total), enabled_(isatty(STDERR_FILENO) == 1), start_(Clock::now()) {}

    ~Progress() {
        if (shown_) std::fprintf(stderr, "\r\033[K");
    }

    void add(std::size_t n) {
        const std::size_t done = done_ += n;
        if (!enabled_) return;
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(mutex_);
        if (now - start_ < std::chrono::milliseconds(500) || now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        shown_ = true;
        const unsigned pct = total_ == 0 ? 100u
                                         : static_cast<unsigned>(100.0 * static_cast<double>(done) /
                                                                 static_cast<double>(total_));
        std::fprintf(stderr, "\r%s %3u%%", label_.c_str(), pct);
        std::fflush(stderr);
    }

private:
    std::string label_;
    std::size_t total_;
    bool enabled_;
    bool shown_ = false;
    Clock::time_point start_, last_{};
    std::atomic<std::size_t> done_{0};
    std::mutex mutex_;
};

}  // namespace

void run_chunks(std::size_t total, std::size_t chunk, unsigned threads, const std::string &label,
                const std::function<void(std::size_t, std::size_t)> &work) {
    chunk = std::max<std::size_t>(chunk, 1);
    const std::size_t chunks = (total + chunk - 1) / chunk;
    Progress progress(label, total);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    std::mutex error_mutex;

    auto worker = [&] {
        while (!failed.load()) {
            const std::size_t c = next++;
            if (c >= chunks) return;
            const std::size_t begin = c * chunk, end = std::min(total, begin + chunk);
            try {
                work(begin, end);
            } catch (...) {
                std::lock_guard<std::mutex> lock(error_mutex);
                if (!error) error = std::current_exception();
                failed = true;
                return;
            }
            progress.add(end - begin);
        }
    };

    const std::size_t helpers = std::min<std::size_t>(threads > 0 ? threads - 1 : 0, chunks > 0 ? chunks - 1 : 0);
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    for (std::size_t t = 0; t < helpers; t++) {
        try {
            pool.emplace_back(worker);
        } catch (const std::system_error &) {
            break;  // fewer threads: the others share the chunks
        }
    }
    worker();
    for (auto &t : pool) t.join();
    if (error) std::rethrow_exception(error);
}

Member generate_with_progress(const Parameters &params) {
    constexpr std::size_t kSteps = 1000;
    Progress progress("generating", kSteps);
    std::size_t shown = 0;
    return generate(params, [&progress, &shown](double fraction) {
        const auto steps = static_cast<std::size_t>(fraction * static_cast<double>(kSteps));
        if (steps > shown) {
            progress.add(steps - shown);
            shown = steps;
        }
        return true;
    });
}

}  // namespace travo::cli
