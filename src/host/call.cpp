// The call helper of travo's host layer and the builders of input arrays.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "host/arrays_internal.hpp"
#include "host/host_call.hpp"
#include "host/host_layer.hpp"

namespace travo::host {

Array adopt(mxArray *a) {
    if (a == nullptr) throw std::bad_alloc();
    return Array(a);
}

Array scalar(double value) { return adopt(mxCreateDoubleScalar(value)); }

Array matrix(std::size_t rows, std::size_t cols, const std::vector<double> &column_major) {
    Array a = adopt(mxCreateDoubleMatrix(rows, cols, mxREAL));
    const std::size_t count = std::min(column_major.size(), rows * cols);
    if (count != 0) std::memcpy(mxGetPr(a.get()), column_major.data(), count * sizeof(double));
    return a;
}

Array text(const std::string &s) {
    // Every character of s, NULs included (mxCreateString stops at one).
    const mwSize dims[2] = {s.empty() ? 0u : 1u, s.size()};
    Array a = adopt(mxCreateCharArray(2, dims));
    if (!s.empty()) std::memcpy(mxGetData(a.get()), s.data(), s.size());
    return a;
}

Array complex_scalar(double re, double im) {
    Array a = adopt(mxCreateDoubleMatrix(1, 1, mxCOMPLEX));
    *mxGetPr(a.get()) = re;
    *mxGetPi(a.get()) = im;
    return a;
}

Array numeric(mxClassID cls, std::size_t rows, std::size_t cols, mxComplexity flag) {
    switch (cls) {
    case mxCHAR_CLASS: {
        const mwSize dims[2] = {rows, cols};
        return adopt(mxCreateCharArray(2, dims));
    }
    case mxLOGICAL_CLASS:
        return adopt(mxCreateLogicalMatrix(rows, cols));
    case mxCELL_CLASS:
        return adopt(mxCreateCellMatrix(rows, cols));
    case mxSTRUCT_CLASS:
        return adopt(mxCreateStructMatrix(rows, cols, 0, nullptr));
    default:
        return adopt(mxCreateNumericMatrix(rows, cols, cls, flag));
    }
}

namespace {

void (*exit_function)(void) = nullptr;
bool keep_loaded = false;

}  // namespace

void keep_module_loaded(bool keep) { keep_loaded = keep; }

void unload_module() {
    void (*f)(void) = exit_function;
    exit_function = nullptr;
    if (f != nullptr) f();
}

// Unloads the module at the end of a call unless it is kept loaded.
struct UnloadScope {
    ~UnloadScope() {
        if (!keep_loaded) unload_module();
    }
};

Outcome call(Entry entry, int nlhs, std::span<const mxArray *const> inputs) {
    Outcome out;
    if (inputs.size() > static_cast<std::size_t>(INT_MAX)) throw std::length_error("too many inputs");
    std::vector<const mxArray *> in(inputs.begin(), inputs.end());
    std::vector<mxArray *> slots(static_cast<std::size_t>(std::max(nlhs, 1)), nullptr);
    UnloadScope unload;
    CallScope blocks;
    detail::ArrayScope arrays;
    try {
        entry(nlhs, slots.data(), static_cast<int>(in.size()), in.data());
        out.ok = true;
    } catch (const CallError &e) {
        out.error = e.what();
        return out;
    }
    if (const mxArray *r = slots[0]; r != nullptr) {
        out.filled = true;
        out.result_class = mxGetClassID(r);
        out.result_complex = mxIsComplex(r);
        if (mxIsDouble(r) && !mxIsSparse(r)) {
            out.result.rows = mxGetM(r);
            out.result.cols = mxGetN(r);
            const double *pr = mxGetPr(r);
            out.result.data.assign(pr, pr + out.result.rows * out.result.cols);
        }
    }
    return out;
}

Outcome call(Entry entry, int nlhs, std::initializer_list<const mxArray *> inputs) {
    return call(entry, nlhs, std::span<const mxArray *const>(inputs.begin(), inputs.size()));
}

}  // namespace travo::host

extern "C" int mexAtExit(void (*f)(void)) {
    travo::host::exit_function = f;
    return 0;
}
