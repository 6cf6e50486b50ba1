// The fast region sizing and coincidence test against the scans, bit for
// bit, on generated and hand-built members.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "generator/fast_paths.hpp"
#include "generator/member.hpp"
#include "generator/spatial_index.hpp"
#include "random/lagfib.hpp"
#include "support/test_member.hpp"
#include "support/module_fixture.hpp"

using travo::core::Path;
using travo::testing::TestMember;
using travo::testing::SameSource;
using travo::testing::SameTables;
namespace core = travo::core;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Box {
    std::vector<double> lo, hi;
};

Box cube(uint32_t n, double lo, double hi) { return {std::vector<double>(n, lo), std::vector<double>(n, hi)}; }

// Sides growing with the coordinate, centred away from the origin.
Box stretched(uint32_t n) {
    Box b;
    for (uint32_t k = 0; k < n; k++) {
        b.lo.push_back(10.0 + 0.5 * k);
        b.hi.push_back(10.0 + 0.5 * k + 1.0 + 0.75 * k);
    }
    return b;
}

double shortest(const Box &b) {
    double s = b.hi[0] - b.lo[0];
    for (size_t k = 1; k < b.lo.size(); k++) s = std::min(s, b.hi[k] - b.lo[k]);
    return s;
}

struct Case {
    Box box;
    uint32_t m;
    int32_t test;
    double radius_share;  // R as a share of d/2
};

// Generates the same member along both paths and compares everything.
void expect_same_generation(const Case &c) {
    const double d = shortest(c.box) / 3.0;
    const double r = 0.5 * d * c.radius_share;
    TestMember ref(c.box.lo, c.box.hi, c.m, -1.0, d, r);
    TestMember fast(c.box.lo, c.box.hi, c.m, -1.0, d, r);
    core::RandomSource rng_ref, rng_fast;
    ASSERT_EQ(core::arg_generate(ref.mb, rng_ref, c.test, Path::Reference),
              core::arg_generate(fast.mb, rng_fast, c.test, Path::Fast));
    EXPECT_TRUE(SameTables(ref.mb, fast.mb));
    EXPECT_TRUE(SameSource(rng_ref, rng_fast));
}

// Runs region sizing along both paths on copies of a hand-built member
// whose tables are set, from the same random state.
void expect_same_basins(const core::Member &built) {
    TestMember ref(std::vector<double>(built.dim, -1.0), std::vector<double>(built.dim, 1.0), built.num_minima,
                    built.global_value, built.global_dist, built.global_radius);
    TestMember fast(std::vector<double>(built.dim, -1.0), std::vector<double>(built.dim, 1.0), built.num_minima,
                     built.global_value, built.global_dist, built.global_radius);
    ref.allocate();
    fast.allocate();
    ref.copy_tables_from(built);
    fast.copy_tables_from(built);
    core::RandomSource rng_ref, rng_fast;
    rng_ref.start(12345);
    rng_ref.refill();
    rng_ref.rnd_counter = static_cast<int32_t>(built.dim);
    rng_fast = rng_ref;
    EXPECT_EQ(core::set_basins_reference(ref.mb, rng_ref), core::set_basins(fast.mb, rng_fast, Path::Fast));
    EXPECT_TRUE(SameTables(ref.mb, fast.mb));
    EXPECT_TRUE(SameSource(rng_ref, rng_fast));
}

// A member built by hand: rows from `rows`, values and weights as
// generation leaves them.
struct HandMember {
    HandMember(const std::vector<std::vector<double>> &rows, double global_radius)
        : own(static_cast<uint32_t>(rows[0].size()), static_cast<uint32_t>(rows.size())) {
        own.mb.global_radius = global_radius;
        own.allocate();
        for (size_t i = 0; i < rows.size(); i++) {
            for (size_t c = 0; c < rows[i].size(); c++) own.mb.minima.points[i][c] = rows[i][c];
            own.mb.minima.weights[i] = i == 1 ? 1.0 : 0.99;
        }
        own.mb.minima.values[0] = 0.0;
        own.mb.minima.values[1] = own.mb.global_value;
    }
    TestMember own;
};

