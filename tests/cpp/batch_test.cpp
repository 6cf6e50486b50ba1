// Batch evaluation against evaluation one point at a time, bit for bit: the
// core's blocks on generated and awkward members, the batch forms of the
// C++ interface for every number of threads, and the host entry's point
// actions against the module-wide operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "cpp/spread.hpp"
#include "evaluation/batch.hpp"
#include "evaluation/evaluate.hpp"
#include "support/gateway_fixture.hpp"
#include "support/module_fixture.hpp"
#include "travo/travo.hpp"

namespace core = travo::core;
namespace host = travo::host;
using travo::testing::kInf;
using travo::testing::kNaN;
using travo::testing::same_bits;

namespace {

// The probe points of the module-wide member, one after another.
std::vector<double> module_probes(uint32_t random_count, uint32_t seed) {
    std::vector<double> flat;
    for (const auto &x : travo::testing::probes(travo::testing::module_view(), random_count, seed)) {
        flat.insert(flat.end(), x.begin(), x.end());
    }
    return flat;
}

::testing::AssertionResult SameBits(const std::vector<double> &want, const std::vector<double> &got) {
    if (want.size() != got.size()) return ::testing::AssertionFailure() << "sizes differ";
    for (std::size_t k = 0; k < want.size(); k++) {
        if (!same_bits(want[k], got[k])) {
            return ::testing::AssertionFailure() << "entry " << k << ": " << want[k] << " expected, " << got[k];
        }
    }
    return ::testing::AssertionSuccess();
}

// Every instruction set this build and processor run.
std::vector<core::Simd> simd_paths() {
    std::vector<core::Simd> paths;
    for (core::Simd s : {core::Simd::SSE2, core::Simd::AVX2, core::Simd::AVX512}) {
        if (core::BatchEvaluator::supported(s)) paths.push_back(s);
    }
    return paths;
}

// The evaluator's values (points one after another and in columns), Sites
// (as the regions of the C++ interface read them), gradients, Hessians and
// derivatives by coordinate (indices out of range included) against
// locate, value and the derivatives at each point, on every vector path,
// with the regions searched in lanes and found by a region index.
void expect_blocks_match(const core::Member &mb, const travo::testing::Rows &rows) {
    const std::uint32_t n = mb.dim;
    std::vector<double> pts;
    for (const auto &x : rows) pts.insert(pts.end(), x.begin(), x.end());
    const std::size_t count = pts.size() / n;
    std::vector<std::vector<double>> columns(n, std::vector<double>(count));
    for (std::size_t p = 0; p < count; p++) {
        for (std::uint32_t c = 0; c < n; c++) columns[c][p] = pts[p * n + c];
    }
    std::vector<const double *> cols;
    for (const auto &col : columns) cols.push_back(col.data());
    std::vector<core::Site> want(count);
    for (std::size_t p = 0; p < count; p++) want[p] = core::locate(mb, &pts[p * n]);
    const auto each = [&](auto f) {
        std::vector<double> v(count);
        for (std::size_t p = 0; p < count; p++) v[p] = f(want[p]);
        return v;
    };
    const std::uint32_t i = n, j = 1 + n / 2;

    const core::RegionIndex region_index(mb);
    for (core::Simd simd : simd_paths()) {
        for (const core::RegionIndex *index : {static_cast<const core::RegionIndex *>(nullptr), &region_index}) {
            SCOPED_TRACE(::testing::Message() << core::BatchEvaluator::name(simd) << (index ? " indexed" : ""));
            const core::BatchEvaluator batch(mb, index, simd);
            ASSERT_EQ(batch.simd(), simd);
            std::vector<double> got(count);
            for (core::Kind kind : {core::Kind::ND, core::Kind::D, core::Kind::D2}) {
                const auto v = each([kind](const core::Site &st) { return core::value(kind, st); });
                batch.values(kind, pts.data(), count, got.data());
                ASSERT_TRUE(SameBits(v, got)) << "kind " << int(kind);
                batch.values(kind, cols.data(), count, got.data());
                ASSERT_TRUE(SameBits(v, got)) << "kind " << int(kind) << ", columns";
            }
            for (core::Kind kind : {core::Kind::D, core::Kind::D2}) {
                std::vector<double> g(count * n), want_g(count * n);
                for (std::size_t p = 0; p < count; p++) core::first_derivatives(kind, want[p], n, &want_g[p * n]);
                batch.gradients(kind, pts.data(), count, g.data());
                ASSERT_TRUE(SameBits(want_g, g)) << "gradients, kind " << int(kind);
                batch.derivatives(kind, i, cols.data(), count, got.data());
                ASSERT_TRUE(
                    SameBits(each([&](const core::Site &st) { return core::first_derivative(kind, i, st); }), got));
                batch.derivatives(kind, n + 1, cols.data(), count, got.data());
                ASSERT_TRUE(SameBits(std::vector<double>(count, core::kHuge), got));
            }
            std::vector<double> h(count * n * n), want_h(count * n * n);
            for (std::size_t p = 0; p < count; p++) {
                for (std::uint32_t r = 1; r <= n; r++)
                    core::second_derivatives(want[p], r, n, &want_h[(p * n + r - 1) * n], 1);
            }
            batch.hessians(pts.data(), count, h.data());
            ASSERT_TRUE(SameBits(want_h, h)) << "Hessians";
            batch.second_derivatives(i, j, cols.data(), count, got.data());
            ASSERT_TRUE(SameBits(each([&](const core::Site &st) { return core::second_derivative(i, j, st); }), got));
            batch.second_derivatives(0, j, cols.data(), count, got.data());
            ASSERT_TRUE(SameBits(std::vector<double>(count, core::kHuge), got));

            std::vector<core::Site> sites(count);
            batch.locate(pts.data(), count, sites.data());
            for (std::size_t p = 0; p < count; p++) {
                ASSERT_EQ(sites[p].where, want[p].where) << "point " << p;
                ASSERT_EQ(sites[p].k, want[p].k) << "point " << p;
                ASSERT_TRUE(same_bits(sites[p].r, want[p].r) && same_bits(sites[p].s, want[p].s)) << "point " << p;
            }
        }
    }
}

}  // namespace

