// Values and derivatives: the worked point, centres, refusals and the lowest index winning.
#include "evaluation/evaluate.hpp"
#include "support/module_fixture.hpp"

using namespace travo::core;
using travo::testing::Near10;

constexpr Kind kKinds[] = {Kind::ND, Kind::D, Kind::D2};

// The worked member: every value and derivative at (0.6, 0.1). Within 1e-10 of a centre every kind takes the
// minimum value, a flat gradient and Hessian delta I; just past it D2 slopes by delta times the distance.
TEST(Evaluation, WorkedPointAndCentres) {
    travo::testing::TestMember w({{0.0, 0.0}, {0.5, 0.0}}, 0.2);
    const Member &mb = w.mb;
    w.mb.minima.radii[0] = 0.3, w.mb.minima.radii[1] = 0.2, w.mb.delta = 2.0, w.mb.isArgSet = 1;
    const double x[2] = {0.6, 0.1}, p[2] = {-0.7, 0.4};
    ASSERT_EQ(locate(mb, x).where, Site::Region);
    const double got[] = {value_at(mb, Kind::ND, x),    value_at(mb, Kind::D, x),    value_at(mb, Kind::D2, x),
                          deriv_at(mb, Kind::D, 1, x),  deriv_at(mb, Kind::D, 2, x), deriv_at(mb, Kind::D2, 1, x),
                          deriv_at(mb, Kind::D2, 2, x), deriv2_at(mb, 1, 1, x),      deriv2_at(mb, 1, 2, x),
                          deriv2_at(mb, 2, 1, x),       deriv2_at(mb, 2, 2, x)};
    const double want[] = {-0.2842893219, 0.1025378798, 0.1698998847, 6.813068196,  5.898854634, 7.065823292,
                           6.144250417,   -48.48275380, -112.4988511, -112.4988511, -53.62994006};
    for (int k = 0; k < 11; k++) EXPECT_TRUE(Near10(want[k], got[k])) << k;

    const double centre[2] = {0.5, 0.0}, near_centre[2] = {0.5 + 0.9e-10, 0.0}, off[2] = {0.5 + 1.1e-10, 0.0};
    w.mb.delta = 3.0;  // apart from the paraboloid's 2
    for (Kind k : kKinds) EXPECT_EQ(value_at(mb, k, centre) + value_at(mb, k, near_centre), -2.0);
    for (uint32_t i = 1; i <= 2; i++) {
        EXPECT_EQ(deriv_at(mb, Kind::D, i, near_centre) + deriv_at(mb, Kind::D2, i, near_centre), 0.0);
        for (uint32_t j = 1; j <= 2; j++) EXPECT_EQ(deriv2_at(mb, i, j, centre), i == j ? 3.0 : 0.0);
    }
    EXPECT_NEAR(deriv_at(mb, Kind::D2, 1, off), 3.0 * 1.1e-10, 1e-13);
    EXPECT_NEAR(deriv2_at(mb, 1, 1, off), 3.0, 1e-3);
    EXPECT_EQ(deriv2_at(mb, 1, 1, p) + deriv2_at(mb, 1, 2, p), 2.0);  // the paraboloid's
}

// The box tolerance on every side (0.5e-10 in, 2e-10 out); a missing Hessian row or output, derivative indices
// 0 and n + 1 and a member not generated are refused, writing nothing.
TEST(Evaluation, Refusals) {
    travo::testing::TestMember w(2, 10);
    ASSERT_EQ(w.generate(1), TRAVO_STATUS_OK);
    const Member &mb = w.mb;
    double g[2] = {7.0, 7.0}, row0[2] = {7.0, 7.0}, row1[2], *h[2] = {row0, nullptr};
    const double x[2] = {0.6, 0.1};
    EXPECT_EQ(hessian(mb, x, h), TRAVO_BAD_DERIVATIVE);
    EXPECT_EQ(gradient(mb, Kind::D, x, nullptr) + hessian(mb, x, nullptr), 2 * TRAVO_BAD_DERIVATIVE);
    EXPECT_EQ(row0[0], 7.0);
    h[1] = row1;
    for (int c = 0; c < 4; c++) {
        double in[2] = {0.0, 0.0}, out[2] = {0.0, 0.0};
        const double edge = c < 2 ? -1.0 : 1.0;
        in[c % 2] = edge + edge * 0.5e-10;
        out[c % 2] = edge + edge * 2e-10;
        for (Kind k : kKinds) EXPECT_LT(value_at(mb, k, in), TRAVO_ERROR_VALUE);
        EXPECT_EQ(value_at(mb, Kind::ND, out) + deriv_at(mb, Kind::D, 1, out), 2 * TRAVO_ERROR_VALUE);
        EXPECT_EQ(gradient(mb, Kind::D2, out, g) + hessian(mb, out, h), 2 * TRAVO_BAD_DERIVATIVE);
        EXPECT_EQ(g[0] + g[1] + row0[1] + row1[0], 4 * TRAVO_ERROR_VALUE);
    }
    for (uint32_t bad : {0u, 3u})
        EXPECT_EQ(deriv_at(mb, Kind::D, bad, x) + deriv2_at(mb, bad, 1, x), 2 * TRAVO_ERROR_VALUE);
    w.mb.isArgSet = 0;
    g[0] = 7.0;
    EXPECT_EQ(gradient(mb, Kind::D2, x, g), TRAVO_BAD_DERIVATIVE);
    EXPECT_EQ(g[0], 7.0);
}

// A point where two regions touch belongs to the lower index, wherever that region lies.
TEST(Evaluation, TouchingRegionsLowestIndexWins) {
    travo::testing::TestMember own({{-0.8, -0.8}, {0.5, 0.0}, {0.0, 0.0}}, 0.25);
    own.mb.minima.radii[0] = 0.1, own.mb.minima.radii[1] = own.mb.minima.radii[2] = 0.25;
    own.mb.minima.values[2] = -0.5, own.mb.isArgSet = 1;
    const double touch[2] = {0.25, 0.0};
    EXPECT_EQ(locate(own.mb, touch).k, 1u);
    std::swap(own.mb.minima.points[1], own.mb.minima.points[2]);
    EXPECT_EQ(locate(own.mb, touch).k, 1u);
    EXPECT_EQ(locate(own.mb, touch).centre[0], 0.0);
}

class ModuleEvaluation : public travo::testing::ModuleTest {};

// Arrays shorter than the dimension are never read: short tables are refused by region sizing, a short box by
// evaluation and by generation (which leaves the box to the caller), a null point by a gradient.
TEST_F(ModuleEvaluation, MissingOrShortArraysAreRefused) {
    const double x[5] = {0.1, 0.2, 0.0, 0.0, 0.0};
    double g[5];
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    EXPECT_EQ(TRAVO_D2_gradient(nullptr, g), TRAVO_BAD_DERIVATIVE);
    TRAVO_num_minima = 11;
    EXPECT_EQ(TRAVO_set_basins(), TRAVO_NO_MEMORY);
    TRAVO_num_minima = 10;
    TRAVO_dim = 5;
    EXPECT_EQ(TRAVO_D2_func(x), TRAVO_ERROR_VALUE);
    TRAVO_free();
    EXPECT_EQ(TRAVO_arg_generate(1), TRAVO_BAD_DOMAIN);
    EXPECT_NE(TRAVO_domain_left, nullptr);  // still the caller's to release
    TRAVO_dim = 2;
}
