// The C++ interface against the module-wide C interface: same tables, same
// bits for every kind and derivative, on many members and from many threads.
#include <bit>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "support/module_fixture.hpp"
#include "travo/travo.hpp"

using travo::Kind;
using travo::testing::ModuleTest;

namespace {

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// Points that reach every branch of evaluation: random points of the box,
// points inside each region at several fractions of its radius, the
// minimizers themselves, the vertex, and points just inside and just
// outside the box tolerance.
std::vector<std::vector<double>> probe_points(const travo::Member &f, std::uint64_t seed) {
    const auto &p = f.parameters();
    const std::uint32_t n = f.dim();
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::vector<double>> pts;
    for (int k = 0; k < 12; k++) {
        std::vector<double> x(n);
        for (std::uint32_t c = 0; c < n; c++) x[c] = p.lower[c] + unit(gen) * (p.upper[c] - p.lower[c]);
        pts.push_back(x);
    }
    for (std::uint32_t row = 0; row < f.num_minima(); row++) {
        const auto m = f.minimizer(row);
        pts.emplace_back(m.begin(), m.end());
        for (double frac : {0.3, 0.75, 0.999}) {
            std::vector<double> dir(n);
            double len = 0.0;
            for (auto &d : dir) {
                d = unit(gen) - 0.5;
                len += d * d;
            }
            len = std::sqrt(len);
            std::vector<double> x(n);
            for (std::uint32_t c = 0; c < n; c++) {
                x[c] = std::clamp(m[c] + frac * f.radii()[row] * dir[c] / len, p.lower[c], p.upper[c]);
            }
            pts.push_back(x);
        }
    }
    std::vector<double> edge(p.lower.begin(), p.lower.end());
    edge[0] -= 0.5e-10;
    pts.push_back(edge);
    edge[0] -= 2e-10;
    pts.push_back(edge);
    std::vector<double> high(p.upper.begin(), p.upper.end());
    high[n - 1] += 1.0;
    pts.push_back(high);
    return pts;
}

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

void expect_same_tables(const travo::Member &f) {
    ASSERT_EQ(f.dim(), TRAVO_dim);
    ASSERT_EQ(f.num_minima(), TRAVO_num_minima);
    EXPECT_EQ(bits(f.delta()), bits(TRAVO_get_delta()));
    for (std::uint32_t row = 0; row < f.num_minima(); row++) {
        EXPECT_EQ(bits(f.minimum_values()[row]), bits(TRAVO_minima.values[row])) << "row " << row;
        EXPECT_EQ(bits(f.radii()[row]), bits(TRAVO_minima.radii[row])) << "row " << row;
        for (std::uint32_t c = 0; c < f.dim(); c++) {
            EXPECT_EQ(bits(f.minimizer(row)[c]), bits(TRAVO_minima.points[row][c])) << "row " << row;
        }
    }
    const auto glob = f.global_minimizers();
    ASSERT_EQ(glob.size(), TRAVO_glob.count);
    for (std::size_t k = 0; k < glob.size(); k++) EXPECT_EQ(glob[k], TRAVO_glob.indices[k]);
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

TEST_F(BitIdentity, DefaultParametersMatchTheLibraryDefaults) {
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    const travo::Parameters p;
    EXPECT_EQ(p.dim, TRAVO_dim);
    EXPECT_EQ(p.num_minima, TRAVO_num_minima);
    EXPECT_EQ(bits(p.global_value), bits(TRAVO_global_value));
    EXPECT_EQ(bits(p.distance), bits(TRAVO_global_dist));
    EXPECT_EQ(bits(p.radius), bits(TRAVO_global_radius));
    for (std::uint32_t c = 0; c < 2; c++) {
        EXPECT_EQ(p.lower[c], TRAVO_domain_left[c]);
        EXPECT_EQ(p.upper[c], TRAVO_domain_right[c]);
    }
    // The same derivation from any box as the library's defaults.
    double left[3] = {0.0, -2.0, 1.0}, right[3] = {4.0, -1.25, 8.0};
    TRAVO_domain_free();
    TRAVO_domain_left = left;
    TRAVO_domain_right = right;
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    const auto q = travo::Parameters::in_box({0.0, -2.0, 1.0}, {4.0, -1.25, 8.0});
    EXPECT_EQ(bits(q.distance), bits(TRAVO_global_dist));
    EXPECT_EQ(bits(q.radius), bits(TRAVO_global_radius));
    TRAVO_domain_left = TRAVO_domain_right = nullptr;
}

TEST_F(BitIdentity, ManyMembersAllKindsAndDerivatives) {
    int members = 0;
    for (std::uint32_t n = 2; n <= 10; n++) {
        for (std::uint32_t m : {2u, 3u, 11u, 24u}) {
            for (std::int32_t test : {1, 42, 100}) {
                travo::Parameters p = (test == 42) ? skewed_box(n) : travo::Parameters::in_cube(n);
                p.num_minima = m;
                p.test_number = test;
                if (test == 100) {
                    p.global_value = -3.5;
                    p.distance = 0.9;
                    p.radius = 0.3;
                }
                reset();
                generate_in_module(p);
                const travo::Member f = travo::generate(p);
                SCOPED_TRACE("n=" + std::to_string(n) + " m=" + std::to_string(m) + " test=" + std::to_string(test));
                expect_same_tables(f);
                const auto pts = probe_points(f, n * 1000 + m * 10 + test);
                int bad = 0;
                for (const auto &x : pts) bad += mismatches(f, x, from_module(x));
                EXPECT_EQ(bad, 0);
                members++;
            }
        }
    }
    EXPECT_EQ(members, 9 * 4 * 3);
}

TEST_F(BitIdentity, BatchFormsMatchTheCInterfaceAndKeepTheirStride) {
    travo::Parameters p = travo::Parameters::in_cube(3);
    p.num_minima = 15;
    p.test_number = 9;
    generate_in_module(p);
    const travo::Member f = travo::generate(p);
    const auto pts = probe_points(f, 99);
    std::vector<double> flat;
    for (const auto &x : pts) flat.insert(flat.end(), x.begin(), x.end());
    const std::size_t count = pts.size(), n = 3;

    std::vector<double> v(count), vd(count), gd(count * n), gd2(count * n), h(count * n * n);
    f.values(Kind::ND, flat, v);
    f.values_and_gradients(Kind::D, flat, vd, gd);
    f.gradients(Kind::D2, flat, gd2);
    f.hessians(flat, h);
    for (std::size_t k = 0; k < count; k++) {
        const Expected e = from_module(pts[k]);
        EXPECT_EQ(bits(v[k]), bits(e.nd)) << k;
        EXPECT_EQ(bits(vd[k]), bits(e.d)) << k;
        for (std::size_t i = 0; i < n; i++) {
            EXPECT_EQ(bits(gd[k * n + i]), bits(e.gd[i])) << k;
            EXPECT_EQ(bits(gd2[k * n + i]), bits(e.gd2[i])) << k;
        }
        for (std::size_t i = 0; i < n * n; i++) EXPECT_EQ(bits(h[k * n * n + i]), bits(e.h[i])) << k;
    }
}

TEST_F(BitIdentity, SeveralThreadsOnSeveralMembers) {
    struct Case {
        travo::Member f;
        std::vector<std::vector<double>> pts;
        std::vector<Expected> expected;
    };
    std::vector<Case> cases;
    const std::uint32_t dims[] = {2, 3, 5, 8};
    for (std::size_t k = 0; k < 4; k++) {
        travo::Parameters p = travo::Parameters::in_cube(dims[k]);
        p.num_minima = 6 + 5 * static_cast<std::uint32_t>(k);
        p.test_number = 3 + static_cast<std::int32_t>(k);
        reset();
        generate_in_module(p);
        Case c{travo::generate(p), {}, {}};
        c.pts = probe_points(c.f, k);
        for (const auto &x : c.pts) c.expected.push_back(from_module(x));
        cases.push_back(std::move(c));
    }
    reset();  // the module state is gone: the members stand on their own

    std::vector<int> bad(6, 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < bad.size(); t++) {
        threads.emplace_back([&cases, &bad, t] {
            for (int round = 0; round < 20; round++) {
                for (std::size_t k = 0; k < cases.size(); k++) {
                    const Case &c = cases[(k + t) % cases.size()];
                    for (std::size_t i = 0; i < c.pts.size(); i++) bad[t] += mismatches(c.f, c.pts[i], c.expected[i]);
                }
            }
        });
    }
    for (auto &th : threads) th.join();
    for (std::size_t t = 0; t < bad.size(); t++) EXPECT_EQ(bad[t], 0) << "thread " << t;
}

TEST_F(BitIdentity, ConcurrentGenerationGivesTheSameMembers) {
    std::vector<travo::Parameters> params;
    for (std::uint32_t k = 0; k < 8; k++) {
        travo::Parameters p = travo::Parameters::in_cube(2 + k % 4);
        p.num_minima = 5 + 7 * k;
        p.test_number = static_cast<std::int32_t>(10 + k);
        params.push_back(p);
    }
    std::vector<travo::Member> serial;
    for (const auto &p : params) serial.push_back(travo::generate(p));

    std::vector<int> bad(4, 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < bad.size(); t++) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; round++) {
                for (std::size_t k = 0; k < params.size(); k++) {
                    const travo::Member f = travo::generate(params[k]);
                    const travo::Member &s = serial[k];
                    bad[t] += bits(f.delta()) != bits(s.delta());
                    for (std::uint32_t row = 0; row < f.num_minima(); row++) {
                        bad[t] += bits(f.radii()[row]) != bits(s.radii()[row]);
                        bad[t] += bits(f.minimum_values()[row]) != bits(s.minimum_values()[row]);
                        for (std::uint32_t c = 0; c < f.dim(); c++) {
                            bad[t] += bits(f.minimizer(row)[c]) != bits(s.minimizer(row)[c]);
                        }
                    }
                }
            }
        });
    }
    for (auto &th : threads) th.join();
    for (std::size_t t = 0; t < bad.size(); t++) EXPECT_EQ(bad[t], 0) << "thread " << t;
}