TEST(BatchEvaluation, BlocksMatchThePerPointLookupOnGeneratedMembers) {
    using core::BatchEvaluator;
    struct Case {
        std::uint32_t n, m;
        bool blocked;
    };
    const Case cases[] = {{2, 2, true},    {2, 10, true},    {2, BatchEvaluator::kMaxRegions + 1, true},
                          {3, 40, true},   {17, 20, true},   {2, BatchEvaluator::kMaxRegions + 2, false},
                          {100, 10, true}, {2, 1500, false}, {3, 300, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "n=" << c.n << " m=" << c.m);
        travo::testing::TestMember own(c.n, c.m);
        ASSERT_EQ(own.generate(static_cast<int32_t>(c.m % 100 + 1)), TRAVO_STATUS_OK);
        EXPECT_EQ(BatchEvaluator(own.mb, nullptr).blocked(), c.blocked);
        const core::RegionIndex index(own.mb);
        EXPECT_TRUE(BatchEvaluator(own.mb, &index).blocked());
        expect_blocks_match(own.mb, travo::testing::probes(own.mb, c.n > 20 ? 200 : 1500, c.n * 131 + c.m));
    }
}

// Overlapping regions, a negative radius (decided by its sign), rows far
// beyond the box; then radii that the bounds cannot decide (zero, NaN,
// infinite, tiny, huge: every point takes the per-point lookup); and a
// member not generated. The blocks still give the per-point results.
TEST(BatchEvaluation, BlocksMatchThePerPointLookupOnAwkwardMembers) {
    const std::vector<std::vector<double>> rows = {{0.0, 0.0, 0.0},    {1.0, 1.0, 1.0},   {1.5, 1.0, 1.0},
                                                   {-2.0, 3.0, 0.5},   {1e200, 0.0, 0.0}, {4.0, -4.0, 4.0},
                                                   {-3.0, -3.0, -3.0}, {2.0, 2.0, -2.0},  {0.5, 0.5, 0.5}};
    const std::vector<std::vector<double>> radii_sets = {{0.0, 0.6, 0.7, 1.2, 0.5, -0.5, 2.0, 0.3, 0.2},
                                                         {0.0, 0.6, 0.7, kNaN, 1e300, -0.5, 1e-150, kInf, 0.0}};
    for (const auto &radii : radii_sets) {
        travo::testing::TestMember own(std::vector<double>(3, -5.0), std::vector<double>(3, 5.0),
                                       static_cast<std::uint32_t>(rows.size()), -1.0, 1.0, 0.5);
        ASSERT_EQ(core::alloc_tables(own.mb), TRAVO_STATUS_OK);
        core::Member &mb = own.mb;
        mb.domain_right[1] = 6.0;
        for (std::size_t k = 0; k < rows.size(); k++) {
            std::copy(rows[k].begin(), rows[k].end(), mb.minima.points[k]);
            mb.minima.radii[k] = radii[k];
            mb.minima.values[k] = k == 0 ? 0.25 : -0.5 - 0.01 * double(k);
        }
        mb.delta = 1.75;
        mb.isArgSet = 1;
        ASSERT_TRUE(core::BatchEvaluator(mb, nullptr).blocked());
        auto pts = travo::testing::probes(mb, 3000, 7);
        // Regions 1 and 2 overlap: the lower index wins.
        pts.insert(pts.end(), {{1.25, 1.0, 1.0}, {1.2, 1.1, 0.95}, {1.45, 0.9, 1.05}});
        expect_blocks_match(mb, pts);

        mb.isArgSet = 0;  // every point refused
        expect_blocks_match(mb, pts);
    }
}

