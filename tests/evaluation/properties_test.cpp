// Properties of every generated member, checked over many members of all
// sizes: values at minimizers and outside the regions, continuity across the
// region spheres, derivatives against central differences, symmetry of the
// Hessian, no value below the global minimum, the one-lookup gradient and
// Hessian equal to the per-component operations, and evaluation that neither
// allocates nor writes the member.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "evaluation/evaluate.hpp"
#include "host/host_layer.hpp"
#include "support/core_member.hpp"

using namespace travo::core;
using travo::testing::OwnedMember;

namespace {

constexpr Kind kKinds[] = {Kind::ND, Kind::D, Kind::D2};

struct Case {
    uint32_t n, m;
    int32_t test;
};

std::vector<Case> cases() {
    std::vector<Case> out;
    for (uint32_t n : {2u, 3u, 5u, 10u}) {
        for (uint32_t m : {2u, 5u, 20u}) {
            for (int32_t t : {1, 37, 100}) out.push_back({n, m, t});
        }
    }
    return out;
}

// A point at distance `dist` from `centre` along a random unit direction.
std::vector<double> along(const double *centre, uint32_t n, double dist, std::mt19937_64 &gen) {
    std::normal_distribution<double> normal;
    std::vector<double> u(n);
    double len = 0.0;
    for (double &v : u) {
        v = normal(gen);
        len += v * v;
    }
    len = std::sqrt(len);
    for (uint32_t c = 0; c < n; c++) u[c] = centre[c] + dist * u[c] / len;
    return u;
}

bool in_box(const Member &mb, const std::vector<double> &x) {
    for (uint32_t c = 0; c < mb.dim; c++) {
        if (x[c] < mb.domain_left[c] || x[c] > mb.domain_right[c]) return false;
    }
    return true;
}

uint32_t region_of(const Member &mb, const std::vector<double> &x) {
    double r;
    return find_region(mb, x.data(), &r);
}

double scale_of(double a, double b) { return std::max({1.0, std::abs(a), std::abs(b)}); }

// Visits a few generated members per case with a callback.
template <class F>
void for_members(F f) {
    for (const Case &cs : cases()) {
        OwnedMember om(cs.n, cs.m, -1.0, 0.6, 0.25);
        ASSERT_EQ(om.generate(cs.test), TRAVO_STATUS_OK);
        SCOPED_TRACE(::testing::Message() << "n=" << cs.n << " m=" << cs.m << " test=" << cs.test);
        f(om.mb, static_cast<uint64_t>(cs.n * 1000003u + cs.m * 101u + cs.test));
    }
}

}  // namespace

TEST(Properties, ValuesAtMinimizersAndOnTheParaboloid) {
    for_members([](const Member &mb, uint64_t seed) {
        const MinimaTable &t = mb.minima;
        for (uint32_t k = 1; k < mb.num_minima; k++) {
            for (Kind kind : kKinds) EXPECT_EQ(value_at(mb, kind, t.points[k]), t.values[k]);
        }
        std::mt19937_64 gen(seed);
        std::uniform_real_distribution<double> unit(-1.0, 1.0);
        for (int s = 0; s < 200; s++) {
            std::vector<double> x(mb.dim);
            for (double &v : x) v = unit(gen);
            if (region_of(mb, x) != 0) continue;
            const double dist = norm(mb.dim, x.data(), t.points[0]);
            for (Kind kind : kKinds) EXPECT_EQ(value_at(mb, kind, x.data()), dist * dist + t.values[0]);
        }
    });
}

// Just inside and just outside each sphere, every kind agrees with the
// paraboloid in value; D and D2 in gradient; D2 in second derivatives.
TEST(Properties, ContinuousAcrossTheSpheres) {
    for_members([](const Member &mb, uint64_t seed) {
        std::mt19937_64 gen(seed);
        const double eps = 1e-7;
        int checked = 0;
        for (uint32_t k = 1; k < mb.num_minima; k++) {
            const double rho = mb.minima.radii[k];
            for (int s = 0; s < 4; s++) {
                auto dir = along(mb.minima.points[k], mb.dim, 1.0, gen);
                std::vector<double> in(mb.dim), out(mb.dim);
                for (uint32_t c = 0; c < mb.dim; c++) {
                    const double u = dir[c] - mb.minima.points[k][c];
                    in[c] = mb.minima.points[k][c] + u * rho * (1.0 - eps);
                    out[c] = mb.minima.points[k][c] + u * rho * (1.0 + eps);
                }
                if (!in_box(mb, in) || !in_box(mb, out)) continue;
                if (region_of(mb, in) != k || region_of(mb, out) != 0) continue;
                checked++;
                const double tol = 1e-4 * std::max(1.0, rho);
                for (Kind kind : kKinds) {
                    const double a = value_at(mb, kind, in.data()), b = value_at(mb, kind, out.data());
                    EXPECT_NEAR(a, b, tol * scale_of(a, b));
                }
                for (uint32_t i = 1; i <= mb.dim; i++) {
                    for (Kind kind : {Kind::D, Kind::D2}) {
                        const double a = deriv_at(mb, kind, i, in.data()), b = deriv_at(mb, kind, i, out.data());
                        EXPECT_NEAR(a, b, 1e-3 * scale_of(a, b)) << "first derivative " << i;
                    }
                    for (uint32_t j = 1; j <= mb.dim; j++) {
                        const double a = deriv2_at(mb, i, j, in.data()), b = deriv2_at(mb, i, j, out.data());
                        EXPECT_NEAR(a, b, 1e-2 * scale_of(a, b)) << "second derivative " << i << "," << j;
                    }
                }
            }
        }
        EXPECT_GT(checked + (mb.num_minima <= 2 ? 1 : 0), 0);
    });
}

