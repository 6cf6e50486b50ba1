// Evaluation of many points of one generated member at a time, with the
// bits of the per-point operations.
//
// For a member with few regions (m up to kMaxRegions + 1, every coordinate
// finite) points are taken a block of kBlock at a time, in the lanes of
// vector registers as wide as the processor has (SSE2: 2 doubles, AVX2: 4,
// AVX-512: 8; chosen at run time, see Simd), and each step acts on every
// lane alike:
//
//  - the box test of `admitted`;
//  - the region search: the sum of squares to the vertex, then for each
//    region, from the last to the first, the sum of squares of every point,
//    summed as norm sums it (squares of centre - x in increasing coordinate
//    order). A point keeps the region and its sum if the sum is not above
//    the upper bound of find_region_scan, so the lowest such region is kept
//    (none: the vertex). Every region before it had its sum above that bound
//    (surely outside); the kept one is surely inside when its sum is at or
//    below the lower bound. Points whose kept sum lies between the bounds
//    (the square root would decide), or with a NaN coordinate, are
//    evaluated again by the per-point lookup (which, in an evaluator that
//    refuses NaN points, see NanPoints, counts the latter outside the box);
//  - for values, every point's distance to its kept row and the
//    paraboloid's value; then the points settled in regions, packed into
//    lanes of their own, get the region formulas of formulas.hpp, the same
//    templates that `value` instantiates for one double. What depends on
//    the region alone (A, 10 A / rho^2, ...) is computed once per region by
//    RegionTerms, which `value` uses at each point;
//  - for locate and the derivatives, the region and distance of every
//    point, from which the per-point operations take over.
//
// Each lane rounds as the scalar instruction does, and nothing is
// contracted or reassociated (-ffp-contract=off, no fast-math, no fused
// multiply-add), so every point gets the bits that locate and value give
// it, whichever block, lane and vector width it is in. Other members go
// point by point through the lookup the evaluator is given (a RegionIndex,
// or the scan).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/simd.hpp"
#include "evaluation/evaluate.hpp"
#include "evaluation/formulas.hpp"
#include "evaluation/lookup.hpp"
#include "generator/member.hpp"

