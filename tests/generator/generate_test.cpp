#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "generator/member.hpp"
#include "random/lagfib.hpp"
#include "support/module_fixture.hpp"

using travo::testing::ModuleTest;
using travo::testing::Near10;

class Generation : public ModuleTest {
protected:
    static void expect_row(uint32_t i, std::vector<double> expected) {
        for (size_t c = 0; c < expected.size(); c++) {
            EXPECT_TRUE(Near10(expected[c], TRAVO_minima.points[i][c])) << "row " << i << " coordinate " << c;
        }
    }
};

TEST_F(Generation, DefaultMemberCheckValues) {
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    EXPECT_EQ(TRAVO_get_is_arg_set(), 1);
    expect_row(0, {-0.7626144224, 0.597254085});
    expect_row(1, {-0.1355228527, 0.8235295977});
    expect_row(2, {0.4965432741, -0.9394046274});
    expect_row(9, {-0.2444379433, -0.5879089938});
    EXPECT_TRUE(Near10(9.129983492, TRAVO_get_delta()));
}

TEST_F(Generation, ThreeDimensionalCheckValuesWithAMirroredCoordinate) {
    configure(3, 4, -1, 0.5, 0.2);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    expect_row(0, {-0.8754008708, -0.4373484429, 0.246244968});
    expect_row(1, {-0.4773110724, -0.2688563825, -0.005021698968});
    expect_row(2, {-0.8763639088, 0.6636289775, -0.2102331159});
    expect_row(3, {-0.7942876359, 0.7121882298, -0.1505992413});
    EXPECT_TRUE(Near10(8.442680049, TRAVO_get_delta()));
    EXPECT_TRUE(Near10(0.5, travo::core::norm(3, TRAVO_minima.points[0], TRAVO_minima.points[1])));
}

TEST_F(Generation, TwoMinimaCheckValues) {
    configure(2, 2, -1, 0.9, 0.4);
    ASSERT_EQ(TRAVO_arg_generate(2), TRAVO_STATUS_OK);
    expect_row(0, {0.2030228411, 0.7658001764});
    expect_row(1, {-0.006611221266, -0.1094446807});
    // delta is the last number used: entry n-1 of the second buffer.
    EXPECT_EQ(TRAVO_get_rnd_counter(), 2);
    EXPECT_EQ(TRAVO_get_delta(), 10.0 * TRAVO_get_rnd_num()[1]);
    TRAVO_free();
    ASSERT_EQ(TRAVO_arg_generate(5), TRAVO_STATUS_OK);
    expect_row(0, {-0.9833802491, 0.2801699173});
    expect_row(1, {-0.1129236391, 0.5088734155});
}

TEST_F(Generation, TestNumberIsExaminedFirst) {
    TRAVO_dim = 5000;  // everything else is wrong too
    for (int32_t t : {0, 101, -1}) EXPECT_EQ(TRAVO_arg_generate(t), TRAVO_BAD_TEST_NUMBER) << t;
    TRAVO_dim = 1009;
    EXPECT_EQ(TRAVO_arg_generate(1), TRAVO_BAD_DIMENSION);
}

TEST_F(Generation, LargestDimensionIsAccepted) {
    configure(1008, 3, -1, 0.5, 0.2);
    ASSERT_EQ(TRAVO_arg_generate(100), TRAVO_STATUS_OK);
    EXPECT_TRUE(Near10(0.5, travo::core::norm(1008, TRAVO_minima.points[0], TRAVO_minima.points[1])));
}

TEST_F(Generation, NaNGlobalValueEndsWithNoGlobalMinimum) {
    configure(2, 5, std::numeric_limits<double>::quiet_NaN(), 0.5, 0.2);
    EXPECT_EQ(TRAVO_arg_generate(1), TRAVO_NO_GLOBAL_MINIMUM);
    EXPECT_EQ(TRAVO_get_is_arg_set(), 0);
}

TEST_F(Generation, FailedGenerationLeavesAnEarlierMemberFlagged) {
    configure(2, 5, -1, 0.5, 0.2);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    EXPECT_EQ(TRAVO_arg_generate(0), TRAVO_BAD_TEST_NUMBER);
    EXPECT_EQ(TRAVO_get_is_arg_set(), 1);
}

TEST_F(Generation, SameInputsGiveIdenticalTables) {
    auto snapshot = [] {
        std::vector<double> out;
        for (uint32_t i = 0; i < TRAVO_num_minima; i++) {
            out.insert(out.end(), TRAVO_minima.points[i], TRAVO_minima.points[i] + TRAVO_dim);
            out.push_back(TRAVO_minima.values[i]);
            out.push_back(TRAVO_minima.radii[i]);
            out.push_back(TRAVO_minima.peaks[i]);
            out.push_back(TRAVO_minima.weights[i]);
            out.push_back(TRAVO_minima.radii[i]);
        }
        out.push_back(TRAVO_get_delta());
        return out;
    };
    configure(4, 30, -2, 0.4, 0.15);
    ASSERT_EQ(TRAVO_arg_generate(17), TRAVO_STATUS_OK);
    const auto first = snapshot();
    TRAVO_free();
    ASSERT_EQ(TRAVO_arg_generate(3), TRAVO_STATUS_OK);  // something else in between
    TRAVO_free();
    ASSERT_EQ(TRAVO_arg_generate(17), TRAVO_STATUS_OK);
    const auto second = snapshot();
    ASSERT_EQ(first.size(), second.size());
    EXPECT_EQ(0, std::memcmp(first.data(), second.data(), first.size() * sizeof(double)));
}

