// The gateway's ten actions: selection, result shapes, values equal bit for
// bit to the C interface on the same member, and every allocation failing.
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

// Every action, by name and by number, gives its shape and the C
// interface's results on the same member, bit for bit: element (i, j) at (X(i, j), Y(i, j)); "info" holds values, radii
// and coordinates; row r, column c of the Hessian is the derivative along r then c. The points include a minimizer,
// points just inside and beyond the box tolerance.
TEST_F(GatewayActions, ResultsAreTheCInterfacesBitForBit) {
    const std::vector<double> xs = {-0.7626144224129618, -0.3, 0.0, 0.25, 1.0, -1.0, 0.5, 1.0 + 5e-11, 1.5, 0.1};
    const std::vector<double> ys = {0.5972540849837097, 0.7, 0.0, -0.25, 1.0, -1.0, -0.9, 0.3, 0.0, -0.93};
    const std::array<std::pair<std::size_t, std::size_t>, 10> shapes = {
        {{10, 4}, {2, 5}, {2, 5}, {2, 5}, {2, 5}, {2, 5}, {2, 5}, {2, 1}, {2, 1}, {2, 2}}};
    std::vector<std::vector<double>> got(10);
    for (int a = 0; a < 10; a++) {
        for (std::size_t k = 0; k < (a >= 7 ? xs.size() : 1); k++) {
            auto xy = [&](const std::vector<double> &v) { return a >= 7 ? input(v[k]) : host::matrix(2, 5, v); };
            const Outcome out = call_with(1, action_inputs(a, kNames[a], xy(xs), xy(ys)));
            // The floor of a number selects the same action; with no output
            // requested the first slot is still filled.
            const Outcome by_number = call_with(0, action_inputs(a, a + 0.75, xy(xs), xy(ys)));
            ASSERT_TRUE(Succeeds(out, shapes[a].first, shapes[a].second)) << kNames[a];
            EXPECT_EQ(out.result.data, by_number.result.data) << kNames[a];
            got[a].insert(got[a].end(), out.result.data.begin(), out.result.data.end());
        }
    }
    ASSERT_EQ(TRAVO_set_default(), TRAVO_STATUS_OK);
    ASSERT_EQ(TRAVO_arg_generate(1), TRAVO_STATUS_OK);
    std::vector<std::vector<double>> want(10);
    for (const double *col : {TRAVO_minima.values, TRAVO_minima.radii}) want[0].insert(want[0].end(), col, col + 10);
    for (int c = 0; c < 2; c++) {
        for (std::size_t i = 0; i < 10; i++) want[0].push_back(TRAVO_minima.points[i][c]);
    }
    for (std::size_t k = 0; k < xs.size(); k++) {
        const double p[2] = {xs[k], ys[k]};
        double g[2], h0[2], h1[2], *h[2] = {h0, h1};
        const double one[] = {TRAVO_ND_func(p),    TRAVO_D_func(p),       TRAVO_D2_func(p),
                              TRAVO_D_deriv(2, p), TRAVO_D2_deriv1(1, p), TRAVO_D2_deriv2(1, 2, p)};
        for (int a = 1; a <= 6; a++) want[a].push_back(one[a - 1]);
        TRAVO_D_gradient(p, g);
        want[7].insert(want[7].end(), g, g + 2);
        TRAVO_D2_gradient(p, g);
        want[8].insert(want[8].end(), g, g + 2);
        TRAVO_D2_hessian(p, h);
        want[9].insert(want[9].end(), {h0[0], h1[0], h0[1], h1[1]});
    }
    TRAVO_free();
    TRAVO_domain_free();
    for (int a = 0; a < 10; a++) EXPECT_TRUE(same_bits(got[a], want[a])) << kNames[a];
}

// Every allocation of a call failing in turn, for every action by name and
// for "info" by number (no action text): the message of that site, no
// result, and no storage or array left behind.
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

// With the module kept loaded, a member comes from the kept copy from the
// second call on, interleaved with another member: every action gives the
// bits of a freshly loaded module, and unloading releases the copies (the
// sanitizer build's leak check sees them otherwise).
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
