// The gateway's checks: one message per fault, the first failing check wins.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "support/gateway_fixture.hpp"

using namespace travo::testing;
namespace host = travo::host;

namespace {

const char kTooManyInputs[] = "Too many input arguments.";
const char kTooFewInputs[] = "Too few input arguments.";
const char kTooManyOutputs[] = "Too many output arguments.";
const char kBadActionString[] = "Wrong action string";
const char kBadActionNumber[] = "Wrong action number";
const char kBadInputCount[] = "Wrong input arguments number";
const char kPointsMissing[] = "Wrong input arguments number: X and Y are required for specified action";
const char kBadMinima[] = "Wrong minima number: must be a scalar >=2";
const char kBadValue[] = "Wrong global minimizer value: must be a scalar";
const char kBadDistance[] = "Wrong distance: must be a scalar > 0";
const char kBadRadius[] = "Wrong radius: must be a scalar > 0";
const char kBadTest[] = "Wrong test number: must be an integer 0 < i <= 100";
const char kBadShape[] = "Wrong target points matrix dimension: must have the same dimension";
const char kBadPointType[] = "Wrong target points matrix type: must be real double";
const char kNotSinglePoint[] =
    "Wrong target points matrix dimension for specified action: must be a sigle point";
const char kBadFirstIndex[] = "Wrong first partial derivative index";
const char kBadSecondIndex[] = "Wrong second partial derivative index";
const char kDomainAlloc[] = "Error allocating domain";
const char kGenerationFailed[] =
    "Internal error generating the function: check input data to be consistent";

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Inputs of one call, kept as values so that a test can mend them one by one.
struct Inputs {
    std::vector<host::Array> in;
    Outcome run(std::size_t count, int nlhs = 1) const {
        std::vector<const mxArray *> ptrs;
        for (std::size_t k = 0; k < count; k++) ptrs.push_back(in[k].get());
        Outcome out = host::call(mexFunction, nlhs, ptrs);
        forget_call_member();
        return out;
    }
};

// Values that are not one real double, for every single-real input.
std::vector<std::pair<std::string, host::Array>> not_single_real() {
    std::vector<std::pair<std::string, host::Array>> v;
    v.emplace_back("1x2 double", host::matrix(1, 2, {3, 3}));
    v.emplace_back("0x0 double", host::matrix(0, 0, {}));
    v.emplace_back("complex", host::complex_scalar(3, 0));
    v.emplace_back("int32", host::numeric(mxINT32_CLASS, 1, 1));
    v.emplace_back("logical", host::numeric(mxLOGICAL_CLASS, 1, 1));
    v.emplace_back("single", host::numeric(mxSINGLE_CLASS, 1, 1));
    v.emplace_back("sparse", host::adopt(mxCreateSparse(1, 1, 1, mxREAL)));
    v.emplace_back("cell", host::numeric(mxCELL_CLASS, 1, 1));
    v.emplace_back("struct", host::numeric(mxSTRUCT_CLASS, 1, 1));
    return v;
}

}  // namespace

class GatewayChecks : public GatewayTest {};

