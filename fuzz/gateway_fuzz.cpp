// Fuzz target for the host entry: 0 to 11 inputs of any class, shape and
// content, 0 to 2 requested outputs, sometimes a failing host allocation,
// called through travo's host layer as a host calls it. Aborts when a call
// ends in anything but one documented answer: a result of the documented
// shape, or exactly one of the gateway's messages; or when it leaves host
// storage or arrays behind.
//
// The module-wide state is not reset between inputs, as in a host that
// keeps the module loaded: every call must set up what it reads.
//
// Sizes stay small by construction: at most 300 minima and 256 target
// points per call, so that every input runs in well under a millisecond.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.hpp"
#include "host/host_call.hpp"
#include "host/host_layer.hpp"

namespace host = travo::host;

namespace {

// Every message the gateway can end a call with.
const char *const kMessages[] = {
    "Too many input arguments.",
    "Too few input arguments.",
    "Too many output arguments.",
    "Error allocating action string",
    "Wrong action string",
    "Wrong action number",
    "Wrong input arguments number",
    "Wrong input arguments number: X and Y are required for specified action",
    "Wrong minima number: must be a scalar >=2",
    "Wrong global minimizer value: must be a scalar",
    "Wrong distance: must be a scalar > 0",
    "Wrong radius: must be a scalar > 0",
    "Wrong test number: must be an integer 0 < i <= 100",
    "Wrong target points matrix dimension: must have the same dimension",
    "Wrong target points matrix type: must be real double",
    "Wrong target points matrix dimension for specified action: must be a sigle point",
    "Wrong first partial derivative index",
    "Wrong second partial derivative index",
    "Error allocating domain",
    "Internal error generating the function: check input data to be consistent",
    "Error allocating target point",
    "Error allocating result",
};

const char *const kNames[] = {"info",      "ND_func",   "D_func",     "D2_func",     "D_deriv",
                              "D2_deriv1", "D2_deriv2", "D_gradient", "D2_gradient", "D2_hessian"};

[[noreturn]] void violated(const char *what, const host::Outcome &out) {
    std::fprintf(stderr, "invariant violated: %s (ok %d, filled %d, error \"%s\", result %zu x %zu)\n", what, out.ok,
                 out.filled, out.error.c_str(), out.result.rows, out.result.cols);
    std::abort();
}

void require(bool ok, const char *what, const host::Outcome &out) {
    if (!ok) violated(what, out);
}

host::Array double_matrix(travo::fuzz::Input &in, std::size_t rows, std::size_t cols, double lo, double hi) {
    host::Array a = host::matrix(rows, cols, {});
    double *pr = mxGetPr(a.get());
    for (std::size_t k = 0; k < rows * cols; k++) pr[k] = in.number(lo, hi);
    return a;
}

host::Array char_array(const std::string &s, std::size_t rows) {
    if (rows <= 1) return host::text(s);
    const std::size_t cols = (s.size() + rows - 1) / rows;
    host::Array a = host::numeric(mxCHAR_CLASS, rows, cols);
    std::memcpy(mxGetData(a.get()), s.data(), s.size());
    return a;
}

// An action name, or a near miss of one.
host::Array action_text(travo::fuzz::Input &in) {
    std::string s = kNames[in.byte() % 10];
    const uint8_t how = in.byte();
    const std::size_t at = s.empty() ? 0 : in.byte() % s.size();
    std::size_t rows = 1;
    switch (how % 8) {
    case 0:
        break;
    case 1:
        s[at] = static_cast<char>(s[at] ^ 0x20);
        break;  // case of one letter
    case 2:
        s.push_back(static_cast<char>(in.byte()));
        break;
    case 3:
        s.pop_back();
        break;
    case 4:
        s.resize(at);
        break;
    case 5:
        s[at] = '\0';
        break;
    case 6:
        rows = 2;
        break;
    case 7:
        s.clear();
        break;
    }
    return char_array(s, rows);
}

// Any class other than double, small, with arbitrary element bytes.
host::Array other_class(travo::fuzz::Input &in) {
    static const mxClassID classes[] = {mxSINGLE_CLASS, mxINT8_CLASS,   mxUINT8_CLASS, mxINT16_CLASS,  mxUINT16_CLASS,
                                        mxINT32_CLASS,  mxUINT32_CLASS, mxINT64_CLASS, mxUINT64_CLASS, mxLOGICAL_CLASS,
                                        mxCHAR_CLASS,   mxCELL_CLASS,   mxSTRUCT_CLASS};
    static const std::size_t sizes[] = {4, 1, 1, 2, 2, 4, 4, 8, 8, 1, sizeof(mxChar), 0, 0};
    const std::size_t which = in.byte() % 13;
    const mxClassID cls = classes[which];
    const std::size_t rows = in.byte() % 4, cols = in.byte() % 4;
    const bool numeric = which < 9;
    host::Array a = host::numeric(cls, rows, cols, numeric && (in.byte() & 1) != 0 ? mxCOMPLEX : mxREAL);
    auto *p = static_cast<unsigned char *>(mxGetData(a.get()));
    for (std::size_t k = 0; k < rows * cols * sizes[which]; k++) p[k] = in.byte();
    return a;
}

// The minima count, capped at a few hundred; beyond the cap only values
// that are refused or that cannot be sized.
double minima_count(travo::fuzz::Input &in) {
    const uint8_t tag = in.byte();
    if (tag < 200) return -3.0 + 303.0 * in.unit();
    static const double specials[] = {NAN,  INFINITY,     -INFINITY,    1.99,  2.0,   2.9,
                                      -0.0, 4294967295.0, 4294967296.0, 1e300, -1e300};
    return specials[tag % 11];
}

struct Call {
    std::vector<host::Array> inputs;
    int nlhs = 1;
    std::int64_t fail_at = 0;
};

// A plausible input for each position, so that most calls get deep.
host::Array good(travo::fuzz::Input &in, std::size_t pos, const Call &c) {
    switch (pos) {
    case 0:
        return host::scalar(2 + in.byte() % 40);
    case 1:
        return host::scalar(-0.1 - 10.0 * in.unit());
    case 2:
        return host::scalar(0.05 + 0.9 * in.unit());
    case 3:
        return host::scalar(0.02 + 0.4 * in.unit());
    case 4: {
        const uint8_t a = in.byte();
        return a < 128 ? host::text(kNames[a % 10]) : host::scalar(a % 10 + 0.5 * in.unit());
    }
    case 5:
        return host::scalar(1 + in.byte() % 100);
    case 6: {
        const uint8_t shape = in.byte();
        std::size_t rows = 1, cols = 1;
        if (shape >= 128) {
            rows = shape % 5;
            cols = (shape >> 3) % 5;
        }
        return double_matrix(in, rows, cols, -1.2, 1.2);
    }
    case 7: {
        // Y of X's shape.
        const mxArray *x = c.inputs[6].get();
        return double_matrix(in, mxGetM(x), mxGetN(x), -1.2, 1.2);
    }
    default:
        return host::scalar(in.byte() % 4);
    }
}

host::Array value(travo::fuzz::Input &in, std::size_t pos, const Call &c) {
    const uint8_t kind = in.byte();
    switch (kind % 16) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
        return good(in, pos, c);
    case 6:
        return host::scalar(pos == 0 ? minima_count(in) : in.number(-5.0, 110.0));
    case 7:
        return host::scalar(pos == 0 ? minima_count(in) : in.raw_double());
    case 8:
        return action_text(in);
    case 9:
        return char_array(in.text(24), 1 + in.byte() % 3);
    case 10: {
        const std::size_t rows = in.byte() % 17, cols = in.byte() % 17;
        return double_matrix(in, rows, cols, -1.5, 1.5);
    }
    case 11:
        return host::complex_scalar(in.number(-2, 12), in.number(-1, 1));
    case 12:
        return other_class(in);
    case 13: {
        host::Array a = host::adopt(mxCreateSparse(1 + in.byte() % 2, 1, 1, mxREAL));
        *mxGetPr(a.get()) = in.number(-2, 12);
        return a;
    }
    case 14: {
        // No elements, with a large other dimension.
        const std::size_t other = static_cast<std::size_t>(in.byte()) << 12;
        return (in.byte() & 1) != 0 ? host::matrix(0, other, {}) : host::matrix(other, 0, {});
    }
    default:
        return host::scalar(pos == 0 ? minima_count(in) : in.number(-1e6, 1e6));
    }
}

