// The C++ interface against the module-wide C interface: same tables, same
// bits for every kind and derivative, on many members and from many threads.
#include <bit>
#include <cstdint>
#include <thread>
#include <vector>

#include "support/module_fixture.hpp"
#include "travo/travo.hpp"

using travo::Kind;
using travo::testing::ModuleTest;
using travo::testing::probes;

namespace {

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// Puts the same parameters into the module-wide state and generates there.
void generate_in_module(const travo::Parameters &p) {
    TRAVO_dim = p.dim;
    ASSERT_EQ(TRAVO_domain_alloc(), TRAVO_STATUS_OK);
    for (std::uint32_t c = 0; c < p.dim; c++) {
        TRAVO_domain_left[c] = p.lower[c];
        TRAVO_domain_right[c] = p.upper[c];
    }
    TRAVO_num_minima = p.num_minima;
    TRAVO_global_value = p.global_value;
    TRAVO_global_dist = p.distance;
    TRAVO_global_radius = p.radius;
    ASSERT_EQ(TRAVO_arg_generate(p.test_number), TRAVO_STATUS_OK);
}

// Results of one point, computed through the C interface one entry per call.
struct Expected {
    double nd, d, d2;
    std::vector<double> gd, gd2, h;
};

Expected from_module(const std::vector<double> &x) {
    const std::uint32_t n = TRAVO_dim;
    Expected e{TRAVO_ND_func(x.data()), TRAVO_D_func(x.data()), TRAVO_D2_func(x.data()), {}, {}, {}};
    for (std::uint32_t i = 1; i <= n; i++) {
        e.gd.push_back(TRAVO_D_deriv(i, x.data()));
        e.gd2.push_back(TRAVO_D2_deriv1(i, x.data()));
        for (std::uint32_t j = 1; j <= n; j++) e.h.push_back(TRAVO_D2_deriv2(i, j, x.data()));
    }
    return e;
}

// Compares every operation of `f` at `x` with the module's results; returns
// the number of differing bit patterns.
int mismatches(const travo::Member &f, const std::vector<double> &x, const Expected &e) {
    int bad = 0;
    auto cmp = [&bad](double a, double b) { bad += bits(a) != bits(b); };
    cmp(f.value(Kind::ND, x), e.nd);
    cmp(f.value(Kind::D, x), e.d);
    cmp(f.value(Kind::D2, x), e.d2);
    const auto gd = f.gradient(Kind::D, x);
    const auto gd2 = f.gradient(Kind::D2, x);
    const auto h = f.hessian(x);
    std::vector<double> g(f.dim());
    cmp(f.value_and_gradient(Kind::D, x, g), e.d);
    for (std::size_t i = 0; i < g.size(); i++) cmp(g[i], e.gd[i]);
    cmp(f.value_and_gradient(Kind::D2, x, g), e.d2);
    for (std::size_t i = 0; i < g.size(); i++) {
        cmp(g[i], e.gd2[i]);
        cmp(gd[i], e.gd[i]);
        cmp(gd2[i], e.gd2[i]);
    }
    for (std::size_t k = 0; k < h.size(); k++) cmp(h[k], e.h[k]);
    return bad;
}

// The tables, delta and global list of `f` and of the module-wide member.
void expect_same_tables(const travo::Member &f) {
    ASSERT_EQ(f.dim() * 10000 + f.num_minima(), TRAVO_dim * 10000 + TRAVO_num_minima);
    int bad = bits(f.delta()) != bits(TRAVO_get_delta());
    for (std::uint32_t row = 0; row < f.num_minima(); row++) {
        bad += bits(f.minimum_values()[row]) != bits(TRAVO_minima.values[row]);
        bad += bits(f.radii()[row]) != bits(TRAVO_minima.radii[row]);
        for (std::uint32_t c = 0; c < f.dim(); c++) bad += bits(f.minimizer(row)[c]) != bits(TRAVO_minima.points[row][c]);
    }
    const auto glob = f.global_minimizers();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(std::vector<std::uint32_t>(glob.begin(), glob.end()),
              std::vector<std::uint32_t>(TRAVO_glob.indices, TRAVO_glob.indices + TRAVO_glob.count));
}

travo::Parameters skewed_box(std::uint32_t n) {
    std::vector<double> lo(n), hi(n);
    for (std::uint32_t c = 0; c < n; c++) {
        lo[c] = -1.0 - 0.37 * c;
        hi[c] = 2.5 + 0.11 * c;
    }
    return travo::Parameters::in_box(lo, hi);
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
    EXPECT_EQ(bits(q.distance), bits(TRAVO_global_dist));
    EXPECT_EQ(bits(q.radius), bits(TRAVO_global_radius));
    TRAVO_domain_left = TRAVO_domain_right = nullptr;
    reset();
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    const travo::Parameters p;
    EXPECT_EQ(p.dim * 100 + p.num_minima, TRAVO_dim * 100 + TRAVO_num_minima);
    EXPECT_EQ(bits(p.global_value), bits(TRAVO_global_value));
    EXPECT_EQ(bits(p.distance), bits(TRAVO_global_dist));
    EXPECT_EQ(bits(p.radius), bits(TRAVO_global_radius));
    EXPECT_EQ(p.lower[1] * 10 + p.upper[0], TRAVO_domain_left[1] * 10 + TRAVO_domain_right[0]);
}

// Members of every dimension class, in cubes and skewed boxes, few and many
// minima (the tree index from 64 minima at n <= 4, the row scan otherwise).
TEST_F(BitIdentity, ManyMembersAllKindsAndDerivatives) {
    struct Case {
        std::uint32_t n, m;
        std::int32_t test;
    };
    std::vector<Case> cases = {{2, 300, 17}, {4, 100, 42}};
    const std::int32_t tests[] = {1, 42, 100};
    for (std::uint32_t n : {2u, 3u, 4u, 7u, 10u}) {
        for (std::uint32_t m : {2u, 3u, 24u}) cases.push_back({n, m, tests[(n + m) % 3]});
    }
    for (const Case &c : cases) {
        travo::Parameters p = (c.test == 42) ? skewed_box(c.n) : travo::Parameters::in_cube(c.n);
        p.num_minima = c.m;
        p.test_number = c.test;
        if (c.test == 100) {
            p.global_value = -3.5;
            p.distance = 0.9;
            p.radius = 0.3;
        }
        reset();
        generate_in_module(p);
        const travo::Member f = travo::generate(p);
        SCOPED_TRACE(::testing::Message() << "n=" << c.n << " m=" << c.m << " test=" << c.test);
        expect_same_tables(f);
        int bad = 0;
        for (const auto &x : probes(view(), 12, c.n * 1000 + c.m * 10 + c.test)) bad += mismatches(f, x, from_module(x));
        EXPECT_EQ(bad, 0);
    }
}

// The batch forms give the same bits, point after point, at their strides.
TEST_F(BitIdentity, BatchFormsMatchTheCInterface) {
    travo::Parameters p = travo::Parameters::in_cube(3);
    p.num_minima = 15;
    p.test_number = 9;
    generate_in_module(p);
    const travo::Member f = travo::generate(p);
    const auto pts = probes(view(), 12, 99);
    std::vector<double> flat;
    for (const auto &x : pts) flat.insert(flat.end(), x.begin(), x.end());
    const std::size_t count = pts.size(), n = 3;
    std::vector<double> v(count), vd(count), gd(count * n), gd2(count * n), h(count * n * n);
    f.values(Kind::ND, flat, v);
    f.values_and_gradients(Kind::D, flat, vd, gd);
    f.gradients(Kind::D2, flat, gd2);
    f.hessians(flat, h);
    int bad = 0;
    for (std::size_t k = 0; k < count; k++) {
        const Expected e = from_module(pts[k]);
        bad += bits(v[k]) != bits(e.nd);
        bad += bits(vd[k]) != bits(e.d);
        for (std::size_t i = 0; i < n; i++) bad += bits(gd[k * n + i]) != bits(e.gd[i]);
        for (std::size_t i = 0; i < n; i++) bad += bits(gd2[k * n + i]) != bits(e.gd2[i]);
        for (std::size_t i = 0; i < n * n; i++) bad += bits(h[k * n * n + i]) != bits(e.h[i]);
    }
    EXPECT_EQ(bad, 0);
}

// Several threads evaluate several members at once, after the module-wide
// state is gone; others generate the same members at once as one by one.
TEST_F(BitIdentity, SeveralThreadsOnSeveralMembers) {
    struct Case {
        travo::Member f;
        std::vector<std::vector<double>> pts;
        std::vector<Expected> expected;
    };
    std::vector<Case> cases;
    std::vector<travo::Parameters> params;
    for (std::uint32_t k = 0; k < 4; k++) {
        travo::Parameters p = travo::Parameters::in_cube(k == 3 ? 8 : 2 + k);
        p.num_minima = 6 + 5 * k;
        p.test_number = 3 + static_cast<std::int32_t>(k);
        params.push_back(p);
        reset();
        generate_in_module(p);
        Case c{travo::generate(p), {}, {}};
        c.pts = probes(view(), 12, k);
        for (const auto &x : c.pts) c.expected.push_back(from_module(x));
        cases.push_back(std::move(c));
    }
    reset();
    std::vector<int> bad(6, 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < bad.size(); t++) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 10; round++) {
                for (std::size_t k = 0; k < cases.size(); k++) {
                    const Case &c = cases[(k + t) % cases.size()];
                    if (t % 2) {
                        const travo::Member g = travo::generate(params[(k + t) % cases.size()]);
                        bad[t] += bits(g.delta()) != bits(c.f.delta());
                        for (std::uint32_t row = 0; row < g.num_minima(); row++) {
                            bad[t] += bits(g.radii()[row]) != bits(c.f.radii()[row]);
                            bad[t] += bits(g.minimum_values()[row]) != bits(c.f.minimum_values()[row]);
                            for (std::uint32_t i = 0; i < g.dim(); i++) {
                                bad[t] += bits(g.minimizer(row)[i]) != bits(c.f.minimizer(row)[i]);
                            }
                        }
                    }
                    for (std::size_t i = 0; i < c.pts.size(); i++) bad[t] += mismatches(c.f, c.pts[i], c.expected[i]);
                }
            }
        });
    }
    for (auto &th : threads) th.join();
    for (std::size_t t = 0; t < bad.size(); t++) EXPECT_EQ(bad[t], 0) << "thread " << t;
}
