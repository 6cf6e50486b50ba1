// Parameters, their checks and the storage of the module-wide member.
#include <limits>

#include "support/module_fixture.hpp"

using travo::testing::ModuleTest;
namespace host = travo::host;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}

class Parameters : public ModuleTest {};

TEST_F(Parameters, DefaultsKeepAPresentBoxAndDeriveFromIt) {
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    EXPECT_EQ(TRAVO_dim, 2u);
    EXPECT_EQ(TRAVO_num_minima, 10u);
    EXPECT_EQ(TRAVO_domain_left[1], -1.0);
    EXPECT_EQ(TRAVO_domain_right[0], 1.0);
    EXPECT_EQ(TRAVO_global_value, -1.0);
    EXPECT_EQ(TRAVO_global_radius, 1.0 / 3.0);
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_STATUS_OK);
    TRAVO_domain_free();
    double left[2] = {0.0, 0.0}, right[2] = {4.0, 1.0};
    TRAVO_domain_left = left;
    TRAVO_domain_right = right;
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    EXPECT_EQ(TRAVO_domain_left, left);
    EXPECT_EQ(right[0], 4.0);
    EXPECT_EQ(TRAVO_global_dist, 1.0 / 3.0);  // a third of the shortest side
    EXPECT_EQ(TRAVO_global_radius, 1.0 / 6.0);
    TRAVO_domain_left = TRAVO_domain_right = nullptr;
}

TEST_F(Parameters, DimensionBoundsAllocateNothingWhenBad) {
    for (uint32_t n : {0u, 1u, 1009u}) {
        TRAVO_dim = n;
        TRAVO_num_minima = 10;
        const auto before = host::allocation_count();
        EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_DIMENSION) << n;
        EXPECT_EQ(TRAVO_domain_alloc(), TRAVO_BAD_DIMENSION) << n;
        EXPECT_EQ(TRAVO_alloc(), TRAVO_BAD_DIMENSION) << n;
        EXPECT_EQ(host::allocation_count(), before) << n;
    }
    for (uint32_t n : {2u, 1008u}) {
        configure(n, 2, -1, 0.5, 0.2);
        EXPECT_EQ(TRAVO_parameters_check(), TRAVO_STATUS_OK) << n;
    }
}

// Several faults at once: the first failing check decides, the test number
// before everything else.
TEST_F(Parameters, FirstFailingCheckWins) {
    TRAVO_dim = 5000;
    TRAVO_num_minima = 1;
    for (int32_t t : {0, 101, -1}) EXPECT_EQ(TRAVO_arg_generate(t), TRAVO_BAD_TEST_NUMBER) << t;
    TRAVO_dim = 1;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_DIMENSION);
    TRAVO_dim = 2;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_MINIMA_COUNT);  // and no box
    TRAVO_num_minima = 1000000;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_DOMAIN);
    ASSERT_EQ(TRAVO_domain_alloc(), TRAVO_STATUS_OK);
    TRAVO_global_value = TRAVO_global_dist = TRAVO_global_radius = 0.0;
    EXPECT_EQ(TRAVO_arg_generate(1), TRAVO_BAD_GLOBAL_VALUE);
    TRAVO_global_value = -1.0;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_GLOBAL_DISTANCE);
    TRAVO_global_dist = 0.5;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_GLOBAL_RADIUS);
    TRAVO_global_radius = 0.2;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_STATUS_OK);
}

// Each bound on both sides of its tolerance; NaN passes every check it
// takes part in.
TEST_F(Parameters, BoundsAndTheirTolerances) {
    struct Case {
        double *field;
        double value;
        TravoStatus expected;
    };
    configure(2, 10, -1, 0.6, 0.2);
    const double right1 = TRAVO_domain_right[1];
    const Case cases[] = {
        {&TRAVO_domain_right[1], -1.0, TRAVO_BAD_DOMAIN},
        {&TRAVO_domain_right[1], -2.0, TRAVO_BAD_DOMAIN},
        {&TRAVO_domain_right[1], -1.0 + 1e-10, TRAVO_BAD_DOMAIN},
        {&TRAVO_domain_left[0], kNaN, TRAVO_STATUS_OK},
        {&TRAVO_global_value, 0.0, TRAVO_BAD_GLOBAL_VALUE},
        {&TRAVO_global_value, -1e-10, TRAVO_BAD_GLOBAL_VALUE},
        {&TRAVO_global_value, kNaN, TRAVO_STATUS_OK},
        {&TRAVO_global_dist, 1.0, TRAVO_BAD_GLOBAL_DISTANCE},
        {&TRAVO_global_dist, 1e-10, TRAVO_BAD_GLOBAL_DISTANCE},
        {&TRAVO_global_dist, 0.5, TRAVO_STATUS_OK},
        {&TRAVO_global_dist, kNaN, TRAVO_STATUS_OK},
        {&TRAVO_global_radius, 0.3, TRAVO_STATUS_OK},
        {&TRAVO_global_radius, 0.3 + 0.5e-10, TRAVO_STATUS_OK},
        {&TRAVO_global_radius, 0.31, TRAVO_BAD_GLOBAL_RADIUS},
        {&TRAVO_global_radius, 0.0, TRAVO_BAD_GLOBAL_RADIUS},
        {&TRAVO_global_radius, kNaN, TRAVO_STATUS_OK},
    };
    for (const Case &c : cases) {
        const double keep = *c.field;
        *c.field = c.value;
        EXPECT_EQ(TRAVO_parameters_check(), c.expected) << "case " << &c - cases;
        *c.field = keep;
    }
    EXPECT_EQ(TRAVO_domain_right[1], right1);
    double *right = TRAVO_domain_right;
    TRAVO_domain_right = nullptr;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_DOMAIN);
    TRAVO_domain_right = right;
}

