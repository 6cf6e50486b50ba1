// The gateway's checks: one message per fault, the first failing check
// wins. The Octave suite runs the edge cases of every check, action names
// and numbers included, in the host itself; the bad-input doc test gives
// each message an example.
#include "support/gateway_fixture.hpp"

using namespace travo::testing;
namespace host = travo::host;

class GatewayChecks : public GatewayTest {};

// Starts from a call in which every check fails and mends one input at a
// time: each step must bring the message of the next check.
TEST_F(GatewayChecks, MessagesComeInTheOrderOfTheChecks) {
    std::vector<host::Array> in = inputs(1.0, host::matrix(1, 2, {-1, -1}), 0.0, 0.0, "d2_deriv2", 0.5,
                                         host::numeric(mxINT32_CLASS, 2, 3), host::matrix(3, 2, {}), -1.0, 3.0, 0.0);
    struct Step {
        int mend;  // input to mend before the call, -1 for none
        host::Array value;
        std::size_t count;
        int nlhs;
        const char *message;
    };
    Step steps[] = {
        {-1, {}, 11, 2, "Too many input arguments."},
        {-1, {}, 5, 2, "Too few input arguments."},
        {-1, {}, 10, 2, "Too many output arguments."},
        {-1, {}, 10, 1, "Wrong action string"},
        {4, input(10.0), 10, 1, "Wrong action number"},
        {4, input("D2_deriv2"), 9, 1, "Wrong input arguments number"},
        {-1, {}, 10, 1, "Wrong minima number: must be a scalar >=2"},
        {0, input(10.0), 10, 1, "Wrong global minimizer value: must be a scalar"},
        {1, input(-1.0), 10, 1, "Wrong distance: must be a scalar > 0"},
        {2, input(kDist), 10, 1, "Wrong radius: must be a scalar > 0"},
        {3, input(kRadius), 10, 1, "Wrong test number: must be an integer 0 < i <= 100"},
        {5, input(1.0), 10, 1, "Wrong target points matrix dimension: must have the same dimension"},
        {7, host::matrix(2, 3, {}), 10, 1, "Wrong target points matrix type: must be real double"},
        {6, host::matrix(2, 3, {}), 10, 1, "Wrong first partial derivative index"},
        {8, input(1.0), 10, 1, "Wrong second partial derivative index"},
        {9, input(2.0), 10, 1, "Error allocating domain"},  // 1: the action text, 2: the lower bounds
        {1, input(0.0), 10, 1,  // the gateway sets no bound on the value
         "Internal error generating the function: check input data to be consistent"},
    };
    for (Step &s : steps) {
        if (s.mend >= 0) in[s.mend] = std::move(s.value);
        host::fail_allocation(s.message == std::string("Error allocating domain") ? 2 : 0);
        EXPECT_TRUE(Fails(call_with(s.nlhs, in, s.count), s.message));
        host::fail_allocation(0);
    }
    in[1] = input(-1.0);
    EXPECT_TRUE(Succeeds(call_with(1, in, 10), 2, 3));
}
