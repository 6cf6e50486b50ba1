// The C++ interface against the module-wide C interface: same tables, same
// bits for every kind and derivative, on many members and from many threads.
#include <array>
#include <thread>

#include "evaluation/evaluate.hpp"
#include "support/module_fixture.hpp"
#include "travo/travo.hpp"

using namespace travo::testing;
using travo::Kind;

namespace {

// Puts the same parameters into the module-wide state and generates there.
void generate_in_module(const travo::Parameters &p) {
    TRAVO_dim = p.dim;
    ASSERT_EQ(TRAVO_domain_alloc(), TRAVO_STATUS_OK);
    std::copy(p.lower.begin(), p.lower.end(), TRAVO_domain_left);
    std::copy(p.upper.begin(), p.upper.end(), TRAVO_domain_right);
    TRAVO_num_minima = p.num_minima;
    TRAVO_global_value = p.global_value;
    TRAVO_global_dist = p.distance;
    TRAVO_global_radius = p.radius;
    ASSERT_EQ(TRAVO_arg_generate(p.test_number), TRAVO_STATUS_OK);
}

// Every result at one point, through the C interface one entry per call:
// the three values, the D and D2 gradients, the Hessian row by row.
std::vector<double> from_module(const std::vector<double> &x) {
    std::vector<double> e = {TRAVO_ND_func(x.data()), TRAVO_D_func(x.data()), TRAVO_D2_func(x.data())};
    for (uint32_t i = 1; i <= TRAVO_dim; i++) e.push_back(TRAVO_D_deriv(i, x.data()));
    for (uint32_t i = 1; i <= TRAVO_dim; i++) e.push_back(TRAVO_D2_deriv1(i, x.data()));
    for (uint32_t i = 1; i <= TRAVO_dim; i++) {
        for (uint32_t j = 1; j <= TRAVO_dim; j++) e.push_back(TRAVO_D2_deriv2(i, j, x.data()));
    }
    return e;
}

int mismatches(const std::vector<double> &a, const std::vector<double> &b) {
    int bad = a.size() != b.size();
    for (std::size_t k = 0; k < std::min(a.size(), b.size()); k++) bad += !same_bits(a[k], b[k]);
    return bad;
}

// The number of results of the single-point operations of `f` at `x` that
// differ from the module's `e`.
int mismatches(const travo::Member &f, const std::vector<double> &x, const std::vector<double> &e) {
    const std::size_t n = f.dim();
    std::vector<double> got = {f.value(Kind::ND, x), f.value(Kind::D, x), f.value(Kind::D2, x)}, g(n);
    for (Kind k : {Kind::D, Kind::D2}) {
        const auto v = f.gradient(k, x);
        got.insert(got.end(), v.begin(), v.end());
    }
    const auto h = f.hessian(x);
    got.insert(got.end(), h.begin(), h.end());
    int bad = mismatches(got, e);
    for (std::size_t k = 1; k <= 2; k++) {  // value and gradient from one call
        bad += !same_bits(f.value_and_gradient(k == 1 ? Kind::D : Kind::D2, x, g), e[k]);
        bad += mismatches(g, std::vector<double>(e.begin() + 3 + (k - 1) * n, e.begin() + 3 + k * n));
    }
    return bad;
}

// The probe points of the module-wide member but those with a NaN
// coordinate, where the two interfaces differ (see the last test).
Rows finite_probes(uint32_t random_count, uint32_t seed) {
    Rows pts = probes(module_view(), random_count, seed);
    std::erase_if(pts, [](const auto &x) { return travo::core::has_nan(x.data(), uint32_t(x.size())); });
    return pts;
}

}  // namespace

class BitIdentity : public ModuleTest {};

