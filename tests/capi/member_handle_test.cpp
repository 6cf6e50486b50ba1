// The reentrant C interface against the C++ interface it wraps: the same bits and refusals; its own checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "host/host_layer.hpp"
#include "support/module_fixture.hpp"
#include "travo/member.h"
#include "travo/travo.hpp"

using travo::testing::same_bits;

namespace {

constexpr travo_kind kKinds[] = {TRAVO_KIND_ND, TRAVO_KIND_D, TRAVO_KIND_D2};
constexpr travo::Kind kCppKinds[] = {travo::Kind::ND, travo::Kind::D, travo::Kind::D2};

// The C parameters of `p`, pointing into its bounds.
travo_params c_params(const travo::Parameters &p) {
    travo_params c = travo_params_default(p.dim);
    c.num_minima = p.num_minima, c.test_number = p.test_number;
    c.global_value = p.global_value, c.distance = p.distance, c.radius = p.radius;
    c.lower = p.lower.empty() ? nullptr : p.lower.data();
    c.upper = p.upper.empty() ? nullptr : p.upper.data();
    return c;
}

// A member made through the C interface, released at the end of the scope.
using Handle = std::unique_ptr<travo_member, decltype(&travo_member_free)>;
Handle make(const travo_params &p) {
    travo_member *f = nullptr;
    EXPECT_EQ(travo_member_new(&p, &f, nullptr, 0), TRAVO_STATUS_OK);
    return Handle(f, travo_member_free);
}

// Points one after another: random in the box and a little beyond, each minimizer, on its sphere and just inside,
// and the global minimizer with a NaN coordinate.
std::vector<double> probes(const travo::Member &f) {
    const std::size_t n = f.dim();
    const auto &p = f.parameters();
    std::mt19937_64 gen(n);
    std::uniform_real_distribution<double> u(-0.05, 1.05);
    std::vector<double> out;
    for (std::size_t c = 0; c < 40 * n; c++) out.push_back(p.lower[c % n] + u(gen) * (p.upper[c % n] - p.lower[c % n]));
    for (std::size_t row = 0; row < f.num_minima(); row++) {
        for (double t : {0.0, f.radii()[row], std::nextafter(f.radii()[row], 0.0)}) {
            out.insert(out.end(), f.minimizer(row).begin(), f.minimizer(row).end());
            out[out.size() - n + row % n] += t;
        }
    }
    out.insert(out.end(), f.minimizer(1).begin(), f.minimizer(1).end());
    out.back() = std::numeric_limits<double>::quiet_NaN();
    return out;
}

}  // namespace