// Starts from a call in which every check fails and mends one input at a
// time: each step must bring the message of the next check.
TEST_F(GatewayChecks, MessagesComeInTheOrderOfTheChecks) {
    Inputs c;
    c.in.push_back(input(1.0));                          // minima below 2
    c.in.push_back(host::matrix(1, 2, {-1, -1}));        // value not a scalar
    c.in.push_back(input(0.0));                          // distance 0
    c.in.push_back(input(0.0));                          // radius 0
    c.in.push_back(input("d2_deriv2"));                  // no such action
    c.in.push_back(input(0.5));                          // test number floor 0
    c.in.push_back(host::numeric(mxINT32_CLASS, 2, 3));  // X
    c.in.push_back(host::matrix(3, 2, {}));              // Y of another shape
    c.in.push_back(input(-1.0));                         // first index
    c.in.push_back(input(3.0));                          // second index
    c.in.push_back(input(0.0));                          // an eleventh input

    EXPECT_TRUE(Fails(c.run(11, 2), kTooManyInputs));
    EXPECT_TRUE(Fails(c.run(5, 2), kTooFewInputs));
    EXPECT_TRUE(Fails(c.run(10, 2), kTooManyOutputs));
    EXPECT_TRUE(Fails(c.run(10), kBadActionString));
    c.in[4] = input(10.0);
    EXPECT_TRUE(Fails(c.run(10), kBadActionNumber));
    c.in[4] = input("D2_deriv2");
    EXPECT_TRUE(Fails(c.run(9), kBadInputCount));
    EXPECT_TRUE(Fails(c.run(10), kBadMinima));
    c.in[0] = input(10.0);
    EXPECT_TRUE(Fails(c.run(10), kBadValue));
    c.in[1] = input(-1.0);
    EXPECT_TRUE(Fails(c.run(10), kBadDistance));
    c.in[2] = input(kDist);
    EXPECT_TRUE(Fails(c.run(10), kBadRadius));
    c.in[3] = input(kRadius);
    EXPECT_TRUE(Fails(c.run(10), kBadTest));
    c.in[5] = input(1.0);
    EXPECT_TRUE(Fails(c.run(10), kBadShape));
    c.in[7] = host::matrix(2, 3, {});
    EXPECT_TRUE(Fails(c.run(10), kBadPointType));
    c.in[6] = host::matrix(2, 3, {});
    EXPECT_TRUE(Fails(c.run(10), kBadFirstIndex));
    c.in[8] = input(1.0);
    EXPECT_TRUE(Fails(c.run(10), kBadSecondIndex));
    c.in[9] = input(2.0);
    host::fail_allocation(2);  // 1: the action text, 2: the lower bounds
    EXPECT_TRUE(Fails(c.run(10), kDomainAlloc));
    host::fail_allocation(0);
    c.in[1] = input(0.0);  // the gateway sets no bound on the value
    EXPECT_TRUE(Fails(c.run(10), kGenerationFailed));
    c.in[1] = input(-1.0);
    EXPECT_TRUE(Succeeds(c.run(10), 2, 3));
}

TEST_F(GatewayChecks, SinglePointComesAfterTheShapeAndBeforeTheBox) {
    EXPECT_TRUE(Fails(call(1.0, -1.0, kDist, kRadius, "D_gradient", 1, host::matrix(1, 2, {}),
                           host::matrix(1, 2, {})),
                      kBadMinima));
    EXPECT_TRUE(Fails(member("D_gradient", host::matrix(1, 2, {}), host::matrix(2, 1, {})), kBadShape));
    for (const char *action : {"D_gradient", "D2_gradient", "D2_hessian"}) {
        EXPECT_TRUE(Fails(member(action, host::matrix(1, 2, {}), host::matrix(1, 2, {})), kNotSinglePoint));
        EXPECT_TRUE(Fails(member(action, host::matrix(0, 0, {}), host::matrix(0, 0, {})), kNotSinglePoint));
        // Nothing past the action text is allocated.
        const auto in = member_inputs(action, 1, host::matrix(1, 2, {}), host::matrix(1, 2, {}));
        host::fail_allocation(2);
        EXPECT_TRUE(Fails(call_with(1, in), kNotSinglePoint));
        host::fail_allocation(0);
    }
}

TEST_F(GatewayChecks, CountRulesOfTheActions) {
    const auto X = [] { return host::matrix(1, 1, {0.1}); };
    // Derivatives: exactly 9 inputs, or 10 for the second derivative.
    for (const char *action : {"D_deriv", "D2_deriv1"}) {
        EXPECT_TRUE(Fails(member(action, X(), X()), kBadInputCount));
        EXPECT_TRUE(Fails(member(action, X(), X(), 1, 1), kBadInputCount));
        EXPECT_TRUE(Succeeds(member(action, X(), X(), 1), 1, 1));
    }
    EXPECT_TRUE(Fails(member("D2_deriv2", X(), X(), 1), kBadInputCount));
    // The count message comes before a bad minima count or a bad index.
    EXPECT_TRUE(Fails(call(1.0, -1.0, kDist, kRadius, "D_deriv", 1, X(), X(), 7.0, 7.0), kBadInputCount));
    // Actions on points need X and Y; "info" needs neither.
    for (const char *action : {"ND_func", "D_func", "D2_func", "D_gradient", "D2_gradient", "D2_hessian"}) {
        EXPECT_TRUE(Fails(member(action), kPointsMissing)) << action;
        EXPECT_TRUE(Fails(member(action, X()), kPointsMissing)) << action;
    }
    EXPECT_TRUE(Succeeds(member("info"), 10, 4));
    EXPECT_TRUE(Succeeds(member("info", X()), 10, 4));
    // Gradients take 8 to 10 inputs and never look at inputs 9 and 10.
    EXPECT_TRUE(Succeeds(member("D_gradient", X(), X(), host::numeric(mxCELL_CLASS, 3, 3)), 2, 1));
    EXPECT_TRUE(Succeeds(member("D_gradient", X(), X(), "x", -5.0), 2, 1));
}

