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

TEST_F(GatewayAllocation, EverySiteOfAPointActionByName) {
    // Action text, the two bounds, the sixteen tables of ten minima, the work
    // point, the result.
    const std::vector<std::string> seen = fail_each(
        member_inputs("D2_func", 1, host::matrix(2, 2, {0, 0.1, 0.2, 0.3}), host::matrix(2, 2, {0, 0, 0, 0})));
    std::vector<std::string> expected = {kActionTextAlloc, kDomainAlloc, kDomainAlloc};
    expected.insert(expected.end(), 16, kGenerationFailed);
    expected.push_back(kPointAlloc);
    expected.push_back(kResultAlloc);
    EXPECT_EQ(seen, expected);
}

TEST_F(GatewayAllocation, EverySiteOfInfoByNumber) {
    const std::vector<std::string> seen = fail_each(inputs(2, -1.0, 0.9, 0.4, 0, 2));
    std::vector<std::string> expected = {kDomainAlloc, kDomainAlloc};
    expected.insert(expected.end(), 1 + 2 + 4 + 1, kGenerationFailed);
    expected.push_back(kResultAlloc);
    EXPECT_EQ(seen, expected);
}

TEST_F(GatewayAllocation, EverySiteOfTheSinglePointActions) {
    for (const char *action : {"D_gradient", "D2_gradient", "D2_hessian"}) {
        const std::vector<std::string> seen =
            fail_each(member_inputs(action, 1, host::matrix(1, 1, {0.3}), host::matrix(1, 1, {-0.4})));
        ASSERT_EQ(seen.size(), 21u) << action;
        EXPECT_EQ(seen.front(), kActionTextAlloc);
        EXPECT_EQ(seen[19], kPointAlloc);
        EXPECT_EQ(seen.back(), kResultAlloc);
    }
}