// Members in dimensions 2, 5 and 30 and a skewed box: the tables and every operation, bit for bit. The first is
// made from the C defaults, which must thus be the C++ ones.
TEST(CMemberHandle, EveryOperationHasTheBitsOfTheCppInterface) {
    std::vector<travo::Parameters> cases = {travo::Parameters{}, travo::Parameters::in_cube(5),
                                            travo::Parameters::in_cube(30),
                                            travo::Parameters::in_box({-1.0, 0.0, 2.0}, {2.5, 0.25, 9.0})};
    cases[1].num_minima = 24, cases[1].test_number = 7;
    cases[2].num_minima = 12, cases[2].test_number = 100, cases[2].global_value = -3.5;
    cases[3].num_minima = 40, cases[3].test_number = 42;
    for (const auto &p : cases) {
        SCOPED_TRACE(::testing::Message() << "dim " << p.dim << " test " << p.test_number);
        const travo::Member cpp = travo::generate(p);
        const Handle owner = make(p.dim == 2 ? travo_params_default(2) : c_params(p));
        const travo_member *f = owner.get();
        ASSERT_NE(f, nullptr);
        const std::size_t n = p.dim;
        // The tables, then every single-point result and status, in one list.
        std::vector<double> got = {travo_member_delta(f)}, want = {cpp.delta()}, g(n), h(n * n);
        for (std::size_t row = 0; row < p.num_minima; row++) {
            got.insert(got.end(), {travo_member_minimum_values(f)[row], travo_member_radii(f)[row]});
            got.insert(got.end(), travo_member_minimizer(f, row), travo_member_minimizer(f, row) + n);
            want.insert(want.end(), {cpp.minimum_values()[row], cpp.radii()[row]});
            want.insert(want.end(), cpp.minimizer(row).begin(), cpp.minimizer(row).end());
        }
        uint32_t count = 0;
        const uint32_t *rows = travo_member_global_rows(f, &count);
        got.insert(got.end(), rows, rows + count);
        for (const auto row : cpp.global_minimizers()) want.push_back(row);
        const auto put = [](std::vector<double> &to, double status, std::span<const double> r) {
            to.push_back(status), to.insert(to.end(), r.begin(), r.end());  // r read after the call gave status
        };
        const std::vector<double> pts = probes(cpp);
        const std::size_t points = pts.size() / n;
        std::vector<std::int64_t> regions;
        for (std::size_t k = 0; k < points; k++) {
            const std::span<const double> x(pts.data() + k * n, n);
            double v;
            std::int64_t r = -2;
            got.insert(got.end(), {double(travo_member_region(f, x.data(), &r)), double(r)});
            regions.push_back(cpp.region(x));
            want.insert(want.end(), {TRAVO_STATUS_OK, double(regions.back())});
            for (int kind = 0; kind < 3; kind++) {
                put(got, travo_member_value(f, kKinds[kind], x.data(), &v), {&v, 1});
                want.insert(want.end(), {TRAVO_STATUS_OK, cpp.value(kCppKinds[kind], x)});
                if (kind == 0) continue;
                const double ok = cpp.gradient(kCppKinds[kind], x, g) ? TRAVO_STATUS_OK : TRAVO_BAD_DERIVATIVE;
                put(want, ok, g);
                put(got, travo_member_gradient(f, kKinds[kind], x.data(), g.data()), g);
                put(got, travo_member_value_and_gradient(f, kKinds[kind], x.data(), &v, g.data()), {&v, 1});
                got.insert(got.end(), g.begin(), g.end());
                want.insert(want.end(), {ok, cpp.value_and_gradient(kCppKinds[kind], x, g)});
                want.insert(want.end(), g.begin(), g.end());
            }
            put(want, cpp.hessian(x, h) ? TRAVO_STATUS_OK : TRAVO_BAD_DERIVATIVE, h);
            put(got, travo_member_hessian(f, x.data(), h.data()), h);
        }
        EXPECT_TRUE(same_bits(got, want));
        EXPECT_NE(std::count(want.begin(), want.end(), double(TRAVO_BAD_DERIVATIVE)), 0) << "none outside";

        // Batches on three threads against the C++ batches on one.
        std::vector<double> v(points), cv(points), gb(points * n), cg(points * n), hb(n * n * points), ch(hb);
        std::vector<std::int64_t> rb(points);
        for (int kind = 0; kind < 3; kind++) {
            ASSERT_EQ(travo_member_values(f, kKinds[kind], pts.data(), points, v.data(), 3), TRAVO_STATUS_OK);
            cpp.values(kCppKinds[kind], pts, cv, 1);
            EXPECT_TRUE(same_bits(v, cv)) << kind;
            if (kind == 0) continue;
            ASSERT_EQ(travo_member_gradients(f, kKinds[kind], pts.data(), points, gb.data(), 3), TRAVO_STATUS_OK);
            cpp.gradients(kCppKinds[kind], pts, cg, 1);
            EXPECT_TRUE(same_bits(gb, cg)) << kind;
            std::fill(v.begin(), v.end(), 0.0), std::fill(gb.begin(), gb.end(), 0.0);
            ASSERT_EQ(travo_member_values_and_gradients(f, kKinds[kind], pts.data(), points, v.data(), gb.data(), 3),
                      TRAVO_STATUS_OK);
            EXPECT_TRUE(same_bits(v, cv) && same_bits(gb, cg)) << kind;
        }
        ASSERT_EQ(travo_member_hessians(f, pts.data(), points, hb.data(), 3), TRAVO_STATUS_OK);
        ASSERT_EQ(travo_member_regions(f, pts.data(), points, rb.data(), 3), TRAVO_STATUS_OK);
        cpp.hessians(pts, ch, 1);
        EXPECT_TRUE(same_bits(hb, ch) && rb == regions);
    }
}
// Refusals the C layer handles itself (a dimension whose bounds are not read, NULL bounds, unsizable tables, a
// failed allocation) give travo::Error's status and rule, no handle; the text is cut to the caller's buffer.
TEST(CMemberHandle, RefusalsGiveTheStatusAndRuleOfTheCppInterface) {
    const auto before = travo::host::live_blocks();
    for (int change = 0; change < 4; change++) {
        travo::Parameters p;
        if (change == 0) p.dim = 5000;
        if (change == 1) p.lower.clear(), p.upper.clear();
        if (change == 2) p.num_minima = 4294967295u;
        const travo_params c = c_params(p);
        travo_member *f = reinterpret_cast<travo_member *>(&p);
        char why[512];
        travo::host::fail_allocation(change == 3 ? 3 : 0);
        const TravoStatus status = travo_member_new(&c, &f, why, sizeof why);
        travo::host::fail_allocation(change == 3 ? 3 : 0);
        try {
            (void)travo::generate(p);
            ADD_FAILURE() << "accepted, change " << change;
        } catch (const travo::Error &e) {
            EXPECT_TRUE(status == static_cast<int>(e.status()) && why == e.rule() && f == nullptr) << why;
        }
        travo::host::fail_allocation(0);
    }
    EXPECT_EQ(travo::host::live_blocks(), before);
    travo_params c = travo_params_default(2);
    c.distance = 1.0;
    travo_member *f = nullptr;
    char why[12] = "untouched!!";
    EXPECT_EQ(travo_member_new(&c, &f, why, 8), TRAVO_BAD_GLOBAL_DISTANCE);
    EXPECT_EQ(std::string(why, 11), std::string("the dis\0d!!", 11));
    EXPECT_EQ(travo_member_new(&c, &f, nullptr, 0), TRAVO_BAD_GLOBAL_DISTANCE);
}