TEST_F(GatewayChecks, ActionText) {
    for (const char *bad : {"Info", "INFO", "info ", " info", "D_grad", "", "D2_hessian2", "nd_func"}) {
        EXPECT_TRUE(Fails(member(bad), kBadActionString)) << '"' << bad << '"';
    }
    // A NUL inside, or a text of two rows whose characters spell a name.
    EXPECT_TRUE(Fails(member(std::string("info\0", 5)), kBadActionString));
    EXPECT_TRUE(Fails(member(std::string("info\0x", 6)), kBadActionString));
    host::Array two_rows = host::numeric(mxCHAR_CLASS, 2, 4);
    std::memcpy(mxGetData(two_rows.get()), "inf\0o\0\0\0", 8);
    EXPECT_TRUE(Fails(member(std::move(two_rows)), kBadActionString));
}

TEST_F(GatewayChecks, ActionNumber) {
    for (double bad : {10.0, -0.5, -1.0, 1e10, kNaN, kInf, -kInf}) {
        EXPECT_TRUE(Fails(member(bad), kBadActionNumber)) << bad;
    }
    for (auto &[what, value] : not_single_real()) {
        EXPECT_TRUE(Fails(member(std::move(value)), kBadActionNumber)) << what;
    }
}

TEST_F(GatewayChecks, ParametersThatAreNotOneRealDouble) {
    const char *messages[] = {kBadMinima, kBadValue, kBadDistance, kBadRadius, nullptr, kBadTest};
    for (int pos : {0, 1, 2, 3, 5}) {
        for (auto &[what, value] : not_single_real()) {
            std::vector<host::Array> in;
            for (double v : {10.0, -1.0, kDist, kRadius}) in.push_back(input(v));
            in.push_back(input("info"));
            in.push_back(input(1.0));
            in[pos] = std::move(value);
            Outcome out = host::call(mexFunction, 1, {in[0].get(), in[1].get(), in[2].get(), in[3].get(),
                                                      in[4].get(), in[5].get()});
            forget();
            EXPECT_TRUE(Fails(out, messages[pos])) << "input " << pos + 1 << ": " << what;
        }
    }
}

TEST_F(GatewayChecks, IntegerValuedParametersOutOfRange) {
    for (double m : {1.99, 1.0, 0.0, -3.0, 4294967296.0, 1e300, kNaN, kInf, -kInf}) {
        EXPECT_TRUE(Fails(call(m, -1.0, kDist, kRadius, "info", 1), kBadMinima)) << m;
    }
    for (double t : {0.5, 0.0, -1.0, 101.0, 2147483648.0, kNaN, kInf, -kInf}) {
        EXPECT_TRUE(Fails(call(10, -1.0, kDist, kRadius, "info", t), kBadTest)) << t;
    }
    for (double d : {0.0, -0.1, -kInf}) {
        EXPECT_TRUE(Fails(call(10, -1.0, d, kRadius, "info", 1), kBadDistance)) << d;
        EXPECT_TRUE(Fails(call(10, -1.0, kDist, d, "info", 1), kBadRadius)) << d;
    }
}

