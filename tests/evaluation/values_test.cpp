// Values and derivatives at a hand-built member: the worked point, centres,
// the paraboloid, the refusals (box tolerance, indices, missing outputs, no
// member) and the lowest index winning.
#include "evaluation/evaluate.hpp"
#include "support/module_fixture.hpp"

using namespace travo::core;
using travo::testing::Near10;

namespace {

constexpr Kind kKinds[] = {Kind::ND, Kind::D, Kind::D2};

// Vertex (0, 0) with value 0, one region at (0.5, 0) with value -1 and
// radius 0.2, delta 2.
struct WorkedMember : travo::testing::TestMember {
    WorkedMember() : TestMember({{0.0, 0.0}, {0.5, 0.0}}, 0.2) {
        mb.minima.radii[0] = 0.3;
        mb.minima.radii[1] = 0.2;
        mb.delta = 2.0;
        mb.isArgSet = 1;
    }
};

}  // namespace

TEST(Evaluation, WorkedPoint) {
    const WorkedMember w;
    const Member &mb = w.mb;
    const double x[2] = {0.6, 0.1};
    ASSERT_EQ(locate(mb, x).where, Site::Region);
    EXPECT_TRUE(Near10(-0.2842893219, value_at(mb, Kind::ND, x)));
    EXPECT_TRUE(Near10(0.1025378798, value_at(mb, Kind::D, x)));
    EXPECT_TRUE(Near10(0.1698998847, value_at(mb, Kind::D2, x)));
    EXPECT_TRUE(Near10(6.813068196, deriv_at(mb, Kind::D, 1, x)));
    EXPECT_TRUE(Near10(5.898854634, deriv_at(mb, Kind::D, 2, x)));
    EXPECT_TRUE(Near10(7.065823292, deriv_at(mb, Kind::D2, 1, x)));
    EXPECT_TRUE(Near10(6.144250417, deriv_at(mb, Kind::D2, 2, x)));
    EXPECT_TRUE(Near10(-48.48275380, deriv2_at(mb, 1, 1, x)));
    EXPECT_TRUE(Near10(-112.4988511, deriv2_at(mb, 1, 2, x)));
    EXPECT_TRUE(Near10(-112.4988511, deriv2_at(mb, 2, 1, x)));
    EXPECT_TRUE(Near10(-53.62994006, deriv2_at(mb, 2, 2, x)));
}

// Within 1e-10 of a centre every kind takes the minimum value with a flat
// gradient and Hessian delta I; just past it D2 slopes by delta times the
// distance; outside every region, the paraboloid.
TEST(Evaluation, CentresVertexAndParaboloid) {
    WorkedMember w;
    const Member &mb = w.mb;
    w.mb.delta = 3.0;
    const double centre[2] = {0.5, 0.0}, near_centre[2] = {0.5 + 0.9e-10, 0.0}, vertex[2] = {0.0, 0.0};
    const double off[2] = {0.5 + 1.1e-10, 0.0}, p[2] = {-0.7, 0.4};
    for (Kind k : kKinds) {
        EXPECT_EQ(value_at(mb, k, centre) + value_at(mb, k, near_centre), -2.0);
        EXPECT_EQ(value_at(mb, k, vertex), 0.0);
        EXPECT_DOUBLE_EQ(value_at(mb, k, p), 0.7 * 0.7 + 0.4 * 0.4);
    }
    for (uint32_t i = 1; i <= 2; i++) {
        EXPECT_EQ(deriv_at(mb, Kind::D, i, near_centre), 0.0);
        EXPECT_EQ(deriv_at(mb, Kind::D2, i, near_centre), 0.0);
        for (uint32_t j = 1; j <= 2; j++) EXPECT_EQ(deriv2_at(mb, i, j, centre), i == j ? 3.0 : 0.0);
    }
    EXPECT_NEAR(deriv_at(mb, Kind::D2, 1, off), 3.0 * 1.1e-10, 1e-13);
    EXPECT_NEAR(deriv2_at(mb, 1, 1, off), 3.0, 1e-3);
    EXPECT_EQ(deriv_at(mb, Kind::D, 1, p), 2.0 * -0.7);
    EXPECT_EQ(deriv_at(mb, Kind::D2, 2, p), 2.0 * 0.4);
    EXPECT_EQ(deriv2_at(mb, 1, 1, p) + deriv2_at(mb, 1, 2, p), 2.0);
}

