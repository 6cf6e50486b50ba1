// The region lookups (square-root-free scan and RegionIndex) against the
// reference scan, bit for bit, and evaluation through them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "evaluation/evaluate.hpp"
#include "evaluation/region_index.hpp"
#include "generator/fast_paths.hpp"
#include "random/lagfib.hpp"
#include "support/test_member.hpp"
#include "support/module_fixture.hpp"
#include "travo/travo.hpp"

using travo::core::Kind;
using travo::core::RegionIndex;
using travo::testing::TestMember;
using travo::testing::same_bits;
namespace core = travo::core;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The three lookups agree on the region and, when there is one, on the
// distance's bits.
::testing::AssertionResult SameLookup(const core::Member &mb, const RegionIndex &index, const double *x) {
    double r_ref = -1.0, r_scan = -1.0, r_index = -1.0;
    const uint32_t k_ref = core::find_region(mb, x, &r_ref);
    const uint32_t k_scan = core::find_region_scan(mb, x, &r_scan);
    const uint32_t k_index = index.find(mb, x, &r_index);
    if (k_ref != k_scan || k_ref != k_index) {
        return ::testing::AssertionFailure() << "regions " << k_ref << " (reference), " << k_scan << " (scan), "
                                             << k_index << " (index)";
    }
    if (!same_bits(r_ref, r_scan) || !same_bits(r_ref, r_index)) {
        return ::testing::AssertionFailure() << "distances " << r_ref << ", " << r_scan << ", " << r_index;
    }
    return ::testing::AssertionSuccess();
}

