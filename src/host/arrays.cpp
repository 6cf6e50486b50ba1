// Host arrays and the error exit of travo's own host layer.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "host/alloc_internal.hpp"
#include "host/arrays_internal.hpp"
#include "host/host_call.hpp"

struct mxArray_tag {
    mxClassID cls = mxUNKNOWN_CLASS;
    bool complex = false;
    bool sparse = false;
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::size_t capacity = 0;  // elements held: rows * cols, or nzmax if sparse
    void *re = nullptr;
    void *im = nullptr;
};

namespace travo::host {
namespace {

std::atomic<std::int64_t> live{0};

// Arrays created inside the innermost array scope of this thread.
thread_local std::vector<mxArray *> *scope_arrays = nullptr;

std::size_t element_size(mxClassID cls) {
    switch (cls) {
    case mxDOUBLE_CLASS:
    case mxINT64_CLASS:
    case mxUINT64_CLASS:
        return 8;
    case mxSINGLE_CLASS:
    case mxINT32_CLASS:
    case mxUINT32_CLASS:
        return 4;
    case mxINT16_CLASS:
    case mxUINT16_CLASS:
        return 2;
    case mxINT8_CLASS:
    case mxUINT8_CLASS:
    case mxLOGICAL_CLASS:
        return 1;
    case mxCHAR_CLASS:
        return sizeof(mxChar);
    case mxCELL_CLASS:
    case mxSTRUCT_CLASS:
        return sizeof(mxArray *);  // element references, all empty
    default:
        return 0;
    }
}

void release(mxArray *a) {
    std::free(a->re);
    std::free(a->im);
    delete a;
    live--;
}

// One array of `capacity` zeroed elements (at least one is stored, so that
// the element arrays of an empty array exist too). Counts as one host
// allocation, so injected failures reach array creation as well.
mxArray *create(mxClassID cls, std::size_t rows, std::size_t cols, std::size_t capacity, bool complex, bool sparse) {
    const std::size_t size = element_size(cls);
    if (size == 0) return nullptr;
    if (cols != 0 && rows > SIZE_MAX / cols) return nullptr;
    if (capacity > SIZE_MAX / size) return nullptr;
    if (!detail::allocation_attempt()) return nullptr;
    auto *a = new (std::nothrow) mxArray_tag;
    if (a == nullptr) return nullptr;
    live++;
    a->cls = cls;
    a->complex = complex;
    a->sparse = sparse;
    a->rows = rows;
    a->cols = cols;
    a->capacity = capacity;
    const std::size_t stored = std::max<std::size_t>(capacity, 1);
    a->re = std::calloc(stored, size);
    if (complex) a->im = std::calloc(stored, size);
    if (a->re == nullptr || (complex && a->im == nullptr)) {
        release(a);
        return nullptr;
    }
    if (scope_arrays != nullptr) {
        try {
            scope_arrays->push_back(a);
        } catch (...) {
            release(a);
            return nullptr;
        }
    }
    return a;
}

mxArray *create_dense(mxClassID cls, std::size_t rows, std::size_t cols, bool complex) {
    if (cols != 0 && rows > SIZE_MAX / cols) return nullptr;
    return create(cls, rows, cols, rows * cols, complex, false);
}

}  // namespace

std::int64_t live_arrays() { return live.load(); }

namespace detail {

ArrayScope::ArrayScope() {
    if (scope_arrays == nullptr) {
        scope_arrays = new std::vector<mxArray *>();
        owner_ = true;
    }
}

ArrayScope::~ArrayScope() {
    if (!owner_) return;
    for (mxArray *a : *scope_arrays) release(a);
    delete scope_arrays;
    scope_arrays = nullptr;
}

}  // namespace detail
}  // namespace travo::host

using travo::host::create;
using travo::host::create_dense;