// Every allocation site of every allocating operation: the k-th allocation
// fails, the operation answers 8, and what it took stays referenced, so that
// the release operations give it all back. k runs until the call succeeds.
TEST_F(Parameters, EachFailedAllocationGivesNoMemoryAndLeaksNothing) {
    struct Op {
        void (*prepare)();
        TravoStatus (*run)();
        void (*release)();
        int sites;  // allocations of a successful call
    };
    const Op ops[] = {
        {[] { reset(); }, TRAVO_set_default, TRAVO_domain_free, 2},
        {[] { reset(); TRAVO_dim = 3; }, TRAVO_domain_alloc, TRAVO_domain_free, 2},
        {[] { configure(2, 4, -1, 0.5, 0.2); }, TRAVO_alloc, TRAVO_free, 1 + 4 + 4 + 1},
        {[] { configure(2, 4, -1, 0.5, 0.2); }, [] { return TRAVO_arg_generate(1); }, TRAVO_free, 1 + 4 + 4 + 1},
    };
    for (const Op &op : ops) {
        for (int k = 1;; k++) {
            op.prepare();
            const auto live = host::live_blocks();
            host::fail_allocation(k);
            const TravoStatus st = op.run();
            host::fail_allocation(0);
            if (st == TRAVO_STATUS_OK) {
                EXPECT_EQ(k, op.sites + 1) << "operation " << &op - ops;
            } else {
                ASSERT_EQ(st, TRAVO_NO_MEMORY) << "operation " << &op - ops << ", allocation " << k;
                EXPECT_EQ(TRAVO_get_is_arg_set(), 0);
            }
            op.release();
            EXPECT_EQ(host::live_blocks(), live) << "operation " << &op - ops << ", allocation " << k;
            if (st == TRAVO_STATUS_OK) break;
            ASSERT_LT(k, 100);
        }
    }
    // The defaults are in place before the box is looked at.
    reset();
    host::fail_allocation(2);
    EXPECT_EQ(TRAVO_set_default(), TRAVO_NO_MEMORY);
    EXPECT_EQ(TRAVO_num_minima, 10u);
}

TEST_F(Parameters, TablesTooLargeForThirtyTwoBitSizesAreRefusedBeforeAsking) {
    configure(2, 536870912u, -1, 0.5, 0.2);  // m * 8 = 2^32
    const auto before = host::allocation_count();
    EXPECT_EQ(TRAVO_alloc(), TRAVO_NO_MEMORY);
    EXPECT_EQ(TRAVO_arg_generate(1), TRAVO_NO_MEMORY);
    EXPECT_EQ(host::allocation_count(), before);
    EXPECT_EQ(TRAVO_minima.points, nullptr);
}

// A generation that fails before touching the tables leaves an earlier
// member usable. One that fails once it has replaced them (no storage, or
// no minimizer at the global value) leaves nothing to evaluate, even after
// an earlier success: evaluation refuses instead of reading half-made tables.
TEST_F(Parameters, FailedGenerationAfterASuccess) {
    const double x[2] = {0.1, -0.2};
    double g[2];
    configure(2, 4, -1, 0.5, 0.2);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    EXPECT_EQ(TRAVO_arg_generate(0), TRAVO_BAD_TEST_NUMBER);
    EXPECT_EQ(TRAVO_get_is_arg_set(), 1);
    EXPECT_LT(TRAVO_D2_func(x), TRAVO_ERROR_VALUE);
    for (int k = 1; k <= 11; k++) {
        configure(2, 4, -1, 0.5, 0.2);
        ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
        const MinimaTable earlier = TRAVO_minima;
        const GlobalMinimaList earlier_glob = TRAVO_glob;
        if (k <= 10) {
            host::fail_allocation(k);
            ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_NO_MEMORY) << k;
            host::fail_allocation(0);
        } else {
            TRAVO_global_value = kNaN;
            EXPECT_EQ(TRAVO_arg_generate(1), TRAVO_NO_GLOBAL_MINIMUM);
        }
        EXPECT_EQ(TRAVO_get_is_arg_set(), 0) << k;
        EXPECT_EQ(TRAVO_D2_func(x), TRAVO_ERROR_VALUE) << k;
        EXPECT_EQ(TRAVO_D_gradient(x, g), TRAVO_BAD_DERIVATIVE) << k;
        // Generation does not release the earlier tables; the caller does.
        TRAVO_free();
        TRAVO_minima = earlier;
        TRAVO_glob = earlier_glob;
        TRAVO_free();
    }
}
