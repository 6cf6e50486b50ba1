// Progress of one generation, counted in rows of the minima table: every
// stage that visits the rows one by one counts them, and the caller's
// progress callback hears about it every so many operations. Without a
// callback counting is a single test per row.
#pragma once

#include <cstdint>

#include "common/stop_check.hpp"
#include "generator/member.hpp"

namespace travo::core {

class Meter {
public:
    // Stages that count rows: placement, the coincidence test, the first
    // radii, widening, and peaks with values; m rows each.
    static constexpr std::uint64_t kStages = 5;

    Meter() = default;
    Meter(const Progress *progress, uint32_t m)
        : progress_(progress != nullptr && progress->report != nullptr ? progress : nullptr), total_(kStages * m) {}

    // The rows that follow cost about `ops` operations each; the callback
    // is then called about every kReportEvery operations.
    void pace(std::uint64_t ops) { stride_ = ops >= kReportEvery ? 1 : kReportEvery / (ops == 0 ? 1 : ops); }

    // Counts `rows` rows as done; false once the callback has asked to stop.
    bool step(std::uint64_t rows = 1) {
        if (progress_ == nullptr) return true;
        pending_ += rows;
        return pending_ < stride_ || flush();
    }

    // Reports what is counted so far.
    bool flush();

    // A check that reports what is counted so far, for the steps between
    // counted rows; empty without a callback.
    StopCheck stop_check() {
        if (progress_ == nullptr) return {};
        return {[](void *meter) { return static_cast<Meter *>(meter)->flush(); }, this};
    }

private:
    static constexpr std::uint64_t kReportEvery = std::uint64_t(1) << 18;
    const Progress *progress_ = nullptr;
    std::uint64_t total_ = 0;
    std::uint64_t done_ = 0;
    std::uint64_t pending_ = 0;
    std::uint64_t stride_ = 1;
};

}  // namespace travo::core
