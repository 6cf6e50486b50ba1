// travo's own host layer: arrays, texts, the error exit and the reclaiming
// of what a call takes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "host/host_call.hpp"
#include "host/host_layer.hpp"

namespace host = travo::host;

// What the gateway's checks rely on: the class predicates, texts read
// column by column and cut with a terminator, impossible sizes refused.
TEST(HostArrays, ClassesTextsAndSizes) {
    for (mxClassID cls : {mxDOUBLE_CLASS, mxSINGLE_CLASS, mxINT8_CLASS, mxLOGICAL_CLASS, mxCHAR_CLASS}) {
        host::Array a = host::numeric(cls, 3, 5);
        EXPECT_EQ(mxGetClassID(a.get()), cls);
        EXPECT_EQ(mxGetM(a.get()) * 10 + mxGetN(a.get()), 35u);
        EXPECT_EQ(mxIsDouble(a.get()) * 4 + mxIsChar(a.get()) * 2 + mxIsLogical(a.get()),
                  (cls == mxDOUBLE_CLASS) * 4 + (cls == mxCHAR_CLASS) * 2 + (cls == mxLOGICAL_CLASS));
    }
    EXPECT_TRUE(mxIsComplex(host::complex_scalar(1.5, -2.5).get()));
    EXPECT_TRUE(mxIsSparse(host::adopt(mxCreateSparse(4, 4, 2, mxREAL)).get()));
    EXPECT_EQ(mxCreateDoubleMatrix(SIZE_MAX / 2, 4, mxREAL), nullptr);
    char buf[8], small[4];
    EXPECT_EQ(mxGetString(host::text("D2_func").get(), small, sizeof small), 1);
    EXPECT_STREQ(small, "D2_");
    host::Array rows = host::numeric(mxCHAR_CLASS, 2, 2);
    std::memcpy(mxGetData(rows.get()), "inf\0", 4);
    EXPECT_EQ(mxGetString(rows.get(), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "inf");
}

namespace {

void leaves_result(int, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
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

int slots_seen = -1;
void counts_slots(int nlhs, mxArray *plhs[], int, const mxArray *[]) {
    slots_seen = nlhs;
    plhs[0] = mxCreateString("not double");
}

}  // namespace

// A call returns its result or its message, never both; what it took is
// reclaimed; with no output requested the entry still has one slot.
TEST(HostCall, ResultsErrorsAndReclaiming) {
    const auto blocks = host::live_blocks();
    const auto arrays = host::live_arrays();
    host::Array a = host::scalar(4.0), b = host::scalar(-1.0);
    host::Outcome ok = host::call(leaves_result, 1, {a.get(), b.get()});
    ASSERT_TRUE(ok.ok && ok.filled);
    EXPECT_EQ(ok.result.data, (std::vector<double>{4.0, -1.0}));
    host::Outcome bad = host::call(fails_late, 1, {});
    EXPECT_FALSE(bad.ok || bad.filled);
    EXPECT_EQ(bad.error, "late failure");
    EXPECT_EQ(host::live_blocks(), blocks);
    EXPECT_EQ(host::live_arrays(), arrays + 2);  // the caller's two inputs

    host::Outcome none = host::call(counts_slots, 0, {});
    EXPECT_EQ(slots_seen, 0);
    EXPECT_TRUE(none.filled);
    EXPECT_EQ(none.result_class, mxCHAR_CLASS);

    host::fail_allocation(1);
    EXPECT_EQ(mxCreateDoubleMatrix(2, 2, mxREAL), nullptr);
    host::fail_allocation(1);
    EXPECT_THROW((void)host::scalar(1.0), std::bad_alloc);
    host::fail_allocation(0);
}
