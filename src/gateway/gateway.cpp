// Host entry of the travo extension module.
//
// travo(minima, global_value, distance, radius, action, test, X, Y, i, j)
//
// Every call checks its inputs in a fixed order with one message per fault,
// builds the member in two dimensions over the box [-1, 1] x [-1, 1] and
// answers one of ten actions with a single real matrix.
//
// Members are kept between calls (see KeptMember below): a call whose five member
// numbers were seen recently is answered from the kept copy, with the bits
// a fresh member gives. Kept storage is the module's own, released when the
// host unloads the module.
//
// The same source builds against a real host's mex.h and against the header
// of travo's own host layer; only common host operations are used. Every
// buffer taken here comes from mxMalloc and is left to the host, which
// reclaims it when the call ends. The checks run in a function that returns
// the message of the first failing check; the entry then ends the call with
// mexErrMsgTxt, from a frame that holds nothing to release, since some hosts
// leave the call without unwinding the stack.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "evaluation/batch.hpp"
#include "evaluation/evaluate.hpp"
#include "evaluation/lookup.hpp"
#include "gateway/interrupt.hpp"
#include "gateway/kept_cache.hpp"
#include "mex.h"
#include "module/module_state.hpp"
#include "travo/travo.h"

extern "C" const char *mexVersion(void);