// Arguments refused before they are read: NULL pointers, bad kinds, a batch too large to address, a row beyond
// the table. An empty batch needs no arrays.
TEST(CMemberHandle, BadArgumentsAreRefusedWithoutBeingRead) {
    const travo_params p = travo_params_default(2);
    const Handle h = make(p);
    const travo_member *f = h.get(), *null = nullptr;
    const travo_kind nd = TRAVO_KIND_ND, d2 = TRAVO_KIND_D2, bad = static_cast<travo_kind>(3);
    double x[2] = {0.1, -0.2}, v = 7.0, g[2] = {7.0, 7.0}, hs[4];
    std::int64_t r;
    const std::size_t huge = std::numeric_limits<std::size_t>::max() / 4;  // 4 entries a Hessian
    const std::vector<int> statuses = {
        travo_member_new(&p, nullptr, nullptr, 0), travo_member_region(null, x, &r),
        travo_member_region(f, nullptr, &r), travo_member_region(f, x, nullptr), travo_member_value(null, d2, x, &v),
        travo_member_value(f, d2, x, nullptr), travo_member_value_and_gradient(f, d2, x, nullptr, g),
        travo_member_value_and_gradient(f, d2, x, &v, nullptr), travo_member_hessian(f, nullptr, hs),
        travo_member_values(null, d2, x, 1, &v, 1), travo_member_gradients(f, d2, x, 1, nullptr, 1),
        travo_member_values_and_gradients(f, d2, x, 1, &v, nullptr, 1), travo_member_hessians(f, x, 1, nullptr, 1),
        travo_member_regions(f, nullptr, 1, &r, 1),
        // Kinds, a size, empty batches.
        travo_member_value(f, bad, x, &v), travo_member_value_and_gradient(f, nd, x, &v, g),
        travo_member_values(f, bad, x, 1, &v, 1), travo_member_values_and_gradients(f, bad, x, 1, &v, g, 1),
        travo_member_hessians(f, x, huge, hs, 1), travo_member_values(f, d2, nullptr, 0, nullptr, 0),
        travo_member_hessians(f, nullptr, 0, nullptr, 0)};
    std::vector<int> want(14, TRAVO_NULL_ARGUMENT);
    want.insert(want.end(), {TRAVO_BAD_KIND, TRAVO_BAD_KIND, TRAVO_BAD_KIND, TRAVO_BAD_KIND, TRAVO_BAD_ARGUMENT});
    want.insert(want.end(), 2, TRAVO_STATUS_OK);
    EXPECT_EQ(statuses, want);
    EXPECT_TRUE(v == 7.0 && g[0] == 7.0 && g[1] == 7.0) << "nothing written";

    EXPECT_TRUE(travo_member_dim(null) == 0 && travo_member_num_minima(null) == 0 && travo_member_delta(null) == 0.0);
    EXPECT_TRUE(travo_member_minimum_values(null) == nullptr && travo_member_radii(null) == nullptr &&
                travo_member_minimizer(null, 0) == nullptr && travo_member_minimizer(f, 10) == nullptr);
    uint32_t count = 5;
    EXPECT_TRUE(travo_member_global_rows(null, &count) == nullptr && count == 0);
    EXPECT_NE(travo_member_global_rows(f, nullptr), nullptr);
    const travo_params big = travo_params_default(travo::max_dimension + 1);
    EXPECT_TRUE(big.lower == nullptr && big.upper == nullptr);
    travo_member_free(nullptr);
    // Names of statuses and kinds, those of the C++ interface and the C layer's own.
    EXPECT_EQ(std::string(travo_status_name(TRAVO_BAD_GLOBAL_DISTANCE)), "bad global distance");
    EXPECT_EQ(std::string(travo_status_name(static_cast<TravoStatus>(TRAVO_BAD_KIND))), "bad kind");
    EXPECT_TRUE(std::string(travo_kind_name(d2)) == "D2" && travo_kind_name(bad) == nullptr);
}
