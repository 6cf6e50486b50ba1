// Evaluation of many points of one generated member at a time, with the
// bits of the per-point operations.
//
// For a member with few regions in few dimensions (the common test
// functions: m up to kMaxRegions + 1, n up to kMaxDim, every coordinate
// finite) points are taken a block of kBlock at a time, in the lanes of
// vector registers, and each step acts on every lane alike:
//
//  - the box test of `admitted`;
//  - the region search: for each region, from the last to the first, the
//    sum of squares of every point, summed as norm sums it (squares of
//    centre - x in increasing coordinate order); a point keeps the region
//    if the sum is not above the upper bound of find_region_scan, so the
//    lowest such region is kept. Every region before it had its sum above
//    that bound (surely outside); the kept one is surely inside when its
//    sum is at or below the lower bound. Points whose kept sum lies between
//    the bounds (the square root would decide), or with a NaN coordinate,
//    are evaluated again by the per-point lookup;
//  - for values, every point's distance to its kept row (to the vertex for
//    the paraboloid: the same squares as norm(x, vertex)) and the
//    paraboloid's value; then the points settled in regions, packed into
//    lanes of their own, get the region formulas of formulas.hpp, the same
//    templates that `value` instantiates for one double. What depends on
//    the region alone (A, 10 A / rho^2, ...) is computed once per region by
//    RegionTerms, which `value` uses at each point.
//
// Each lane rounds as the scalar instruction does, and nothing is
// contracted or reassociated (-ffp-contract=off, no fast-math), so every
// point gets the bits that locate and value give it, whichever block and
// lane it is in. Other members go point by point through the lookup the
// evaluator is given (a RegionIndex, or the scan).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "evaluation/evaluate.hpp"
#include "evaluation/formulas.hpp"
#include "evaluation/lookup.hpp"
#include "generator/member.hpp"

namespace travo::core {

class BatchEvaluator {
public:
    static constexpr std::size_t kBlock = 16;
    // Largest member searched in blocks (measured with bench/batch_bench:
    // beyond it a RegionIndex is faster).
    static constexpr uint32_t kMaxRegions = 256;  // regions 1..m-1
    static constexpr uint32_t kMaxDim = 16;

    BatchEvaluator() = default;
    // Reads `mb` (and `index`, which may be null: then the per-point lookup
    // is the scan) on every call: both must outlive the evaluator and stay
    // unchanged. Copies of the member's numbers are taken from the heap
    // (std::bad_alloc) when it is searched in blocks.
    BatchEvaluator(const Member &mb, const RegionIndex *index);

    // Whether a member is searched in blocks.
    static bool fits(const Member &mb) {
        return mb.dim != 0 && mb.dim <= kMaxDim && mb.num_minima != 0 && mb.num_minima <= kMaxRegions + 1;
    }

    // Whether points are located a block at a time.
    bool blocked() const { return blocked_; }

    // Values at `count` points stored one after another, dim coordinates
    // each: coordinate c of point p at points[p * dim + c].
    void values(Kind kind, const double *points, std::size_t count, double *out) const;
    // The same with coordinate c of point p at columns[c][p] (for a member
    // not searched in blocks, in more than kMaxDim dimensions, a point buffer
    // is taken from the heap).
    void values(Kind kind, const double *const *columns, std::size_t count, double *out) const;

    // Sites of `count` points stored one after another, as locate gives
    // them; sites[p].x points into `points`.
    void locate(const double *points, std::size_t count, Site *sites) const;

    // One point, by the evaluator's per-point lookup.
    Site locate_one(const double *x) const;

private:
    // A vector register of two doubles (GCC and Clang vector types; SSE2,
    // the baseline of x86-64, has them).
    using Lanes = double __attribute__((vector_size(16)));
    static constexpr std::size_t kWidth = 2;
    static_assert(sizeof(Lanes) == kWidth * sizeof(double));

    struct Block;  // a block of points in lanes, and what the search found
    template <class Load>
    void load(Block &b, Load load_at, std::size_t first, std::size_t used) const;
    template <uint32_t N>
    void search(Block &b) const;
    // Region of lane p of a searched block (0: the paraboloid), or -1 when
    // the per-point lookup must decide; *sum: the sum of squares of the
    // region's distance.
    int64_t settle(const Block &b, std::size_t p, double *sum) const;
    template <Kind K, uint32_t N>
    void block_values(Block &b, std::size_t used, double *out) const;
    template <uint32_t N, class Load>
    void values_with(Kind kind, Load load_at, std::size_t count, double *out) const;

    // What a lane needs of a row (row 0 is the vertex): for regions the
    // lower bound on the sum of squares, the radius and its powers, the
    // minimum value and the terms of the value formulas that depend on A.
    struct RowNumbers {
        double sure_in = 0.0;
        double rho = 1.0, rho2 = 1.0, rho3 = 1.0;
        double f = 0.0;
        double nd_a = 0.0;                             // A / rho^2
        double d_a3 = 0.0, d_a2 = 0.0;                 // 2 A / rho^3, 3 A / rho^2
        double d2_c3 = 0.0, d2_c4 = 0.0, d2_c5 = 0.0;  // 10, 15, 6 A / rho^2
    };
    struct LaneTerms;  // the RowNumbers of two regions as the terms of the value formulas

    const Member *mb_ = nullptr;
    const RegionIndex *index_ = nullptr;
    bool blocked_ = false;
    uint32_t n_ = 0;
    uint32_t m_ = 0;
    // The search's numbers, each repeated in kWidth lanes: the box less
    // and plus the tolerance (by coordinate), each row's coordinates (row
    // by row), upper bound and number.
    std::vector<double> lo_lanes_, hi_lanes_, coord_lanes_, out_lanes_, row_lanes_;
    // Row by row: coordinates, vertex - row, and the other numbers.
    std::vector<double> coord_, edge_;
    std::vector<RowNumbers> rows_;
    double vertex_value_ = 0.0;
    double delta_half_ = 0.0;  // delta / 2
    double delta_15_ = 0.0;    // 1.5 delta
    double delta_05_ = 0.0;    // 0.5 delta
};

}  // namespace travo::core
