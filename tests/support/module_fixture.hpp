// Helpers of the core and module-wide tests: test-owned core members, probe points, comparisons bit for bit, and
// a fixture that empties the module-wide state around each test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "generator/fast_paths.hpp"
#include "generator/member.hpp"
#include "host/host_layer.hpp"
#include "random/lagfib.hpp"
#include "travo/travo.h"

namespace travo::testing {

using Rows = std::vector<std::vector<double>>;

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// The same doubles, bit for bit (NaN included).
inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
inline bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Relative agreement to about ten significant digits.
inline ::testing::AssertionResult Near10(double expected, double actual) {
    if (std::abs(expected - actual) <= 5e-10 * std::max(1e-12, std::abs(expected))) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "expected " << expected << " got " << actual;
}

// Uniform rows in [lo, hi)^n.
inline Rows random_rows(uint32_t m, uint32_t n, uint32_t seed, double lo = -1.0, double hi = 1.0) {
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> u(lo, hi);
    Rows rows(m, std::vector<double>(n));
    for (auto &row : rows) std::generate(row.begin(), row.end(), [&] { return u(gen); });
    return rows;
}

// Points that probe every part of a member: random in the box and a little beyond, the minimizers, on and one ulp
// either side of the spheres, just past the centre ball, either side of the box tolerance, non-finite.
inline Rows probes(const core::Member &mb, uint32_t random_count, uint32_t seed) {
    const uint32_t n = mb.dim, m = mb.num_minima;
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const double *left = mb.domain_left, *right = mb.domain_right;
    Rows out(random_count, std::vector<double>(n));
    for (auto &x : out) {
        for (uint32_t c = 0; c < n; c++) x[c] = left[c] - 5e-11 + u(gen) * (right[c] - left[c] + 1e-10);
    }
    for (uint32_t k = 0; k < m; k += std::max(1u, m / 200)) {
        const double *p = mb.minima.points[k], rho = mb.minima.radii[k];
        const uint32_t axis = static_cast<uint32_t>(gen() % n);
        for (double t : {0.0, rho, std::nextafter(rho, 0.0), std::nextafter(rho, 2 * rho + 1), 1e-10, 0.5 * rho, -rho,
                         -std::nextafter(rho, 0.0), -1e-10}) {
            out.emplace_back(p, p + n);
            out.back()[axis] += t;
        }
        out.emplace_back(p, p + n);
        for (uint32_t c = 0; c < n; c++) out.back()[c] += (c % 2 ? rho : -rho) / std::sqrt(double(n));
    }
    const double lo = mb.domain_left[0];
    for (double v : {kNaN, kInf, -1e200, lo - 0.5e-10, lo - 2e-10}) {
        out.emplace_back(mb.minima.points[1], mb.minima.points[1] + n);
        out.back()[0] = v;
    }
    return out;
}

// A core member owned by a test, released when it goes away.
struct TestMember {
    core::Member mb;
    core::RandomSource rng;

    TestMember(const std::vector<double> &lo, const std::vector<double> &hi, uint32_t m, double g, double d, double r) {
        mb.dim = static_cast<uint32_t>(lo.size()), mb.num_minima = m;
        EXPECT_EQ(core::domain_alloc(mb), TRAVO_STATUS_OK);
        std::copy(lo.begin(), lo.end(), mb.domain_left);
        std::copy(hi.begin(), hi.end(), mb.domain_right);
        mb.global_value = g, mb.global_dist = d, mb.global_radius = r;
    }
    // The box [-1, 1]^n, by default with d a third of the side and R half of d.
    TestMember(uint32_t n, uint32_t m, double g = -1.0, double d = 2.0 / 3.0, double r = 1.0 / 3.0)
        : TestMember(std::vector<double>(n, -1.0), std::vector<double>(n, 1.0), m, g, d, r) {}
    // Built by hand over [-1, 1]^n: the given rows, values and weights as generation leaves them.
    TestMember(const Rows &rows, double global_radius)
        : TestMember(static_cast<uint32_t>(rows[0].size()), static_cast<uint32_t>(rows.size())) {
        mb.global_radius = global_radius;
        EXPECT_EQ(core::alloc_tables(mb), TRAVO_STATUS_OK);
        for (size_t i = 0; i < rows.size(); i++) {
            std::copy(rows[i].begin(), rows[i].end(), mb.minima.points[i]);
            mb.minima.weights[i] = i == 1 ? 1.0 : 0.99;
        }
        mb.minima.values[0] = 0.0, mb.minima.values[1] = mb.global_value;
    }
    ~TestMember() {
        core::free_tables(mb);
        core::domain_free(mb);
    }
    TestMember(const TestMember &) = delete;
    TestMember &operator=(const TestMember &) = delete;

    TravoStatus generate(int32_t test, core::Path path = core::Path::Automatic, const core::Execution &execution = {}) {
        core::free_tables(mb);
        return core::arg_generate(mb, rng, test, path, nullptr, execution);
    }
};

// The same sizes, tables, global list, delta and isArgSet, bit for bit.
inline ::testing::AssertionResult SameTables(const core::Member &a, const core::Member &b) {
    const uint32_t m = a.num_minima;
    const auto same = [m](const auto *x, const auto *y) { return std::memcmp(x, y, m * sizeof *x) == 0; };
    bool rows = a.dim == b.dim && m == b.num_minima;
    for (uint32_t i = 0; rows && i < m; i++) {
        rows = std::memcmp(a.minima.points[i], b.minima.points[i], a.dim * sizeof(double)) == 0;
    }
    if (rows && same(a.minima.values, b.minima.values) && same(a.minima.weights, b.minima.weights) &&
        same(a.minima.peaks, b.minima.peaks) && same(a.minima.radii, b.minima.radii) && a.glob.count == b.glob.count &&
        same(a.glob.indices, b.glob.indices) && same_bits(a.delta, b.delta) && a.isArgSet == b.isArgSet) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "sizes, tables, global lists, delta or isArgSet differ";
}

// The module-wide member seen as a core member (sharing its tables).
inline core::Member module_view() {
    return {TRAVO_dim,         TRAVO_num_minima,       TRAVO_domain_left,  TRAVO_domain_right,
            TRAVO_global_dist, TRAVO_global_radius,    TRAVO_global_value, TRAVO_minima,
            TRAVO_glob,        TRAVO_get_is_arg_set(), TRAVO_get_delta()};
}

// Releases the module-wide member and box before and after each test.
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
    // A member over [-1, 1]^n with the given parameters, not yet generated.
    static void configure(uint32_t n, uint32_t m, double g, double d, double r) {
        reset();
        TRAVO_dim = n;
        ASSERT_EQ(TRAVO_domain_alloc(), TRAVO_STATUS_OK);
        TRAVO_num_minima = m;
        TRAVO_global_value = g, TRAVO_global_dist = d, TRAVO_global_radius = r;
    }
};

}  // namespace travo::testing
