// Every allocation of a gateway call failing in turn: a clean error, and no
// storage or array left behind.
#include <string>
#include <vector>

#include "support/gateway_fixture.hpp"

using namespace travo::testing;
namespace host = travo::host;

namespace {

const char kActionTextAlloc[] = "Error allocating action string";
const char kDomainAlloc[] = "Error allocating domain";
const char kGenerationFailed[] =
    "Internal error generating the function: check input data to be consistent";
const char kPointAlloc[] = "Error allocating target point";
const char kResultAlloc[] = "Error allocating result";

}  // namespace

class GatewayAllocation : public GatewayTest {
protected:
    // Fails allocation k = 1, 2, ... of the call until it succeeds; returns
    // the messages seen, one per k.
    static std::vector<std::string> fail_each(const std::vector<host::Array> &in) {
        std::vector<std::string> seen;
        for (int k = 1; k < 1000; k++) {
            const auto blocks = host::live_blocks();
            const auto arrays = host::live_arrays();
            host::fail_allocation(k);
            Outcome out = call_with(1, in);
            host::fail_allocation(0);
            EXPECT_EQ(host::live_blocks(), blocks) << "storage left by failure " << k;
            EXPECT_EQ(host::live_arrays(), arrays) << "array left by failure " << k;
            if (out.ok) {
                EXPECT_TRUE(out.filled);
                return seen;
            }
            EXPECT_FALSE(out.filled);
            seen.push_back(out.error);
        }
        ADD_FAILURE() << "the call never succeeded";
        return seen;
    }
};

// Every action by name: the action text, the two bounds, the sixteen tables
// of ten minima, the work point (not for "info") and the result.
TEST_F(GatewayAllocation, EverySiteOfEveryActionByName) {
    const char *const names[] = {"info",      "ND_func",   "D_func",     "D2_func",     "D_deriv",
                                 "D2_deriv1", "D2_deriv2", "D_gradient", "D2_gradient", "D2_hessian"};
    for (int action = 0; action < 10; action++) {
        const bool one_point = action >= 7;
        std::vector<host::Array> in = member_inputs(names[action], 1);
        if (action != 0) {
            in.push_back(one_point ? host::matrix(1, 1, {0.3}) : host::matrix(2, 2, {0, 0.1, 0.2, 0.3}));
            in.push_back(one_point ? host::matrix(1, 1, {-0.4}) : host::matrix(2, 2, {0, 0, 0, 0}));
        }
        if (action >= 4 && action <= 6) in.push_back(input(1));
        if (action == 6) in.push_back(input(2));
        std::vector<std::string> expected = {kActionTextAlloc, kDomainAlloc, kDomainAlloc};
        expected.insert(expected.end(), 16, kGenerationFailed);
        if (action != 0) expected.push_back(kPointAlloc);
        expected.push_back(kResultAlloc);
        EXPECT_EQ(fail_each(in), expected) << names[action];
    }
}

TEST_F(GatewayAllocation, EverySiteOfInfoByNumber) {
    const std::vector<std::string> seen = fail_each(inputs(2, -1.0, 0.9, 0.4, 0, 2));
    std::vector<std::string> expected = {kDomainAlloc, kDomainAlloc};
    expected.insert(expected.end(), 1 + 2 + 4 + 1, kGenerationFailed);
    expected.push_back(kResultAlloc);
    EXPECT_EQ(seen, expected);
}
