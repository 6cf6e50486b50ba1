// The region lookup of evaluation: which attraction region holds a point.
//
// find_region is the reference: regions 1..m-1 in order, a square root
// each, the first whose distance is not greater than its radius wins. The
// two other forms decide exactly as it does:
//
//  - find_region_scan keeps the scan but compares the sum of squares with
//    bounds derived from the radius, taking the square root only for sums
//    too close to the radius to decide otherwise (and for the winner, whose
//    distance the formulas need). It reads nothing but the member, so it
//    suits the module-wide interface, whose tables a caller may overwrite
//    between any two calls.
//
//  - RegionIndex is built once from a generated member. In up to three
//    dimensions it answers from a uniform grid over the regions' reach:
//    each cell lists, in row order, the regions whose reach (the radius and
//    a margin far beyond rounding) meets it, so the cell of a point holds
//    every region that can contain it, and the first of them that does is
//    the reference's answer. In a few more dimensions it answers from a k-d
//    tree over the minimizers that carries the largest radius of each
//    subtree and its lowest row, so the search visits only subtrees that can
//    hold a region containing the point with a lower index than any found.
//    In high dimension, where a tree cannot prune, it scans rows in order
//    over a contiguous copy instead, leaving each sum as soon as it exceeds
//    the region's bound.
//
// Every form returns the region's index (0: none) and its distance in
// *r_out, and depends on nothing but the member.
//
// A RegionIndex is a snapshot: it holds copies of the minimizers and radii
// of the member it was built from and must only be used with that member,
// unchanged. The owner of an immutable member (the C++ interface) builds it
// next to the member's tables and never hands out write access to them.
// find() checks the member's dimension and minima count and falls back to
// find_region_scan when they differ, and whenever the member or the point
// holds NaN, infinities or magnitudes beyond kSafeMagnitude, where the
// comparisons of the reference take part through their IEEE rules.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "generator/member.hpp"
#include "spatial/spatial_index.hpp"

namespace travo::core {

// Bounds on the sum of squares s that settle !(sqrt(s) > rho) without the
// square root. With rho^2 normal, s <= rho^2 (1 - 1e-12) puts the exact root
// below rho, and a correctly rounded root cannot then exceed rho; s above
// rho^2 (1 + 1e-12) puts it more than an ulp above rho. Every other radius
// (negative, zero, subnormal range, huge, infinite, NaN) either decides by
// its sign or always goes to the square root.
inline constexpr double kSureRel = 1e-12;
inline constexpr double kMinBoundRadius = 1e-140;
inline constexpr double kMaxBoundRadius = 1e140;

struct SumBounds {
    double in;   // s <= in: inside
    double out;  // s > out: outside
};

inline SumBounds sum_bounds(double rho) {
    if (rho < 0.0) return {-1.0, -1.0};  // a distance is never negative
    if (rho >= kMinBoundRadius && rho <= kMaxBoundRadius) {
        const double r2 = rho * rho;
        return {r2 * (1.0 - kSureRel), r2 * (1.0 + kSureRel)};
    }
    return {-1.0, std::numeric_limits<double>::infinity()};
}

// Reference scan: every region tested with a square root, in index order.
uint32_t find_region(const Member &mb, const double *x, double *r_out);

// Same result and same *r_out as find_region, for any member and point.
uint32_t find_region_scan(const Member &mb, const double *x, double *r_out);

class RegionIndex {
public:
    enum class Mode { Scan, Rows, Tree, Grid };
    // Which search structure to build: the one tree_pays() and grid_pays()
    // choose, or one imposed (for comparisons); a member that needs the scan
    // gets it anyway, and a grid that cannot be built (more than three
    // dimensions, radii beyond the bounds of sum_bounds, regions so large
    // that the cells would list them many times over) gives way to the tree.
    enum class Layout { Chosen, Tree, Rows, Grid };
    static constexpr uint32_t kGridMaxDim = 3;

    RegionIndex() = default;
    // A grid has about `cells_per_region` cells a region (fewer where large
    // regions would be listed many times over).
    static constexpr double kCellsPerRegion = 4.0;
    explicit RegionIndex(const Member &mb, Layout layout = Layout::Chosen);
    // The same, asking `stop` now and then during the build; once it answers
    // false the build ends and the index, abandoned(), may only be destroyed.
    RegionIndex(const Member &mb, Layout layout, const StopCheck &stop, double cells_per_region = kCellsPerRegion);

    bool abandoned() const { return abandoned_; }

    // Same result and same *r_out as find_region(mb, x, r_out), where mb is
    // the member the index was built from.
    uint32_t find(const Member &mb, const double *x, double *r_out) const;

    Mode mode() const { return mode_; }

    // The grid of Mode::Grid: cells along each axis, where they start and
    // cells per unit; cell (k_0, ..., k_{n-1}) is number
    // (k_0 cells[1] + k_1) cells[2] + ... and lists, in row order, the rows
    // rows[start[cell] .. start[cell + 1]). The cell of coordinate v along
    // axis c is grid_cell's: 0 unless (v - lo[c]) inv[c] > 0, at most
    // cells[c] - 1, else that product truncated.
    struct Grid {
        uint32_t cells[kGridMaxDim];
        double lo[kGridMaxDim], inv[kGridMaxDim];
        const uint32_t *start;
        const uint32_t *rows;
    };
    Grid grid() const;

    // Whether a member with m minima in n dimensions gets a tree (otherwise
    // the row scan), measured with bench/evaluation_bench.
    static bool tree_pays(uint32_t n, uint32_t m);
    // Whether it gets a grid instead, measured the same way.
    static bool grid_pays(uint32_t n, uint32_t m);

private:
    uint32_t find_tree(const double *x, double *r_out) const;
    uint32_t find_rows(const double *x, double *r_out) const;
    template <uint32_t N>
    uint32_t find_grid(const double *x, double *r_out) const;
    bool build_grid(const MinimaTable &tab, const StopCheck &stop, double cells_per_region);
    uint32_t grid_cell(uint32_t c, double v) const;
    void copy_rows(const MinimaTable &tab);

    Mode mode_ = Mode::Scan;
    bool abandoned_ = false;
    uint32_t n_ = 0;
    uint32_t m_ = 0;
    KdTree tree_;                      // Tree: rows 1..m-1
    std::vector<double> coords_;       // Rows, Grid: rows 1..m-1, contiguous
    std::vector<double> radius_;       // by slot (Tree) or by row - 1 (Rows, Grid)
    std::vector<double> sure_in_;      // sum of squares at or below: inside
    std::vector<double> sure_out_;     // sum of squares above: outside
    std::vector<double> node_reach2_;  // Tree: box distance^2 above which a node holds no hit
    // Grid: cells by axis, where the grid starts and cells per unit; the
    // rows of cell k (in order) at cell_rows_[cell_start_[k]..cell_start_[k + 1]).
    uint32_t grid_cells_[kGridMaxDim] = {};
    double grid_lo_[kGridMaxDim] = {}, grid_inv_[kGridMaxDim] = {};
    std::vector<uint32_t> cell_start_, cell_rows_;
};

}  // namespace travo::core
