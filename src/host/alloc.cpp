// Host allocator of travo's own host layer, on the C allocator.
#include <atomic>
#include <cstdlib>
#include <unordered_set>

#include "host/alloc_internal.hpp"
#include "host/host_alloc.h"
#include "host/host_layer.hpp"

namespace travo::host {
namespace {

std::atomic<std::int64_t> attempts{0};
std::atomic<std::int64_t> fail_at{0};  // attempt number that fails, 0 = none
std::atomic<std::int64_t> live{0};

// Blocks taken inside the innermost call scope of this thread.
thread_local std::unordered_set<void *> *scope_blocks = nullptr;

}  // namespace

namespace detail {

bool allocation_attempt() { return ++attempts != fail_at.load(); }

}  // namespace detail

void fail_allocation(std::int64_t k) { fail_at = k > 0 ? attempts.load() + k : 0; }

std::int64_t allocation_count() { return attempts.load(); }

std::int64_t live_blocks() { return live.load(); }

CallScope::CallScope() {
    if (scope_blocks == nullptr) {
        scope_blocks = new std::unordered_set<void *>();
        owner_ = true;
    }
}

CallScope::~CallScope() {
    if (!owner_) return;
    for (void *p : *scope_blocks) {
        std::free(p);
        live--;
    }
    delete scope_blocks;
    scope_blocks = nullptr;
}

}  // namespace travo::host

using namespace travo::host;

extern "C" void *mxMalloc(size_t n) {
    if (!detail::allocation_attempt()) return nullptr;
    void *p = std::malloc(n != 0 ? n : 1);
    if (p == nullptr) return nullptr;
    if (scope_blocks != nullptr) {
        try {
            scope_blocks->insert(p);
        } catch (...) {
            std::free(p);
            return nullptr;
        }
    }
    live++;
    return p;
}

extern "C" void mxFree(void *ptr) {
    if (ptr == nullptr) return;
    if (scope_blocks != nullptr) scope_blocks->erase(ptr);
    std::free(ptr);
    live--;
}
