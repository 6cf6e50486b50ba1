// travo's own host layer: a call returns its result or its message, never
// both; what it took is reclaimed; with no output requested the entry still
// has one slot; injected failures reach array creation. (Its arrays and
// texts are exercised by the gateway tests.)
#include <gtest/gtest.h>

#include "host/host_call.hpp"
#include "host/host_layer.hpp"

namespace host = travo::host;

namespace {

int slots_seen = -1;

void leaves_result(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    slots_seen = nlhs;
    (void)mxMalloc(64);
    (void)mxCreateDoubleMatrix(3, 3, mxREAL);
    plhs[0] = mxCreateDoubleMatrix(1, nrhs, mxREAL);
    for (int k = 0; k < nrhs; k++) mxGetPr(plhs[0])[k] = mxGetPr(prhs[k])[0];
}

void fails_late(int, mxArray *plhs[], int, const mxArray *[]) {
    (void)mxMalloc(64);
    plhs[0] = mxCreateDoubleScalar(1.0);
    mexErrMsgTxt("late failure");
}

}  // namespace

TEST(HostCall, ResultsErrorsAndReclaiming) {
    const auto blocks = host::live_blocks(), arrays = host::live_arrays();
    host::Array a = host::scalar(4.0), b = host::scalar(-1.0);
    const host::Outcome ok = host::call(leaves_result, 0, {a.get(), b.get()});
    EXPECT_EQ(slots_seen, 0);
    ASSERT_TRUE(ok.ok && ok.filled);
    EXPECT_EQ(ok.result.data, (std::vector<double>{4.0, -1.0}));
    const host::Outcome bad = host::call(fails_late, 1, {});
    EXPECT_FALSE(bad.ok || bad.filled);
    EXPECT_EQ(bad.error, "late failure");
    EXPECT_EQ(host::live_blocks(), blocks);
    EXPECT_EQ(host::live_arrays(), arrays + 2);  // the caller's two inputs
    host::fail_allocation(1);
    EXPECT_EQ(mxCreateDoubleMatrix(2, 2, mxREAL), nullptr);
    host::fail_allocation(1);
    EXPECT_THROW((void)host::scalar(1.0), std::bad_alloc);
    host::fail_allocation(0);
    EXPECT_EQ(mxCreateDoubleMatrix(SIZE_MAX / 2, 4, mxREAL), nullptr);  // refused, not wrapped
}