// Members too large to search every region in lanes walk the cells of the
// index's grid in lanes: with regions that overlap many times over, the
// lowest row holding a point still wins.
TEST(BatchEvaluation, GridWalkKeepsTheLowestOverlappingRegion) {
    const std::uint32_t m = 3 * core::BatchEvaluator::kMaxGridRegions;
    travo::testing::TestMember own(std::vector<double>(3, -5.0), std::vector<double>(3, 5.0), m, -1.0, 1.0, 0.5);
    ASSERT_EQ(core::alloc_tables(own.mb), TRAVO_STATUS_OK);
    core::Member &mb = own.mb;
    for (std::uint32_t k = 0; k < m; k++) {  // a lattice 0.4 apart, regions of radius 0.21 to 0.27
        const double row[3] = {0.4 * double(k % 5), 0.4 * double(k / 5 % 5), 0.4 * double(k / 25)};
        std::copy(row, row + 3, mb.minima.points[k]);
        mb.minima.radii[k] = k == 0 ? 0.0 : 0.21 + 0.01 * double(k % 7);
        mb.minima.values[k] = k == 0 ? 0.25 : -0.5 - 0.01 * double(k);
    }
    mb.delta = 1.75;
    mb.isArgSet = 1;
    const core::RegionIndex index(mb);
    ASSERT_EQ(index.mode(), core::RegionIndex::Mode::Grid);
    ASSERT_TRUE(core::BatchEvaluator(mb, &index).indexed());
    auto pts = travo::testing::probes(mb, 3000, 11);
    for (int k = 0; k < 1000; k++) pts.push_back({0.0021 * double(k), 0.0017 * double(k), 0.0013 * double(k)});
    expect_blocks_match(mb, pts);
}

class BatchForms : public travo::testing::ModuleTest {};