std::vector<std::vector<double>> random_rows(uint32_t m, uint32_t n, uint32_t seed, double lo = -1.0,
                                             double hi = 1.0) {
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> u(lo, hi);
    std::vector<std::vector<double>> rows(m, std::vector<double>(n));
    for (auto &row : rows) {
        for (double &v : row) v = u(gen);
    }
    return rows;
}

}  // namespace

TEST(FastGeneration, GeneratedMembersMatchTheScans) {
    const std::vector<Case> cases = {
        {cube(2, -1, 1), 10, 1, 1.0},        {cube(2, -1, 1), 3000, 7, 1.0},   {cube(2, 0, 1), 2500, 3, 0.2},
        {stretched(2), 2000, 42, 0.6},       {cube(3, -5, 5), 1500, 2, 1.0},   {stretched(3), 1200, 9, 0.3},
        {cube(5, 100, 101.5), 1000, 11, 1.0}, {stretched(7), 800, 100, 0.8},   {cube(10, -1, 1), 700, 5, 1.0},
        {stretched(16), 500, 13, 0.5},       {cube(30, -2, 3), 300, 17, 1.0},  {stretched(50), 200, 21, 0.9},
        {cube(2, -1, 1), 2, 1, 1.0},         {cube(4, -1, 1), 3, 8, 1.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "n=" << c.box.lo.size() << " m=" << c.m << " test=" << c.test);
        expect_same_generation(c);
    }
}

// Generation as the operations run it, with the paths chosen by size,
// against the scans.
TEST(FastGeneration, AutomaticChoiceMatchesTheScans) {
    for (uint32_t n : {2u, 3u, 8u}) {
        for (uint32_t m : {63u, 64u, 65u, 256u, 1000u}) {
            TestMember ref(n, m), automatic(n, m);
            core::RandomSource rng_ref, rng_auto;
            ASSERT_EQ(core::arg_generate(ref.mb, rng_ref, 4, Path::Reference), TRAVO_STATUS_OK);
            ASSERT_EQ(core::arg_generate(automatic.mb, rng_auto, 4), TRAVO_STATUS_OK);
            EXPECT_TRUE(SameTables(ref.mb, automatic.mb)) << "n=" << n << " m=" << m;
            EXPECT_TRUE(SameSource(rng_ref, rng_auto));
        }
    }
}

// Rows on an integer lattice: many neighbours at exactly the same distance,
// and radii after widening that add up exactly to the distance of their
// rows, so regions touch and ties decide nothing but must not change bits.
TEST(FastGeneration, LatticeWithTiesMatchesTheScans) {
    for (uint32_t n : {2u, 3u}) {
        std::vector<std::vector<double>> rows;
        const int side = n == 2 ? 30 : 9;
        for (int a = 0; a < side; a++) {
            for (int b = 0; b < side; b++) {
                if (n == 2) {
                    rows.push_back({double(a), double(b)});
                } else {
                    for (int c = 0; c < side; c++) rows.push_back({double(a), double(b), double(c)});
                }
            }
        }
        for (double big_r : {0.5, 0.25, 1.0}) {
            HandMember hm(rows, big_r);
            expect_same_basins(hm.own.mb);
        }
    }
}

// Clusters with rows much closer than the others, duplicated rows (distance
// 0) and widely different scales in one table.
TEST(FastGeneration, ClustersAndDuplicatesMatchTheScans) {
    auto rows = random_rows(1500, 3, 77);
    for (size_t i = 2; i < rows.size(); i += 7) {
        rows[i] = rows[i - 1];
        rows[i][0] += 1e-9 * double(i % 5);
    }
    for (size_t i = 5; i < rows.size(); i += 31) rows[i] = rows[i - 3];
    for (size_t i = 3; i < rows.size(); i += 97) {
        for (double &v : rows[i]) v *= 1e6;
    }
    for (double big_r : {0.05, 1e-9}) {
        HandMember hm(rows, big_r);
        expect_same_basins(hm.own.mb);
    }
}