namespace travo::core {

// What an evaluator does with a point that has a NaN coordinate: search it
// as `locate` does (the module-wide interface's answers), or refuse it as
// lying outside the box (the C++ interface's).
enum class NanPoints { Searched, Refused };

// What a lane needs of a row (row 0 is the vertex): for regions the lower
// bound on the sum of squares, the radius, the minimum value, the height A
// and the terms of the value formulas that depend on it.
struct BatchRow {
    double sure_in = 0.0;
    double rho = 1.0;
    double f = 0.0;
    double A = 0.0;                                // height
    double nd_a = 0.0;                             // A / rho^2
    double d_a3 = 0.0, d_a2 = 0.0;                 // 2 A / rho^3, 3 A / rho^2
    double d2_c3 = 0.0, d2_c4 = 0.0, d2_c5 = 0.0;  // 10, 15, 6 A / rho^2
};

// Where the points of a batch are: one after another (coordinate c of point
// p at rows[p * n + c]) or by coordinate (at columns[c][p]).
struct BatchPoints {
    const double *rows = nullptr;
    const double *const *columns = nullptr;
    double at(std::size_t p, uint32_t c, uint32_t n) const { return rows != nullptr ? rows[p * n + c] : columns[c][p]; }
};

// What the block search found for a point: the region k (0: the
// paraboloid) and its sum of squares, kRefused outside the box, kUnsure
// where the per-point lookup must decide.
struct BatchFound {
    static constexpr int64_t kRefused = -2;
    static constexpr int64_t kUnsure = -1;
    int64_t k;
    double sum;
};

// The numbers the block kernels read, prepared once per member.
struct BatchTables {
    const Member *mb = nullptr;
    const RegionIndex *index = nullptr;
    bool indexed = false;      // regions found by the index, not searched in lanes
    bool nan_refused = false;  // a point with a NaN coordinate is outside the box
    bool gridded = false;      // indexed, and the index a grid whose cells the lanes walk
    RegionIndex::Grid grid{};
    // With gridded, a grid of its own (kLaneCellsPerRegion) and the rows its
    // cells list, one entry each in the order of its lists: n coordinates,
    // the upper bound of the sum of squares and the row; a last entry
    // stands for none (its bound -1 is never met).
    const double *entries = nullptr;
    uint32_t entry_size = 0;
    uint32_t no_entry = 0;
    uint32_t n = 0, m = 0;
    const double *lo = nullptr, *hi = nullptr;  // the box less and plus the tolerance
    const double *coord = nullptr;              // row by row, row 0 the vertex
    const double *edge = nullptr;               // row by row: vertex - row
    const double *out_bound = nullptr;          // by row: sum of squares above it, surely outside
    const BatchRow *rows = nullptr;
    double vertex_value = 0.0;
    double delta = 0.0;
    double delta_half = 0.0, delta_15 = 0.0, delta_05 = 0.0;  // delta / 2, 1.5 delta, 0.5 delta
};

// One instruction set's block kernels. `scratch` holds at least
// batch_scratch_size(n) doubles, aligned to 64 bytes.
struct BatchKernels {
    std::size_t block;  // points a block (find takes at most this many)
    void (*values)(const BatchTables &t, Kind kind, BatchPoints pts, std::size_t count, double *out, double *scratch);
    void (*find)(const BatchTables &t, BatchPoints pts, std::size_t first, std::size_t used, BatchFound *found,
                 double *scratch);
    // First derivatives of kind D or D2, components [from, to) of each point
    // (0-based), those of point p at out[p * stride ...].
    void (*gradients)(const BatchTables &t, Kind kind, BatchPoints pts, std::size_t count, uint32_t from, uint32_t to,
                      double *out, std::size_t stride, double *scratch);
    // Entries (i, j), i in [i0, i1), j in [j0, j1) (0-based), of the D2
    // Hessians, point p's at out[p * stride ...] row by row.
    void (*hessians)(const BatchTables &t, BatchPoints pts, std::size_t count, uint32_t i0, uint32_t i1, uint32_t j0,
                     uint32_t j1, double *out, std::size_t stride, double *scratch);
};

class BatchEvaluator {
public:
    // Points a block in most dimensions, and in two, where the formulas of
    // two blocks' worth of region points overlap their divisions (measured
    // with bench/batch_bench); slices over threads are whole blocks of kBlock.
    static constexpr std::size_t kBlock = 16;
    static constexpr std::size_t kMaxBlock = 32;
    // Largest member searched in lanes (measured with bench/batch_bench:
    // beyond it a RegionIndex is faster), and in up to three dimensions,
    // where the index is a grid, the largest searched in lanes when an index
    // is given.
    static constexpr uint32_t kMaxRegions = 256;  // regions 1..m-1
    static constexpr uint32_t kMaxGridRegions = 32;
    // Largest member whose blocks take their regions from the index (the
    // evaluator copies about 100 bytes a row).
    static constexpr uint32_t kMaxIndexedRegions = 1u << 16;
    // Cells a region of the grid whose cells the blocks walk in lanes: finer
    // than the index's, so that a cell lists fewer regions (measured with
    // bench/batch_bench).
    static constexpr double kLaneCellsPerRegion = 16.0;

    BatchEvaluator() = default;
    // Reads `mb` (and `index`, which may be null: then the per-point lookup
    // is the scan) on every call: both must outlive the evaluator and stay
    // unchanged. Copies of the member's numbers are taken from the heap
    // (std::bad_alloc) when it is searched in blocks. `simd` imposes an
    // instruction set (one the processor lacks gives the widest it has
    // below it); by default the widest the processor has, or at most the
    // one named by the environment variable TRAVO_SIMD ("sse2", "avx2",
    // "avx512"). `nan` tells what points with a NaN coordinate get.
    BatchEvaluator(const Member &mb, const RegionIndex *index, std::optional<Simd> simd = std::nullopt,
                   NanPoints nan = NanPoints::Searched);