// Every batch form of the C++ interface gives the single-point results,
// whatever the number of threads; the automatic choice spreads the large
// batch over threads.
TEST_F(BatchForms, CppBatchesGiveTheSinglePointResultsForEveryThreadCount) {
    using travo::Kind;
    struct Case {
        std::uint32_t n, m;
        std::size_t random_count;
    };
    constexpr std::uint32_t kLargest = core::BatchEvaluator::kMaxRegions + 1;
    const Case cases[] = {{2, 10, 40000}, {2, kLargest, 600}, {3, 40, 600}, {17, 20, 300}, {2, kLargest + 1, 600}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "n=" << c.n << " m=" << c.m);
        travo::Parameters p = travo::Parameters::in_cube(c.n);
        p.num_minima = c.m;
        p.test_number = static_cast<std::int32_t>((c.n + c.m) % 100 + 1);
        const travo::Member f = travo::generate(p);
        configure(c.n, c.m, p.global_value, p.distance, p.radius);  // the same member, for its probe points
        ASSERT_EQ(TRAVO_arg_generate(p.test_number), TRAVO_STATUS_OK);
        const auto pts = module_probes(static_cast<uint32_t>(c.random_count), c.m);
        const std::size_t n = c.n, count = pts.size() / n;

        std::vector<double> v[3], gd(count * n), gd2(count * n), h(count * n * n);
        for (auto &vk : v) vk.resize(count);
        for (std::size_t q = 0; q < count; q++) {
            const std::span<const double> x(&pts[q * n], n);
            for (int k = 0; k < 3; k++) v[k][q] = f.value(static_cast<Kind>(k), x);
            f.gradient(Kind::D, x, std::span<double>(&gd[q * n], n));
            f.gradient(Kind::D2, x, std::span<double>(&gd2[q * n], n));
            f.hessian(x, std::span<double>(&h[q * n * n], n * n));
        }
        for (unsigned threads : {0u, 1u, 2u, 3u, 7u, 100000u}) {
            SCOPED_TRACE(::testing::Message() << "threads=" << threads);
            std::vector<double> out(count), g(count * n), hh(count * n * n);
            for (int k = 0; k < 3; k++) {
                f.values(static_cast<Kind>(k), pts, out, threads);
                ASSERT_TRUE(SameBits(v[k], out)) << "values, kind " << k;
            }
            f.gradients(Kind::D, pts, g, threads);
            ASSERT_TRUE(SameBits(gd, g));
            f.values_and_gradients(Kind::D2, pts, out, g, threads);
            ASSERT_TRUE(SameBits(v[2], out));
            ASSERT_TRUE(SameBits(gd2, g));
            if (count * n * n <= 200000) {
                f.hessians(pts, hh, threads);
                ASSERT_TRUE(SameBits(h, hh));
            }
        }
    }
}

// TRAVO_SIMD caps the instruction set chosen: at most the one named, the
// widest the processor has below it; an unknown name caps nothing.
TEST(BatchEvaluation, TheEnvironmentCapsTheInstructionSet) {
    const auto paths = simd_paths();
    ASSERT_FALSE(paths.empty());
    EXPECT_EQ(paths.front(), core::Simd::SSE2);
    const char *was = std::getenv("TRAVO_SIMD");
    const std::string saved = was != nullptr ? was : "";
    for (core::Simd cap : {core::Simd::SSE2, core::Simd::AVX2, core::Simd::AVX512}) {
        ASSERT_EQ(setenv("TRAVO_SIMD", core::BatchEvaluator::name(cap), 1), 0);
        core::Simd want = core::Simd::SSE2;
        for (core::Simd s : paths) want = s <= cap ? s : want;
        EXPECT_EQ(core::BatchEvaluator::chosen(), want) << core::BatchEvaluator::name(cap);
    }
    ASSERT_EQ(setenv("TRAVO_SIMD", "widest", 1), 0);
    EXPECT_EQ(core::BatchEvaluator::chosen(), paths.back());
    if (was != nullptr) {
        setenv("TRAVO_SIMD", saved.c_str(), 1);
    } else {
        unsetenv("TRAVO_SIMD");
    }
}

// A batch is cut into no more slices (threads) than can help: an explicit
// count is held to the hardware threads, or, where the hardware does not
// tell, to those that get a share of work worth a thread.
TEST(BatchEvaluation, ThreadsAreCappedAtWhatCanHelp) {
    using travo::detail::plan_spread;
    const auto slices = [](std::size_t count, travo::detail::SpreadPlan plan) {
        return (count + plan.slice - 1) / plan.slice;
    };
    constexpr std::size_t count = 200000;
    EXPECT_EQ(slices(count, plan_spread(count, 3, 100000, 8)), 8u);
    EXPECT_EQ(slices(count, plan_spread(count, 3, 4, 8)), 4u);
    EXPECT_EQ(slices(count, plan_spread(count, 3, 100000, 0)), count * 3 / travo::detail::kNumbersPerThread);
    EXPECT_EQ(slices(count, plan_spread(count, 3, 0, 64)), count * 3 / travo::detail::kNumbersPerThread);
}

class GatewayPointActions : public travo::testing::GatewayTest {};

