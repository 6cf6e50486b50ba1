#include <cmath>
#include <vector>

#include "generator/member.hpp"
#include "random/lagfib.hpp"
#include "support/module_fixture.hpp"

using travo::testing::ModuleTest;
using travo::testing::Near10;

class Basins : public ModuleTest {
protected:
    static void expect_all(const std::vector<double> &expected, const double *actual, const char *what) {
        for (size_t i = 0; i < expected.size(); i++) {
            EXPECT_TRUE(Near10(expected[i], actual[i])) << what << "[" << i << "]";
        }
    }
    static std::vector<uint32_t> indices() {
        return {TRAVO_glob.indices, TRAVO_glob.indices + TRAVO_num_minima};
    }
};

TEST_F(Basins, DefaultMemberCheckValues) {
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    expect_all({0.33, 0.3333333333, 0.6768267768, 0.07575647287, 0.1350953613, 0.363590233,
                0.07575647287, 0.1706107216, 0.3479007496, 0.1350953613},
               TRAVO_minima.radii, "radii");
    expect_all({0, 0, 1.060439262, 0.085111501, 0.2602774154, 0.5613819964, 0.08227170306, 0.3232602332,
                0.6509945484, 0.2617708606},
               TRAVO_minima.peaks, "peaks");
    expect_all({0, -1, 0.6552107212, 1.876544797, 0.9331217827, -0.04401046144, 1.528956071,
                1.540585799, 1.58603273, 1.080109076},
               TRAVO_minima.values, "values");
    EXPECT_EQ(TRAVO_glob.count, 1u);
    EXPECT_EQ(indices(), (std::vector<uint32_t>{1, 9, 8, 7, 6, 5, 4, 3, 2, 0}));
    EXPECT_EQ(TRAVO_get_rnd_counter(), 10);
    EXPECT_EQ(TRAVO_minima.radii[1], TRAVO_global_radius);
}

TEST_F(Basins, ThreeDimensionalCheckValues) {
    configure(3, 4, -1, 0.5, 0.2);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    expect_all({0.297, 0.2, 0.05567532069, 0.05567532069}, TRAVO_minima.radii, "radii");
    expect_all({0, 0, 0.07501357342, 0.07955236032}, TRAVO_minima.peaks, "peaks");
    expect_all({0, -1, 1.215896513, 1.273331286}, TRAVO_minima.values, "values");
    EXPECT_EQ(indices(), (std::vector<uint32_t>{1, 3, 2, 0}));
}

// m = 2: nothing is drawn; the vertex is widened only when R < d/2 - 1e-10.
TEST_F(Basins, TwoMinima) {
    for (int32_t t : {1, 2, 5, 99}) {
        configure(2, 2, -1, 0.9, 0.4);
        ASSERT_EQ(TRAVO_arg_generate(t), TRAVO_STATUS_OK);
        const double d = travo::core::norm(2, TRAVO_minima.points[0], TRAVO_minima.points[1]);
        EXPECT_EQ(TRAVO_minima.radii[0], 0.99 * (d - 0.4));
        EXPECT_TRUE(Near10(0.495, TRAVO_minima.radii[0]));
        EXPECT_EQ(TRAVO_minima.radii[1], 0.4);
        EXPECT_EQ(TRAVO_minima.peaks[0], 0.0);
        EXPECT_EQ(TRAVO_minima.peaks[1], 0.0);
        EXPECT_EQ(TRAVO_minima.values[1], -1.0);
        EXPECT_EQ(indices(), (std::vector<uint32_t>{1, 0}));
        EXPECT_EQ(TRAVO_get_rnd_counter(), 2);
    }
    configure(2, 2, -1, 0.9, 0.45);  // R = d/2: no widening
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    const double d = travo::core::norm(2, TRAVO_minima.points[0], TRAVO_minima.points[1]);
    EXPECT_EQ(TRAVO_minima.radii[0], 0.99 * (0.5 * d));
}

