/*
 * Extension-module interface of travo's own host layer.
 *
 * Builds without a numeric environment compile the gateway against this
 * header instead of the host's mex.h; the include path decides which one is
 * found. It declares the host arrays and the host operations the gateway
 * uses, with the same names and argument types as a real host, plus the
 * constructors a caller needs to build inputs.
 *
 * Host arrays here are two-dimensional: rows and columns. Classes: double
 * (real or complex, dense or sparse), single, char, logical, the eight
 * integer classes, cell and struct. Elements are stored column by column;
 * a complex array keeps its real and imaginary parts in two arrays.
 *
 * Differences from a real host, by design:
 *  - a constructor that cannot obtain storage returns NULL instead of ending
 *    the call;
 *  - mexErrMsgTxt throws a C++ exception that the call helper of
 *    host_call.hpp catches, so the caller's code is left at once;
 *  - mxGetPr returns NULL for an array that does not hold doubles.
 */
#ifndef TRAVO_HOST_MEX_H
#define TRAVO_HOST_MEX_H

#include <stddef.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(__cplusplus)
#define TRAVO_HOST_NORETURN [[noreturn]]
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define TRAVO_HOST_NORETURN _Noreturn
#else
#define TRAVO_HOST_NORETURN
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;
typedef size_t mwSize;
typedef size_t mwIndex;
typedef char mxChar;
typedef unsigned char mxLogical;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS,
    mxSTRUCT_CLASS,
    mxLOGICAL_CLASS,
    mxCHAR_CLASS,
    mxVOID_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT8_CLASS,
    mxUINT8_CLASS,
    mxINT16_CLASS,
    mxUINT16_CLASS,
    mxINT32_CLASS,
    mxUINT32_CLASS,
    mxINT64_CLASS,
    mxUINT64_CLASS,
    mxFUNCTION_CLASS
} mxClassID;

/* The entry of an extension module, called by the host once per request. */
void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

/* Shape and class. */
size_t mxGetM(const mxArray *a);
size_t mxGetN(const mxArray *a);
size_t mxGetNumberOfElements(const mxArray *a);
mxClassID mxGetClassID(const mxArray *a);
bool mxIsDouble(const mxArray *a);
bool mxIsComplex(const mxArray *a);
bool mxIsChar(const mxArray *a);
bool mxIsLogical(const mxArray *a);
bool mxIsSparse(const mxArray *a);

/* Elements. */
double *mxGetPr(const mxArray *a);
double *mxGetPi(const mxArray *a);
void *mxGetData(const mxArray *a);
/* Copies at most buflen - 1 characters, column by column, and a NUL; returns
 * 0 when the whole text fitted, 1 when it was cut or a is not a char array. */
int mxGetString(const mxArray *a, char *buf, mwSize buflen);

/* Constructors; elements start at zero. NULL when storage is not obtained. */
mxArray *mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag);
mxArray *mxCreateDoubleScalar(double value);
mxArray *mxCreateNumericMatrix(mwSize m, mwSize n, mxClassID cls, mxComplexity flag);
mxArray *mxCreateLogicalMatrix(mwSize m, mwSize n);
mxArray *mxCreateString(const char *text);
/* Dimensions after the second are folded into the columns. */
mxArray *mxCreateCharArray(mwSize ndim, const mwSize *dims);
mxArray *mxCreateCellMatrix(mwSize m, mwSize n);
mxArray *mxCreateStructMatrix(mwSize m, mwSize n, int nfields, const char **fieldnames);
mxArray *mxCreateSparse(mwSize m, mwSize n, mwSize nzmax, mxComplexity flag);
void mxDestroyArray(mxArray *a);

/* Host storage: reclaimed at the end of the call that took it. */
void *mxMalloc(size_t n);
void mxFree(void *ptr);

/* Registers the function that releases what the module keeps between
 * calls; the host calls it when it unloads the module (here: after every
 * call, or on travo::host::unload_module when modules are kept loaded). */
int mexAtExit(void (*exit_function)(void));

/* Ends the current call with the message as its error; never returns. */
TRAVO_HOST_NORETURN void mexErrMsgTxt(const char *message);

#ifdef __cplusplus
}
#endif

#endif /* TRAVO_HOST_MEX_H */