TEST_F(GatewayChecks, GenerationFaultsHaveOneMessage) {
    EXPECT_TRUE(Fails(call(10, -1.0, 1.0, 0.2, "info", 1), kGenerationFailed));   // distance too large
    EXPECT_TRUE(Fails(call(10, -1.0, 0.6, 0.31, "info", 1), kGenerationFailed));  // radius too large
    EXPECT_TRUE(Fails(call(10, 0.0, kDist, kRadius, "info", 1), kGenerationFailed));
    // The largest count the gateway takes: its tables cannot be sized.
    EXPECT_TRUE(Fails(call(4294967295.0, -1.0, kDist, kRadius, "info", 1), kGenerationFailed));
    // NaN parameters pass every bound; they end in generation or in values.
    for (int pos = 1; pos <= 3; pos++) {
        double p[3] = {-1.0, kDist, kRadius};
        p[pos - 1] = kNaN;
        Outcome out = call(10, p[0], p[1], p[2], "info", 1);
        if (!out.ok) {
            EXPECT_EQ(out.error, kGenerationFailed) << pos;
        }
    }
}

TEST_F(GatewayChecks, TargetPoints) {
    // Same count, other shape.
    EXPECT_TRUE(Fails(member("ND_func", host::matrix(2, 3, {}), host::matrix(3, 2, {})), kBadShape));
    // "info" reads neither matrix but still wants them alike, of any class.
    EXPECT_TRUE(Fails(member("info", host::matrix(1, 2, {}), host::matrix(2, 1, {})), kBadShape));
    EXPECT_TRUE(Succeeds(member("info", host::numeric(mxCELL_CLASS, 2, 2), host::numeric(mxCHAR_CLASS, 2, 2)),
                         10, 4));
    // The point actions read real doubles only, through neither X nor Y.
    const mxClassID classes[] = {mxCHAR_CLASS,   mxLOGICAL_CLASS, mxINT8_CLASS,   mxUINT8_CLASS,
                                 mxINT16_CLASS,  mxUINT16_CLASS,  mxINT32_CLASS,  mxUINT32_CLASS,
                                 mxINT64_CLASS,  mxUINT64_CLASS,  mxSINGLE_CLASS, mxCELL_CLASS,
                                 mxSTRUCT_CLASS};
    for (mxClassID cls : classes) {
        EXPECT_TRUE(Fails(member("D2_func", host::numeric(cls, 1, 1), host::matrix(1, 1, {0})), kBadPointType))
            << cls;
        EXPECT_TRUE(Fails(member("D2_hessian", host::matrix(1, 1, {0}), host::numeric(cls, 1, 1)), kBadPointType))
            << cls;
    }
    EXPECT_TRUE(Fails(member("ND_func", host::complex_scalar(0.1, 0), host::matrix(1, 1, {0})), kBadPointType));
    EXPECT_TRUE(Fails(member("ND_func", host::matrix(1, 1, {0}), host::adopt(mxCreateSparse(1, 1, 1, mxREAL))),
                      kBadPointType));
    // The type check comes before the single-point check.
    EXPECT_TRUE(Fails(member("D_gradient", host::numeric(mxSINGLE_CLASS, 1, 2), host::numeric(mxSINGLE_CLASS, 1, 2)),
                      kBadPointType));
}

TEST_F(GatewayChecks, DerivativeIndices) {
    const auto X = [] { return host::matrix(1, 1, {0.1}); };
    for (double bad : {3.0, -1.0, -0.5, 2147483648.0, kNaN, kInf, -kInf}) {
        EXPECT_TRUE(Fails(member("D_deriv", X(), X(), bad), kBadFirstIndex)) << bad;
        EXPECT_TRUE(Fails(member("D2_deriv2", X(), X(), bad, 1), kBadFirstIndex)) << bad;
        EXPECT_TRUE(Fails(member("D2_deriv2", X(), X(), 1, bad), kBadSecondIndex)) << bad;
    }
    for (auto &[what, value] : not_single_real()) {
        EXPECT_TRUE(Fails(member("D2_deriv1", X(), X(), std::move(value)), kBadFirstIndex)) << what;
    }
    // A bad minima count is reported before a bad index.
    EXPECT_TRUE(Fails(call(1.0, -1.0, kDist, kRadius, "D_deriv", 1, X(), X(), 3.0), kBadMinima));
    EXPECT_TRUE(Fails(member("D2_deriv2", X(), X(), 3.0, 3.0), kBadFirstIndex));
}

TEST_F(GatewayChecks, ModuleVersionTag) { EXPECT_STREQ(mexVersion(), "MATLAB R14 native"); }
