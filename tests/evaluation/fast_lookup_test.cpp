// The region lookups without a square root per region (the scan of the
// module-wide interface and the RegionIndex of immutable members) against
// the reference scan, bit for bit, and evaluation through them: values,
// whole gradients and Hessian rows against the single entries at the
// reference's Site.
#include <set>

#include "evaluation/evaluate.hpp"
#include "evaluation/lookup.hpp"
#include "support/module_fixture.hpp"

using namespace travo::testing;
using travo::core::Kind;
using travo::core::RegionIndex;
namespace core = travo::core;

namespace {

constexpr auto kChosen = RegionIndex::Layout::Chosen;
constexpr auto kTree = RegionIndex::Layout::Tree;
constexpr auto kRows = RegionIndex::Layout::Rows;
constexpr auto kGrid = RegionIndex::Layout::Grid;

// The three lookups agree on the region and on the distance's bits; with
// `evaluate`, values, gradients and Hessian through the index and through
// the scan equal those of the reference lookup.
::testing::AssertionResult Same(const core::Member &mb, const RegionIndex &index, const double *x, bool evaluate) {
    double r_ref = -1.0, r_scan = -1.0, r_index = -1.0;
    const uint32_t k_ref = core::find_region(mb, x, &r_ref), k_scan = core::find_region_scan(mb, x, &r_scan);
    const uint32_t k_index = index.find(mb, x, &r_index);
    if (k_ref != k_scan || k_ref != k_index || !same_bits(r_ref, r_scan) || !same_bits(r_ref, r_index)) {
        return ::testing::AssertionFailure() << "regions " << k_ref << ", " << k_scan << ", " << k_index
                                             << " at distances " << r_ref << ", " << r_scan << ", " << r_index;
    }
    const core::Site ref = core::locate_reference(mb, x);
    const uint32_t n = mb.dim;
    std::vector<double> g(n), h(std::size_t(n) * n), want;
    std::vector<double *> rows(n);
    for (uint32_t i = 0; i < n; i++) rows[i] = &h[std::size_t(i) * n];
    int bad = 0;
    for (Kind kind : {Kind::ND, Kind::D, Kind::D2}) {
        bad += evaluate && !same_bits(core::value(kind, ref), core::value_at(mb, index, kind, x));
        bad += evaluate && !same_bits(core::value(kind, ref), core::value_at(mb, kind, x));
        if (kind == Kind::ND || !evaluate) continue;
        core::gradient(mb, index, kind, x, g.data());
        for (uint32_t i = 1; i <= n; i++) bad += !same_bits(g[i - 1], core::first_derivative(kind, i, ref));
    }
    if (evaluate) core::hessian(mb, index, x, rows.data());
    for (uint32_t i = 1; i <= n && evaluate; i++) {
        for (uint32_t j = 1; j <= n; j++) bad += !same_bits(rows[i - 1][j - 1], core::second_derivative(i, j, ref));
    }
    if (bad > 0) return ::testing::AssertionFailure() << bad << " results differ";
    return ::testing::AssertionSuccess();
}

// Every point against an index of each given layout; evaluation through the
// chosen one.
void expect_same(const core::Member &mb, const Rows &points, bool evaluate,
                 std::initializer_list<RegionIndex::Layout> layouts) {
    for (auto layout : layouts) {
        const RegionIndex index(mb, layout);
        for (const auto &x : points) ASSERT_TRUE(Same(mb, index, x.data(), evaluate && layout == kChosen));
    }
}

// A member built by hand over [-100, 100]^n: rows and radii given, values
// simple, marked as generated so that evaluation runs.
struct HandMember : TestMember {
    HandMember(const Rows &rows, const std::vector<double> &radii) : TestMember(rows, 0.5) {
        for (size_t i = 0; i < rows.size(); i++) {
            mb.minima.radii[i] = radii[i];
            mb.minima.values[i] = i == 0 ? 0.0 : -0.5 - 0.001 * double(i);
        }
        for (uint32_t c = 0; c < mb.dim; c++) mb.domain_left[c] = -(mb.domain_right[c] = 100.0);
        mb.delta = 2.0;
        mb.isArgSet = 1;
    }
};

}  // namespace

