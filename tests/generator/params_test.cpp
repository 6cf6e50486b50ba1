#include <cmath>
#include <limits>

#include "support/module_fixture.hpp"

using travo::testing::ModuleTest;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}

class Parameters : public ModuleTest {};

TEST_F(Parameters, DefaultsOnAnEmptyState) {
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    EXPECT_EQ(TRAVO_dim, 2u);
    EXPECT_EQ(TRAVO_num_minima, 10u);
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(TRAVO_domain_left[i], -1.0);
        EXPECT_EQ(TRAVO_domain_right[i], 1.0);
    }
    EXPECT_EQ(TRAVO_global_value, -1.0);
    EXPECT_EQ(TRAVO_global_dist, 2.0 / 3.0);
    EXPECT_EQ(TRAVO_global_radius, 2.0 / 3.0 * 0.5);
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_STATUS_OK);
}

TEST_F(Parameters, DefaultsKeepAPresentBox) {
    double left[2] = {0.0, 0.0}, right[2] = {4.0, 1.0};
    TRAVO_domain_left = left;
    TRAVO_domain_right = right;
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    EXPECT_EQ(TRAVO_domain_left, left);
    EXPECT_EQ(right[0], 4.0);
    EXPECT_EQ(TRAVO_global_dist, 1.0 / 3.0);
    EXPECT_EQ(TRAVO_global_radius, 1.0 / 6.0);
    TRAVO_domain_left = TRAVO_domain_right = nullptr;
}

TEST_F(Parameters, DefaultsAfterReleasingTheBoxMakeAFreshOne) {
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    TRAVO_domain_free();
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    ASSERT_NE(TRAVO_domain_left, nullptr);
    EXPECT_EQ(TRAVO_domain_right[1], 1.0);
}

TEST_F(Parameters, DimensionBounds) {
    for (uint32_t n : {0u, 1u, 1009u}) {
        TRAVO_dim = n;
        TRAVO_num_minima = 10;
        const auto before = travo::host::allocation_count();
        EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_DIMENSION) << n;
        EXPECT_EQ(TRAVO_domain_alloc(), TRAVO_BAD_DIMENSION) << n;
        EXPECT_EQ(TRAVO_alloc(), TRAVO_BAD_DIMENSION) << n;
        EXPECT_EQ(travo::host::allocation_count(), before) << "allocated for a bad dimension";
    }
    for (uint32_t n : {2u, 1008u}) {
        reset();
        TRAVO_dim = n;
        EXPECT_EQ(TRAVO_domain_alloc(), TRAVO_STATUS_OK);
        TRAVO_num_minima = 2;
        TRAVO_global_value = -1;
        TRAVO_global_dist = 0.5;
        TRAVO_global_radius = 0.2;
        EXPECT_EQ(TRAVO_parameters_check(), TRAVO_STATUS_OK) << n;
    }
}

TEST_F(Parameters, FirstFailingTestWins) {
    // Bad dimension and bad count: dimension first.
    TRAVO_dim = 1;
    TRAVO_num_minima = 1;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_DIMENSION);
    // Bad count and no box: count first.
    TRAVO_dim = 2;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_MINIMA_COUNT);
    TRAVO_num_minima = 0;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_MINIMA_COUNT);
    TRAVO_num_minima = 1000000;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_DOMAIN);
    // Everything but the box wrong after the box: the global value is next.
    ASSERT_EQ(TRAVO_domain_alloc(), TRAVO_STATUS_OK);
    TRAVO_global_value = 0.0;
    TRAVO_global_dist = 0.0;
    TRAVO_global_radius = 0.0;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_GLOBAL_VALUE);
    TRAVO_global_value = -1.0;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_GLOBAL_DISTANCE);
    TRAVO_global_dist = 0.5;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_GLOBAL_RADIUS);
    TRAVO_global_radius = 0.2;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_STATUS_OK);
}

TEST_F(Parameters, BoxFaults) {
    configure(2, 10, -1, 0.5, 0.2);
    TRAVO_domain_right[1] = TRAVO_domain_left[1];
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_DOMAIN);
    TRAVO_domain_right[1] = -2.0;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_DOMAIN);
    TRAVO_domain_right[1] = TRAVO_domain_left[1] + 1e-10;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_DOMAIN);
    TRAVO_domain_right[1] = 1.0;
    double *right = TRAVO_domain_right;
    TRAVO_domain_right = nullptr;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_DOMAIN);
    TRAVO_domain_right = right;
}

TEST_F(Parameters, GlobalValueDistanceAndRadiusBounds) {
    configure(2, 10, -1, 0.9, 0.2);
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_STATUS_OK);
    for (double g : {0.0, -1e-10}) {
        TRAVO_global_value = g;
        EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_GLOBAL_VALUE) << g;
    }
    TRAVO_global_value = kNaN;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_STATUS_OK);
    TRAVO_global_value = -1.0;
    for (double d : {1.0, 0.0, 1e-10}) {
        TRAVO_global_dist = d;
        EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_GLOBAL_DISTANCE) << d;
    }
    TRAVO_global_dist = 0.6;
    for (double r : {0.3, 0.3 + 0.5e-10}) {
        TRAVO_global_radius = r;
        EXPECT_EQ(TRAVO_parameters_check(), TRAVO_STATUS_OK) << r;
    }
    for (double r : {0.31, 0.0}) {
        TRAVO_global_radius = r;
        EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_GLOBAL_RADIUS) << r;
    }
    // NaN passes every test it takes part in.
    TRAVO_global_dist = kNaN;
    TRAVO_global_radius = kNaN;
    TRAVO_domain_left[0] = kNaN;
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_STATUS_OK);
}