// The host entry evaluates every point action and the single-point actions
// with the bits of the module-wide operations on the same member: members
// whose regions are searched in blocks, through a region index or by the
// scan, at points of every kind.
TEST_F(GatewayPointActions, EveryActionGivesTheModuleWideResults) {
    using namespace travo::testing;
    struct Case {
        std::uint32_t m;
        double g, d, r;
        std::int32_t test;
    };
    constexpr std::uint32_t kLargest = travo::core::BatchEvaluator::kMaxRegions + 1;
    const Case cases[] = {{2, -1.0, kDist, kRadius, 1},
                          {10, -1.0, kDist, kRadius, 1},
                          {kLargest, -2.0, 0.5, 0.05, 9},
                          {kLargest + 1, -1.0, 0.9, 0.03, 50}};
    // Point actions with their derivative indices (index 0 gives the error
    // value everywhere).
    struct Action {
        int action;
        std::uint32_t i, j;
    };
    const Action actions[] = {{1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 1, 0}, {4, 2, 0}, {4, 0, 0},
                              {5, 1, 0}, {5, 2, 0}, {6, 1, 2}, {6, 2, 2}, {6, 0, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "m=" << c.m);
        std::vector<double> X, Y;
        std::vector<std::vector<double>> want;    // per point action
        std::vector<std::vector<double>> single;  // actions 7, 8, 9 at every 29th point
        {
            configure(2, c.m, c.g, c.d, c.r);
            ASSERT_EQ(TRAVO_arg_generate(c.test), TRAVO_STATUS_OK);
            const auto pts = module_probes(400, c.m);
            for (std::size_t p = 0; p < pts.size(); p += 2) {
                X.push_back(pts[p]);
                Y.push_back(pts[p + 1]);
            }
            for (const Action &a : actions) {
                std::vector<double> w;
                for (std::size_t p = 0; p < pts.size(); p += 2) {
                    const double *x = &pts[p];
                    switch (a.action) {
                    case 1:
                        w.push_back(TRAVO_ND_func(x));
                        break;
                    case 2:
                        w.push_back(TRAVO_D_func(x));
                        break;
                    case 3:
                        w.push_back(TRAVO_D2_func(x));
                        break;
                    case 4:
                        w.push_back(TRAVO_D_deriv(a.i, x));
                        break;
                    case 5:
                        w.push_back(TRAVO_D2_deriv1(a.i, x));
                        break;
                    default:
                        w.push_back(TRAVO_D2_deriv2(a.i, a.j, x));
                        break;
                    }
                }
                want.push_back(w);
            }
            for (std::size_t p = 0; p < X.size(); p += 29) {
                const double *x = &pts[2 * p];
                std::vector<double> gd(2), gd2(2), h(4);
                TRAVO_D_gradient(x, gd.data());
                TRAVO_D2_gradient(x, gd2.data());
                for (std::uint32_t i = 1; i <= 2; i++) {
                    for (std::uint32_t j = 1; j <= 2; j++) h[(i - 1) + 2 * (j - 1)] = TRAVO_D2_deriv2(i, j, x);
                }
                single.insert(single.end(), {gd, gd2, h});
            }
            reset();
            forget_call_member();
        }
        const std::size_t count = X.size();
        for (std::size_t k = 0; k < std::size(actions); k++) {
            const Action &a = actions[k];
            auto in = inputs(double(c.m), c.g, c.d, c.r, double(a.action), double(c.test), host::matrix(1, count, X),
                             host::matrix(1, count, Y));
            if (a.action >= 4) in.push_back(host::scalar(double(a.i)));
            if (a.action == 6) in.push_back(host::scalar(double(a.j)));
            const Outcome out = call_with(1, in);
            ASSERT_TRUE(Succeeds(out, 1, count)) << "action " << a.action;
            ASSERT_TRUE(SameBits(want[k], out.result.data)) << "action " << a.action << " i=" << a.i << " j=" << a.j;
        }
        for (std::size_t p = 0, at = 0; p < count; p += 29, at += 3) {
            for (int a = 7; a <= 9; a++) {
                const Outcome out = call_with(
                    1, inputs(double(c.m), c.g, c.d, c.r, double(a), double(c.test), X[p], Y[p]));
                ASSERT_TRUE(Succeeds(out, 2, a == 9 ? 2 : 1)) << "action " << a;
                ASSERT_TRUE(SameBits(single[at + (a - 7)], out.result.data)) << "action " << a << " point " << p;
            }
        }
    }
}