// NaN and infinite coordinates or radius: the fast path must give way to
// the scans and so give the same bits, NaNs included.
TEST(FastGeneration, NonFiniteInputsMatchTheScans) {
    const auto base = random_rows(300, 2, 5);
    {
        auto rows = base;
        rows[17][1] = kNaN;
        HandMember hm(rows, 0.05);
        expect_same_basins(hm.own.mb);
    }
    {
        auto rows = base;
        rows[40][0] = kInf;
        HandMember hm(rows, 0.05);
        expect_same_basins(hm.own.mb);
    }
    {
        auto rows = base;
        rows[3][0] = 1e200;
        HandMember hm(rows, 0.05);
        expect_same_basins(hm.own.mb);
    }
    for (double big_r : {kNaN, kInf, 1e300}) {
        HandMember hm(base, big_r);
        expect_same_basins(hm.own.mb);
    }
}

// A NaN box makes NaN rows; generation must still agree (here it ends
// without a global minimum since every distance is NaN).
TEST(FastGeneration, NaNBoxMatchesTheScans) {
    Box b = cube(2, -1, 1);
    b.hi[1] = kNaN;
    const Case c{b, 200, 3, 1.0};
    TestMember ref(c.box.lo, c.box.hi, c.m, -1.0, 0.5, 0.2);
    TestMember fast(c.box.lo, c.box.hi, c.m, -1.0, 0.5, 0.2);
    core::RandomSource rng_ref, rng_fast;
    EXPECT_EQ(core::arg_generate(ref.mb, rng_ref, c.test, Path::Reference),
              core::arg_generate(fast.mb, rng_fast, c.test, Path::Fast));
    EXPECT_TRUE(SameTables(ref.mb, fast.mb));
}

// The widening reads radii raised earlier in the same pass: a chain of
// rows, each widened only thanks to the one before it, comes out the same.
TEST(FastGeneration, WideningChainMatchesTheScans) {
    std::vector<std::vector<double>> rows = {{0.0, 0.0}, {100.0, 100.0}};
    double x = 1.0;
    for (int i = 0; i < 200; i++) {
        rows.push_back({x, 0.0});
        x += 1.0 + 0.01 * (i % 7);
    }
    HandMember hm(rows, 1.0);
    expect_same_basins(hm.own.mb);
}

