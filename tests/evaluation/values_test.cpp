// Values and derivatives at hand-built and generated members: the worked
// point, refusals, the box tolerance and the index checks, through both the
// core and the module-wide C interface.
#include <cmath>
#include <cstring>
#include <vector>

#include "evaluation/evaluate.hpp"
#include "support/core_member.hpp"
#include "support/module_fixture.hpp"

using namespace travo::core;
using travo::testing::ModuleTest;
using travo::testing::Near10;
using travo::testing::OwnedMember;

namespace {

// Vertex (0, 0) with value 0, one region at (0.5, 0) with value -1 and
// radius 0.2, delta 2.
void worked_member(OwnedMember &om) {
    om.allocate();
    Member &mb = om.mb;
    const double pts[2][2] = {{0.0, 0.0}, {0.5, 0.0}};
    for (int i = 0; i < 2; i++) {
        mb.minima.points[i][0] = pts[i][0];
        mb.minima.points[i][1] = pts[i][1];
    }
    mb.minima.values[0] = 0.0;
    mb.minima.values[1] = -1.0;
    mb.minima.radii[0] = 0.3;
    mb.minima.radii[1] = 0.2;
    mb.delta = 2.0;
    mb.isArgSet = 1;
}

}  // namespace

TEST(Evaluation, WorkedPoint) {
    OwnedMember om(2, 2, -1, 0.5, 0.2);
    worked_member(om);
    const Member &mb = om.mb;
    const double x[2] = {0.6, 0.1};
    const Site st = locate(mb, x);
    ASSERT_EQ(st.where, Site::Region);
    EXPECT_TRUE(Near10(0.1414213562, st.r));
    EXPECT_TRUE(Near10(-0.05, st.s));
    EXPECT_TRUE(Near10(-0.3535533906, st.q));
    EXPECT_TRUE(Near10(1.25, st.A));

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

TEST(Evaluation, CentresVertexAndOuterPoints) {
    OwnedMember om(2, 2, -1, 0.5, 0.2);
    worked_member(om);
    const Member &mb = om.mb;
    const double centre[2] = {0.5, 0.0}, near_centre[2] = {0.5 + 0.9e-10, 0.0}, vertex[2] = {0.0, 0.0};
    for (Kind k : {Kind::ND, Kind::D, Kind::D2}) {
        EXPECT_EQ(value_at(mb, k, centre), -1.0);
        EXPECT_EQ(value_at(mb, k, near_centre), -1.0);
        EXPECT_EQ(value_at(mb, k, vertex), 0.0);
    }
    for (uint32_t i = 1; i <= 2; i++) {
        EXPECT_EQ(deriv_at(mb, Kind::D, i, near_centre), 0.0);
        EXPECT_EQ(deriv_at(mb, Kind::D2, i, near_centre), 0.0);
        for (uint32_t j = 1; j <= 2; j++) EXPECT_EQ(deriv2_at(mb, i, j, centre), i == j ? 2.0 : 0.0);
    }
    // Just outside 1e-10 the D2 derivative is close to delta * d.
    const double off[2] = {0.5 + 1e-8, 0.0};
    EXPECT_NEAR(deriv_at(mb, Kind::D2, 1, off), 2.0 * 1e-8, 1e-11);
    EXPECT_NEAR(deriv2_at(mb, 1, 1, off), 2.0, 1e-3);

    // Outside every region: the paraboloid and its derivatives.
    const double p[2] = {-0.7, 0.4};
    const double dist = std::sqrt(0.7 * 0.7 + 0.4 * 0.4);
    for (Kind k : {Kind::ND, Kind::D, Kind::D2}) EXPECT_EQ(value_at(mb, k, p), dist * dist);
    EXPECT_EQ(deriv_at(mb, Kind::D, 1, p), 2.0 * -0.7);
    EXPECT_EQ(deriv_at(mb, Kind::D2, 2, p), 2.0 * 0.4);
    EXPECT_EQ(deriv2_at(mb, 1, 1, p), 2.0);
    EXPECT_EQ(deriv2_at(mb, 1, 2, p), 0.0);
}

TEST(Evaluation, BoxToleranceAndIndexChecks) {
    OwnedMember om(2, 2, -1, 0.5, 0.2);
    worked_member(om);
    const Member &mb = om.mb;
    for (int c = 0; c < 2; c++) {
        for (double edge : {-1.0, 1.0}) {
            double in[2] = {0.0, 0.0}, out[2] = {0.0, 0.0};
            in[c] = edge + (edge > 0 ? 0.5e-10 : -0.5e-10);
            out[c] = edge + (edge > 0 ? 2e-10 : -2e-10);
            for (Kind k : {Kind::ND, Kind::D, Kind::D2}) {
                EXPECT_LT(value_at(mb, k, in), 2.0);
                EXPECT_EQ(value_at(mb, k, out), TRAVO_ERROR_VALUE);
            }
            EXPECT_EQ(deriv_at(mb, Kind::D, 1, out), TRAVO_ERROR_VALUE);
            EXPECT_EQ(deriv2_at(mb, 2, 1, out), TRAVO_ERROR_VALUE);
            double g[2], row0[2], row1[2];
            double *h[2] = {row0, row1};
            EXPECT_EQ(gradient(mb, Kind::D2, out, g), TRAVO_BAD_DERIVATIVE);
            EXPECT_EQ(g[0], TRAVO_ERROR_VALUE);
            EXPECT_EQ(g[1], TRAVO_ERROR_VALUE);
            EXPECT_EQ(hessian(mb, out, h), TRAVO_BAD_DERIVATIVE);
            EXPECT_EQ(row1[0], TRAVO_ERROR_VALUE);
        }
    }
    const double x[2] = {0.6, 0.1};
    for (uint32_t bad : {0u, 3u, 4294967295u}) {
        EXPECT_EQ(deriv_at(mb, Kind::D, bad, x), TRAVO_ERROR_VALUE);
        EXPECT_EQ(deriv_at(mb, Kind::D2, bad, x), TRAVO_ERROR_VALUE);
        EXPECT_EQ(deriv2_at(mb, bad, 1, x), TRAVO_ERROR_VALUE);
        EXPECT_EQ(deriv2_at(mb, 1, bad, x), TRAVO_ERROR_VALUE);
    }
}

// A point on the common boundary of two touching regions belongs to the
// region with the lower index.
TEST(Evaluation, TouchingRegionsLowestIndexWins) {
    OwnedMember om(2, 3, -1, 0.5, 0.2);
    om.allocate();
    Member &mb = om.mb;
    const double pts[3][2] = {{-0.8, -0.8}, {0.5, 0.0}, {0.0, 0.0}};
    for (int i = 0; i < 3; i++) {
        mb.minima.points[i][0] = pts[i][0];
        mb.minima.points[i][1] = pts[i][1];
        mb.minima.values[i] = -0.5 * i;
    }
    mb.minima.radii[0] = 0.1;
    mb.minima.radii[1] = 0.25;
    mb.minima.radii[2] = 0.25;
    mb.isArgSet = 1;
    const double touch[2] = {0.25, 0.0};
    EXPECT_EQ(locate(mb, touch).k, 1u);
    std::swap(mb.minima.points[1], mb.minima.points[2]);
    EXPECT_EQ(locate(mb, touch).k, 1u);
    EXPECT_EQ(locate(mb, touch).centre[0], 0.0);
}

class ModuleEvaluation : public ModuleTest {};

TEST_F(ModuleEvaluation, RefusedBeforeGenerationAndAfterRelease) {
    const double x[2] = {0.1, 0.2};
    double g[2] = {7.0, 7.0}, r0[2] = {7.0, 7.0}, r1[2] = {7.0, 7.0};
    double *h[2] = {r0, r1};
    auto all_refused = [&] {
        EXPECT_EQ(TRAVO_ND_func(x), TRAVO_ERROR_VALUE);
        EXPECT_EQ(TRAVO_D_func(x), TRAVO_ERROR_VALUE);
        EXPECT_EQ(TRAVO_D2_func(x), TRAVO_ERROR_VALUE);
        EXPECT_EQ(TRAVO_D_deriv(1, x), TRAVO_ERROR_VALUE);
        EXPECT_EQ(TRAVO_D2_deriv1(1, x), TRAVO_ERROR_VALUE);
        EXPECT_EQ(TRAVO_D2_deriv2(1, 1, x), TRAVO_ERROR_VALUE);
        EXPECT_EQ(TRAVO_D_gradient(x, g), TRAVO_BAD_DERIVATIVE);
        EXPECT_EQ(TRAVO_D2_gradient(x, g), TRAVO_BAD_DERIVATIVE);
        EXPECT_EQ(TRAVO_D2_hessian(x, h), TRAVO_BAD_DERIVATIVE);
        EXPECT_EQ(g[0], 7.0);  // nothing written
        EXPECT_EQ(r1[1], 7.0);
    };
    if (TRAVO_get_is_arg_set() == 0) all_refused();
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    EXPECT_LT(TRAVO_D2_func(x), TRAVO_ERROR_VALUE);
    // Absent outputs: status 9 and nothing written.
    EXPECT_EQ(TRAVO_D_gradient(x, nullptr), TRAVO_BAD_DERIVATIVE);
    EXPECT_EQ(TRAVO_D2_hessian(x, nullptr), TRAVO_BAD_DERIVATIVE);
    h[1] = nullptr;
    EXPECT_EQ(TRAVO_D2_hessian(x, h), TRAVO_BAD_DERIVATIVE);
    EXPECT_EQ(r0[0], 7.0);
    h[1] = r1;
    TRAVO_free();
    all_refused();
}

TEST_F(ModuleEvaluation, NormIsSymmetricAndZeroOnEqualPoints) {
    TRAVO_dim = 3;
    const double a[3] = {0.1, -0.7, 2.5}, b[3] = {-0.3, 0.2, 1.0};
    EXPECT_EQ(TRAVO_norm(a, a), 0.0);
    EXPECT_EQ(TRAVO_norm(a, b), TRAVO_norm(b, a));
    EXPECT_DOUBLE_EQ(TRAVO_norm(a, b), std::sqrt(0.16 + 0.81 + 2.25));
}
