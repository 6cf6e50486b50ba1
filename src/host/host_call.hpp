// Calling an extension-module entry through travo's own host layer, as a
// host does: the inputs are host arrays, the entry gets one output slot at
// least, an error ends the call with its message, and the storage and arrays
// taken during the call are reclaimed when it ends.
//
// Library tables that the module's generator takes with mxMalloc during a
// call are reclaimed with the rest, so after a call the module-wide table
// references dangle; nothing reads them until the next generation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "mex.h"

namespace travo::host {

// Thrown by mexErrMsgTxt; the call helper turns it into an error outcome.
class CallError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Number of host arrays alive (created and not yet destroyed).
std::int64_t live_arrays();

// Owning reference to a host array made outside a call.
struct ArrayDeleter {
    void operator()(mxArray *a) const noexcept { mxDestroyArray(a); }
};
using Array = std::unique_ptr<mxArray, ArrayDeleter>;

// Builders of input arrays; they throw std::bad_alloc when the host layer
// cannot obtain storage.
Array scalar(double value);
Array matrix(std::size_t rows, std::size_t cols, const std::vector<double> &column_major);
Array text(const std::string &s);  // 1 x n, or 0 x 0 when s is empty
Array complex_scalar(double re, double im);
Array numeric(mxClassID cls, std::size_t rows, std::size_t cols, mxComplexity flag = mxREAL);
Array adopt(mxArray *a);  // takes ownership of a constructor's result

// A real double matrix copied out of a call's first output slot.
struct Matrix {
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::vector<double> data;  // column by column
    double operator()(std::size_t i, std::size_t j) const { return data.at(i + rows * j); }
};

struct Outcome {
    bool ok = false;      // the entry returned normally
    std::string error;    // the mexErrMsgTxt text when it did not
    bool filled = false;  // the first output slot held an array at the end
    mxClassID result_class = mxUNKNOWN_CLASS;
    bool result_complex = false;
    Matrix result;  // its real part, when it holds doubles
};

using Entry = void (*)(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

// Whether the module stays loaded between calls. By default it does not:
// the exit function it registered with mexAtExit runs at the end of every
// call, so that each call starts from a freshly loaded module. With `keep`
// the module's kept state lives on until unload_module().
void keep_module_loaded(bool keep);

// Unloads the module as `clear` does in a host: runs and forgets the exit
// function it registered.
void unload_module();

// Calls `entry` with `nlhs` requested outputs and the given inputs.
Outcome call(Entry entry, int nlhs, std::span<const mxArray *const> inputs);
Outcome call(Entry entry, int nlhs, std::initializer_list<const mxArray *> inputs);

}  // namespace travo::host
