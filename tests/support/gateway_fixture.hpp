// Helpers shared by the tests of the gateway through travo's host layer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/host_call.hpp"
#include "host/host_layer.hpp"
#include "module/module_state.hpp"
#include "travo/travo.h"

extern "C" const char *mexVersion(void);

namespace travo::testing {

using host::Array;
using host::Matrix;
using host::Outcome;

// Host inputs: numbers become 1 x 1 doubles, texts char rows.
inline Array input(double v) { return host::scalar(v); }
inline Array input(int v) { return host::scalar(v); }
inline Array input(const char *s) { return host::text(s); }
inline Array input(const std::string &s) { return host::text(s); }
inline Array input(Array &&a) { return std::move(a); }

inline constexpr double kDist = 2.0 / 3.0;
inline constexpr double kRadius = 1.0 / 3.0;

// The tables a gateway call generated were reclaimed with the call: drops
// the dangling references so that the module-wide state is empty again.
inline void forget_call_member() {
    TRAVO_minima = MinimaTable{};
    TRAVO_glob = GlobalMinimaList{};
    TRAVO_domain_left = nullptr;
    TRAVO_domain_right = nullptr;
    TRAVO_dim = 0;
    TRAVO_num_minima = 0;
    travo::module::isArgSet = 0;
}

class GatewayTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (TRAVO_minima.points != nullptr) TRAVO_free();
        if (TRAVO_domain_left != nullptr || TRAVO_domain_right != nullptr) TRAVO_domain_free();
        forget();
    }
    void TearDown() override {
        host::fail_allocation(0);
        forget();
    }

    static void forget() { forget_call_member(); }

    template <class... A>
    static std::vector<Array> inputs(A &&...args) {
        std::vector<Array> owned;
        (owned.push_back(input(std::forward<A>(args))), ...);
        return owned;
    }
    template <class... A>
    static std::vector<Array> member_inputs(A &&...more) {
        return inputs(10, -1.0, kDist, kRadius, std::forward<A>(more)...);
    }
    // Calls the gateway as a host does, with `nlhs` requested outputs.
    static Outcome call_with(int nlhs, const std::vector<Array> &owned) {
        std::vector<const mxArray *> in;
        for (const Array &a : owned) in.push_back(a.get());
        Outcome out = host::call(mexFunction, nlhs, in);
        forget();
        return out;
    }
    template <class... A>
    static Outcome call_n(int nlhs, A &&...args) {
        return call_with(nlhs, inputs(std::forward<A>(args)...));
    }
    template <class... A>
    static Outcome call(A &&...args) {
        return call_n(1, std::forward<A>(args)...);
    }
    // The default member (10 minima, value -1, distance 2/3, radius 1/3,
    // test 1) with the given action and further inputs.
    template <class Act, class... A>
    static Outcome member(Act &&action, A &&...more) {
        return call(10, -1.0, kDist, kRadius, std::forward<Act>(action), 1, std::forward<A>(more)...);
    }

    // Runs `f` on the same member generated through the C interface, outside
    // any call, and releases it again.
    template <class F>
    static auto with_library(uint32_t m, double g, double d, double r, int32_t test, F f) {
        TRAVO_dim = 2;
        EXPECT_EQ(TRAVO_domain_alloc(), TRAVO_STATUS_OK);
        TRAVO_num_minima = m;
        TRAVO_global_value = g;
        TRAVO_global_dist = d;
        TRAVO_global_radius = r;
        EXPECT_EQ(TRAVO_arg_generate(test), TRAVO_STATUS_OK);
        auto result = f();
        TRAVO_free();
        TRAVO_domain_free();
        forget();
        return result;
    }
    template <class F>
    static auto with_default_library(F f) {
        return with_library(10, -1.0, kDist, kRadius, 1, f);
    }
};

inline ::testing::AssertionResult Fails(const Outcome &out, const std::string &message) {
    if (out.ok) return ::testing::AssertionFailure() << "call succeeded; expected \"" << message << "\"";
    if (out.error != message) {
        return ::testing::AssertionFailure() << "message \"" << out.error << "\"; expected \"" << message << "\"";
    }
    if (out.filled) return ::testing::AssertionFailure() << "a failed call left a result";
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult Succeeds(const Outcome &out, std::size_t rows, std::size_t cols) {
    if (!out.ok) return ::testing::AssertionFailure() << "call failed: \"" << out.error << "\"";
    if (!out.filled || out.result_class != mxDOUBLE_CLASS || out.result_complex) {
        return ::testing::AssertionFailure() << "no real double result";
    }
    if (out.result.rows != rows || out.result.cols != cols) {
        return ::testing::AssertionFailure() << "result is " << out.result.rows << " x " << out.result.cols
                                             << "; expected " << rows << " x " << cols;
    }
    return ::testing::AssertionSuccess();
}

// The same double, bit for bit (NaN included).
inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace travo::testing
