// A k-d tree over the rows of a minima table, for the neighbour queries of
// region sizing (walked in vector lanes by generator/sizing_kernels.hpp)
// and for the region lookup of evaluation.
//
// Every answer is the one the straightforward scans give, bit for bit:
//  - candidate distances are computed by exact_norm, the same sum of squared
//    differences in increasing coordinate order, then the square root, as
//    core::norm;
//  - a subtree is skipped only when a lower bound on every distance inside
//    it, taken with a relative and an absolute safety margin far wider than
//    any rounding error, shows that none of its candidates can win;
//  - minima are taken with strict comparisons over the same candidate
//    values, so the value found does not depend on the order of the visit.
//
// The tree works only on finite coordinates of moderate magnitude (see
// kSafeMagnitude); callers check that with all_rows_safe() and use the
// straightforward scans otherwise, since NaN and infinities take part in
// those scans through the rules of IEEE comparisons.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "common/stop_check.hpp"

namespace travo::core {

// Coordinates and radii up to this magnitude keep every sum of squared
// differences finite (1008 terms of at most (2e150)^2 each).
inline constexpr double kSafeMagnitude = 1e150;

// The distance of core::norm, inlined for the inner loops.
inline double exact_norm(uint32_t n, const double *a, const double *b) {
    double sum = 0.0;
    for (uint32_t c = 0; c < n; c++) {
        const double diff = a[c] - b[c];
        sum += diff * diff;
    }
    return std::sqrt(sum);
}

inline bool is_safe_value(double v) { return std::fabs(v) <= kSafeMagnitude; }  // false for NaN

// True when rows first..count-1 hold only finite coordinates within
// kSafeMagnitude.
bool all_rows_safe(uint32_t n, const double *const *rows, uint32_t first, uint32_t count);

class KdTree {
public:
    static constexpr uint32_t kNone = UINT32_MAX;

    KdTree() = default;
    // Tree over rows first..count-1 of `rows` (n coordinates each), which
    // must all be safe (all_rows_safe), with at most `leaf_size` rows per
    // leaf (0: a size suited to n). Radii start at 0. `stop` is asked before
    // each split of kStopEvery rows or more; once it answers false the build
    // ends, and the tree, not complete(), may only be destroyed.
    KdTree(uint32_t n, const double *const *rows, uint32_t first, uint32_t count, uint32_t leaf_size = 0,
           const StopCheck &stop = {});

    bool complete() const { return complete_; }

    uint32_t dim() const { return n_; }
    uint32_t size() const { return static_cast<uint32_t>(row_of_slot_.size()); }

    // Sets the radius of every row from radii[row] and the subtree maxima.
    void set_radii(const double *radii);
    // Gives `row` a radius at least as large as its current one.
    void raise_radius(uint32_t row, double radius);

    // Row of the k-th slot, and the slot's coordinates: rows are stored in
    // tree order, contiguously.
    uint32_t row_of_slot(uint32_t slot) const { return row_of_slot_[slot]; }
    uint32_t slot_of_row(uint32_t row) const { return slot_of_row_[row]; }
    const double *slot_coords(uint32_t slot) const { return &coords_[std::size_t(slot) * n_]; }
    double slot_radius(uint32_t slot) const { return radius_[slot]; }

    struct Node {
        uint32_t begin = 0, end = 0;  // slots [begin, end)
        uint32_t left = kNone;        // children; kNone for a leaf
        uint32_t right = kNone;
        uint32_t parent = kNone;
        uint32_t min_row = kNone;  // lowest row in the subtree
        double max_radius = 0.0;   // largest radius in the subtree
    };
    const std::vector<Node> &nodes() const { return nodes_; }
    const double *box_lo(uint32_t node) const { return &boxes_[std::size_t(node) * 2 * n_]; }
    const double *box_hi(uint32_t node) const { return &boxes_[std::size_t(node) * 2 * n_ + n_]; }

    // The computed squared distance from q to the box of `node`.
    double box_distance2(uint32_t node, const double *q) const {
        const double *lo = box_lo(node);
        const double *hi = box_hi(node);
        double sum = 0.0;
        for (uint32_t c = 0; c < n_; c++) {
            double gap = 0.0;
            if (q[c] < lo[c]) {
                gap = lo[c] - q[c];
            } else if (q[c] > hi[c]) {
                gap = q[c] - hi[c];
            }
            sum += gap * gap;
        }
        return sum;
    }

    // A bound on computed squared distances that is safe against rounding:
    // when the squared distance from q to a box, or a partial sum of the
    // squares of q - p, exceeds reach2(b), then exact_norm(q, p) > b for
    // every row p in the box, or for that p. -1 (always exceeded) for b < 0.
    //
    // Rounding moves a computed distance over at most 1008 coordinates by a
    // relative 1e-12 and, through underflow of tiny squares, by an absolute
    // 1e-160; the margins here are orders wider.
    static double reach2(double b) {
        if (b < 0.0) return -1.0;
        const double t = b * (1.0 + kReachRel) + kReachAbs;
        return t * t * (1.0 + kReachRel);
    }
    static constexpr double kReachRel = 1e-9;
    static constexpr double kReachAbs = 1e-140;

private:
    uint32_t build(uint32_t begin, uint32_t end, uint32_t parent);
    void split(uint32_t begin, uint32_t mid, uint32_t end, uint32_t axis);

    uint32_t n_ = 0;
    uint32_t leaf_size_ = 8;
    bool complete_ = true;
    StopCheck stop_;                                    // during the build only
    std::vector<std::pair<double, uint32_t>> scratch_;  // during the build only
    std::vector<double> coords_;                        // slot-major coordinates
    std::vector<uint32_t> row_of_slot_;
    std::vector<uint32_t> slot_of_row_;  // indexed by row; kNone for rows outside
    std::vector<uint32_t> leaf_of_slot_;
    std::vector<double> radius_;  // by slot
    std::vector<Node> nodes_;     // preorder: a parent precedes its children
    std::vector<double> boxes_;   // per node: n lower then n upper bounds
};

}  // namespace travo::core