extern "C" {

size_t mxGetM(const mxArray *a) { return a != nullptr ? a->rows : 0; }
size_t mxGetN(const mxArray *a) { return a != nullptr ? a->cols : 0; }
size_t mxGetNumberOfElements(const mxArray *a) { return a != nullptr ? a->rows * a->cols : 0; }
mxClassID mxGetClassID(const mxArray *a) { return a != nullptr ? a->cls : mxUNKNOWN_CLASS; }
bool mxIsDouble(const mxArray *a) { return mxGetClassID(a) == mxDOUBLE_CLASS; }
bool mxIsComplex(const mxArray *a) { return a != nullptr && a->complex; }
bool mxIsChar(const mxArray *a) { return mxGetClassID(a) == mxCHAR_CLASS; }
bool mxIsLogical(const mxArray *a) { return mxGetClassID(a) == mxLOGICAL_CLASS; }
bool mxIsSparse(const mxArray *a) { return a != nullptr && a->sparse; }

double *mxGetPr(const mxArray *a) { return mxIsDouble(a) ? static_cast<double *>(a->re) : nullptr; }

double *mxGetPi(const mxArray *a) { return mxIsDouble(a) ? static_cast<double *>(a->im) : nullptr; }

void *mxGetData(const mxArray *a) { return a != nullptr ? a->re : nullptr; }

int mxGetString(const mxArray *a, char *buf, mwSize buflen) {
    if (!mxIsChar(a) || buf == nullptr || buflen == 0) return 1;
    const std::size_t count = a->rows * a->cols;
    const std::size_t copied = std::min(count, buflen - 1);
    std::memcpy(buf, a->re, copied);
    buf[copied] = '\0';
    return copied < count ? 1 : 0;
}

mxArray *mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag) {
    return create_dense(mxDOUBLE_CLASS, m, n, flag == mxCOMPLEX);
}

mxArray *mxCreateDoubleScalar(double value) {
    mxArray *a = create_dense(mxDOUBLE_CLASS, 1, 1, false);
    if (a != nullptr) *static_cast<double *>(a->re) = value;
    return a;
}

mxArray *mxCreateNumericMatrix(mwSize m, mwSize n, mxClassID cls, mxComplexity flag) {
    switch (cls) {
    case mxDOUBLE_CLASS:
    case mxSINGLE_CLASS:
    case mxINT8_CLASS:
    case mxUINT8_CLASS:
    case mxINT16_CLASS:
    case mxUINT16_CLASS:
    case mxINT32_CLASS:
    case mxUINT32_CLASS:
    case mxINT64_CLASS:
    case mxUINT64_CLASS:
        return create_dense(cls, m, n, flag == mxCOMPLEX);
    default:
        return nullptr;
    }
}

mxArray *mxCreateLogicalMatrix(mwSize m, mwSize n) { return create_dense(mxLOGICAL_CLASS, m, n, false); }

mxArray *mxCreateString(const char *text) {
    const std::size_t len = text != nullptr ? std::strlen(text) : 0;
    mxArray *a = create_dense(mxCHAR_CLASS, len != 0 ? 1 : 0, len, false);
    if (a != nullptr && len != 0) std::memcpy(a->re, text, len);
    return a;
}

mxArray *mxCreateCharArray(mwSize ndim, const mwSize *dims) {
    std::size_t rows = ndim > 0 && dims != nullptr ? dims[0] : 0;
    std::size_t cols = ndim > 1 && dims != nullptr ? dims[1] : (ndim == 1 ? 1 : 0);
    for (mwSize d = 2; d < ndim && dims != nullptr; d++) {
        if (dims[d] != 0 && cols > SIZE_MAX / dims[d]) return nullptr;
        cols *= dims[d];
    }
    return create_dense(mxCHAR_CLASS, rows, cols, false);
}

mxArray *mxCreateCellMatrix(mwSize m, mwSize n) { return create_dense(mxCELL_CLASS, m, n, false); }

mxArray *mxCreateStructMatrix(mwSize m, mwSize n, int nfields, const char **fieldnames) {
    // Fields are not kept: a struct array here carries its shape only.
    (void)nfields;
    (void)fieldnames;
    return create_dense(mxSTRUCT_CLASS, m, n, false);
}

mxArray *mxCreateSparse(mwSize m, mwSize n, mwSize nzmax, mxComplexity flag) {
    return create(mxDOUBLE_CLASS, m, n, std::max<std::size_t>(nzmax, 1), flag == mxCOMPLEX, true);
}

void mxDestroyArray(mxArray *a) {
    if (a == nullptr) return;
    if (travo::host::scope_arrays != nullptr) {
        auto &arrays = *travo::host::scope_arrays;
        arrays.erase(std::remove(arrays.begin(), arrays.end(), a), arrays.end());
    }
    travo::host::release(a);
}

void mexErrMsgTxt(const char *message) { throw travo::host::CallError(message != nullptr ? message : ""); }

}  // extern "C"