// Values, gradients and Hessian through the index against the reference
// lookup, bit for bit.
::testing::AssertionResult SameEvaluation(const core::Member &mb, const RegionIndex &index, const double *x) {
    const core::Site ref = core::locate_reference(mb, x);
    const uint32_t n = mb.dim;
    for (Kind kind : {Kind::ND, Kind::D, Kind::D2}) {
        const double want = core::value(kind, ref);
        if (!same_bits(want, core::value_at(mb, index, kind, x)) || !same_bits(want, core::value_at(mb, kind, x))) {
            return ::testing::AssertionFailure() << "value of kind " << int(kind) << " differs";
        }
    }
    std::vector<double> g(n), h(std::size_t(n) * n);
    std::vector<double *> rows(n);
    for (uint32_t i = 0; i < n; i++) rows[i] = &h[std::size_t(i) * n];
    for (Kind kind : {Kind::D, Kind::D2}) {
        core::gradient(mb, index, kind, x, g.data());
        for (uint32_t i = 1; i <= n; i++) {
            if (!same_bits(g[i - 1], core::first_derivative(kind, i, ref))) {
                return ::testing::AssertionFailure() << "gradient entry " << i << " differs";
            }
        }
    }
    core::hessian(mb, index, x, rows.data());
    for (uint32_t i = 1; i <= n; i++) {
        for (uint32_t j = 1; j <= n; j++) {
            if (!same_bits(rows[i - 1][j - 1], core::second_derivative(i, j, ref))) {
                return ::testing::AssertionFailure() << "Hessian entry " << i << "," << j << " differs";
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// Points that probe every part of a member: random in the box and a little
// beyond, the minimizers and the vertex, points on and around the spheres,
// and non-finite coordinates.
std::vector<std::vector<double>> probes(const core::Member &mb, uint32_t random_count, uint32_t seed) {
    const uint32_t n = mb.dim, m = mb.num_minima;
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<std::vector<double>> out;
    for (uint32_t t = 0; t < random_count; t++) {
        std::vector<double> x(n);
        for (uint32_t c = 0; c < n; c++) {
            const double lo = mb.domain_left[c], hi = mb.domain_right[c];
            x[c] = lo - 5e-11 + u(gen) * (hi - lo + 1e-10);
        }
        out.push_back(x);
    }
    const uint32_t step = std::max(1u, m / 200);
    for (uint32_t k = 0; k < m; k += step) {
        const double *p = mb.minima.points[k];
        const double rho = mb.minima.radii[k];
        out.emplace_back(p, p + n);
        // Along a random axis, on the sphere as near as rounding allows, and
        // one ulp either side of it; and just past the 1e-10 centre ball.
        const uint32_t axis = static_cast<uint32_t>(gen() % n);
        for (double target : {rho, std::nextafter(rho, 0.0), std::nextafter(rho, 2.0 * rho + 1.0), 1e-10,
                              0.5 * rho}) {
            std::vector<double> x(p, p + n);
            x[axis] = p[axis] + target;
            out.push_back(x);
            x[axis] = p[axis] - target;
            out.push_back(x);
        }
        // Diagonal direction, scaled to the radius.
        std::vector<double> x(p, p + n);
        const double step_len = rho / std::sqrt(double(n));
        for (uint32_t c = 0; c < n; c++) x[c] += (c % 2 ? step_len : -step_len);
        out.push_back(x);
    }
    std::vector<double> x(mb.minima.points[1], mb.minima.points[1] + n);
    x[0] = kNaN;
    out.push_back(x);
    x[0] = kInf;
    out.push_back(x);
    x[0] = -1e200;
    out.push_back(x);
    return out;
}

// Every layout of the index, the chosen one and both imposed.
void expect_same_everywhere(const core::Member &mb, uint32_t random_count, uint32_t seed, bool evaluate) {
    const auto points = probes(mb, random_count, seed);
    for (auto layout : {RegionIndex::Layout::Chosen, RegionIndex::Layout::Tree, RegionIndex::Layout::Rows}) {
        const RegionIndex index(mb, layout);
        for (const auto &x : points) {
            ASSERT_TRUE(SameLookup(mb, index, x.data())) << "layout " << int(layout);
            if (evaluate && layout == RegionIndex::Layout::Chosen) {
                ASSERT_TRUE(SameEvaluation(mb, index, x.data()));
            }
        }
    }
}

// A member built by hand over [-100, 100]^n: rows and radii given, values
// simple, marked as generated so that evaluation runs.
struct HandMember {
    HandMember(const std::vector<std::vector<double>> &rows, const std::vector<double> &radii)
        : own(std::vector<double>(rows[0].size(), -100.0), std::vector<double>(rows[0].size(), 100.0),
              static_cast<uint32_t>(rows.size()), -1.0, 1.0, 0.5) {
        own.allocate();
        for (size_t i = 0; i < rows.size(); i++) {
            std::memcpy(own.mb.minima.points[i], rows[i].data(), rows[i].size() * sizeof(double));
            own.mb.minima.radii[i] = radii[i];
            own.mb.minima.values[i] = i == 0 ? 0.0 : -0.5 - 0.001 * double(i);
        }
        own.mb.delta = 2.0;
        own.mb.isArgSet = 1;
    }
    core::Member &mb() { return own.mb; }
    TestMember own;
};

}  // namespace

TEST(FastLookup, GeneratedMembersMatchTheReference) {
    struct Case {
        uint32_t n, m;
        int32_t test;
    };
    const Case cases[] = {{2, 10, 1},  {2, 3000, 2},  {3, 2000, 3}, {4, 1000, 4}, {6, 800, 5},
                          {10, 600, 6}, {13, 300, 7}, {20, 300, 8}, {50, 150, 9}, {2, 2, 10}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "n=" << c.n << " m=" << c.m);
        TestMember own(c.n, c.m);
        core::RandomSource rng;
        ASSERT_EQ(core::arg_generate(own.mb, rng, c.test), TRAVO_STATUS_OK);
        expect_same_everywhere(own.mb, 2000, c.test, c.n <= 20);
    }
}

TEST(FastLookup, OffsetAndStretchedBoxes) {
    for (uint32_t n : {2u, 5u}) {
        std::vector<double> lo, hi;
        for (uint32_t k = 0; k < n; k++) {
            lo.push_back(-300.0 + 7.0 * k);
            hi.push_back(-300.0 + 7.0 * k + 2.0 + 3.0 * k);
        }
        TestMember own(lo, hi, 1500, -2.5, 0.6, 0.2);
        core::RandomSource rng;
        ASSERT_EQ(core::arg_generate(own.mb, rng, 31), TRAVO_STATUS_OK);
        expect_same_everywhere(own.mb, 3000, 31, true);
    }
}

// Both search structures are used by the tests above.
TEST(FastLookup, ModesChosenBySize) {
    TestMember small(2, 1000), wide(10, 1000);
    core::RandomSource rng;
    ASSERT_EQ(core::arg_generate(small.mb, rng, 1), TRAVO_STATUS_OK);
    ASSERT_EQ(core::arg_generate(wide.mb, rng, 1), TRAVO_STATUS_OK);
    EXPECT_EQ(RegionIndex(small.mb).mode(), RegionIndex::Mode::Tree);
    EXPECT_EQ(RegionIndex(wide.mb).mode(), RegionIndex::Mode::Rows);
}

// Regions on a lattice with radii of exactly half the spacing: neighbours
// touch, points on the common boundary belong to both and the lower index
// must win. Radii of a full spacing make them overlap.
TEST(FastLookup, TouchingAndOverlappingRegions) {
    for (double radius : {0.5, 1.0, 0.75}) {
        std::vector<std::vector<double>> rows = {{-50.0, -50.0}};
        for (int a = 0; a < 20; a++) {
            for (int b = 0; b < 20; b++) rows.push_back({double((a * 7) % 20), double((b * 3 + a) % 20)});
        }
        HandMember hm(rows, std::vector<double>(rows.size(), radius));
        const RegionIndex index(hm.mb());
        ASSERT_EQ(index.mode(), RegionIndex::Mode::Tree);
        const RegionIndex flat(hm.mb(), RegionIndex::Layout::Rows);
        for (double x0 = -1.0; x0 <= 20.0; x0 += 0.25) {
            for (double x1 = -1.0; x1 <= 20.0; x1 += 0.25) {
                const double x[2] = {x0, x1};
                ASSERT_TRUE(SameLookup(hm.mb(), index, x)) << x0 << "," << x1;
                ASSERT_TRUE(SameLookup(hm.mb(), flat, x)) << x0 << "," << x1;
                ASSERT_TRUE(SameEvaluation(hm.mb(), index, x)) << x0 << "," << x1;
            }
        }
    }
}

// Radii set to exactly the distance of a chosen point: the point is on the
// sphere (not greater than the radius: inside); one ulp less: outside.
TEST(FastLookup, PointsExactlyOnSpheres) {
    for (uint32_t n : {2u, 3u, 7u, 40u}) {
        std::mt19937_64 gen(n);
        std::uniform_real_distribution<double> u(-10.0, 10.0);
        std::vector<std::vector<double>> rows(400, std::vector<double>(n));
        for (auto &row : rows) {
            for (double &v : row) v = u(gen);
        }
        std::vector<std::vector<double>> points;
        std::vector<double> radii(rows.size());
        for (size_t k = 0; k < rows.size(); k++) {
            std::vector<double> x(n);
            for (uint32_t c = 0; c < n; c++) x[c] = rows[k][c] + 0.01 * u(gen);
            radii[k] = core::norm(n, rows[k].data(), x.data());
            points.push_back(x);
        }
        for (int shrink : {0, 1}) {
            std::vector<double> r = radii;
            if (shrink) {
                for (double &v : r) v = std::nextafter(v, 0.0);
            }
            HandMember hm(rows, r);
            const RegionIndex index(hm.mb());
            const RegionIndex tree(hm.mb(), RegionIndex::Layout::Tree);
            for (size_t k = 1; k < points.size(); k++) {
                ASSERT_TRUE(SameLookup(hm.mb(), index, points[k].data()));
                ASSERT_TRUE(SameLookup(hm.mb(), tree, points[k].data()));
                double dist;
                const uint32_t found = index.find(hm.mb(), points[k].data(), &dist);
                if (!shrink) {
                    EXPECT_GE(found, 1u);
                    EXPECT_LE(found, k);
                }
                ASSERT_TRUE(SameEvaluation(hm.mb(), index, points[k].data()));
            }
        }
    }
}

// Radii of every awkward kind: negative, zero (only the centre itself is
// inside), signed zero, tiny, huge, infinite; a NaN radius makes its region
// hold every point, and the index must then give way to the scan.
TEST(FastLookup, SpecialRadii) {
    std::vector<std::vector<double>> rows;
    for (int i = 0; i < 40; i++) rows.push_back({double(i % 8) * 3.0, double(i / 8) * 3.0});
    const double specials[] = {-1.0, 0.0, -0.0, 1e-200, 5e-324, 1e-150, 1e150, 1e300, kInf};
    for (double special : specials) {
        for (size_t at : {size_t(3), size_t(20), size_t(39)}) {
            std::vector<double> radii(rows.size(), 1.0);
            radii[at] = special;
            HandMember hm(rows, radii);
            const RegionIndex index(hm.mb());
            const RegionIndex flat(hm.mb(), RegionIndex::Layout::Rows);
            std::vector<std::vector<double>> xs = {rows[at], {rows[at][0] + 1e-160, rows[at][1]},
                                                   {rows[at][0] + 2.0, rows[at][1]}, {50.0, 50.0}};
            for (const auto &x : xs) {
                ASSERT_TRUE(SameLookup(hm.mb(), index, x.data())) << "radius " << special << " at " << at;
                ASSERT_TRUE(SameLookup(hm.mb(), flat, x.data())) << "radius " << special << " at " << at;
                ASSERT_TRUE(SameEvaluation(hm.mb(), index, x.data()));
            }
        }
    }
    std::vector<double> radii(rows.size(), 1.0);
    radii[25] = kNaN;
    HandMember hm(rows, radii);
    const RegionIndex index(hm.mb());
    EXPECT_EQ(index.mode(), RegionIndex::Mode::Scan);
    const double x[2] = {99.0, 99.0};
    double r;
    EXPECT_EQ(index.find(hm.mb(), x, &r), 25u);
    EXPECT_TRUE(SameLookup(hm.mb(), index, x));
}

// A NaN coordinate makes every distance NaN, which is "not greater" than
// any radius: the first region holds the point.
TEST(FastLookup, NaNPointFallsInTheFirstRegion) {
    TestMember own(3, 500);
    core::RandomSource rng;
    ASSERT_EQ(core::arg_generate(own.mb, rng, 3), TRAVO_STATUS_OK);
    const RegionIndex index(own.mb);
    const double x[3] = {0.1, kNaN, 0.2};
    double r = 0.0;
    EXPECT_EQ(index.find(own.mb, x, &r), 1u);
    EXPECT_TRUE(std::isnan(r));
    EXPECT_TRUE(SameLookup(own.mb, index, x));
    EXPECT_TRUE(SameEvaluation(own.mb, index, x));
}

// A point in no region lies on the paraboloid, and an index used with a
// member of another size falls back to the scan of that member.
TEST(FastLookup, OutsideEveryRegionAndForeignMember) {
    TestMember own(2, 400), other(2, 300);
    core::RandomSource rng;
    ASSERT_EQ(core::arg_generate(own.mb, rng, 6), TRAVO_STATUS_OK);
    ASSERT_EQ(core::arg_generate(other.mb, rng, 6), TRAVO_STATUS_OK);
    const RegionIndex index(own.mb);
    const double *t = own.mb.minima.points[0];
    double r;
    if (core::find_region(own.mb, t, &r) == 0) {
        const core::Site st = core::locate(own.mb, index, t);
        EXPECT_EQ(st.where, core::Site::Paraboloid);
        EXPECT_EQ(core::value(Kind::D2, st), own.mb.minima.values[0]);
    }
    for (const auto &x : probes(other.mb, 500, 2)) ASSERT_TRUE(SameLookup(other.mb, index, x.data()));
}

// Refusals are unchanged: nothing generated, or a point outside the box.
TEST(FastLookup, RefusalsAsBefore) {
    TestMember own(2, 100);
    core::RandomSource rng;
    ASSERT_EQ(core::arg_generate(own.mb, rng, 1), TRAVO_STATUS_OK);
    const RegionIndex index(own.mb);
    const double outside[2] = {-1.0 - 2e-10, 0.0};
    EXPECT_EQ(core::value_at(own.mb, index, Kind::ND, outside), 1e100);
    EXPECT_EQ(core::deriv_at(own.mb, index, Kind::D, 0, outside), 1e100);
    EXPECT_EQ(core::deriv2_at(own.mb, index, 1, 3, outside), 1e100);
    std::vector<double> g(2);
    EXPECT_EQ(core::gradient(own.mb, index, Kind::D2, outside, g.data()), TRAVO_BAD_DERIVATIVE);
    own.mb.isArgSet = 0;
    const double inside[2] = {0.0, 0.0};
    EXPECT_EQ(core::value_at(own.mb, index, Kind::D, inside), 1e100);
    EXPECT_EQ(core::hessian(own.mb, index, inside, nullptr), TRAVO_BAD_DERIVATIVE);
}

// The module-wide interface evaluates through the scan without square
// roots; its values equal those of the reference lookup bit for bit.
class ModuleLookup : public travo::testing::ModuleTest {};

TEST_F(ModuleLookup, ValuesMatchTheReferenceLookup) {
    configure(3, 700, -1.0, 0.6, 0.25);
    ASSERT_EQ(TRAVO_arg_generate(12), TRAVO_STATUS_OK);
    core::Member view;
    view.dim = TRAVO_dim;
    view.num_minima = TRAVO_num_minima;
    view.domain_left = TRAVO_domain_left;
    view.domain_right = TRAVO_domain_right;
    view.minima = TRAVO_minima;
    view.glob = TRAVO_glob;
    view.isArgSet = TRAVO_get_is_arg_set();
    view.delta = TRAVO_get_delta();
    for (const auto &x : probes(view, 1500, 12)) {
        const core::Site ref = core::locate_reference(view, x.data());
        ASSERT_TRUE(same_bits(TRAVO_ND_func(x.data()), core::value(Kind::ND, ref)));
        ASSERT_TRUE(same_bits(TRAVO_D_func(x.data()), core::value(Kind::D, ref)));
        ASSERT_TRUE(same_bits(TRAVO_D2_func(x.data()), core::value(Kind::D2, ref)));
        ASSERT_TRUE(same_bits(TRAVO_D2_deriv1(2, x.data()), core::first_derivative(Kind::D2, 2, ref)));
    }
}

// The C++ interface's member owns a RegionIndex; on members large enough
// for the tree (n = 2) and in the row scan (n = 8) it evaluates exactly as
// the module-wide interface does.
TEST_F(ModuleLookup, CppMemberWithIndexMatchesTheModule) {
    for (const auto &[n, m] : {std::pair<uint32_t, uint32_t>{2, 2500}, {8, 400}}) {
        travo::Parameters p = travo::Parameters::in_cube(n);
        p.num_minima = m;
        p.test_number = 17;
        configure(n, m, p.global_value, p.distance, p.radius);
        ASSERT_EQ(TRAVO_arg_generate(p.test_number), TRAVO_STATUS_OK);
        const travo::Member f = travo::generate(p);
        core::Member view;
        view.dim = TRAVO_dim;
        view.num_minima = TRAVO_num_minima;
        view.domain_left = TRAVO_domain_left;
        view.domain_right = TRAVO_domain_right;
        view.minima = TRAVO_minima;
        view.isArgSet = 1;
        view.delta = TRAVO_get_delta();
        int bad = 0;
        for (const auto &x : probes(view, 2000, n)) {
            bad += !same_bits(f.value(travo::Kind::ND, x), TRAVO_ND_func(x.data()));
            bad += !same_bits(f.value(travo::Kind::D2, x), TRAVO_D2_func(x.data()));
            const auto g = f.gradient(travo::Kind::D, x);
            const auto h = f.hessian(x);
            for (uint32_t i = 1; i <= n; i++) {
                bad += !same_bits(g[i - 1], TRAVO_D_deriv(i, x.data()));
                bad += !same_bits(h[(i - 1) * n + (i % n)], TRAVO_D2_deriv2(i, i % n + 1, x.data()));
            }
        }
        EXPECT_EQ(bad, 0) << "n=" << n << " m=" << m;
    }
}