// The C++ defaults, and distance and radius derived from any box, are the
// library's.
TEST_F(BitIdentity, DefaultParametersMatchTheLibraryDefaults) {
    double left[3] = {0.0, -2.0, 1.0}, right[3] = {4.0, -1.25, 8.0};
    TRAVO_dim = 3;
    TRAVO_domain_left = left;
    TRAVO_domain_right = right;
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    const auto q = travo::Parameters::in_box({0.0, -2.0, 1.0}, {4.0, -1.25, 8.0});
    EXPECT_TRUE(same_bits(q.distance, TRAVO_global_dist) && same_bits(q.radius, TRAVO_global_radius));
    TRAVO_domain_left = TRAVO_domain_right = nullptr;
    reset();
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    const travo::Parameters p;
    EXPECT_EQ(p.dim * 100 + p.num_minima, TRAVO_dim * 100 + TRAVO_num_minima);
    EXPECT_TRUE(same_bits(p.global_value, TRAVO_global_value) && same_bits(p.distance, TRAVO_global_dist) &&
                same_bits(p.radius, TRAVO_global_radius));
    EXPECT_EQ(p.lower[1] * 10 + p.upper[0], TRAVO_domain_left[1] * 10 + TRAVO_domain_right[0]);
}

// Members of every dimension class, in cubes and skewed boxes, few and many
// minima (the tree index from 64 minima at n <= 4, the row scan otherwise):
// the same tables, and the same results at every probe point.
TEST_F(BitIdentity, ManyMembersAllKindsAndDerivatives) {
    std::vector<std::array<uint32_t, 3>> cases = {{2, 300, 17}, {4, 100, 42}};
    for (uint32_t n : {2u, 3u, 4u, 7u, 10u}) {
        for (uint32_t m : {2u, 3u, 24u}) cases.push_back({n, m, std::array<uint32_t, 3>{1, 42, 100}[(n + m) % 3]});
    }
    for (const auto &[n, m, test] : cases) {
        SCOPED_TRACE(::testing::Message() << "n=" << n << " m=" << m << " test=" << test);
        travo::Parameters p = travo::Parameters::in_cube(n);
        if (test == 42) {  // a skewed box
            std::vector<double> lower(n), upper(n);
            for (uint32_t c = 0; c < n; c++) lower[c] = -1.0 - 0.37 * c, upper[c] = 2.5 + 0.11 * c;
            p = travo::Parameters::in_box(lower, upper);
        }
        if (test == 100) p.global_value = -3.5, p.distance = 0.9, p.radius = 0.3;
        p.num_minima = m;
        p.test_number = static_cast<int32_t>(test);
        reset();
        generate_in_module(p);
        const travo::Member f = travo::generate(p);
        const auto glob = f.global_minimizers();
        EXPECT_EQ(std::vector<uint32_t>(glob.begin(), glob.end()),
                  std::vector<uint32_t>(TRAVO_glob.indices, TRAVO_glob.indices + TRAVO_glob.count));
        std::vector<double> table = {f.delta()}, module_table = {TRAVO_get_delta()};
        for (uint32_t row = 0; row < m; row++) {
            table.insert(table.end(), {f.minimum_values()[row], f.radii()[row]});
            table.insert(table.end(), f.minimizer(row).begin(), f.minimizer(row).end());
            module_table.insert(module_table.end(), {TRAVO_minima.values[row], TRAVO_minima.radii[row]});
            module_table.insert(module_table.end(), TRAVO_minima.points[row], TRAVO_minima.points[row] + n);
        }
        EXPECT_EQ(mismatches(table, module_table), 0);
        // Every single-point result; the batch forms give the single-point bits (batch_test).
        int bad = 0;
        for (const auto &x : finite_probes(12, n * 1000 + m * 10 + test)) bad += mismatches(f, x, from_module(x));
        EXPECT_EQ(bad, 0);
    }
}

// Several threads evaluate several members at once, after the module-wide
// state is gone; half of them also generate the same members again, which
// must come out as they did one by one.
TEST_F(BitIdentity, SeveralThreadsOnSeveralMembers) {
    struct Case {
        travo::Parameters p;
        travo::Member f;
        Rows pts;
        std::vector<std::vector<double>> expected;
    };
    std::vector<Case> cases;
    for (uint32_t k = 0; k < 4; k++) {
        travo::Parameters p = travo::Parameters::in_cube(k == 3 ? 8 : 2 + k);
        p.num_minima = 6 + 5 * k;
        p.test_number = 3 + static_cast<int32_t>(k);
        reset();
        generate_in_module(p);
        cases.push_back({p, travo::generate(p), finite_probes(12, k), {}});
        for (const auto &x : cases.back().pts) cases.back().expected.push_back(from_module(x));
    }
    reset();
    std::vector<int> bad(6, 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < bad.size(); t++) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 10; round++) {
                for (std::size_t k = 0; k < cases.size(); k++) {
                    const Case &c = cases[(k + t) % cases.size()];
                    const travo::Member again = t % 2 ? travo::generate(c.p) : c.f;
                    for (std::size_t i = 0; i < c.pts.size(); i++) bad[t] += mismatches(again, c.pts[i], c.expected[i]);
                }
            }
        });
    }
    for (auto &th : threads) th.join();
    for (std::size_t t = 0; t < bad.size(); t++) EXPECT_EQ(bad[t], 0) << "thread " << t;
}