// Inside a region every analytic derivative agrees with a central
// difference, and the Hessian is symmetric.
TEST(Properties, DerivativesMatchCentralDifferences) {
    for_members([](const Member &mb, uint64_t seed) {
        std::mt19937_64 gen(seed);
        std::uniform_real_distribution<double> frac(0.15, 0.85);
        for (uint32_t k = 1; k < mb.num_minima; k++) {
            const double rho = mb.minima.radii[k];
            auto x = along(mb.minima.points[k], mb.dim, frac(gen) * rho, gen);
            if (!in_box(mb, x) || region_of(mb, x) != k) continue;
            const double h = 1e-6 * rho;
            for (uint32_t i = 1; i <= mb.dim; i++) {
                auto xp = x, xm = x;
                xp[i - 1] += h;
                xm[i - 1] -= h;
                if (region_of(mb, xp) != k || region_of(mb, xm) != k) continue;
                for (Kind kind : {Kind::D, Kind::D2}) {
                    const double fd = (value_at(mb, kind, xp.data()) - value_at(mb, kind, xm.data())) / (2 * h);
                    const double an = deriv_at(mb, kind, i, x.data());
                    EXPECT_NEAR(fd, an, 1e-5 * scale_of(fd, an) / std::min(1.0, rho)) << "index " << i;
                }
                for (uint32_t j = 1; j <= mb.dim; j++) {
                    const double fd =
                        (deriv_at(mb, Kind::D2, j, xp.data()) - deriv_at(mb, Kind::D2, j, xm.data())) / (2 * h);
                    const double an = deriv2_at(mb, i, j, x.data());
                    EXPECT_NEAR(fd, an, 1e-5 * scale_of(fd, an) / std::min(1.0, rho * rho));
                    const double sym = deriv2_at(mb, j, i, x.data());
                    EXPECT_NEAR(an, sym, 1e-9 * scale_of(an, sym));
                }
            }
        }
    });
}

TEST(Properties, NoSampledValueBelowTheGlobalMinimum) {
    for_members([](const Member &mb, uint64_t seed) {
        std::mt19937_64 gen(seed);
        std::uniform_real_distribution<double> unit(-1.0, 1.0);
        std::uniform_real_distribution<double> frac(0.0, 1.0);
        const double floor = mb.global_value;
        for (int s = 0; s < 400; s++) {
            std::vector<double> x(mb.dim);
            if (s % 2 == 0 || mb.num_minima < 2) {
                for (double &v : x) v = unit(gen);
            } else {
                // Half the samples inside regions, where values dip.
                const uint32_t k = 1 + static_cast<uint32_t>(gen() % (mb.num_minima - 1));
                x = along(mb.minima.points[k], mb.dim, frac(gen) * mb.minima.radii[k], gen);
                if (!in_box(mb, x)) continue;
            }
            for (Kind kind : kKinds) EXPECT_GE(value_at(mb, kind, x.data()), floor);
        }
    });
}

// The gradient and Hessian from one lookup are the per-component operations
// bit for bit; evaluation allocates nothing and leaves the member untouched.
TEST(Properties, OneLookupEqualsPerComponentAndNothingChanges) {
    for_members([](const Member &mb, uint64_t seed) {
        std::mt19937_64 gen(seed);
        std::uniform_real_distribution<double> frac(0.0, 1.0);
        auto snapshot = [&] {
            std::vector<double> out;
            for (uint32_t i = 0; i < mb.num_minima; i++) {
                out.insert(out.end(), mb.minima.points[i], mb.minima.points[i] + mb.dim);
                out.push_back(mb.minima.values[i]);
                out.push_back(mb.minima.radii[i]);
            }
            return out;
        };
        const auto before = snapshot();
        const auto allocations = travo::host::allocation_count();
        const uint32_t n = mb.dim;
        std::vector<double> g(n), rows(n * n);
        std::vector<double *> h(n);
        for (uint32_t i = 0; i < n; i++) h[i] = &rows[i * n];
        for (int s = 0; s < 30; s++) {
            const uint32_t k = static_cast<uint32_t>(gen() % mb.num_minima);
            // Centres, sphere surfaces, interiors and points far away.
            const double radius = s % 3 == 0 ? 0.0 : (s % 3 == 1 ? 1.0 : frac(gen)) * mb.minima.radii[k];
            auto x = along(mb.minima.points[k], n, radius, gen);
            for (Kind kind : {Kind::D, Kind::D2}) {
                const TravoStatus st = gradient(mb, kind, x.data(), g.data());
                bool failed = false;
                for (uint32_t i = 1; i <= n; i++) {
                    const double one = deriv_at(mb, kind, i, x.data());
                    EXPECT_EQ(0, std::memcmp(&one, &g[i - 1], sizeof one));
                    failed |= one >= TRAVO_ERROR_VALUE;
                }
                EXPECT_EQ(st, failed ? TRAVO_BAD_DERIVATIVE : TRAVO_STATUS_OK);
            }
            hessian(mb, x.data(), h.data());
            for (uint32_t i = 1; i <= n; i++) {
                for (uint32_t j = 1; j <= n; j++) {
                    const double one = deriv2_at(mb, i, j, x.data());
                    EXPECT_EQ(0, std::memcmp(&one, &h[i - 1][j - 1], sizeof one));
                }
            }
        }
        EXPECT_EQ(travo::host::allocation_count(), allocations);
        EXPECT_EQ(snapshot(), before);
    });
}