// Hand-placed rows exercise the list of global minimizers, its tolerance and
// the widening margin, with the random source under test control.
TEST_F(Basins, HandPlacedRows) {
    using namespace travo::core;
    Member mb;
    RandomSource rng;
    mb.dim = 2;
    mb.num_minima = 5;
    ASSERT_EQ(domain_alloc(mb), TRAVO_STATUS_OK);
    mb.global_value = -1.0;
    mb.global_radius = 0.1;
    ASSERT_EQ(alloc_tables(mb), TRAVO_STATUS_OK);
    const double pts[5][2] = {{0, 0}, {0.5, 0}, {-0.5, 0}, {0, 0.5}, {0, -0.9}};
    for (int i = 0; i < 5; i++) {
        mb.minima.points[i][0] = pts[i][0];
        mb.minima.points[i][1] = pts[i][1];
        mb.minima.weights[i] = i == 1 ? 1.0 : 0.99;
    }
    mb.minima.values[0] = 0.0;
    mb.minima.values[1] = -1.0;
    rng.start(1);
    rng.refill();
    rng.rnd_counter = 2;
    ASSERT_EQ(set_basins(mb, rng), TRAVO_STATUS_OK);
    EXPECT_EQ(std::vector<uint32_t>(mb.glob.indices, mb.glob.indices + 5), (std::vector<uint32_t>{1, 4, 3, 2, 0}));
    EXPECT_EQ(rng.rnd_counter, 5);
    // Row 0 stays at half its nearest distance; row 4, far below, widens
    // to the edge of row 0's region; the global region stays R.
    EXPECT_EQ(mb.minima.radii[0], 0.99 * 0.25);
    EXPECT_EQ(mb.minima.radii[4], 0.99 * (0.9 - 0.25));
    EXPECT_EQ(mb.minima.radii[1], 0.1);

    // The list's tolerance includes both ends: row 1's value at g +- 1e-10
    // is global, one step beyond is not, and then nothing is global.
    for (double off : {1e-10, -1e-10}) {
        mb.minima.values[1] = -1.0 + off;
        rng.rnd_counter = 2;
        EXPECT_EQ(set_basins(mb, rng), TRAVO_STATUS_OK) << off;
        EXPECT_EQ(mb.glob.count, 1u);
    }
    mb.minima.values[1] = -1.0 + 2e-10;
    rng.rnd_counter = 2;
    EXPECT_EQ(set_basins(mb, rng), TRAVO_NO_GLOBAL_MINIMUM);
    EXPECT_EQ(mb.glob.count, 0u);
    EXPECT_EQ(std::vector<uint32_t>(mb.glob.indices, mb.glob.indices + 5), (std::vector<uint32_t>{4, 3, 2, 1, 0}));
    free_tables(mb);
    domain_free(mb);
}

TEST_F(Basins, PeaksContinueAcrossARefill) {
    // n = 2 leaves the counter at 2; 1100 minima draw 1098 peaks, so the
    // last ones come from a refilled buffer.
    configure(2, 1100, -1, 0.5, 0.2);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    EXPECT_EQ(TRAVO_get_rnd_counter(), (2 + 1098) - 1009);
    // Independent recomputation of the last peak from the refilled buffer.
    const uint32_t i = 1099;
    const double dist = travo::core::norm(2, TRAVO_minima.points[0], TRAVO_minima.points[i]);
    const double gap = TRAVO_minima.radii[i] - dist;
    const double edge = gap * gap;
    const double u = TRAVO_get_rnd_num()[TRAVO_get_rnd_counter() - 1];
    const double a = u * (edge + 1.0), b = u * TRAVO_minima.radii[i] + TRAVO_minima.radii[i];
    EXPECT_EQ(TRAVO_minima.peaks[i], a < b ? a : b);
    // Regions never overlap.
    for (uint32_t p = 0; p < TRAVO_num_minima; p += 37) {
        for (uint32_t q = p + 1; q < TRAVO_num_minima; q++) {
            EXPECT_LE(TRAVO_minima.radii[p] + TRAVO_minima.radii[q],
                      travo::core::norm(2, TRAVO_minima.points[p], TRAVO_minima.points[q]) + 1e-12);
        }
    }
}
