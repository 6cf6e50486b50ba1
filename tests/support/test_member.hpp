// Core members owned by the fast-path comparison tests: parameters, box and
// tables, released at the end of the scope, plus whole-table comparisons
// bit for bit.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "generator/member.hpp"
#include "random/lagfib.hpp"

namespace travo::testing {

class TestMember {
public:
    // A member over the box [lo[k], hi[k]] with the given parameters; the
    // tables are not allocated yet.
    TestMember(const std::vector<double> &lo, const std::vector<double> &hi, uint32_t m, double g, double d,
                double r) {
        mb.dim = static_cast<uint32_t>(lo.size());
        mb.num_minima = m;
        EXPECT_EQ(core::domain_alloc(mb), TRAVO_STATUS_OK);
        for (uint32_t k = 0; k < mb.dim; k++) {
            mb.domain_left[k] = lo[k];
            mb.domain_right[k] = hi[k];
        }
        mb.global_value = g;
        mb.global_dist = d;
        mb.global_radius = r;
    }
    // The unit box [-1, 1]^n with d a third of the side and R half of d.
    TestMember(uint32_t n, uint32_t m)
        : TestMember(std::vector<double>(n, -1.0), std::vector<double>(n, 1.0), m, -1.0, 2.0 / 3.0, 1.0 / 3.0) {}
    ~TestMember() {
        core::free_tables(mb);
        core::domain_free(mb);
    }
    TestMember(const TestMember &) = delete;
    TestMember &operator=(const TestMember &) = delete;

    // Tables for m rows, for members built by hand.
    void allocate() { ASSERT_EQ(core::alloc_tables(mb), TRAVO_STATUS_OK); }

    // Copies the tables' contents (not the references) from another member
    // of the same size.
    void copy_tables_from(const core::Member &o) {
        const uint32_t m = mb.num_minima, n = mb.dim;
        for (uint32_t i = 0; i < m; i++) std::memcpy(mb.minima.points[i], o.minima.points[i], n * sizeof(double));
        std::memcpy(mb.minima.values, o.minima.values, m * sizeof(double));
        std::memcpy(mb.minima.weights, o.minima.weights, m * sizeof(double));
        std::memcpy(mb.minima.peaks, o.minima.peaks, m * sizeof(double));
        std::memcpy(mb.minima.radii, o.minima.radii, m * sizeof(double));
        std::memcpy(mb.glob.indices, o.glob.indices, m * sizeof(uint32_t));
        mb.glob.count = o.glob.count;
    }

    core::Member mb;
};

inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Every table of two members of the same size, byte for byte.
inline ::testing::AssertionResult SameTables(const core::Member &a, const core::Member &b) {
    if (a.dim != b.dim || a.num_minima != b.num_minima) return ::testing::AssertionFailure() << "sizes differ";
    const uint32_t m = a.num_minima, n = a.dim;
    for (uint32_t i = 0; i < m; i++) {
        if (std::memcmp(a.minima.points[i], b.minima.points[i], n * sizeof(double)) != 0) {
            return ::testing::AssertionFailure() << "points differ in row " << i;
        }
    }
    const std::pair<const char *, std::pair<const double *, const double *>> tables[] = {
        {"values", {a.minima.values, b.minima.values}},
        {"weights", {a.minima.weights, b.minima.weights}},
        {"peaks", {a.minima.peaks, b.minima.peaks}},
        {"radii", {a.minima.radii, b.minima.radii}}};
    for (const auto &[name, t] : tables) {
        for (uint32_t i = 0; i < m; i++) {
            if (!same_bits(t.first[i], t.second[i])) {
                return ::testing::AssertionFailure()
                       << name << " differ in row " << i << ": " << t.first[i] << " vs " << t.second[i];
            }
        }
    }
    if (a.glob.count != b.glob.count) return ::testing::AssertionFailure() << "global counts differ";
    if (std::memcmp(a.glob.indices, b.glob.indices, m * sizeof(uint32_t)) != 0) {
        return ::testing::AssertionFailure() << "global lists differ";
    }
    if (!same_bits(a.delta, b.delta) || a.isArgSet != b.isArgSet) {
        return ::testing::AssertionFailure() << "delta or isArgSet differ";
    }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult SameSource(const core::RandomSource &a, const core::RandomSource &b) {
    if (a.rnd_counter != b.rnd_counter) return ::testing::AssertionFailure() << "rnd_counter differs";
    if (std::memcmp(a.rnd_num, b.rnd_num, sizeof a.rnd_num) != 0) {
        return ::testing::AssertionFailure() << "buffers differ";
    }
    if (std::memcmp(a.ran_u, b.ran_u, sizeof a.ran_u) != 0) return ::testing::AssertionFailure() << "states differ";
    return ::testing::AssertionSuccess();
}

}  // namespace travo::testing
