// The gateway's ten actions: selection, result shapes, and values equal bit
// for bit to the C interface on the same member.
#include <array>
#include <vector>

#include "support/gateway_fixture.hpp"

using namespace travo::testing;
namespace host = travo::host;

namespace {

const char *const kNames[] = {"info",      "ND_func",   "D_func",     "D2_func",     "D_deriv",
                              "D2_deriv1", "D2_deriv2", "D_gradient", "D2_gradient", "D2_hessian"};

// A 3 x 4 grid of points, some in regions, one on a minimizer, one outside
// the box by more than the tolerance and one inside it by less.
const std::vector<double> kX = {-0.7626144224129618, -0.3, 0.0, -0.1355228527247349, 0.25, 1.0,
                                -1.0, 0.5, 0.9, 1.0 + 5e-11, -0.5, 1.5};
const std::vector<double> kY = {0.5972540849837097, 0.7, 0.0, 0.8235295977339864, -0.25, 1.0,
                                -1.0, -0.9, 0.2, 0.3, -0.6, 0.0};

host::Array grid(const std::vector<double> &v) { return host::matrix(3, 4, v); }

::testing::AssertionResult SameBits(const std::vector<double> &expected, const Matrix &actual) {
    if (expected.size() != actual.data.size()) return ::testing::AssertionFailure() << "sizes differ";
    for (std::size_t k = 0; k < expected.size(); k++) {
        if (!same_bits(expected[k], actual.data[k])) {
            return ::testing::AssertionFailure()
                   << "element " << k << ": expected " << expected[k] << " got " << actual.data[k];
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

class GatewayActions : public GatewayTest {};

TEST_F(GatewayActions, EveryActionByNameAndByNumberGivesTheSameResult) {
    const auto X = [] { return host::matrix(1, 1, {0.1}); };
    const auto Y = [] { return host::matrix(1, 1, {-0.2}); };
    const std::array<std::pair<std::size_t, std::size_t>, 10> shapes = {
        {{10, 4}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {2, 1}, {2, 1}, {2, 2}}};
    for (int a = 0; a < 10; a++) {
        const bool nine = a == 4 || a == 5;  // first derivatives take exactly 9 inputs
        Outcome by_name = nine ? member(kNames[a], X(), Y(), 1) : member(kNames[a], X(), Y(), 1, 2);
        Outcome by_number = nine ? member(a + 0.75, X(), Y(), 1) : member(a + 0.75, X(), Y(), 1, 2);
        ASSERT_TRUE(Succeeds(by_name, shapes[a].first, shapes[a].second)) << kNames[a];
        ASSERT_TRUE(Succeeds(by_number, shapes[a].first, shapes[a].second)) << a;
        EXPECT_TRUE(SameBits(by_name.result.data, by_number.result)) << kNames[a];
    }
    EXPECT_TRUE(Succeeds(member(0.5), 10, 4));  // floor 0 is "info"
}

TEST_F(GatewayActions, InfoTableIsTheMinimaTable) {
    Outcome out = member("info");
    ASSERT_TRUE(Succeeds(out, 10, 4));
    const std::vector<double> expected = with_default_library([] {
        std::vector<double> t(40);
        for (std::size_t i = 0; i < 10; i++) {
            t[i] = TRAVO_minima.values[i];
            t[i + 10] = TRAVO_minima.radii[i];
            t[i + 20] = TRAVO_minima.points[i][0];
            t[i + 30] = TRAVO_minima.points[i][1];
        }
        return t;
    });
    EXPECT_TRUE(SameBits(expected, out.result));
    // Check values of the default member: the vertex first, then the global
    // minimizer with the global value and radius.
    EXPECT_EQ(out.result(0, 0), 0.0);
    EXPECT_NEAR(out.result(0, 2), -0.7626144224, 1e-10);
    EXPECT_NEAR(out.result(0, 3), 0.597254085, 1e-9);
    EXPECT_EQ(out.result(1, 0), -1.0);
    EXPECT_EQ(out.result(1, 1), kRadius);
    EXPECT_NEAR(out.result(1, 2), -0.1355228527, 1e-10);
    EXPECT_NEAR(out.result(2, 1), 0.6768267768, 1e-10);
    // Another count gives another number of rows; 2.9 is taken as 2.
    EXPECT_TRUE(Succeeds(call(2.9, -1.0, 0.9, 0.4, "info", 2), 2, 4));
    EXPECT_TRUE(Succeeds(call(37, -2.5, 0.5, 0.1, "info", 100.9), 37, 4));
}

TEST_F(GatewayActions, ValuesAndDerivativesAtEveryPointEqualTheLibrary) {
    struct Case {
        const char *action;
        double (*op)(const double *);
        int extra;  // index inputs the action takes
    };
    const Case cases[] = {
        {"ND_func", TRAVO_ND_func, 0},
        {"D_func", TRAVO_D_func, 0},
        {"D2_func", TRAVO_D2_func, 0},
        {"D_deriv", [](const double *p) { return TRAVO_D_deriv(2, p); }, 1},
        {"D2_deriv1", [](const double *p) { return TRAVO_D2_deriv1(1, p); }, 1},
        {"D2_deriv2", [](const double *p) { return TRAVO_D2_deriv2(1, 2, p); }, 2},
    };
    for (const Case &c : cases) {
        Outcome out = c.extra == 0   ? member(c.action, grid(kX), grid(kY))
                      : c.extra == 1 ? member(c.action, grid(kX), grid(kY), c.action[1] == '_' ? 2.7 : 1.0)
                                     : member(c.action, grid(kX), grid(kY), 1.2, 2.9);
        ASSERT_TRUE(Succeeds(out, 3, 4)) << c.action;
        const std::vector<double> expected = with_default_library([&] {
            std::vector<double> v;
            for (std::size_t k = 0; k < kX.size(); k++) {
                const double p[2] = {kX[k], kY[k]};
                v.push_back(c.op(p));
            }
            return v;
        });
        EXPECT_TRUE(SameBits(expected, out.result)) << c.action;
        EXPECT_EQ(out.result(2, 3), TRAVO_ERROR_VALUE) << c.action;  // (1.5, 0) is outside
        EXPECT_NE(out.result(0, 3), TRAVO_ERROR_VALUE) << c.action;  // 5e-11 outside is inside
    }
    // Element (2, 1) belongs to the point (X(2, 1), Y(2, 1)) = (-0.3, 0.7).
    Outcome nd = member("ND_func", grid(kX), grid(kY));
    const double at = with_default_library([] {
        const double p[2] = {-0.3, 0.7};
        return TRAVO_ND_func(p);
    });
    EXPECT_TRUE(same_bits(nd.result(1, 0), at));
}

TEST_F(GatewayActions, ResultsHaveTheShapeOfX) {
    for (auto [rows, cols] : std::vector<std::pair<std::size_t, std::size_t>>{{0, 0}, {0, 3}, {4, 0}, {1, 5}, {5, 1}}) {
        std::vector<double> zeros(rows * cols, 0.25);
        EXPECT_TRUE(Succeeds(member("ND_func", host::matrix(rows, cols, zeros), host::matrix(rows, cols, zeros)),
                             rows, cols));
        EXPECT_TRUE(Succeeds(member("D2_deriv2", host::matrix(rows, cols, zeros), host::matrix(rows, cols, zeros), 1, 1),
                             rows, cols));
    }
}

TEST_F(GatewayActions, GradientsAndHessianAtOnePoint) {
    for (const std::array<double, 2> p : {std::array<double, 2>{0.1, -0.2}, {-0.14, 0.8}, {0.5, -0.93}}) {
        const auto X = [&] { return host::matrix(1, 1, {p[0]}); };
        const auto Y = [&] { return host::matrix(1, 1, {p[1]}); };
        Outcome dg = member("D_gradient", X(), Y());
        Outcome d2g = member("D2_gradient", X(), Y());
        Outcome h = member("D2_hessian", X(), Y());
        ASSERT_TRUE(Succeeds(dg, 2, 1));
        ASSERT_TRUE(Succeeds(d2g, 2, 1));
        ASSERT_TRUE(Succeeds(h, 2, 2));
        const std::vector<double> expected = with_default_library([&] {
            double g1[2], g2[2], r0[2], r1[2];
            double *rows[2] = {r0, r1};
            EXPECT_EQ(TRAVO_D_gradient(p.data(), g1), TRAVO_STATUS_OK);
            EXPECT_EQ(TRAVO_D2_gradient(p.data(), g2), TRAVO_STATUS_OK);
            EXPECT_EQ(TRAVO_D2_hessian(p.data(), rows), TRAVO_STATUS_OK);
            // The first gradient component is the derivative along X.
            EXPECT_TRUE(same_bits(g1[0], TRAVO_D_deriv(1, p.data())));
            return std::vector<double>{g1[0], g1[1], g2[0], g2[1], r0[0], r1[0], r0[1], r1[1],
                                       TRAVO_D2_deriv2(1, 2, p.data()), TRAVO_D2_deriv2(2, 1, p.data())};
        });
        EXPECT_TRUE(SameBits({expected[0], expected[1]}, dg.result));
        EXPECT_TRUE(SameBits({expected[2], expected[3]}, d2g.result));
        // Row r, column c is the derivative along r then c.
        EXPECT_TRUE(SameBits({expected[4], expected[5], expected[6], expected[7]}, h.result));
        EXPECT_TRUE(same_bits(h.result(0, 1), expected[8]));
        EXPECT_TRUE(same_bits(h.result(1, 0), expected[9]));
    }
}

TEST_F(GatewayActions, EvaluationFaultsGiveTheErrorValueWithoutAMessage) {
    // Outside the box by more than the tolerance.
    for (const char *action : {"D_gradient", "D2_gradient", "D2_hessian"}) {
        Outcome out = member(action, host::matrix(1, 1, {1.0 + 2e-10}), host::matrix(1, 1, {0.0}));
        ASSERT_TRUE(out.ok) << action;
        for (double v : out.result.data) EXPECT_EQ(v, TRAVO_ERROR_VALUE) << action;
    }
    // Index 0 passes the gateway and every element is the error value.
    for (Outcome out : {member("D_deriv", grid(kX), grid(kY), 0.5), member("D2_deriv1", grid(kX), grid(kY), 0),
                        member("D2_deriv2", grid(kX), grid(kY), 1, 0)}) {
        ASSERT_TRUE(Succeeds(out, 3, 4));
        for (double v : out.result.data) EXPECT_EQ(v, TRAVO_ERROR_VALUE);
    }
}

TEST_F(GatewayActions, CallsAreReproducibleAndSelfContained) {
    Outcome first = member("D2_func", grid(kX), grid(kY));
    Outcome other = call(25, -3.0, 0.4, 0.15, "D2_func", 42, grid(kX), grid(kY));
    Outcome again = member("D2_func", grid(kX), grid(kY));
    ASSERT_TRUE(Succeeds(first, 3, 4));
    ASSERT_TRUE(Succeeds(other, 3, 4));
    EXPECT_TRUE(SameBits(first.result.data, again.result));
    EXPECT_FALSE(SameBits(first.result.data, other.result));
}

TEST_F(GatewayActions, NoRequestedOutputStillFillsTheFirstSlot) {
    Outcome out = call_n(0, 10, -1.0, kDist, kRadius, "info", 1);
    EXPECT_TRUE(Succeeds(out, 10, 4));
}
