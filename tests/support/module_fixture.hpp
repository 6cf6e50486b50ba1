// Helpers shared by the tests of the module-wide C interface.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/host_layer.hpp"
#include "travo/travo.h"

namespace travo::testing {

// Releases the module-wide member and box before and after each test, so
// every test starts from an empty state.
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override {
        travo::host::fail_allocation(0);
        reset();
    }
    static void reset() {
        if (TRAVO_minima.points != nullptr) TRAVO_free();
        if (TRAVO_domain_left != nullptr || TRAVO_domain_right != nullptr) TRAVO_domain_free();
        TRAVO_dim = 0;
        TRAVO_num_minima = 0;
    }
    // Defaults with another dimension and minima count over [-1, 1]^n.
    static void configure(uint32_t n, uint32_t m, double g, double d, double r) {
        reset();
        TRAVO_dim = n;
        ASSERT_EQ(TRAVO_domain_alloc(), TRAVO_STATUS_OK);
        TRAVO_num_minima = m;
        TRAVO_global_value = g;
        TRAVO_global_dist = d;
        TRAVO_global_radius = r;
    }
    static std::vector<double> row(uint32_t i) {
        return {TRAVO_minima.points[i], TRAVO_minima.points[i] + TRAVO_dim};
    }
};

// Relative agreement to about ten significant digits.
inline ::testing::AssertionResult Near10(double expected, double actual) {
    const double scale = std::max(1e-12, std::abs(expected));
    if (std::abs(expected - actual) <= 5e-10 * scale) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected " << expected << " got " << actual;
}

}  // namespace travo::testing
