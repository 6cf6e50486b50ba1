// Helpers shared by the tests of the gateway through travo's host layer.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/host_call.hpp"
#include "module/module_state.hpp"
#include "support/module_fixture.hpp"

namespace travo::testing {

using host::Array;
using host::Outcome;

inline constexpr double kDist = 2.0 / 3.0;
inline constexpr double kRadius = 1.0 / 3.0;

// Host inputs: numbers become 1 x 1 doubles, texts char rows.
inline Array input(double v) { return host::scalar(v); }
inline Array input(const std::string &s) { return host::text(s); }
inline Array input(Array &&a) { return std::move(a); }

template <class... A>
std::vector<Array> inputs(A &&...args) {
    std::vector<Array> owned;
    (owned.push_back(input(std::forward<A>(args))), ...);
    return owned;
}

// Drops the module-wide references to the tables a gateway call made, reclaimed with the call.
inline void forget_call_member() {
    TRAVO_minima = MinimaTable{};
    TRAVO_glob = GlobalMinimaList{};
    TRAVO_domain_left = TRAVO_domain_right = nullptr;
    TRAVO_dim = TRAVO_num_minima = 0;
    travo::module::isArgSet = 0;
}

// Calls the gateway as a host does, with `nlhs` outputs and the first `count` inputs.
inline Outcome call_with(int nlhs, const std::vector<Array> &owned, std::size_t count = SIZE_MAX) {
    std::vector<const mxArray *> in;
    for (std::size_t k = 0; k < owned.size() && k < count; k++) in.push_back(owned[k].get());
    Outcome out = host::call(mexFunction, nlhs, in);
    forget_call_member();
    return out;
}

// The default member (10 minima, value -1, distance 2/3, radius 1/3) with the action and further inputs.
template <class... A>
Outcome member(A &&...action_and_more) {
    return call_with(1, inputs(10.0, -1.0, kDist, kRadius, std::forward<A>(action_and_more)...));
}

class GatewayTest : public ModuleTest {
protected:
    void SetUp() override {
        reset();
        forget_call_member();
    }
    void TearDown() override {
        host::keep_module_loaded(false);
        host::unload_module();
        host::fail_allocation(0);
        forget_call_member();
    }
};

// A call that ended with `message` and no result; one that gave a real double matrix of rows x cols.
inline ::testing::AssertionResult Fails(const Outcome &out, const std::string &message) {
    if (!out.ok && !out.filled && out.error == message) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << (out.ok ? "succeeded" : "\"" + out.error + "\"")
                                         << (out.filled ? " with a result" : "") << "; expected \"" << message << "\"";
}
inline ::testing::AssertionResult Succeeds(const Outcome &out, std::size_t rows, std::size_t cols) {
    if (out.ok && out.filled && out.result_class == mxDOUBLE_CLASS && !out.result_complex && out.result.rows == rows &&
        out.result.cols == cols) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "\"" << out.error << "\", result " << out.result.rows << " x "
                                         << out.result.cols << "; expected " << rows << " x " << cols;
}

}  // namespace travo::testing