namespace {

// Host-version tag of the module; internal so that no global linker symbol
// of so common a name is exported.
const char version[] = "MATLAB R14 native";

// Input positions, counting from 0.
enum Input { kMinima = 0, kValue, kDistance, kRadius, kAction, kTest, kX, kY, kFirst, kSecond };

enum Action {
    kInfo = 0,
    kNdFunc,
    kDFunc,
    kD2Func,
    kDDeriv,
    kD2Deriv1,
    kD2Deriv2,
    kDGradient,
    kD2Gradient,
    kD2Hessian,
    kActionCount
};

const char *const kActionNames[kActionCount] = {"info",      "ND_func",   "D_func",     "D2_func",     "D_deriv",
                                                "D2_deriv1", "D2_deriv2", "D_gradient", "D2_gradient", "D2_hessian"};

// Messages, in the order in which their checks run.
const char kTooManyInputs[] = "Too many input arguments.";
const char kTooFewInputs[] = "Too few input arguments.";
const char kTooManyOutputs[] = "Too many output arguments.";
const char kActionTextAlloc[] = "Error allocating action string";
const char kBadActionString[] = "Wrong action string";
const char kBadActionNumber[] = "Wrong action number";
const char kBadInputCount[] = "Wrong input arguments number";
const char kPointsMissing[] = "Wrong input arguments number: X and Y are required for specified action";
const char kBadMinima[] = "Wrong minima number: must be a scalar >=2";
const char kBadValue[] = "Wrong global minimizer value: must be a scalar";
const char kBadDistance[] = "Wrong distance: must be a scalar > 0";
const char kBadRadius[] = "Wrong radius: must be a scalar > 0";
const char kBadTest[] = "Wrong test number: must be an integer 0 < i <= 100";
const char kBadShape[] = "Wrong target points matrix dimension: must have the same dimension";
const char kBadPointType[] = "Wrong target points matrix type: must be real double";
const char kNotSinglePoint[] = "Wrong target points matrix dimension for specified action: must be a sigle point";
const char kBadFirstIndex[] = "Wrong first partial derivative index";
const char kBadSecondIndex[] = "Wrong second partial derivative index";
const char kDomainAlloc[] = "Error allocating domain";
const char kGenerationFailed[] = "Internal error generating the function: check input data to be consistent";
const char kPointAlloc[] = "Error allocating target point";
const char kResultAlloc[] = "Error allocating result";
// Not a message but a mark (compared by address): generation was abandoned
// at the host's interrupt request.
const char interruptedMark[1] = {};
const char *const kInterrupted = interruptedMark;

// One real double element: one element by the host's count, doubles, not
// complex. Sparse storage is refused too: its element array need not hold
// the value.
bool isSingleReal(const mxArray *a) {
    return mxGetM(a) == 1 && mxGetN(a) == 1 && mxIsDouble(a) && !mxIsComplex(a) && !mxIsSparse(a);
}

// A matrix whose elements can be read as real doubles through mxGetPr.
bool isRealDouble(const mxArray *a) { return mxIsDouble(a) && !mxIsComplex(a) && !mxIsSparse(a); }

double singleValue(const mxArray *a) { return mxGetPr(a)[0]; }

// floor(value) of a single real input when it lies in [lo, hi]; the range
// test is made on the double, so NaN and infinities never reach a
// conversion to an integer.
bool flooredIn(const mxArray *a, double lo, double hi, double *out) {
    if (!isSingleReal(a)) return false;
    const double f = std::floor(singleValue(a));
    if (!(f >= lo && f <= hi)) return false;
    *out = f;
    return true;
}

bool usesPoints(int action) { return action != kInfo; }
bool singlePoint(int action) { return action >= kDGradient; }

// Action from its exact name or from the floor of a number.
const char *selectAction(const mxArray *a, int *action) {
    if (mxIsChar(a)) {
        const std::size_t n = mxGetN(a);
        char *name = static_cast<char *>(mxMalloc(n + 1));
        if (name == nullptr) return kActionTextAlloc;
        name[0] = '\0';
        name[n] = '\0';
        mxGetString(a, name, static_cast<mwSize>(n + 1));
        // A name is one row of text, all of it: a text with several rows or
        // with a NUL inside names no action.
        if (mxGetM(a) > 1 || std::strlen(name) != n) return kBadActionString;
        for (int k = 0; k < kActionCount; k++) {
            if (std::strcmp(name, kActionNames[k]) == 0) {
                *action = k;
                return nullptr;
            }
        }
        return kBadActionString;
    }
    double number = 0.0;
    if (!flooredIn(a, 0.0, kActionCount - 1, &number)) return kBadActionNumber;
    *action = static_cast<int>(number);
    return nullptr;
}

// Inputs that an action needs beyond the six common ones.
const char *checkInputCount(int action, int nrhs) {
    switch (action) {
    case kDDeriv:
    case kD2Deriv1:
        return nrhs == 9 ? nullptr : kBadInputCount;
    case kD2Deriv2:
        return nrhs == 10 ? nullptr : kBadInputCount;
    case kInfo:
        return nullptr;
    default:
        return nrhs >= 8 ? nullptr : kPointsMissing;
    }
}

// A partial-derivative index: floor(value) from 0 to the dimension. Index 0
// passes here; evaluation answers it with the error value.
bool derivativeIndex(const mxArray *a, uint32_t *index) {
    double f = 0.0;
    if (!flooredIn(a, 0.0, static_cast<double>(TRAVO_dim), &f)) return false;
    *index = static_cast<uint32_t>(f);
    return true;
}

// X and Y with the rows and columns of X (and so of Y).
struct Points {
    const mxArray *x = nullptr;
    const mxArray *y = nullptr;
    std::size_t rows = 0;
    std::size_t cols = 0;
};

namespace core = travo::core;

// Members kept between calls (KeptCache), keyed by the numbers that fix a
// member: the floored minima count and test number and the bits of the
// global value, distance and radius. The tables are copies in the module's
// own storage (the host reclaims its storage at the end of every call), and
// so are the region index and the block evaluator built for them once.
constexpr std::size_t kKeptMembers = 8;
constexpr std::size_t kKeptBytes = std::size_t(256) << 20;

uint64_t bitsOf(double v) {
    uint64_t b = 0;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

struct KeptMember : travo::gateway::KeptCache::Item {
    std::vector<double> box;     // lower bounds, then upper bounds
    std::vector<double> coords;  // row by row
    std::vector<double *> rows;
    std::vector<double> weights, peaks, radii, values;
    std::vector<uint32_t> glob;
    core::Member mb;
    core::RegionIndex index;
    core::BatchEvaluator batch;

    // Copies a generated member (std::bad_alloc when there is no room).
    explicit KeptMember(const core::Member &src) {
        const std::size_t n = src.dim, m = src.num_minima;
        box.assign(src.domain_left, src.domain_left + n);
        box.insert(box.end(), src.domain_right, src.domain_right + n);
        coords.resize(m * n);
        rows.resize(m);
        for (std::size_t i = 0; i < m; i++) {
            std::memcpy(&coords[i * n], src.minima.points[i], n * sizeof(double));
            rows[i] = &coords[i * n];
        }
        weights.assign(src.minima.weights, src.minima.weights + m);
        peaks.assign(src.minima.peaks, src.minima.peaks + m);
        radii.assign(src.minima.radii, src.minima.radii + m);
        values.assign(src.minima.values, src.minima.values + m);
        glob.assign(src.glob.indices, src.glob.indices + m);
        mb = src;
        mb.domain_left = box.data();
        mb.domain_right = box.data() + n;
        mb.minima = MinimaTable{rows.data(), values.data(), weights.data(), peaks.data(), radii.data()};
        mb.glob.indices = glob.data();
        index = core::RegionIndex(mb);
        batch = core::BatchEvaluator(mb, &index);
    }

    // Storage of a kept member of m minima in n dimensions: its tables; the
    // region index, which copies the coordinates and three numbers a region
    // and lists each region in a few grid cells; and the block evaluator,
    // which copies the coordinates twice and a row of numbers a region where
    // it evaluates the member in blocks.
    static std::size_t bytes(std::size_t n, std::size_t m) {
        const std::size_t tables = m * (n * sizeof(double) + sizeof(double *) + 4 * sizeof(double) + sizeof(uint32_t));
        const std::size_t index = m * (n * sizeof(double) + 3 * sizeof(double) + 8 * sizeof(uint32_t));
        const std::size_t blocks = m <= core::BatchEvaluator::kMaxIndexedRegions + 1
                                       ? m * (2 * n * sizeof(double) + sizeof(double) + sizeof(core::BatchRow))
                                       : 0;
        return tables + index + blocks + 4096;
    }
};

// Allocated on first use and released by the exit function the host calls
// when it unloads the module.
travo::gateway::KeptCache *kept = nullptr;

void releaseKept() {
    delete kept;
    kept = nullptr;
}

const KeptMember *findKept(const travo::gateway::KeptCache::Key &key) {
    return kept == nullptr ? nullptr : static_cast<const KeptMember *>(kept->find(key));
}

// Keeps a copy of the member just generated when it fits the budget. Returns
// the copy, or nullptr when it is not kept (too large, or no memory for it);
// the call then goes on with the member it generated.
const KeptMember *keep(travo::gateway::KeptCache::Key key, const core::Member &mb) {
    try {
        if (kept == nullptr) {
            kept = new travo::gateway::KeptCache(kKeptMembers, kKeptBytes);
            mexAtExit(releaseKept);
        }
        return static_cast<const KeptMember *>(kept->keep(std::move(key), KeptMember::bytes(mb.dim, mb.num_minima),
                                                          [&mb] { return std::make_unique<KeptMember>(mb); }));
    } catch (const std::exception &) {
        return nullptr;
    }
}

// Below this many points a member too large for blocks is searched by the
// scan; from it on, a region index built for the call pays for itself.
constexpr std::size_t kIndexedPoints = 16;

// The minima table: one row per minimizer with its value, its radius and its
// coordinates.
const char *infoTable(const core::Member &mb, mxArray **result) {
    const std::size_t m = mb.num_minima;
    const std::size_t n = mb.dim;
    mxArray *r = mxCreateDoubleMatrix(m, n + 2, mxREAL);
    if (r == nullptr) return kResultAlloc;
    double *out = mxGetPr(r);
    for (std::size_t i = 0; i < m; i++) {
        out[i] = mb.minima.values[i];
        out[i + m] = mb.minima.radii[i];
        for (std::size_t c = 0; c < n; c++) out[i + m * (c + 2)] = mb.minima.points[i][c];
    }
    *result = r;
    return nullptr;
}

// Evaluation at every element of X and Y: `run(batch)` on the kept member's
// evaluator, or on one built for the call on the member it generated (in
// blocks for a member with few regions, through a region index built for
// the call for one with many), and each(k, point) at every element when
// there is no memory for either. Same bits as the module-wide operations at
// each point.
template <class Run, class Each>
void atPoints(const core::Member &mb, const KeptMember *kept, const double *x, const double *y, std::size_t count,
              const Run &run, const Each &each) {
    try {
        if (kept != nullptr) {
            run(kept->batch);
            return;
        }
        std::optional<core::RegionIndex> index;
        if (!core::BatchEvaluator::fits(mb) && count >= kIndexedPoints) index.emplace(mb);
        run(core::BatchEvaluator(mb, index ? &*index : nullptr));
        return;
    } catch (const std::exception &) {
        // Nothing was written: the evaluator takes its memory before it
        // evaluates.
    }
    double point[2];
    for (std::size_t k = 0; k < count; k++) {
        point[0] = x[k];
        point[1] = y[k];
        each(k, point);
    }
}

// Values of a kind at every element of X and Y.
void values(const core::Member &mb, const KeptMember *kept, core::Kind kind, const double *x, const double *y,
            std::size_t count, double *out) {
    const double *const columns[2] = {x, y};
    atPoints(
        mb, kept, x, y, count, [&](const core::BatchEvaluator &batch) { batch.values(kind, columns, count, out); },
        [&](std::size_t k, const double *point) { out[k] = core::value_at(mb, kind, point); });
}

// Actions 4 to 6 at every element of X and Y.
void derivatives(int action, const core::Member &mb, const KeptMember *kept, uint32_t i, uint32_t j, const double *x,
                 const double *y, std::size_t count, double *out) {
    const double *const columns[2] = {x, y};
    const core::Kind kind = action == kDDeriv ? core::Kind::D : core::Kind::D2;
    if (action == kD2Deriv2) {
        atPoints(
            mb, kept, x, y, count,
            [&](const core::BatchEvaluator &batch) { batch.second_derivatives(i, j, columns, count, out); },
            [&](std::size_t k, const double *point) { out[k] = core::deriv2_at(mb, i, j, point); });
        return;
    }
    atPoints(
        mb, kept, x, y, count,
        [&](const core::BatchEvaluator &batch) { batch.derivatives(kind, i, columns, count, out); },
        [&](std::size_t k, const double *point) { out[k] = core::deriv_at(mb, kind, i, point); });
}

// Actions 1 to 6: one evaluation per element of X and Y, in storage order.
// The member (the kept one, or the one the call generated, read from the
// module-wide state once) is evaluated by the core operations behind the
// module-wide ones.
const char *pointLoop(int action, const Points &pts, uint32_t i, uint32_t j, const core::Member &mb,
                      const KeptMember *kept, mxArray **result) {
    double *point = static_cast<double *>(mxMalloc(TRAVO_dim * sizeof(double)));
    if (point == nullptr) return kPointAlloc;
    const double *x = mxGetPr(pts.x);
    const double *y = mxGetPr(pts.y);
    mxArray *r = mxCreateDoubleMatrix(pts.rows, pts.cols, mxREAL);
    if (r == nullptr) return kResultAlloc;
    double *out = mxGetPr(r);
    const std::size_t count = pts.rows * pts.cols;
    switch (action) {
    case kNdFunc:
        values(mb, kept, core::Kind::ND, x, y, count, out);
        break;
    case kDFunc:
        values(mb, kept, core::Kind::D, x, y, count, out);
        break;
    case kD2Func:
        values(mb, kept, core::Kind::D2, x, y, count, out);
        break;
    default:
        derivatives(action, mb, kept, i, j, x, y, count, out);
        break;
    }
    *result = r;
    return nullptr;
}

// Actions 7 to 9 at the single point (X(1), Y(1)), from one region lookup.
// Gradients are columns; the Hessian's row is the first derivative index,
// its column the second.
const char *atSinglePoint(int action, const Points &pts, const core::Member &mb, const KeptMember *kept,
                          mxArray **result) {
    double *point = static_cast<double *>(mxMalloc(TRAVO_dim * sizeof(double)));
    if (point == nullptr) return kPointAlloc;
    point[0] = mxGetPr(pts.x)[0];
    point[1] = mxGetPr(pts.y)[0];
    const std::size_t n = TRAVO_dim;
    mxArray *r = mxCreateDoubleMatrix(n, action == kD2Hessian ? n : 1, mxREAL);
    if (r == nullptr) return kResultAlloc;
    double *out = mxGetPr(r);
    const core::Kind kind = action == kDGradient ? core::Kind::D : core::Kind::D2;
    if (action == kD2Hessian) {
        // Row `row` of the Hessian runs along the columns of the result.
        const core::Site site = kept != nullptr ? core::locate(mb, kept->index, point) : core::locate(mb, point);
        for (uint32_t row = 1; row <= mb.dim; row++) core::second_derivatives(site, row, mb.dim, out + (row - 1), n);
    } else if (mb.isArgSet != 0 && out != nullptr) {
        // Components that cannot be evaluated hold the error value; the
        // status adds nothing to the caller.
        (void)(kept != nullptr ? core::gradient(mb, kept->index, kind, point, out)
                               : core::gradient(mb, kind, point, out));
    }
    *result = r;
    return nullptr;
}

// The whole call; returns the message of the first failing check, or
// nullptr with the result in the first output slot.
const char *run(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    TRAVO_dim = 2;
    if (nrhs > 10) return kTooManyInputs;
    if (nrhs < 6) return kTooFewInputs;
    if (nlhs > 1) return kTooManyOutputs;

    int action = 0;
    if (const char *fault = selectAction(prhs[kAction], &action)) return fault;
    if (const char *fault = checkInputCount(action, nrhs)) return fault;

    double minima = 0.0;
    if (!flooredIn(prhs[kMinima], 2.0, static_cast<double>(UINT32_MAX), &minima)) return kBadMinima;
    TRAVO_num_minima = static_cast<uint32_t>(minima);

    if (!isSingleReal(prhs[kValue])) return kBadValue;
    TRAVO_global_value = singleValue(prhs[kValue]);

    if (!isSingleReal(prhs[kDistance])) return kBadDistance;
    TRAVO_global_dist = singleValue(prhs[kDistance]);
    if (TRAVO_global_dist <= 0.0) return kBadDistance;

    if (!isSingleReal(prhs[kRadius])) return kBadRadius;
    TRAVO_global_radius = singleValue(prhs[kRadius]);
    if (TRAVO_global_radius <= 0.0) return kBadRadius;

    double test = 0.0;
    if (!flooredIn(prhs[kTest], 1.0, 100.0, &test)) return kBadTest;

    Points pts;
    if (nrhs >= 8) {
        pts.x = prhs[kX];
        pts.y = prhs[kY];
        pts.rows = mxGetM(pts.x);
        pts.cols = mxGetN(pts.x);
        if (mxGetN(pts.y) != pts.cols || mxGetM(pts.y) != pts.rows) return kBadShape;
        if (usesPoints(action) && !(isRealDouble(pts.x) && isRealDouble(pts.y))) return kBadPointType;
        // rows x columns is the element count of the point loop: it must not wrap.
        if (pts.cols != 0 && pts.rows > SIZE_MAX / pts.cols) return kBadShape;
    }
    if (singlePoint(action) && !(pts.rows == 1 && pts.cols == 1)) return kNotSinglePoint;

    uint32_t first = 0;
    uint32_t second = 0;
    if (action == kDDeriv || action == kD2Deriv1 || action == kD2Deriv2) {
        if (!derivativeIndex(prhs[kFirst], &first)) return kBadFirstIndex;
    }
    if (action == kD2Deriv2) {
        if (!derivativeIndex(prhs[kSecond], &second)) return kBadSecondIndex;
    }

    // The member: the kept one of these numbers, or generated now (and kept
    // when it fits).
    const auto testNumber = static_cast<int32_t>(test);
    travo::gateway::KeptCache::Key key{TRAVO_num_minima, static_cast<uint32_t>(testNumber), bitsOf(TRAVO_global_value),
                                       bitsOf(TRAVO_global_dist), bitsOf(TRAVO_global_radius)};
    const KeptMember *kept = findKept(key);
    core::Member generated;
    if (kept == nullptr) {
        if (TRAVO_domain_alloc() != TRAVO_STATUS_OK) return kDomainAlloc;
        // TRAVO_arg_generate, with a progress function that stops at the
        // host's interrupt request (an abandoned generation has released
        // its tables).
        generated = travo::module::load();
        const core::Progress progress{[](void *, uint64_t, uint64_t) { return travo::gateway::keepGoing(); }, nullptr};
        const TravoStatus status = core::arg_generate(generated, travo::module::rng, testNumber, &progress);
        travo::module::store(generated);
        if (status == core::kAbandoned) return kInterrupted;
        if (status != TRAVO_STATUS_OK) return kGenerationFailed;
        kept = keep(std::move(key), generated);
    }
    const core::Member &mb = kept != nullptr ? kept->mb : generated;

    mxArray *result = nullptr;
    const char *fault = nullptr;
    if (action == kInfo) {
        fault = infoTable(mb, &result);
    } else if (singlePoint(action)) {
        fault = atSinglePoint(action, pts, mb, kept, &result);
    } else {
        fault = pointLoop(action, pts, first, second, mb, kept, &result);
    }
    if (fault != nullptr) return fault;
    plhs[0] = result;
    return nullptr;
}

}  // namespace

extern "C" {

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    const char *fault = run(nlhs, plhs, nrhs, prhs);
    if (fault == kInterrupted) travo::gateway::rethrowInterrupt();
    if (fault != nullptr) mexErrMsgTxt(fault);
}

const char *mexVersion(void) { return version; }

}  // extern "C"