// A point with a NaN coordinate lies outside the box for the C++ interface,
// one point at a time and in every batch form, whatever finds its region
// (lanes, grid, tree, row scan), while the module-wide interface evaluates
// it as it always has: its comparisons pass the box test, and the point
// near the global minimizer gets NaN values and derivatives with status 0.
TEST_F(BitIdentity, NanPointsLieOutsideTheBoxExceptForTheModuleWideInterface) {
    for (const auto &[n, m] : {std::pair{2u, 10u}, {2u, 300u}, {4u, 100u}, {10u, 300u}}) {
        SCOPED_TRACE(::testing::Message() << "n=" << n << " m=" << m);
        travo::Parameters p = travo::Parameters::in_cube(n);
        p.num_minima = m;
        reset();
        generate_in_module(p);
        const travo::Member f = travo::generate(p);
        Rows pts = probes(module_view(), 40, n + m);
        const auto g1 = f.minimizer(1);
        for (uint32_t c : {n - 1, n / 2}) {
            pts.emplace_back(g1.begin(), g1.end());
            pts.back()[c] = kNaN;
        }
        pts.emplace_back(n, kNaN);
        std::vector<double> flat, g(n), h(n * n);
        std::vector<bool> nan;
        for (const auto &x : pts) {
            flat.insert(flat.end(), x.begin(), x.end());
            nan.push_back(travo::core::has_nan(x.data(), n));
            if (!nan.back()) continue;
            EXPECT_FALSE(f.contains(x));
            EXPECT_EQ(f.region(x), -1);
            for (Kind k : {Kind::ND, Kind::D, Kind::D2}) EXPECT_EQ(f.value(k, x), travo::error_value);
            EXPECT_FALSE(f.gradient(Kind::D, x, g) || f.hessian(x, h));
            EXPECT_EQ(f.value_and_gradient(Kind::D2, x, g), travo::error_value);
            EXPECT_EQ(g, std::vector<double>(n, travo::error_value));
            EXPECT_EQ(h, std::vector<double>(n * n, travo::error_value));
        }
        const std::size_t count = pts.size();
        for (unsigned threads : {1u, 2u}) {
            std::vector<double> v(count), gb(count * n), hb(count * n * n);
            std::vector<std::int64_t> r(count);
            f.values(Kind::D, flat, v, threads);
            f.gradients(Kind::D2, flat, gb, threads);
            f.hessians(flat, hb, threads);
            f.regions(flat, r, threads);
            for (std::size_t q = 0; q < count; q++) {
                const std::span<const double> x(&flat[q * n], n);
                EXPECT_TRUE(same_bits(v[q], f.value(Kind::D, x))) << q;
                EXPECT_TRUE(same_bits(std::vector<double>(&gb[q * n], &gb[(q + 1) * n]), f.gradient(Kind::D2, x)));
                EXPECT_TRUE(same_bits(std::vector<double>(&hb[q * n * n], &hb[(q + 1) * n * n]), f.hessian(x)));
                EXPECT_EQ(r[q], f.region(x)) << q;
            }
        }
        const std::vector<double> &near = pts[pts.size() - 3];  // the global minimizer, a NaN coordinate
        EXPECT_TRUE(std::isnan(TRAVO_ND_func(near.data())) && std::isnan(TRAVO_D2_func(near.data())));
        EXPECT_EQ(TRAVO_D2_gradient(near.data(), g.data()), TRAVO_STATUS_OK);
        EXPECT_TRUE(std::isnan(g[n - 1]));
    }
}