// Points up to 0.5e-10 outside the box are evaluated, 2e-10 outside are
// refused with the error value everywhere; indices 0 and n+1, missing
// output arrays and a member not generated are refused, writing nothing.
TEST(Evaluation, Refusals) {
    WorkedMember w;
    const Member &mb = w.mb;
    double g[2] = {7.0, 7.0}, row0[2] = {7.0, 7.0}, row1[2], *h[2] = {row0, row1};
    const double x[2] = {0.6, 0.1};
    h[1] = nullptr;
    EXPECT_EQ(hessian(mb, x, h), TRAVO_BAD_DERIVATIVE);
    EXPECT_EQ(gradient(mb, Kind::D, x, nullptr) + hessian(mb, x, nullptr), 2 * TRAVO_BAD_DERIVATIVE);
    EXPECT_EQ(row0[0], 7.0);
    h[1] = row1;
    for (int c = 0; c < 4; c++) {
        double in[2] = {0.0, 0.0}, out[2] = {0.0, 0.0};
        const double edge = c < 2 ? -1.0 : 1.0;
        in[c % 2] = edge + edge * 0.5e-10;
        out[c % 2] = edge + edge * 2e-10;
        for (Kind k : kKinds) {
            EXPECT_LT(value_at(mb, k, in), 2.0);
            EXPECT_EQ(value_at(mb, k, out), TRAVO_ERROR_VALUE);
        }
        EXPECT_EQ(deriv_at(mb, Kind::D, 1, out) + deriv2_at(mb, 2, 1, out), 2 * TRAVO_ERROR_VALUE);
        EXPECT_EQ(gradient(mb, Kind::D2, out, g), TRAVO_BAD_DERIVATIVE);
        EXPECT_EQ(hessian(mb, out, h), TRAVO_BAD_DERIVATIVE);
        EXPECT_EQ(g[0] + g[1] + row0[1] + row1[0], 4 * TRAVO_ERROR_VALUE);
    }
    for (uint32_t bad : {0u, 3u}) {
        EXPECT_EQ(deriv_at(mb, Kind::D, bad, x) + deriv_at(mb, Kind::D2, bad, x), 2 * TRAVO_ERROR_VALUE);
        EXPECT_EQ(deriv2_at(mb, bad, 1, x) + deriv2_at(mb, 1, bad, x), 2 * TRAVO_ERROR_VALUE);
    }
    w.mb.isArgSet = 0;
    g[0] = 7.0;
    EXPECT_EQ(value_at(mb, Kind::ND, x), TRAVO_ERROR_VALUE);
    EXPECT_EQ(gradient(mb, Kind::D2, x, g), TRAVO_BAD_DERIVATIVE);
    EXPECT_EQ(g[0], 7.0);
}

// A point on the common boundary of two touching regions belongs to the
// region with the lower index, wherever that region lies.
TEST(Evaluation, TouchingRegionsLowestIndexWins) {
    travo::testing::TestMember own({{-0.8, -0.8}, {0.5, 0.0}, {0.0, 0.0}}, 0.25);
    own.mb.minima.radii[0] = 0.1;
    own.mb.minima.radii[1] = own.mb.minima.radii[2] = 0.25;
    own.mb.minima.values[2] = -0.5;
    own.mb.isArgSet = 1;
    const double touch[2] = {0.25, 0.0};
    EXPECT_EQ(locate(own.mb, touch).k, 1u);
    std::swap(own.mb.minima.points[1], own.mb.minima.points[2]);
    EXPECT_EQ(locate(own.mb, touch).k, 1u);
    EXPECT_EQ(locate(own.mb, touch).centre[0], 0.0);
}

class ModuleEvaluation : public travo::testing::ModuleTest {};

// Arrays that are missing or shorter than the dimension are never read: a
// released box or a null point is refused like a point outside the box, a
// box or tables the library made for fewer coordinates or rows are refused
// by generation (status 4) and by evaluation.
TEST_F(ModuleEvaluation, MissingOrShortArraysAreRefused) {
    const double x[5] = {0.1, 0.2, 0.0, 0.0, 0.0};
    double g[5];
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    EXPECT_EQ(TRAVO_D2_func(nullptr), TRAVO_ERROR_VALUE);
    EXPECT_EQ(TRAVO_D2_gradient(nullptr, g), TRAVO_BAD_DERIVATIVE);
    TRAVO_num_minima = 11;  // more rows than the tables hold
    EXPECT_EQ(TRAVO_D2_func(x), TRAVO_ERROR_VALUE);
    EXPECT_EQ(TRAVO_set_basins(), TRAVO_NO_MEMORY);
    TRAVO_num_minima = 10;
    EXPECT_LT(TRAVO_D2_func(x), TRAVO_ERROR_VALUE);
    TRAVO_dim = 5;  // more coordinates than the box and the points hold
    EXPECT_EQ(TRAVO_D2_func(x), TRAVO_ERROR_VALUE);
    EXPECT_EQ(TRAVO_parameters_check(), TRAVO_BAD_DOMAIN);
    TRAVO_free();
    EXPECT_EQ(TRAVO_arg_generate(1), TRAVO_BAD_DOMAIN);
    EXPECT_NE(TRAVO_domain_left, nullptr);  // still the caller's to release
    TRAVO_dim = 2;
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    TRAVO_domain_free();
    EXPECT_EQ(TRAVO_D2_func(x), TRAVO_ERROR_VALUE);
    EXPECT_EQ(TRAVO_D_deriv(1, x), TRAVO_ERROR_VALUE);
}
