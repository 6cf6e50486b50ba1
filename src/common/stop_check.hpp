// A caller's way to stop a long step of the core midway where no rows are
// counted on a progress meter: a tree or grid build, a sort, the allocation
// of many rows. The step asks it now and then, on the calling thread, and
// stops when it answers false; an empty check is never asked, so a step
// given none runs as it always has.
#pragma once

#include <cstdint>

namespace travo::core {

struct StopCheck {
    bool (*keep_going)(void *context) = nullptr;
    void *context = nullptr;

    bool empty() const { return keep_going == nullptr; }
    // Whether to go on; true when empty.
    bool operator()() const { return keep_going == nullptr || keep_going(context); }
};

// Rows, keys or entries a long loop handles between two questions: well
// under a millisecond of work for each.
inline constexpr std::uint32_t kStopEvery = 1u << 16;

}  // namespace travo::core
