// Threads that share the scans of one generation. The calling thread takes
// part in every run and is the only one that reports progress, so that a
// progress function (which may ask the host whether to stop) is only ever
// called on the thread that called generation.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace travo::core {

class Workers {
public:
    // The calling thread and up to threads - 1 others (as many as can be
    // started).
    explicit Workers(unsigned threads) {
        for (unsigned k = 1; k < threads; k++) {
            try {
                helpers_.emplace_back([this] { serve(); });
            } catch (const std::system_error &) {
                break;
            }
        }
    }
    ~Workers() {
        {
            const std::lock_guard<std::mutex> lock(mu_);
            quit_ = true;
        }
        wake_.notify_all();
        for (std::thread &t : helpers_) t.join();
    }
    Workers(const Workers &) = delete;
    Workers &operator=(const Workers &) = delete;

    unsigned size() const { return static_cast<unsigned>(helpers_.size()) + 1; }

    // Calls item(k) once for each k in [0, count), on any of the threads;
    // item must not throw. The calling thread calls tick() after each item
    // it completes; once tick() returns false (or throws) no further item is
    // begun, and run returns false (or passes the exception on) when those
    // begun have ended. Otherwise returns true when every item has run.
    template <class Item, class Tick>
    bool run(std::size_t count, const Item &item, const Tick &tick) {
        if (count == 0) return true;
        if (helpers_.empty() || count == 1) {
            for (std::size_t k = 0; k < count; k++) {
                item(k);
                if (!tick()) return false;
            }
            return true;
        }
        {
            const std::lock_guard<std::mutex> lock(mu_);
            call_ = [](const void *context, std::size_t k) { (*static_cast<const Item *>(context))(k); };
            context_ = &item;
            count_ = count;
            next_.store(0);
            stop_.store(false);
            busy_ = static_cast<unsigned>(helpers_.size());
            round_++;
        }
        wake_.notify_all();
        bool whole = true;
        try {
            for (;;) {
                const std::size_t k = next_.fetch_add(1);
                if (k >= count) break;
                item(k);
                if (!tick()) {
                    whole = false;
                    break;
                }
            }
        } catch (...) {
            // The other threads may still be running items that refer to the
            // caller's frames: they end first.
            finish(false);
            throw;
        }
        finish(whole);
        return whole;
    }

private:
    // Waits for the other threads to end the run, telling them to begin no
    // further item unless `whole`.
    void finish(bool whole) {
        if (!whole) stop_.store(true);
        std::unique_lock<std::mutex> lock(mu_);
        done_.wait(lock, [this] { return busy_ == 0; });
    }

    void serve() {
        std::uint64_t seen = 0;
        for (;;) {
            void (*call)(const void *, std::size_t) = nullptr;
            const void *context = nullptr;
            std::size_t count = 0;
            {
                std::unique_lock<std::mutex> lock(mu_);
                wake_.wait(lock, [&] { return quit_ || round_ != seen; });
                if (quit_) return;
                seen = round_;
                call = call_;
                context = context_;
                count = count_;
            }
            while (!stop_.load()) {
                const std::size_t k = next_.fetch_add(1);
                if (k >= count) break;
                call(context, k);
            }
            {
                const std::lock_guard<std::mutex> lock(mu_);
                busy_--;
            }
            done_.notify_one();
        }
    }

    std::vector<std::thread> helpers_;
    std::mutex mu_;
    std::condition_variable wake_, done_;
    bool quit_ = false;
    std::uint64_t round_ = 0;
    unsigned busy_ = 0;
    void (*call_)(const void *, std::size_t) = nullptr;
    const void *context_ = nullptr;
    std::size_t count_ = 0;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> stop_{false};
};

}  // namespace travo::core
