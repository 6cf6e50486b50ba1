// travo's own host layer: arrays, texts, the error exit and the reclaiming
// of what a call takes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "host/host_call.hpp"
#include "host/host_layer.hpp"

namespace host = travo::host;

TEST(HostArrays, ClassesShapesAndElements) {
    struct Case {
        mxClassID cls;
        std::size_t element;
    };
    for (Case c : {Case{mxDOUBLE_CLASS, 8}, {mxSINGLE_CLASS, 4}, {mxINT8_CLASS, 1}, {mxUINT16_CLASS, 2},
                   {mxINT32_CLASS, 4}, {mxUINT64_CLASS, 8}, {mxLOGICAL_CLASS, 1}, {mxCHAR_CLASS, 1}}) {
        host::Array a = host::numeric(c.cls, 3, 5);
        EXPECT_EQ(mxGetClassID(a.get()), c.cls);
        EXPECT_EQ(mxGetM(a.get()), 3u);
        EXPECT_EQ(mxGetN(a.get()), 5u);
        EXPECT_EQ(mxGetNumberOfElements(a.get()), 15u);
        EXPECT_EQ(mxIsDouble(a.get()), c.cls == mxDOUBLE_CLASS);
        EXPECT_EQ(mxIsChar(a.get()), c.cls == mxCHAR_CLASS);
        EXPECT_EQ(mxIsLogical(a.get()), c.cls == mxLOGICAL_CLASS);
        // Only doubles are handed out as doubles; all elements start at zero.
        EXPECT_EQ(mxGetPr(a.get()) != nullptr, c.cls == mxDOUBLE_CLASS);
        const auto *bytes = static_cast<const unsigned char *>(mxGetData(a.get()));
        for (std::size_t k = 0; k < 15 * c.element; k++) ASSERT_EQ(bytes[k], 0) << c.cls;
    }
    host::Array z = host::complex_scalar(1.5, -2.5);
    EXPECT_TRUE(mxIsComplex(z.get()));
    EXPECT_EQ(*mxGetPr(z.get()), 1.5);
    EXPECT_EQ(*mxGetPi(z.get()), -2.5);
    host::Array s = host::adopt(mxCreateSparse(4, 4, 2, mxREAL));
    EXPECT_TRUE(mxIsSparse(s.get()));
    EXPECT_TRUE(mxIsDouble(s.get()));
    EXPECT_EQ(mxGetN(host::numeric(mxDOUBLE_CLASS, 0, 7).get()), 7u);
    // Sizes that cannot be held are refused, not wrapped.
    EXPECT_EQ(mxCreateDoubleMatrix(SIZE_MAX / 2, 4, mxREAL), nullptr);
    EXPECT_EQ(mxCreateNumericMatrix(1, 1, mxCHAR_CLASS, mxREAL), nullptr);
}

TEST(HostArrays, Texts) {
    host::Array t = host::text("D2_func");
    EXPECT_EQ(mxGetM(t.get()), 1u);
    EXPECT_EQ(mxGetN(t.get()), 7u);
    char buf[8];
    EXPECT_EQ(mxGetString(t.get(), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "D2_func");
    char small[4];
    EXPECT_EQ(mxGetString(t.get(), small, sizeof small), 1);  // cut, still terminated
    EXPECT_STREQ(small, "D2_");
    host::Array empty = host::text("");
    EXPECT_EQ(mxGetM(empty.get()), 0u);
    EXPECT_EQ(mxGetN(empty.get()), 0u);
    EXPECT_EQ(mxGetString(host::scalar(1).get(), buf, sizeof buf), 1);
    // Several rows are read column by column.
    host::Array rows = host::numeric(mxCHAR_CLASS, 2, 2);
    std::memcpy(mxGetData(rows.get()), "inf\0", 4);
    EXPECT_EQ(mxGetString(rows.get(), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "inf");
}

namespace {

// Entries that take storage and arrays, then end normally or with an error.
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

int slots_seen = 0;
void counts_slots(int nlhs, mxArray *plhs[], int, const mxArray *[]) {
    slots_seen = nlhs;
    plhs[0] = mxCreateString("not double");
}

}  // namespace

TEST(HostCall, ResultsErrorsAndReclaiming) {
    const auto blocks = host::live_blocks();
    const auto arrays = host::live_arrays();
    host::Array a = host::scalar(4.0);
    host::Array b = host::scalar(-1.0);
    host::Outcome ok = host::call(leaves_result, 1, {a.get(), b.get()});
    ASSERT_TRUE(ok.ok);
    ASSERT_TRUE(ok.filled);
    EXPECT_EQ(ok.result.rows, 1u);
    EXPECT_EQ(ok.result.data, (std::vector<double>{4.0, -1.0}));
    host::Outcome bad = host::call(fails_late, 1, {});
    EXPECT_FALSE(bad.ok);
    EXPECT_FALSE(bad.filled);  // a failed call returns nothing
    EXPECT_EQ(bad.error, "late failure");
    // Only the caller's two inputs are still alive.
    EXPECT_EQ(host::live_blocks(), blocks);
    EXPECT_EQ(host::live_arrays(), arrays + 2);
}

TEST(HostCall, NoRequestedOutputStillHasOneSlot) {
    host::Outcome out = host::call(counts_slots, 0, {});
    EXPECT_EQ(slots_seen, 0);
    ASSERT_TRUE(out.filled);
    EXPECT_EQ(out.result_class, mxCHAR_CLASS);
    EXPECT_TRUE(out.result.data.empty());
}

TEST(HostCall, InjectedFailureReachesArrayCreation) {
    host::fail_allocation(1);
    EXPECT_EQ(mxCreateDoubleMatrix(2, 2, mxREAL), nullptr);
    host::fail_allocation(0);
    EXPECT_THROW(
        {
            host::fail_allocation(1);
            host::Array a = host::scalar(1.0);
        },
        std::bad_alloc);
    host::fail_allocation(0);
}
