// Evaluation of many points of one generated member at a time, with the
// bits of the per-point operations.
//
// For a member with few regions in few dimensions (the common test
// functions: m up to kMaxRegions + 1, n up to kMaxDim) points are taken a
// block of kBlock at a time and every step runs over the block's points in
// contiguous arrays, without branches, so that the compiler turns it into
// vector instructions:
//
//  - the box test of `admitted`;
//  - the region search: for each region, the sums of squares of the block's
//    points, each summed as norm sums it (squares of centre - x in
//    increasing coordinate order, from 0.0), and the decision of
//    find_region_scan from its bounds on the sum. Regions are visited from
//    the last to the first, so the last region found inside is the lowest,
//    as in the scan. A point whose sum falls between the bounds of some
//    region (the square root would decide) or is NaN is marked and
//    evaluated again by the per-point lookup;
//  - for values, the formulas of `value`, every operation in the same order
//    on the same operands. The quantities that depend on the region alone
//    (such as A and 10 A / rho^2) are computed once per region by the
//    same expressions.
//
// Each lane of a vector instruction rounds as the scalar instruction does
// and nothing is contracted or reassociated (-ffp-contract=off, no
// fast-math), so every point gets the bits that locate and value give it,
// whichever block it is in. Other members go point by point through the
// lookup the evaluator is given (a RegionIndex, or the scan).
#pragma once

#include <cstddef>
#include <cstdint>

#include "evaluation/evaluate.hpp"
#include "evaluation/region_index.hpp"
#include "generator/member.hpp"

namespace travo::core {

class BatchEvaluator {
public:
    static constexpr std::size_t kBlock = 8;
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

    template <class Load>
    void values_with(Kind kind, Load load, std::size_t count, double *out) const;
    template <Kind K>
    void block_values(const double (&xs)[kMaxDim][kBlock], std::size_t used, double *out) const;
    struct Found {
        double row[kBlock], unsure[kBlock], outside[kBlock];
    };
    void search(const double (&xs)[kMaxDim][kBlock], Found &found) const;

    const Member *mb_ = nullptr;
    const RegionIndex *index_ = nullptr;
    bool blocked_ = false;
    uint32_t n_ = 0;
    uint32_t m_ = 0;
    double lo_[kMaxDim] = {};  // box less the tolerance
    double hi_[kMaxDim] = {};  // box plus the tolerance
    // By row (row 0 is the vertex, which stands in for the paraboloid):
    // coordinates and vertex - row; for regions, the bounds on the sum of
    // squares, the radius and its powers, the minimum value and the terms
    // of the value formulas that depend on A.
    double coord_[kMaxDim][kRows] = {};
    double edge_[kMaxDim][kRows] = {};
    double sure_in_[kRows] = {};
    double sure_out_[kRows] = {};
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
