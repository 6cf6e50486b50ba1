// The neighbour searches of region sizing in vector lanes: each row against
// every other, eight rows a vector group, compiled once for each
// instruction set (sizing_sse2.cpp, sizing_avx2.cpp, sizing_avx512.cpp)
// and chosen at run time as batch evaluation chooses its kernels.
//
// Every distance is the one core::norm computes: the squares of the
// coordinate differences summed from coordinate 0 upwards, then the square
// root; a lane rounds as the scalar instruction does and nothing is
// contracted. A row is left before its last coordinate only once a partial
// sum shows that it cannot win (a running sum of squares never decreases),
// and the minima are taken with the scans' strict comparisons, in which the
// order of the rows does not matter. So every answer is the scan's, bit for
// bit, on every instruction set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/simd.hpp"
#include "spatial/spatial_index.hpp"

namespace travo::core {

// The rows of a minima table in groups of eight (a panel), coordinate by
// coordinate: coordinate c of row 8 p + l at coords[(p n + c) 8 + l]. The
// lanes past the last row hold NaN, which no search takes. Radii by row
// (zero past the last row) and the largest of each panel are kept beside
// them for the widening search.
struct RowPanels {
    static constexpr uint32_t kLanes = 8;
    uint32_t n = 0, m = 0, panels = 0;
    const double *coords = nullptr;
    const double *radius = nullptr;
    const double *panel_radius = nullptr;
};

// A panel layout built from rows[0..m-1], and the radii it carries.
class PanelTable {
public:
    PanelTable(uint32_t n, uint32_t m, const double *const *rows);
    void set_radii(const double *radii);
    // Gives `row` a radius at least as large as its current one.
    void raise_radius(uint32_t row, double radius);
    RowPanels view() const;
    // Bytes held.
    std::size_t bytes() const;

private:
    uint32_t n_, m_, panels_;
    std::vector<double> coords_, radius_, panel_radius_;
};

// A k-d tree over the rows of a minima table with its leaves' rows in
// panels laid out as RowPanels lays them out, each leaf starting a panel of
// its own: the lanes past a leaf's last row hold NaN coordinates, radius 0
// and row kNone.
struct TreeLanes {
    uint32_t n = 0;
    const KdTree::Node *nodes = nullptr;
    const double *boxes = nullptr;         // node k: n lower bounds at boxes[2 n k], then n upper
    const uint32_t *leaf_panel = nullptr;  // by node: a leaf's first panel
    const double *coords = nullptr;
    const double *radius = nullptr;  // by lane
    const uint32_t *row = nullptr;   // by lane
};

// The panels of a tree over rows 0..m-1, and the radii they carry.
class TreePanels {
public:
    TreePanels() = default;
    explicit TreePanels(const KdTree &tree);
    void set_radii(const double *radii);
    void raise_radius(uint32_t row, double radius);
    TreeLanes view(const KdTree &tree) const;
    std::size_t bytes() const;

private:
    uint32_t n_ = 0;
    std::vector<uint32_t> leaf_panel_, row_, lane_of_row_;
    std::vector<double> coords_, radius_;
};

// The searches; each has a form for the whole table in panels (every row
// against every other) and one for the tree (the rows of the subtrees that
// can hold a better answer).
struct SizingKernels {
    // For each rows[k], k < count: the smallest sum of squares to another
    // row into sum_out[k] (+infinity when there is none) and one row having
    // it into row_out[k].
    void (*nearest_sums)(const RowPanels &t, const double *const *points, const uint32_t *rows, std::size_t count,
                         double *sum_out, uint32_t *row_out);
    // For each rows[k]: the smallest of start[k] and sqrt(sum) - radius over
    // the other rows, each difference rounded once, into out[k]; except that
    // the search may end as soon as that value is not greater than
    // enough[k], giving that value instead of the smallest.
    void (*nearest_gaps)(const RowPanels &t, const double *const *points, const uint32_t *rows, std::size_t count,
                         const double *start, const double *enough, double *out);
    void (*tree_nearest_sums)(const TreeLanes &t, const double *const *points, const uint32_t *rows, std::size_t count,
                              double *sum_out, uint32_t *row_out);
    void (*tree_nearest_gaps)(const TreeLanes &t, const double *const *points, const uint32_t *rows, std::size_t count,
                              const double *start, const double *enough, double *out);
};

// The kernels of each instruction set (null where the build lacks it), and
// those of the widest at or below `cap` that the processor runs.
const SizingKernels *sizing_kernels_sse2();
const SizingKernels *sizing_kernels_avx2();
const SizingKernels *sizing_kernels_avx512();
const SizingKernels &sizing_kernels(Simd cap);

}  // namespace travo::core