// Geometry promised by every successful generation, over many members.
TEST_F(Generation, PlacedMembersKeepTheirDistances) {
    for (uint32_t n : {2u, 3u, 7u}) {
        for (uint32_t m : {2u, 3u, 25u}) {
            for (int32_t t : {1, 42, 100}) {
                configure(n, m, -1.5, 0.6, 0.25);
                ASSERT_EQ(TRAVO_arg_generate(t), TRAVO_STATUS_OK);
                double *const *p = TRAVO_minima.points;
                EXPECT_TRUE(Near10(0.6, travo::core::norm(n, p[0], p[1])));
                for (uint32_t i = 0; i < m; i++) {
                    if (i == 1) continue;
                    for (uint32_t k = 0; k < n; k++) {
                        EXPECT_GE(p[i][k], -1.0);
                        EXPECT_LT(p[i][k], 1.0);
                    }
                    if (i >= 2) {
                        EXPECT_GE(travo::core::norm(n, p[i], p[1]), 0.5 - 1e-10);
                    }
                }
                EXPECT_EQ(TRAVO_coincidence_check(), TRAVO_STATUS_OK);
                EXPECT_EQ(TRAVO_minima.radii[1], 0.25);
                TRAVO_free();
            }
        }
    }
}

TEST_F(Generation, CoincidenceStatuses) {
    configure(2, 5, -1, 0.5, 0.2);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    double *const *p = TRAVO_minima.points;
    const std::vector<double> keep3 = row(3), keep4 = row(4);
    // A local minimizer and the global minimizer closer than 1e-10.
    p[3][0] = p[1][0] + 0.5e-10;
    p[3][1] = p[1][1];
    EXPECT_EQ(TRAVO_coincidence_check(), TRAVO_MINIMA_COINCIDENCE);
    // Both kinds at once: the vertex coincidence is reported.
    p[4][0] = p[0][0];
    p[4][1] = p[0][1];
    EXPECT_EQ(TRAVO_coincidence_check(), TRAVO_PARABOLA_COINCIDENCE);
    std::copy(keep3.begin(), keep3.end(), p[3]);
    EXPECT_EQ(TRAVO_coincidence_check(), TRAVO_PARABOLA_COINCIDENCE);
    std::copy(keep4.begin(), keep4.end(), p[4]);
    p[2][0] = p[4][0];
    p[2][1] = p[4][1];
    EXPECT_EQ(TRAVO_coincidence_check(), TRAVO_MINIMA_COINCIDENCE);
    // Rows 0 and 1 are never compared.
    configure(2, 2, -1, 0.5, 0.2);
    ASSERT_EQ(TRAVO_alloc(), TRAVO_STATUS_OK);
    for (int i = 0; i < 2; i++) TRAVO_minima.points[i][0] = TRAVO_minima.points[i][1] = 0.0;
    EXPECT_EQ(TRAVO_coincidence_check(), TRAVO_STATUS_OK);
}

// A box too small to keep the minimizers 1e-10 apart makes every placement
// coincide; generation gives up instead of drawing forever.
TEST_F(Generation, HopelessCoincidencesEndGeneration) {
    double left[2] = {0.0, 0.0}, right[2] = {1e-9, 1e-9};
    TRAVO_dim = 2;
    TRAVO_domain_left = left;
    TRAVO_domain_right = right;
    TRAVO_num_minima = 60;
    TRAVO_global_value = -1.0;
    TRAVO_global_dist = 3e-10;
    TRAVO_global_radius = 1.2e-10;
    const TravoStatus st = TRAVO_arg_generate(1);
    EXPECT_TRUE(st == TRAVO_PARABOLA_COINCIDENCE || st == TRAVO_MINIMA_COINCIDENCE) << st;
    EXPECT_EQ(TRAVO_get_is_arg_set(), 0);
    TRAVO_free();
    TRAVO_domain_left = TRAVO_domain_right = nullptr;
}

// The core works on explicit objects: two members generated side by side do
// not disturb each other, and match the module-wide interface.
TEST_F(Generation, TwoCoreMembersSideBySide) {
    using namespace travo::core;
    Member a, b;
    RandomSource ra, rb;
    a.dim = b.dim = 2;
    ASSERT_EQ(set_default(a), TRAVO_STATUS_OK);
    ASSERT_EQ(set_default(b), TRAVO_STATUS_OK);
    b.num_minima = 40;
    ASSERT_EQ(arg_generate(a, ra, 1), TRAVO_STATUS_OK);
    ASSERT_EQ(arg_generate(b, rb, 7), TRAVO_STATUS_OK);
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    for (uint32_t i = 0; i < 10; i++) {
        EXPECT_EQ(0, std::memcmp(a.minima.points[i], TRAVO_minima.points[i], 2 * sizeof(double)));
        EXPECT_EQ(a.minima.values[i], TRAVO_minima.values[i]);
        EXPECT_EQ(a.minima.radii[i], TRAVO_minima.radii[i]);
    }
    EXPECT_EQ(a.delta, TRAVO_get_delta());
    EXPECT_NE(a.delta, b.delta);
    free_tables(a);
    free_tables(b);
    domain_free(a);
    domain_free(b);
}