// The coincidence test: the first failing result of the scan, for tables
// with and without coincidences of either kind.
TEST(FastCoincidence, MatchesTheScan) {
    struct Variant {
        const char *name;
        void (*apply)(std::vector<std::vector<double>> &);
        TravoStatus expected;
    };
    const Variant variants[] = {
        {"none", [](auto &) {}, TRAVO_STATUS_OK},
        {"vertex", [](auto &r) { r[500] = r[0]; }, TRAVO_PARABOLA_COINCIDENCE},
        {"vertex within 1e-10", [](auto &r) { r[77] = r[0], r[77][1] += 5e-11; }, TRAVO_PARABOLA_COINCIDENCE},
        {"pair", [](auto &r) { r[900] = r[300]; }, TRAVO_MINIMA_COINCIDENCE},
        {"pair within 1e-10", [](auto &r) { r[901] = r[12], r[901][0] += 7e-11; }, TRAVO_MINIMA_COINCIDENCE},
        {"global and local", [](auto &r) { r[999] = r[1]; }, TRAVO_MINIMA_COINCIDENCE},
        {"both kinds", [](auto &r) { r[400] = r[401], r[600] = r[0]; }, TRAVO_PARABOLA_COINCIDENCE},
        {"pair just apart", [](auto &r) { r[902] = r[13], r[902][1] += 1.5e-10; }, TRAVO_STATUS_OK},
        {"vertex and global only", [](auto &r) { r[1] = r[0]; }, TRAVO_STATUS_OK},
        {"pair apart across axes", [](auto &r) {
             r[903] = r[14];
             for (double &v : r[903]) v += 6e-11;
         },
         TRAVO_STATUS_OK},
        {"NaN row", [](auto &r) { r[50][2] = kNaN; }, TRAVO_STATUS_OK},
        {"NaN row and pair", [](auto &r) { r[50][0] = kNaN, r[70] = r[71]; }, TRAVO_MINIMA_COINCIDENCE},
        {"infinite rows", [](auto &r) { r[60][1] = kInf, r[61][1] = kInf; }, TRAVO_STATUS_OK},
    };
    for (const Variant &v : variants) {
        for (uint32_t n : {3u, 12u}) {
            SCOPED_TRACE(::testing::Message() << v.name << " n=" << n);
            auto rows = random_rows(1000, n, 99);
            v.apply(rows);
            HandMember hm(rows, 0.05);
            EXPECT_EQ(core::coincidence_check_reference(hm.own.mb), v.expected);
            EXPECT_EQ(core::coincidence_check(hm.own.mb, Path::Fast), v.expected);
            EXPECT_EQ(core::coincidence_check(hm.own.mb), v.expected);
        }
    }
}

// Rows at exactly 1e-10 apart on one axis are not coincident (the test is
// strict); the sweep must still look at them.
TEST(FastCoincidence, DistanceOfExactlyTheTolerance) {
    auto rows = random_rows(200, 2, 3, 0.0, 1.0);
    rows[150] = {0.0, 0.5};
    rows[151] = {1e-10, 0.5};
    rows[152] = {0.25, 0.5};
    rows[153] = {0.25, 0.5 + 9.9999e-11};
    HandMember hm(rows, 0.05);
    EXPECT_EQ(core::coincidence_check_reference(hm.own.mb), TRAVO_MINIMA_COINCIDENCE);
    EXPECT_EQ(core::coincidence_check(hm.own.mb, Path::Fast), TRAVO_MINIMA_COINCIDENCE);
    hm.own.mb.minima.points[153][1] = 0.5 + 1e-10;
    const TravoStatus expected = core::coincidence_check_reference(hm.own.mb);
    EXPECT_EQ(core::coincidence_check(hm.own.mb, Path::Fast), expected);
}

TEST(FastCoincidence, SmallTables) {
    for (uint32_t m : {2u, 3u}) {
        auto rows = random_rows(m, 2, 1);
        rows[m - 1] = rows[1];
        HandMember hm(rows, 0.05);
        EXPECT_EQ(core::coincidence_check(hm.own.mb, Path::Fast), core::coincidence_check_reference(hm.own.mb));
    }
}

// The tree's neighbour queries against plain loops, with the starting value
// winning when nothing is smaller.
TEST(KdTree, NeighbourQueriesMatchLoops) {
    for (uint32_t n : {1u, 2u, 6u}) {
        auto rows = random_rows(700, n, 8 + n);
        std::vector<const double *> refs;
        for (auto &r : rows) refs.push_back(r.data());
        core::KdTree tree(n, refs.data(), 0, static_cast<uint32_t>(rows.size()));
        std::vector<double> radii(rows.size());
        for (size_t i = 0; i < radii.size(); i++) radii[i] = 0.01 * double(i % 13) - 0.02;
        tree.set_radii(radii.data());
        for (uint32_t i = 0; i < rows.size(); i += 3) {
            double nearest = 1e100, gap = 1e100;
            for (uint32_t j = 0; j < rows.size(); j++) {
                if (j == i) continue;
                const double dist = core::norm(n, rows[i].data(), rows[j].data());
                nearest = std::min(nearest, dist);
                gap = std::min(gap, dist - radii[j]);
            }
            EXPECT_TRUE(travo::testing::same_bits(tree.nearest(rows[i].data(), i, 1e100), nearest));
            EXPECT_TRUE(travo::testing::same_bits(tree.nearest_gap(rows[i].data(), i, 1e100), gap));
            EXPECT_EQ(tree.nearest(rows[i].data(), i, 1e-300), 1e-300);
        }
        // Raising one radius is seen by the next query.
        tree.raise_radius(5, 50.0);
        EXPECT_EQ(tree.nearest_gap(rows[6].data(), 6, 1e100), core::norm(n, rows[6].data(), rows[5].data()) - 50.0);
    }
}