Call decode(travo::fuzz::Input &in) {
    Call c;
    c.nlhs = in.byte() % 3;
    const std::size_t nrhs = in.byte() % 12;
    const uint8_t fail = in.byte();
    if (fail < 24) c.fail_at = 1 + fail;
    for (std::size_t pos = 0; pos < nrhs; pos++) c.inputs.push_back(value(in, pos, c));
    // Larger counts are valid, but generation costs time proportional to
    // m^2; counts that the tables cannot be sized for stay.
    if (nrhs > 0 && mxIsDouble(c.inputs[0].get()) && mxGetNumberOfElements(c.inputs[0].get()) == 1) {
        double &m = *mxGetPr(c.inputs[0].get());
        if (m >= 301.0 && m < 4294967295.0) m = 2.0 + std::fmod(m, 299.0);
    }
    return c;
}

bool known(const std::string &message) {
    for (const char *m : kMessages) {
        if (message == m) return true;
    }
    return false;
}

// The action a successful call answered, from input 5 alone.
int action_of(const mxArray *a) {
    if (mxIsChar(a)) {
        if (mxGetM(a) != 1) return -1;
        const std::string s(static_cast<const char *>(mxGetData(a)), mxGetN(a));
        for (int k = 0; k < 10; k++) {
            if (s == kNames[k]) return k;
        }
        return -1;
    }
    if (!mxIsDouble(a) || mxIsComplex(a) || mxIsSparse(a) || mxGetNumberOfElements(a) != 1) return -1;
    const double f = std::floor(*mxGetPr(a));
    return f >= 0 && f <= 9 ? static_cast<int>(f) : -1;
}

