// The gateway's ten actions: selection, result shapes, kept members and every allocation failing.
#include <array>

#include "support/gateway_fixture.hpp"

using namespace travo::testing;
namespace host = travo::host;

namespace {

const char *const kNames[] = {"info",      "ND_func",   "D_func",     "D2_func",     "D_deriv",
                              "D2_deriv1", "D2_deriv2", "D_gradient", "D2_gradient", "D2_hessian"};

// The inputs of `action` (a name or a number) on the default member; the
// derivative indices, taken by floor, are 2, 1 and (1, 2).
template <class Act>
std::vector<host::Array> action_inputs(int a, Act action, host::Array x, host::Array y) {
    auto in = inputs(10.0, -1.0, kDist, kRadius, action, 1.0, std::move(x), std::move(y));
    if (a >= 4 && a <= 6) in.push_back(input(a == 4 ? 2.7 : 1.2));
    if (a == 6) in.push_back(input(2.9));
    return in;
}

}  // namespace

class GatewayActions : public GatewayTest {};

// Every action, by name and by number (its floor, with no output requested), gives its shape and the same bits;
// "info" holds the module-wide member's values, radii and coordinates. (The point actions against the module-wide
// operations, bit for bit: batch_test.)
TEST_F(GatewayActions, ActionsByNameAndNumberGiveTheirShapeAndInfoTheTable) {
    const std::vector<double> xs = {-0.7626144224129618, -0.3, 0.0, 0.25, 1.0, -1.0, 0.5, 1.0 + 5e-11, 1.5, 0.1};
    const std::vector<double> ys = {0.5972540849837097, 0.7, 0.0, -0.25, 1.0, -1.0, -0.9, 0.3, 0.0, -0.93};
    const std::array<std::pair<std::size_t, std::size_t>, 10> shapes = {
        {{10, 4}, {2, 5}, {2, 5}, {2, 5}, {2, 5}, {2, 5}, {2, 5}, {2, 1}, {2, 1}, {2, 2}}};
    std::vector<double> info;
    for (int a = 0; a < 10; a++) {
        auto xy = [&](const std::vector<double> &v) { return a >= 7 ? input(v[1]) : host::matrix(2, 5, v); };
        const Outcome out = call_with(1, action_inputs(a, kNames[a], xy(xs), xy(ys)));
        const Outcome by_number = call_with(0, action_inputs(a, a + 0.75, xy(xs), xy(ys)));
        ASSERT_TRUE(Succeeds(out, shapes[a].first, shapes[a].second)) << kNames[a];
        EXPECT_TRUE(same_bits(out.result.data, by_number.result.data)) << kNames[a];
        if (a == 0) info = out.result.data;
    }
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    std::vector<double> want;
    for (const double *col : {TRAVO_minima.values, TRAVO_minima.radii}) want.insert(want.end(), col, col + 10);
    for (int c = 0; c < 2; c++) {
        for (std::size_t i = 0; i < 10; i++) want.push_back(TRAVO_minima.points[i][c]);
    }
    TRAVO_free();
    TRAVO_domain_free();
    EXPECT_TRUE(same_bits(info, want));
}

// Every allocation of a call failing in turn, for every action by name and "info" by number: the message of
// that site, no result, nothing left behind.
TEST_F(GatewayActions, EachFailedAllocationGivesItsMessageAndLeaksNothing) {
    const std::string generation = "Internal error generating the function: check input data to be consistent";
    for (int a = -1; a < 10; a++) {
        const bool one = a >= 7;
        auto in = a < 0    ? inputs(2.0, -1.0, 0.9, 0.4, 0.0, 2.0)
                  : a == 0 ? inputs(10.0, -1.0, kDist, kRadius, "info", 1.0)
                           : action_inputs(a, kNames[a], one ? input(0.3) : host::matrix(2, 2, {0, 0.1, 0.2, 0.3}),
                                           one ? input(-0.4) : host::matrix(2, 2, {0, 0, 0, 0}));
        std::vector<std::string> expected;
        if (a >= 0) expected.push_back("Error allocating action string");
        expected.insert(expected.end(), 2, "Error allocating domain");
        expected.insert(expected.end(), a < 0 ? 1 + 2 + 4 + 1 : 1 + 10 + 4 + 1, generation);
        if (a > 0) expected.push_back("Error allocating target point");
        expected.push_back("Error allocating result");
        std::vector<std::string> seen;
        for (int k = 1; k < 100; k++) {
            const auto blocks = host::live_blocks(), arrays = host::live_arrays();
            host::fail_allocation(k);
            const Outcome out = call_with(1, in);
            host::fail_allocation(0);
            EXPECT_EQ(host::live_blocks(), blocks) << "storage left by failure " << k;
            EXPECT_EQ(host::live_arrays(), arrays) << "array left by failure " << k;
            if (out.ok) break;
            EXPECT_FALSE(out.filled);
            seen.push_back(out.error);
        }
        EXPECT_EQ(seen, expected) << "action " << a;
    }
}

// Kept members, interleaved with another, give every action the bits of a freshly loaded module; unloading
// releases them (the sanitizer build's leak check sees them otherwise).
TEST_F(GatewayActions, KeptMembersGiveTheBitsOfFreshOnes) {
    auto in = [](int a, double minima) {
        auto v = action_inputs(a, kNames[a], a >= 7 ? input(0.3) : host::matrix(1, 3, {-0.7, 0.2, 0.9}),
                               a >= 7 ? input(-0.4) : host::matrix(1, 3, {0.6, -0.1, 0.95}));
        v[0] = input(minima);
        return v;
    };
    std::vector<std::vector<double>> fresh;
    for (int a = 0; a < 10; a++) fresh.push_back(call_with(1, in(a, 300.0)).result.data);
    host::keep_module_loaded(true);
    for (int round = 0; round < 2; round++) {
        for (int a = 0; a < 10; a++) {
            EXPECT_TRUE(call_with(1, in(a, 12.0)).ok);
            EXPECT_TRUE(same_bits(call_with(1, in(a, 300.0)).result.data, fresh[a]))
                << kNames[a] << ", round " << round;
        }
    }
}
