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
// fails, the operation answers 8, and what it took can still be released.
TEST_F(Parameters, EachFailedAllocationGivesNoMemory) {
    for (int k = 1;; k++) {
        configure(2, 4, -1, 0.5, 0.2);
        const auto live = travo::host::live_blocks();
        travo::host::fail_allocation(k);
        const TravoStatus st = TRAVO_alloc();
        travo::host::fail_allocation(0);
        TRAVO_free();
        EXPECT_EQ(travo::host::live_blocks(), live) << k;
        if (st == TRAVO_STATUS_OK) {
            EXPECT_EQ(k, 1 + 4 + 4 + 1 + 1);
            break;
        }
        ASSERT_EQ(st, TRAVO_NO_MEMORY) << k;
    }
    for (int k = 1; k <= 2; k++) {
        reset();
        travo::host::fail_allocation(k);
        EXPECT_EQ(TRAVO_set_default(), TRAVO_NO_MEMORY) << k;
        EXPECT_EQ(TRAVO_dim, 2u);
        EXPECT_EQ(TRAVO_num_minima, 10u);
        reset();
        TRAVO_dim = 2;
        travo::host::fail_allocation(k);
        EXPECT_EQ(TRAVO_domain_alloc(), TRAVO_NO_MEMORY) << k;
        TRAVO_domain_free();
    }
    for (int k = 1; k <= 10; k++) {
        configure(2, 4, -1, 0.5, 0.2);
        travo::host::fail_allocation(k);
        EXPECT_EQ(TRAVO_arg_generate(1), TRAVO_NO_MEMORY) << k;
        travo::host::fail_allocation(0);
        EXPECT_EQ(TRAVO_get_is_arg_set(), 0);
    }
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
