// The gateway's checks: the first failing check wins, and the edges of every check (one example of each
// message: the bad-input doc test; the host's array classes: the Octave suite).
#include <cmath>

#include "support/gateway_fixture.hpp"

using namespace travo::testing;
namespace host = travo::host;

class GatewayChecks : public GatewayTest {};

// From a call in which every check fails, mending one input at a time brings the message of the next check.
TEST_F(GatewayChecks, MessagesComeInTheOrderOfTheChecks) {
    std::vector<host::Array> in = inputs(1.0, host::matrix(1, 2, {-1, -1}), 0.0, 0.0, "d2_deriv2", 0.5,
                                         host::numeric(mxINT32_CLASS, 2, 3), host::matrix(3, 2, {}), -1.0, 3.0, 0.0);
    // Mends input `mend` (none: -1) and calls; the domain's allocation (the second) fails at its step.
    const auto step = [&in](int mend, host::Array value, std::size_t count, int nlhs, const std::string &message) {
        if (mend >= 0) in[mend] = std::move(value);
        host::fail_allocation(message == "Error allocating domain" ? 2 : 0);
        EXPECT_TRUE(Fails(call_with(nlhs, in, count), message));
        host::fail_allocation(0);
    };
    step(-1, {}, 11, 2, "Too many input arguments.");
    step(-1, {}, 5, 2, "Too few input arguments.");
    step(-1, {}, 10, 2, "Too many output arguments.");
    step(-1, {}, 10, 1, "Wrong action string");
    step(4, input(10.0), 10, 1, "Wrong action number");
    step(4, input("D2_deriv2"), 9, 1, "Wrong input arguments number");
    step(-1, {}, 10, 1, "Wrong minima number: must be a scalar >=2");
    step(0, input(10.0), 10, 1, "Wrong global minimizer value: must be a scalar");
    step(1, input(-1.0), 10, 1, "Wrong distance: must be a scalar > 0");
    step(2, input(kDist), 10, 1, "Wrong radius: must be a scalar > 0");
    step(3, input(kRadius), 10, 1, "Wrong test number: must be an integer 0 < i <= 100");
    step(5, input(1.0), 10, 1, "Wrong target points matrix dimension: must have the same dimension");
    step(7, host::matrix(2, 3, {}), 10, 1, "Wrong target points matrix type: must be real double");
    step(6, host::matrix(2, 3, {}), 10, 1, "Wrong first partial derivative index");
    step(8, input(1.0), 10, 1, "Wrong second partial derivative index");
    step(9, input(2.0), 10, 1, "Error allocating domain");  // 1: the action text, 2: the lower bounds
    step(1, input(0.0), 10, 1, "Internal error generating the function: check input data to be consistent");
    in[1] = input(-1.0);
    EXPECT_TRUE(Succeeds(call_with(1, in, 10), 2, 3));
}

// The edges of each check on real doubles: just outside each range, NaN and infinities, action texts that are
// not exactly a name, the rules on counts and single points.
TEST_F(GatewayChecks, EachCheckRefusesItsEdges) {
    const double nan = std::nan(""), inf = HUGE_VAL;
    const std::string first = "Wrong first partial derivative index";
    const std::string single = "Wrong target points matrix dimension for specified action: must be a sigle point";
    const std::string missing = "Wrong input arguments number: X and Y are required for specified action";
    const std::string count = "Wrong input arguments number";
    for (double m : {1.99, 4294967296.0, nan, inf, -inf}) {
        EXPECT_TRUE(Fails(call_with(1, inputs(m, -1.0, kDist, kRadius, "info", 1.0)),
                          "Wrong minima number: must be a scalar >=2"))
            << m;
    }
    for (double t : {0.5, 2147483648.0, nan, inf, -inf}) {
        EXPECT_TRUE(Fails(member("info", t), "Wrong test number: must be an integer 0 < i <= 100")) << t;
    }
    for (double a : {-0.5, nan, inf, -inf}) EXPECT_TRUE(Fails(member(a, 1.0), "Wrong action number")) << a;
    for (const std::string &a :
         std::vector<std::string>{"info ", " info", "D_grad", "", "d2_hessian", std::string("info\0", 5)}) {
        EXPECT_TRUE(Fails(member(a, 1.0), "Wrong action string")) << a;
    }
    for (double i : {3.0, -1.0, -0.5, 2147483648.0, nan, inf}) {
        EXPECT_TRUE(Fails(member("D_deriv", 1.0, 0.0, 0.0, i), first)) << i;
        EXPECT_TRUE(Fails(member("D2_deriv2", 1.0, 0.0, 0.0, i, 1.0), first)) << i;
        EXPECT_TRUE(Fails(member("D2_deriv2", 1.0, 0.0, 0.0, 1.0, i), "Wrong second partial derivative index")) << i;
    }
    EXPECT_TRUE(Fails(member("info", 1.0, host::matrix(1, 2, {}), host::matrix(2, 1, {})),
                      "Wrong target points matrix dimension: must have the same dimension"));
    for (const char *a : {"D_gradient", "D2_gradient", "D2_hessian"}) {
        EXPECT_TRUE(Fails(member(a, 1.0, host::matrix(1, 2, {}), host::matrix(1, 2, {})), single)) << a;
        EXPECT_TRUE(Fails(member(a, 1.0, host::matrix(0, 0, {}), host::matrix(0, 0, {})), single)) << a;
    }
    for (const char *a : {"ND_func", "D_func", "D2_func", "D_gradient", "D2_gradient", "D2_hessian"}) {
        EXPECT_TRUE(Fails(member(a, 1.0), missing)) << a;
        EXPECT_TRUE(Fails(member(a, 1.0, 0.0), missing)) << a;
    }
    EXPECT_TRUE(Fails(member("D2_deriv1", 1.0, 0.0, 0.0, 1.0, 1.0), count));
    EXPECT_TRUE(Fails(member("D2_deriv2", 1.0, 0.0, 0.0, 1.0), count));
    // The count comes before a bad minima count and a bad index.
    EXPECT_TRUE(Fails(call_with(1, inputs(1.0, -1.0, kDist, kRadius, "D_deriv", 1.0, 0.0, 0.0, 7.0, 7.0)), count));
    EXPECT_TRUE(
        Fails(call_with(1, inputs(10.0, -1.0, kDist, -inf, "info", 1.0)), "Wrong radius: must be a scalar > 0"));
    const std::string generation = "Internal error generating the function: check input data to be consistent";
    EXPECT_TRUE(Fails(call_with(1, inputs(4294967295.0, -1.0, kDist, kRadius, "info", 1.0)), generation));
}