TEST_F(Parameters, AllocationAndRelease) {
    configure(3, 5, -1, 0.5, 0.2);
    const auto live = travo::host::live_blocks();
    ASSERT_EQ(TRAVO_alloc(), TRAVO_STATUS_OK);
    EXPECT_EQ(TRAVO_glob.count, 0u);
    EXPECT_EQ(travo::host::live_blocks(), live + 1 + 5 + 4 + 1);
    TRAVO_free();
    EXPECT_EQ(TRAVO_get_is_arg_set(), 0);
    EXPECT_EQ(travo::host::live_blocks(), live);
    TRAVO_num_minima = 1;
    EXPECT_EQ(TRAVO_alloc(), TRAVO_BAD_MINIMA_COUNT);
}

// Every allocation site of every allocating operation: the k-th allocation
// fails, the operation answers 8, and what it took stays referenced, so that
// the release operations give it all back. k runs until the call succeeds.
TEST_F(Parameters, EachFailedAllocationGivesNoMemory) {
    struct Op {
        const char *name;
        void (*prepare)();
        TravoStatus (*run)();
        void (*release)();
        int sites;  // allocations of a successful call
    };
    const Op ops[] = {
        {"TRAVO_set_default", [] { reset(); }, TRAVO_set_default, TRAVO_domain_free, 2},
        {"TRAVO_domain_alloc", [] { reset(); TRAVO_dim = 3; }, TRAVO_domain_alloc, TRAVO_domain_free, 2},
        {"TRAVO_alloc", [] { configure(2, 4, -1, 0.5, 0.2); }, TRAVO_alloc, TRAVO_free, 1 + 4 + 4 + 1},
        {"TRAVO_arg_generate", [] { configure(2, 4, -1, 0.5, 0.2); }, [] { return TRAVO_arg_generate(1); },
         TRAVO_free, 1 + 4 + 4 + 1},
    };
    for (const Op &op : ops) {
        for (int k = 1;; k++) {
            op.prepare();
            const auto live = travo::host::live_blocks();
            travo::host::fail_allocation(k);
            const TravoStatus st = op.run();
            travo::host::fail_allocation(0);
            if (st == TRAVO_STATUS_OK) {
                EXPECT_EQ(k, op.sites + 1) << op.name;
            } else {
                ASSERT_EQ(st, TRAVO_NO_MEMORY) << op.name << ", allocation " << k;
                EXPECT_EQ(TRAVO_get_is_arg_set(), 0) << op.name << ", allocation " << k;
            }
            op.release();
            EXPECT_EQ(travo::host::live_blocks(), live) << op.name << ", allocation " << k;
            if (st == TRAVO_STATUS_OK) break;
            ASSERT_LT(k, 100) << op.name;
        }
    }
    // The defaults are in place before the box is looked at.
    reset();
    travo::host::fail_allocation(2);
    EXPECT_EQ(TRAVO_set_default(), TRAVO_NO_MEMORY);
    EXPECT_EQ(TRAVO_dim, 2u);
    EXPECT_EQ(TRAVO_num_minima, 10u);
}

// A generation that fails once it has replaced the tables leaves no member
// to evaluate, even after an earlier success: evaluation refuses instead of
// reading the half-made tables.
TEST_F(Parameters, FailedGenerationAfterASuccessLeavesNothingToEvaluate) {
    const double x[2] = {0.1, -0.2};
    double g[2];
    for (int k = 1; k <= 10; k++) {
        configure(2, 4, -1, 0.5, 0.2);
        ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
        const MinimaTable earlier = TRAVO_minima;
        const GlobalMinimaList earlier_glob = TRAVO_glob;
        travo::host::fail_allocation(k);
        ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_NO_MEMORY) << k;
        travo::host::fail_allocation(0);
        EXPECT_EQ(TRAVO_get_is_arg_set(), 0) << k;
        EXPECT_EQ(TRAVO_D2_func(x), TRAVO_ERROR_VALUE) << k;
        EXPECT_EQ(TRAVO_D_gradient(x, g), TRAVO_BAD_DERIVATIVE) << k;
        // Generation does not release the earlier tables; the caller does.
        TRAVO_free();
        TRAVO_minima = earlier;
        TRAVO_glob = earlier_glob;
        TRAVO_free();
    }
    // The same after a generation that cannot place its global minimum.
    configure(2, 4, -1, 0.5, 0.2);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    const MinimaTable earlier = TRAVO_minima;
    const GlobalMinimaList earlier_glob = TRAVO_glob;
    TRAVO_global_value = kNaN;
    EXPECT_EQ(TRAVO_arg_generate(1), TRAVO_NO_GLOBAL_MINIMUM);
    EXPECT_EQ(TRAVO_get_is_arg_set(), 0);
    EXPECT_EQ(TRAVO_D2_func(x), TRAVO_ERROR_VALUE);
    TRAVO_free();
    TRAVO_minima = earlier;
    TRAVO_glob = earlier_glob;
}

TEST_F(Parameters, TablesTooLargeForThirtyTwoBitSizesAreRefused) {
    configure(2, 536870912u, -1, 0.5, 0.2);  // m * 8 = 2^32
    const auto before = travo::host::allocation_count();
    EXPECT_EQ(TRAVO_alloc(), TRAVO_NO_MEMORY);
    EXPECT_EQ(TRAVO_arg_generate(1), TRAVO_NO_MEMORY);
    EXPECT_EQ(travo::host::allocation_count(), before);  // refused before asking the host
    EXPECT_EQ(TRAVO_minima.points, nullptr);
    TRAVO_num_minima = 4294967295u;
    EXPECT_EQ(TRAVO_alloc(), TRAVO_NO_MEMORY);
}
