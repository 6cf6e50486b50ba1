// operator new (replaced here) failing at each of its calls in turn during generation: the C interface answers
// status 8, travo::generate throws Error(no_memory), never std::bad_alloc, and nothing is left behind.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

#include "host/host_layer.hpp"
#include "travo/travo.h"
#include "travo/travo.hpp"

namespace {
std::atomic<long> calls_left{-1};  // calls of operator new before one fails; negative: none fails
}  // namespace

void *operator new(std::size_t size) {
    if (calls_left.fetch_sub(1) == 0) throw std::bad_alloc();
    if (void *p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
// GCC sees free() of storage from operator new, which is what this pair does.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

// 2000 minima take the tree and the sweep, which have working storage of their own.
TEST(OutOfMemory, GenerationReportsNoMemory) {
    travo::Parameters p;
    p.num_minima = 2000;
    const std::function<bool()> generations[] = {// whether generation succeeded
                                                 [] {
                                                     EXPECT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
                                                     TRAVO_num_minima = 2000;
                                                     const TravoStatus st = TRAVO_arg_generate(1);
                                                     EXPECT_TRUE(st == TRAVO_STATUS_OK || st == TRAVO_NO_MEMORY) << st;
                                                     EXPECT_EQ(TRAVO_get_is_arg_set(), st == TRAVO_STATUS_OK);
                                                     TRAVO_free();
                                                     TRAVO_domain_free();
                                                     return st == TRAVO_STATUS_OK;
                                                 },
                                                 [&p] {
                                                     try {
                                                         (void)travo::generate(p);
                                                         return true;
                                                     } catch (const travo::Error &e) {
                                                         EXPECT_EQ(e.status(), travo::Status::no_memory);
                                                     }
                                                     return false;
                                                 }};
    for (const auto &generate : generations) {
        constexpr long kPlenty = 1L << 40;
        calls_left = kPlenty;
        ASSERT_TRUE(generate());
        const long calls = kPlenty - calls_left;
        ASSERT_GT(calls, 3);
        const auto blocks = travo::host::live_blocks();
        for (long k = 0; k < calls; k += 1 + calls / 16) {
            calls_left = k;
            EXPECT_FALSE(generate()) << k;
            calls_left = -1;
            EXPECT_EQ(travo::host::live_blocks(), blocks) << k;
        }
    }
}
