// Controls of travo's own host layer, the stand-in for a real host in builds
// without one: allocation counting, injected allocation failures, and the
// call scope whose host storage is reclaimed when the call ends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace travo::host {

// Makes the k-th host allocation from now on fail (k >= 1); 0 turns the
// injection off. The count is shared by all threads.
void fail_allocation(std::int64_t k);

// Number of host allocations attempted since the process started.
std::int64_t allocation_count();

// Number of blocks currently held by the host allocator.
std::int64_t live_blocks();

// While a CallScope lives on a thread, storage that this thread takes with
// mxMalloc and does not give back is released when the scope ends, as a
// real host does at the end of an extension call.
class CallScope {
public:
    CallScope();
    ~CallScope();
    CallScope(const CallScope &) = delete;
    CallScope &operator=(const CallScope &) = delete;

private:
    bool owner_ = false;  // an inner scope leaves the blocks to the outer one
};

}  // namespace travo::host