// The pruning bound: a subtree is skipped when the squared distance to its
// box exceeds reach2(b), which must imply that every row in it is farther
// than b. Taking b as the nearest row's computed distance, the tightest
// case, the box distance must never exceed reach2(b); lattice rows put box
// corners exactly on rows.
TEST(KdTree, PruningBoundNeverSkipsANearerRow) {
    for (bool lattice : {true, false}) {
        std::vector<std::vector<double>> rows;
        if (lattice) {
            for (int a = 0; a < 25; a++) {
                for (int b = 0; b < 25; b++) rows.push_back({double(a) * 0.1, double(b) * 0.3, 1.0});
            }
        } else {
            rows = random_rows(600, 3, 4);
        }
        std::vector<const double *> refs;
        for (auto &r : rows) refs.push_back(r.data());
        const core::KdTree tree(3, refs.data(), 0, static_cast<uint32_t>(rows.size()));
        const auto queries = lattice ? rows : random_rows(50, 3, 6);
        for (size_t k = 0; k < tree.nodes().size(); k++) {
            const auto &nd = tree.nodes()[k];
            for (const auto &q : queries) {
                double nearest = 1e100;
                for (uint32_t s = nd.begin; s < nd.end; s++) {
                    nearest = std::min(nearest, core::norm(3, q.data(), tree.slot_coords(s)));
                }
                ASSERT_LE(tree.box_distance2(static_cast<uint32_t>(k), q.data()), core::KdTree::reach2(nearest));
            }
        }
    }
    EXPECT_EQ(core::KdTree::reach2(-1e-300), -1.0);
    EXPECT_GT(core::KdTree::reach2(0.0), 0.0);
}

// The module-wide interface generates through the automatic choice; its
// tables equal those of the scans.
class ModuleGeneration : public travo::testing::ModuleTest {};

TEST_F(ModuleGeneration, TablesMatchTheScans) {
    configure(2, 1500, -1.0, 0.5, 0.2);
    ASSERT_EQ(TRAVO_arg_generate(9), TRAVO_STATUS_OK);
    TestMember ref(std::vector<double>(2, -1.0), std::vector<double>(2, 1.0), 1500, -1.0, 0.5, 0.2);
    core::RandomSource rng;
    ASSERT_EQ(core::arg_generate(ref.mb, rng, 9, Path::Reference), TRAVO_STATUS_OK);
    core::Member view = ref.mb;
    view.minima = TRAVO_minima;
    view.glob = TRAVO_glob;
    view.delta = TRAVO_get_delta();
    view.isArgSet = TRAVO_get_is_arg_set();
    EXPECT_TRUE(SameTables(ref.mb, view));
    EXPECT_EQ(TRAVO_get_rnd_counter(), rng.rnd_counter);
    EXPECT_EQ(TRAVO_coincidence_check(), TRAVO_STATUS_OK);
    TRAVO_minima.points[1200][0] = TRAVO_minima.points[700][0];
    TRAVO_minima.points[1200][1] = TRAVO_minima.points[700][1];
    EXPECT_EQ(TRAVO_coincidence_check(), TRAVO_MINIMA_COINCIDENCE);
}
