// A generated core member owned by a test, released when it goes away.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "generator/member.hpp"
#include "random/lagfib.hpp"

namespace travo::testing {

struct OwnedMember {
    core::Member mb;
    core::RandomSource rng;

    // Box [lo, hi] in every coordinate.
    OwnedMember(uint32_t n, uint32_t m, double g, double d, double r, double lo = -1.0, double hi = 1.0) {
        mb.dim = n;
        mb.num_minima = m;
        EXPECT_EQ(core::domain_alloc(mb), TRAVO_STATUS_OK);
        for (uint32_t c = 0; c < n; c++) {
            mb.domain_left[c] = lo;
            mb.domain_right[c] = hi;
        }
        mb.global_value = g;
        mb.global_dist = d;
        mb.global_radius = r;
    }
    ~OwnedMember() {
        core::free_tables(mb);
        core::domain_free(mb);
    }
    OwnedMember(const OwnedMember &) = delete;
    OwnedMember &operator=(const OwnedMember &) = delete;

    TravoStatus generate(int32_t test) {
        core::free_tables(mb);
        return core::arg_generate(mb, rng, test);
    }
    // Tables without generation, for hand-built members.
    void allocate() { ASSERT_EQ(core::alloc_tables(mb), TRAVO_STATUS_OK); }
};

}  // namespace travo::testing
