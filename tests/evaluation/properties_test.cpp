// Properties of generated members of several sizes, m = 2 included; evaluation neither allocates nor writes.
#include <numeric>

#include "evaluation/evaluate.hpp"
#include "support/module_fixture.hpp"

using namespace travo::core;

namespace {

constexpr Kind kKinds[] = {Kind::ND, Kind::D, Kind::D2};

// A point at distance `dist` from `centre` along a random direction.
std::vector<double> along(const double *centre, uint32_t n, double dist, std::mt19937_64 &gen) {
    std::normal_distribution<double> normal;
    std::vector<double> u(n);
    std::generate(u.begin(), u.end(), [&] { return normal(gen); });
    const double len = std::sqrt(std::inner_product(u.begin(), u.end(), u.begin(), 0.0));
    for (uint32_t c = 0; c < n; c++) u[c] = centre[c] + dist * u[c] / len;
    return u;
}

// The region holding x (0: none), or UINT32_MAX outside the box.
uint32_t region_of(const Member &mb, const std::vector<double> &x) {
    const Site site = locate(mb, x.data());
    return site.where == Site::Refused ? UINT32_MAX : site.k;
}

::testing::AssertionResult Close(double a, double b, double tol) {
    if (std::abs(a - b) <= tol * std::max({1.0, std::abs(a), std::abs(b)})) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << a << " vs " << b;
}

// Runs `f` on each member; `f` must neither allocate nor change the tables.
template <class F>
void for_members(F f) {
    const uint32_t cases[][3] = {{2, 2, 1}, {2, 50, 7}, {3, 20, 42}, {5, 20, 1}, {10, 20, 100}};
    for (const auto &[n, m, test] : cases) {
        travo::testing::TestMember own(n, m, -1.0, 0.6, 0.25);
        ASSERT_EQ(own.generate(static_cast<int32_t>(test)), TRAVO_STATUS_OK);
        SCOPED_TRACE(::testing::Message() << "n=" << n << " m=" << m << " test=" << test);
        const Member &mb = own.mb;
        travo::testing::TestMember copy(n, m, -1.0, 0.6, 0.25);
        ASSERT_EQ(copy.generate(static_cast<int32_t>(test)), TRAVO_STATUS_OK);
        const auto allocations = travo::host::allocation_count();
        std::mt19937_64 gen(n * 1000003u + m * 101u + test);
        f(mb, gen);
        EXPECT_EQ(travo::host::allocation_count(), allocations);
        EXPECT_TRUE(travo::testing::SameTables(mb, copy.mb));
    }
}

}  // namespace

// The minimizer's value at each minimizer, the paraboloid's outside every region, nothing below the global
// minimum; continuity across each sphere (values; D and D2 gradients; D2 second derivatives); derivatives against
// central differences inside a region, and a symmetric Hessian.
TEST(Properties, ValuesAndDerivatives) {
    for_members([](const Member &mb, std::mt19937_64 &gen) {
        const MinimaTable &t = mb.minima;
        for (uint32_t k = 1; k < mb.num_minima; k++) {
            for (Kind kind : kKinds) EXPECT_EQ(value_at(mb, kind, t.points[k]), t.values[k]);
        }
        std::uniform_real_distribution<double> unit(-1.0, 1.0), frac(0.0, 1.0);
        for (int s = 0; s < 400; s++) {
            const uint32_t k = 1 + static_cast<uint32_t>(gen() % (mb.num_minima - 1));
            std::vector<double> x = along(t.points[k], mb.dim, frac(gen) * t.radii[k], gen);
            if (s % 2 == 0) std::generate(x.begin(), x.end(), [&] { return unit(gen); });
            const uint32_t region = region_of(mb, x);
            const double dist = norm(mb.dim, x.data(), t.points[0]);
            for (Kind kind : kKinds) {
                const double v = value_at(mb, kind, x.data());
                EXPECT_TRUE(region != 0 || v == dist * dist + t.values[0]) << v;
                EXPECT_TRUE(region == UINT32_MAX || v >= mb.global_value) << v;
            }
        }

        const uint32_t n = mb.dim;
        std::uniform_real_distribution<double> inner_frac(0.15, 0.85);
        int checked = 0;
        for (uint32_t k = 1; k < mb.num_minima; k++) {
            const double *p = mb.minima.points[k], rho = mb.minima.radii[k], h = 1e-6 * rho;
            const auto x = along(p, n, inner_frac(gen) * rho, gen);
            auto same = gen;  // one direction for both points
            const auto in = along(p, n, rho * (1.0 - 1e-7), gen), out = along(p, n, rho * (1.0 + 1e-7), same);
            const bool sphere = region_of(mb, in) == k && region_of(mb, out) == 0;
            checked += sphere;
            for (Kind kind : kKinds) {
                const double tol = 1e-4 * std::max(1.0, rho);
                EXPECT_TRUE(!sphere || Close(value_at(mb, kind, in.data()), value_at(mb, kind, out.data()), tol));
            }
            for (uint32_t i = 1; i <= n; i++) {
                auto xp = x, xm = x;
                xp[i - 1] += h;
                xm[i - 1] -= h;
                const bool inner = region_of(mb, x) == k && region_of(mb, xp) == k && region_of(mb, xm) == k;
                for (Kind kind : {Kind::D, Kind::D2}) {
                    EXPECT_TRUE(!sphere ||
                                Close(deriv_at(mb, kind, i, in.data()), deriv_at(mb, kind, i, out.data()), 1e-3));
                    const double fd = (value_at(mb, kind, xp.data()) - value_at(mb, kind, xm.data())) / (2 * h);
                    EXPECT_TRUE(!inner || Close(fd, deriv_at(mb, kind, i, x.data()), 1e-5 / std::min(1.0, rho))) << i;
                }
                for (uint32_t j = 1; j <= n; j++) {
                    EXPECT_TRUE(!sphere ||
                                Close(deriv2_at(mb, i, j, in.data()), deriv2_at(mb, i, j, out.data()), 1e-2));
                    const double fd = (deriv_at(mb, Kind::D2, j, xp.data()) - deriv_at(mb, Kind::D2, j, xm.data())) /
                                      (2 * h);
                    EXPECT_TRUE(!inner || Close(fd, deriv2_at(mb, i, j, x.data()), 1e-5 / std::min(1.0, rho * rho)));
                    EXPECT_TRUE(Close(deriv2_at(mb, i, j, x.data()), deriv2_at(mb, j, i, x.data()), 1e-9));
                }
            }
        }
        EXPECT_TRUE(checked > 0 || mb.num_minima == 2);
    });
}