    // Whether a member is searched in lanes (without an index).
    static bool fits(const Member &mb) { return mb.dim != 0 && mb.num_minima != 0 && mb.num_minima <= kMaxRegions + 1; }
    // Whether this build and processor run the kernels of `simd`.
    static bool supported(Simd simd);
    // The instruction set chosen when none is imposed.
    static Simd chosen();
    static const char *name(Simd simd);

    // Whether points are evaluated a block at a time, with their regions
    // searched in lanes or found by the index, and with what.
    bool blocked() const { return kernels_ != nullptr; }
    bool indexed() const { return numbers_.indexed; }
    Simd simd() const { return simd_; }

    // Values at `count` points stored one after another, dim coordinates
    // each: coordinate c of point p at points[p * dim + c].
    void values(Kind kind, const double *points, std::size_t count, double *out) const;
    // The same with coordinate c of point p at columns[c][p].
    void values(Kind kind, const double *const *columns, std::size_t count, double *out) const;

    // Sites of `count` points stored one after another, as locate gives
    // them; sites[p].x points into `points`.
    void locate(const double *points, std::size_t count, Site *sites) const;

    // Gradients (D or D2) at points stored one after another, those of point
    // p at out[p * dim ...], as first_derivatives gives them.
    void gradients(Kind kind, const double *points, std::size_t count, double *out) const;
    // D2 Hessians at points stored one after another, point p's at
    // out[p * dim * dim], row by row, as second_derivatives gives them.
    void hessians(const double *points, std::size_t count, double *out) const;

    // First derivative i (1-based, D or D2) and second derivative (i, j)
    // (D2) at points given by coordinate, as deriv_at and deriv2_at give
    // them (the error value for an index out of range).
    void derivatives(Kind kind, uint32_t i, const double *const *columns, std::size_t count, double *out) const;
    void second_derivatives(uint32_t i, uint32_t j, const double *const *columns, std::size_t count, double *out) const;

    // One point, by the evaluator's per-point lookup.
    Site locate_one(const double *x) const;

private:
    template <class Each>
    void each_site(BatchPoints pts, std::size_t count, const Each &each) const;
    // The tables over this evaluator's own copies (pointers are taken at
    // each call, so that copies and moves of the evaluator stay sound).
    BatchTables tables() const;

    const BatchKernels *kernels_ = nullptr;
    Simd simd_ = Simd::SSE2;
    BatchTables numbers_;  // the member, sizes and scalars (no pointers into the copies)
    // Row by row: coordinates, vertex - row; by row: the upper bound and the
    // other numbers; the box less and plus the tolerance.
    std::vector<double> coord_, edge_, out_bound_, lo_, hi_, entries_;
    std::vector<uint32_t> cell_start_;
    std::vector<BatchRow> rows_;
};

// The kernels of each instruction set for members in n dimensions (null
// where the build lacks the set).
const BatchKernels *batch_kernels_sse2(uint32_t n);
const BatchKernels *batch_kernels_avx2(uint32_t n);
const BatchKernels *batch_kernels_avx512(uint32_t n);
std::size_t batch_scratch_size(uint32_t n);
// Room for one point after a block in the scratch, rounded up to whole
// vectors of the widest set (the derivative vectors follow it).
inline std::size_t batch_point_room(uint32_t n) { return (std::size_t(n) + 7) / 8 * 8; }
Site batch_locate_one(const BatchTables &t, const double *x);
uint32_t batch_find_region(const BatchTables &t, const double *x);

}  // namespace travo::core