void check(const Call &c, const host::Outcome &out) {
    const std::size_t nrhs = c.inputs.size();
    if (!out.ok) {
        require(known(out.error), "a known message", out);
        require(!out.filled, "no result with a message", out);
        if (nrhs > 10) require(out.error == kMessages[0], "more than 10 inputs", out);
        if (nrhs < 6) require(out.error == kMessages[1], "fewer than 6 inputs", out);
        return;
    }
    require(out.error.empty(), "no message with a result", out);
    require(nrhs >= 6 && nrhs <= 10 && c.nlhs <= 1, "success only with 6 to 10 inputs and one output", out);
    require(out.filled && out.result_class == mxDOUBLE_CLASS && !out.result_complex, "a real double result", out);
    const int action = action_of(c.inputs[4].get());
    require(action >= 0, "success only for a known action", out);
    const host::Matrix &r = out.result;
    if (action == 0) {
        const double m = std::floor(*mxGetPr(c.inputs[0].get()));
        require(m >= 2 && m <= 300 && r.rows == static_cast<std::size_t>(m) && r.cols == 4, "info is m x 4", out);
        // Row 1: the paraboloid vertex; row 2: the global minimizer.
        require(r(0, 0) == 0.0, "vertex value 0", out);
        const double g = *mxGetPr(c.inputs[1].get());
        const double radius = *mxGetPr(c.inputs[3].get());
        require(r(1, 0) == g || std::isnan(g), "global value in row 2", out);
        require(r(1, 1) == radius || std::isnan(radius), "global radius in row 2", out);
        return;
    }
    require(nrhs >= 8, "point actions need X and Y", out);
    const mxArray *x = c.inputs[6].get();
    // A generated member gives finite numbers at finite points (and 1e+100
    // outside the box or for index 0).
    const mxArray *y = c.inputs[7].get();
    if (mxIsDouble(x) && mxIsDouble(y) && !mxIsComplex(x) && !mxIsComplex(y)) {
        bool finite_points = true;
        for (std::size_t k = 0; k < mxGetNumberOfElements(x); k++) {
            finite_points = finite_points && std::isfinite(mxGetPr(x)[k]) && std::isfinite(mxGetPr(y)[k]);
        }
        for (std::size_t k = 0; finite_points && k < r.rows * r.cols; k++) {
            require(std::isfinite(r.data[k]), "finite results at finite points", out);
        }
    }
    if (action >= 7) {
        require(mxGetNumberOfElements(x) == 1, "one point", out);
        require(r.rows == 2 && r.cols == (action == 9 ? 2u : 1u), "gradient 2 x 1, Hessian 2 x 2", out);
    } else {
        require(r.rows == mxGetM(x) && r.cols == mxGetN(x), "result shaped like X", out);
        if (action >= 4) require(nrhs == (action == 6 ? 10u : 9u), "derivative input count", out);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    travo::fuzz::Input in(data, size);
    const std::int64_t blocks = host::live_blocks();
    const std::int64_t arrays = host::live_arrays();
    {
        const Call c = decode(in);
        std::vector<const mxArray *> ptrs;
        for (const host::Array &a : c.inputs) ptrs.push_back(a.get());
        const std::int64_t inputs_live = host::live_arrays();
        host::fail_allocation(c.fail_at);
        const host::Outcome out = host::call(mexFunction, c.nlhs, ptrs);
        host::fail_allocation(0);
        check(c, out);
        require(host::live_blocks() == blocks, "no host storage left after the call", out);
        require(host::live_arrays() == inputs_live, "no host array left after the call", out);
    }
    if (host::live_arrays() != arrays) {
        std::fprintf(stderr, "invariant violated: inputs not released\n");
        std::abort();
    }
    return 0;
}