// Generated members in cubes and in offset, stretched boxes, with every
// layout of the index; both search structures get chosen. An index used
// with a member of another size falls back to the scan of that member.
TEST(FastLookup, GeneratedMembersMatchTheReference) {
    const struct {
        uint32_t n, m;
        int32_t test;
        bool stretched;
    } cases[] = {{2, 10, 1, false},   {2, 1500, 2, false}, {4, 600, 4, false}, {10, 300, 6, false},
                 {50, 100, 9, false}, {2, 2, 10, false},   {5, 600, 31, true}};
    std::set<RegionIndex::Mode> modes;
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "n=" << c.n << " m=" << c.m << " test=" << c.test);
        std::vector<double> lo(c.n, -1.0), hi(c.n, 1.0);
        for (uint32_t k = 0; k < c.n && c.stretched; k++) hi[k] = (lo[k] = -300.0 + 7.0 * k) + 2.0 + 3.0 * k;
        TestMember own(lo, hi, c.m, -2.5, 0.6, 0.2);
        ASSERT_EQ(own.generate(c.test), TRAVO_STATUS_OK);
        modes.insert(RegionIndex(own.mb).mode());
        expect_same(own.mb, probes(own.mb, 500, c.test), c.n <= 20, {kChosen, kTree, kRows, kGrid});
    }
    EXPECT_EQ(modes,
              (std::set<RegionIndex::Mode>{RegionIndex::Mode::Tree, RegionIndex::Mode::Rows, RegionIndex::Mode::Grid}));
    TestMember own(2, 400), other(2, 300);
    ASSERT_EQ(own.generate(6), TRAVO_STATUS_OK);
    ASSERT_EQ(other.generate(6), TRAVO_STATUS_OK);
    const RegionIndex foreign(own.mb);
    for (const auto &x : probes(other.mb, 500, 2)) ASSERT_TRUE(Same(other.mb, foreign, x.data(), false));
}

// Regions on a lattice with radii of exactly half the spacing: neighbours
// touch, points on the common boundary belong to both and the lower index
// must win. Larger radii make them overlap.
TEST(FastLookup, TouchingAndOverlappingRegions) {
    Rows rows = {{-50.0, -50.0}}, grid;
    for (int a = 0; a < 400; a++) rows.push_back({double((a / 20 * 7) % 20), double((a % 20 * 3 + a / 20) % 20)});
    for (int a = 0; a < 85 * 85; a++) grid.push_back({-1.0 + 0.25 * (a % 85), -1.0 + 0.25 * (a / 85)});
    for (double radius : {0.5, 1.0, 0.75}) {
        HandMember hm(rows, std::vector<double>(rows.size(), radius));
        ASSERT_EQ(RegionIndex(hm.mb).mode(), RegionIndex::Mode::Grid);
        expect_same(hm.mb, grid, true, {kChosen, kRows, kTree});
    }
}

// Radii set to exactly the distance of a chosen point: the point is on the
// sphere (not greater than the radius: inside); one ulp less: outside.
TEST(FastLookup, PointsExactlyOnSpheres) {
    for (uint32_t n : {2u, 7u, 40u}) {
        const Rows rows = random_rows(400, n, n, -10.0, 10.0);
        Rows points = random_rows(400, n, n + 100, -0.1, 0.1);
        std::vector<double> radii(rows.size());
        for (size_t k = 0; k < rows.size(); k++) {
            for (uint32_t c = 0; c < n; c++) points[k][c] += rows[k][c];
            radii[k] = core::norm(n, rows[k].data(), points[k].data());
        }
        for (int shrink : {0, 1}) {
            if (shrink) {
                for (double &v : radii) v = std::nextafter(v, 0.0);
            }
            HandMember hm(rows, radii);
            expect_same(hm.mb, points, true, {kChosen, kTree, kGrid});
            const RegionIndex index(hm.mb);
            for (size_t k = 1; k < points.size() && !shrink; k++) {
                double dist;
                const uint32_t found = index.find(hm.mb, points[k].data(), &dist);
                ASSERT_TRUE(found >= 1 && found <= k) << found << " for " << k;
            }
        }
    }
}

// Radii of every awkward kind: negative, zero (only the centre itself is
// inside), signed zero, tiny, huge, infinite; a NaN radius makes its region
// hold every point, and the index must then give way to the scan. A grid
// takes radii within the bounds of sum_bounds (1e100: a region listed in
// every cell) and negative ones, and gives way to the tree for the others
// and for members whose regions would all be listed in every cell.
TEST(FastLookup, SpecialRadii) {
    Rows rows;
    for (int i = 0; i < 40; i++) rows.push_back({double(i % 8) * 3.0, double(i / 8) * 3.0});
    for (double special : {-1.0, 0.0, -0.0, 1e-200, 5e-324, 1e-150, 1e100, 1e150, 1e300, kInf, kNaN}) {
        for (size_t at : {size_t(3), size_t(20), size_t(39)}) {
            std::vector<double> radii(rows.size(), 1.0);
            radii[at] = special;
            HandMember hm(rows, radii);
            EXPECT_EQ(RegionIndex(hm.mb).mode() == RegionIndex::Mode::Scan, std::isnan(special));
            if (!std::isnan(special)) {
                const bool bounded = special < 0.0 || (special >= 1e-140 && special <= 1e140);
                EXPECT_EQ(RegionIndex(hm.mb, kGrid).mode(),
                          bounded ? RegionIndex::Mode::Grid : RegionIndex::Mode::Tree);
            }
            const Rows xs = {rows[at],
                             {rows[at][0] + 1e-160, rows[at][1]},
                             {rows[at][0] + 2.0, rows[at][1]},
                             {50.0, 50.0},
                             {99.0, 99.0}};
            expect_same(hm.mb, xs, true, {kChosen, kRows, kGrid});
        }
    }
    EXPECT_EQ(RegionIndex(HandMember(rows, std::vector<double>(rows.size(), 1e100)).mb, kGrid).mode(),
              RegionIndex::Mode::Tree);
}
