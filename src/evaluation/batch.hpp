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
//  - for values, the points of regions and those of the paraboloid are
//    packed into lanes of their own and the formulas of `value` applied,
//    every operation in the same order on the same operands. What depends
//    on the region alone (A, 10 A / rho^2, ...) is computed once per region
//    by the same expressions.
//
// Each lane rounds as the scalar instruction does, and nothing is
// contracted or reassociated (-ffp-contract=off, no fast-math), so every
// point gets the bits that locate and value give it, whichever block and
// lane it is in. Other members go point by point through the lookup the
// evaluator is given (a RegionIndex, or the scan).
#pragma once

#include <cstddef>
#include <cstdint>

#include "evaluation/evaluate.hpp"
#include "evaluation/region_index.hpp"
#include "generator/member.hpp"

namespace travo::core {

class BatchEvaluator {
public:
    static constexpr std::size_t kBlock = 16;
    static constexpr uint32_t kMaxRegions = 64;  // regions 1..m-1
    static constexpr uint32_t kMaxDim = 8;

    BatchEvaluator() = default;
    // Reads `mb` (and `index`, which may be null: then the per-point lookup
    // is the scan) on every call: both must outlive the evaluator and stay
    // unchanged.
    BatchEvaluator(const Member &mb, const RegionIndex *index);

    // Whether points are located a block at a time.
    bool blocked() const { return blocked_; }

    // Values at `count` points stored one after another, dim coordinates
    // each: coordinate c of point p at points[p * dim + c].
    void values(Kind kind, const double *points, std::size_t count, double *out) const;
    // The same with coordinate c of point p at columns[c][p] (in dimensions
    // above kMaxDim a point buffer is taken from the heap).
    void values(Kind kind, const double *const *columns, std::size_t count, double *out) const;

    // Sites of `count` points stored one after another, as locate gives
    // them; sites[p].x points into `points`.
    void locate(const double *points, std::size_t count, Site *sites) const;

    // One point, by the evaluator's per-point lookup.
    Site locate_one(const double *x) const;

private:
    static constexpr uint32_t kRows = kMaxRegions + 1;
    // A vector register of doubles (GCC and Clang vector types).
    using Lanes = double __attribute__((vector_size(16)));
    static constexpr std::size_t kWidth = sizeof(Lanes) / sizeof(double);

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

    const Member *mb_ = nullptr;
    const RegionIndex *index_ = nullptr;
    bool blocked_ = false;
    uint32_t n_ = 0;
    uint32_t m_ = 0;
    // The search's numbers in every lane: the box less and plus the
    // tolerance, each row's coordinates, upper bound and number.
    Lanes lo_lanes_[kMaxDim] = {};
    Lanes hi_lanes_[kMaxDim] = {};
    Lanes coord_lanes_[kRows][kMaxDim] = {};
    Lanes out_lanes_[kRows] = {};
    Lanes row_lanes_[kRows] = {};
    // By row (row 0 is the vertex): coordinates and vertex - row; for
    // regions, the lower bound on the sum of squares, the radius and its
    // powers, the minimum value and the terms of the value formulas that
    // depend on A.
    double coord_[kMaxDim][kRows] = {};
    double edge_[kMaxDim][kRows] = {};
    double sure_in_[kRows] = {};
    double rho_[kRows] = {};
    double rho2_[kRows] = {};
    double rho3_[kRows] = {};
    double f_[kRows] = {};
    double nd_a_[kRows] = {};   // A / rho^2
    double d_a3_[kRows] = {};   // 2 A / rho^3
    double d_a2_[kRows] = {};   // 3 A / rho^2
    double d2_c3_[kRows] = {};  // 10 A / rho^2
    double d2_c4_[kRows] = {};  // 15 A / rho^2
    double d2_c5_[kRows] = {};  // 6 A / rho^2
    double vertex_value_ = 0.0;
    double delta_half_ = 0.0;  // delta / 2
    double delta_15_ = 0.0;    // 1.5 delta
    double delta_05_ = 0.0;    // 0.5 delta
};

}  // namespace travo::core
