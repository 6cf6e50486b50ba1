#include "evaluation/lookup.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace travo::core {
namespace {

// The decision of find_region, !(sqrt(sum) > rho), from the bounds first.
// A NaN sum or radius fails both bound tests and reaches the square root.
inline bool decide(double sum, double rho, const SumBounds &b) {
    if (sum <= b.in) return true;
    if (sum > b.out) return false;
    return !(std::sqrt(sum) > rho);
}

// The sum of squares of core::norm(centre, x), left early once it exceeds
// `out`: with finite terms the running sum never decreases.
inline bool partial_sum(uint32_t n, const double *centre, const double *x, double out, double *sum_out) {
    double sum = 0.0;
    uint32_t c = 0;
    for (; c + 4 <= n; c += 4) {
        for (uint32_t k = c; k < c + 4; k++) {
            const double diff = centre[k] - x[k];
            sum += diff * diff;
        }
        if (sum > out) return false;
    }
    for (; c < n; c++) {
        const double diff = centre[c] - x[c];
        sum += diff * diff;
    }
    *sum_out = sum;
    return !(sum > out);
}

}  // namespace

uint32_t find_region(const Member &mb, const double *x, double *r_out) {
    const uint32_t m = mb.num_minima;
    for (uint32_t k = 1; k < m; k++) {
        const double dist = norm(mb.dim, mb.minima.points[k], x);
        if (!(dist > mb.minima.radii[k])) {
            *r_out = dist;
            return k;
        }
    }
    return 0;
}

uint32_t find_region_scan(const Member &mb, const double *x, double *r_out) {
    const uint32_t n = mb.dim;
    const uint32_t m = mb.num_minima;
    for (uint32_t k = 1; k < m; k++) {
        const double *p = mb.minima.points[k];
        double sum = 0.0;
        for (uint32_t c = 0; c < n; c++) {
            const double diff = p[c] - x[c];
            sum += diff * diff;
        }
        const double rho = mb.minima.radii[k];
        if (decide(sum, rho, sum_bounds(rho))) {
            *r_out = std::sqrt(sum);
            return k;
        }
    }
    return 0;
}

bool RegionIndex::tree_pays(uint32_t n, uint32_t m) {
    // Measured at n = 2 (the tree wins from about a hundred regions) and
    // n = 10 (the row scan still wins at a thousand); in between the tree
    // is given only large members.
    if (n <= 4) return m >= 64;
    if (n <= 6) return m >= 2048;
    return false;
}

bool RegionIndex::grid_pays(uint32_t n, uint32_t m) { return n <= kGridMaxDim && m >= 16; }

void RegionIndex::copy_rows(const MinimaTable &tab) {
    coords_.resize(std::size_t(m_ - 1) * n_);
    for (uint32_t k = 1; k < m_; k++) {
        std::copy(tab.points[k], tab.points[k] + n_, &coords_[std::size_t(k - 1) * n_]);
        const SumBounds b = sum_bounds(tab.radii[k]);
        radius_[k - 1] = tab.radii[k];
        sure_in_[k - 1] = b.in;
        sure_out_[k - 1] = b.out;
    }
}

// The cell along axis c of coordinate v: non-decreasing in v (a difference
// and a product by a positive number round monotonically), so a point
// between two values lies in a cell between theirs.
uint32_t RegionIndex::grid_cell(uint32_t c, double v) const {
    const double t = (v - grid_lo_[c]) * grid_inv_[c];
    if (!(t > 0.0)) return 0;
    if (t >= double(grid_cells_[c])) return grid_cells_[c] - 1;
    return static_cast<uint32_t>(t);
}

bool RegionIndex::build_grid(const MinimaTable &tab, const StopCheck &stop, double cells_per_region) {
    if (n_ > kGridMaxDim) return false;
    // Whether the build goes on: `stop` is asked every kStopEvery rows or
    // cells, and after each pass over the storage.
    const auto asked = [&] {
        abandoned_ = !stop();
        return !abandoned_;
    };
    uint32_t rows_since = 0;
    const auto going = [&] {
        if (++rows_since < kStopEvery) return true;
        rows_since = 0;
        return asked();
    };
    // A region can hold a point only within its radius of its centre in
    // every coordinate (where the reference's sum of squares decides
    // inside, no square in it exceeds the radius squared by more than
    // rounding); the reach adds a margin far beyond that. Regions with a
    // negative radius hold no point.
    constexpr double kMargin = 1.0 + 1e-6;
    double lo[kGridMaxDim], hi[kGridMaxDim];
    for (uint32_t c = 0; c < n_; c++) {
        lo[c] = std::numeric_limits<double>::infinity();
        hi[c] = -lo[c];
    }
    std::vector<uint32_t> live;
    for (uint32_t k = 1; k < m_; k++) {
        if (!going()) return false;
        const double rho = tab.radii[k];
        if (rho < 0.0) continue;
        if (!(rho >= kMinBoundRadius && rho <= kMaxBoundRadius)) return false;
        const double reach = rho * kMargin;
        for (uint32_t c = 0; c < n_; c++) {
            lo[c] = std::min(lo[c], tab.points[k][c] - reach);
            hi[c] = std::max(hi[c], tab.points[k][c] + reach);
        }
        live.push_back(k);
    }
    if (live.empty()) return false;
    // About cells_per_region cells a region (four for lookups one point at a
    // time, measured with bench/evaluation_bench), as many along each axis;
    // fewer while regions large against the cells would be listed many times
    // over, and none (the tree) if even a few cells list them so.
    uint32_t per_axis = static_cast<uint32_t>(std::ceil(std::pow(cells_per_region * double(live.size()), 1.0 / n_)));
    per_axis = std::max(1u, std::min(per_axis, 1u << 12));
    // The cells of region k: a box of cells, first[c]..last[c] by axis.
    const auto span = [&](uint32_t k, uint32_t *first, uint32_t *last) {
        const double reach = tab.radii[k] * kMargin;
        for (uint32_t c = 0; c < n_; c++) {
            first[c] = grid_cell(c, tab.points[k][c] - reach);
            last[c] = grid_cell(c, tab.points[k][c] + reach);
        }
    };
    std::size_t cells = 1;
    uint64_t entries = 0;
    for (;;) {
        cells = 1;
        for (uint32_t c = 0; c < n_; c++) {
            grid_cells_[c] = per_axis;
            grid_lo_[c] = lo[c];
            grid_inv_[c] = hi[c] > lo[c] ? double(per_axis) / (hi[c] - lo[c]) : 0.0;
            cells *= per_axis;
        }
        entries = 0;
        for (uint32_t k : live) {
            if (!going()) return false;
            uint32_t first[kGridMaxDim], last[kGridMaxDim];
            span(k, first, last);
            uint64_t count = 1;
            for (uint32_t c = 0; c < n_; c++) count *= uint64_t(last[c] - first[c]) + 1;
            entries += count;
        }
        if (entries <= 8 * uint64_t(live.size()) + cells) break;
        if (per_axis <= 4) return false;
        per_axis /= 2;
    }
    if (entries >= std::numeric_limits<uint32_t>::max()) return false;
    const auto for_each_cell = [&](const uint32_t *first, const uint32_t *last, auto each) {
        uint32_t at[kGridMaxDim];
        std::copy(first, first + n_, at);
        for (;;) {
            std::size_t cell = 0;
            for (uint32_t c = 0; c < n_; c++) cell = cell * grid_cells_[c] + at[c];
            each(cell);
            uint32_t c = n_;
            while (c > 0 && at[c - 1] == last[c - 1]) {
                at[c - 1] = first[c - 1];
                c--;
            }
            if (c == 0) return;
            at[c - 1]++;
        }
    };
    cell_start_.assign(cells + 1, 0);
    if (!asked()) return false;
    for (uint32_t k : live) {
        if (!going()) return false;
        uint32_t first[kGridMaxDim], last[kGridMaxDim];
        span(k, first, last);
        for_each_cell(first, last, [this](std::size_t cell) { cell_start_[cell + 1]++; });
    }
    for (std::size_t cell = 0; cell < cells; cell++) {
        if (!going()) return false;
        cell_start_[cell + 1] += cell_start_[cell];
    }
    cell_rows_.resize(entries);
    std::vector<uint32_t> fill(cell_start_.begin(), cell_start_.end() - 1);
    if (!asked()) return false;
    for (uint32_t k : live) {  // in row order, so each cell lists its rows in order
        if (!going()) return false;
        uint32_t first[kGridMaxDim], last[kGridMaxDim];
        span(k, first, last);
        for_each_cell(first, last, [&](std::size_t cell) { cell_rows_[fill[cell]++] = k; });
    }
    return true;
}

RegionIndex::RegionIndex(const Member &mb, Layout layout) : RegionIndex(mb, layout, StopCheck{}) {}

RegionIndex::RegionIndex(const Member &mb, Layout layout, const StopCheck &stop, double cells_per_region)
    : n_(mb.dim), m_(mb.num_minima) {
    const MinimaTable &tab = mb.minima;
    if (m_ < 2 || n_ == 0 || tab.points == nullptr || tab.radii == nullptr) return;
    if (!all_rows_safe(n_, tab.points, 1, m_)) return;
    for (uint32_t k = 1; k < m_; k++) {
        if (std::isnan(tab.radii[k])) return;
    }
    const uint32_t regions = m_ - 1;
    radius_.resize(regions);
    sure_in_.resize(regions);
    sure_out_.resize(regions);

    auto set_bounds = [this](uint32_t at, double rho) {
        const SumBounds b = sum_bounds(rho);
        radius_[at] = rho;
        sure_in_[at] = b.in;
        sure_out_[at] = b.out;
    };

    const bool grid_wanted = layout == Layout::Grid || (layout == Layout::Chosen && grid_pays(n_, m_));
    if (grid_wanted && build_grid(tab, stop, cells_per_region)) {
        mode_ = Mode::Grid;
        copy_rows(tab);
        return;
    }
    if (abandoned_) return;
    const bool tree = layout == Layout::Tree || layout == Layout::Grid ||
                      (layout == Layout::Chosen && tree_pays(n_, m_));
    if (tree) {
        tree_ = KdTree(n_, tab.points, 1, m_, 0, stop);
        if (!tree_.complete()) {
            tree_ = KdTree();
            abandoned_ = true;
            return;
        }
        mode_ = Mode::Tree;
        tree_.set_radii(tab.radii);
        for (uint32_t s = 0; s < regions; s++) set_bounds(s, tab.radii[tree_.row_of_slot(s)]);
        node_reach2_.resize(tree_.nodes().size());
        for (std::size_t k = 0; k < node_reach2_.size(); k++) {
            node_reach2_[k] = KdTree::reach2(tree_.nodes()[k].max_radius);
        }
    } else {
        mode_ = Mode::Rows;
        copy_rows(tab);
    }
}

RegionIndex::Grid RegionIndex::grid() const {
    Grid g{};
    for (uint32_t c = 0; c < kGridMaxDim; c++) {
        g.cells[c] = grid_cells_[c];
        g.lo[c] = grid_lo_[c];
        g.inv[c] = grid_inv_[c];
    }
    g.start = cell_start_.data();
    g.rows = cell_rows_.data();
    return g;
}

uint32_t RegionIndex::find(const Member &mb, const double *x, double *r_out) const {
    if (mode_ == Mode::Scan || mb.dim != n_ || mb.num_minima != m_) return find_region_scan(mb, x, r_out);
    for (uint32_t c = 0; c < n_; c++) {
        if (!is_safe_value(x[c])) return find_region_scan(mb, x, r_out);
    }
    switch (mode_) {
    case Mode::Grid:
        return n_ == 2 ? find_grid<2>(x, r_out) : find_grid<0>(x, r_out);
    case Mode::Tree:
        return find_tree(x, r_out);
    default:
        return find_rows(x, r_out);
    }
}

template <uint32_t N>
uint32_t RegionIndex::find_grid(const double *x, double *r_out) const {
    const uint32_t n = N != 0 ? N : n_;
    std::size_t cell = 0;
    for (uint32_t c = 0; c < n; c++) cell = cell * grid_cells_[c] + grid_cell(c, x[c]);
    const uint32_t *rows = cell_rows_.data();
    for (uint32_t e = cell_start_[cell], end = cell_start_[cell + 1]; e < end; e++) {
        const uint32_t at = rows[e] - 1;
        const double *p = &coords_[std::size_t(at) * n];
        double sum = 0.0;
        for (uint32_t c = 0; c < n; c++) {
            const double diff = p[c] - x[c];
            sum += diff * diff;
        }
        if (sum > sure_out_[at]) continue;
        if (sum <= sure_in_[at] || !(std::sqrt(sum) > radius_[at])) {
            *r_out = std::sqrt(sum);
            return at + 1;
        }
    }
    return 0;
}

uint32_t RegionIndex::find_rows(const double *x, double *r_out) const {
    for (uint32_t k = 1; k < m_; k++) {
        double sum;
        if (!partial_sum(n_, &coords_[std::size_t(k - 1) * n_], x, sure_out_[k - 1], &sum)) continue;
        const double rho = radius_[k - 1];
        if (sum <= sure_in_[k - 1] || !(std::sqrt(sum) > rho)) {
            *r_out = std::sqrt(sum);
            return k;
        }
    }
    return 0;
}

uint32_t RegionIndex::find_tree(const double *x, double *r_out) const {
    const auto &nodes = tree_.nodes();
    uint32_t best_row = KdTree::kNone;
    double best_sum = 0.0;
    // Explicit stack; the tree is balanced, so its depth is about log2(m).
    uint32_t stack[128];
    uint32_t top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const uint32_t k = stack[--top];
        const KdTree::Node &nd = nodes[k];
        if (nd.min_row >= best_row) continue;
        if (tree_.box_distance2(k, x) > node_reach2_[k]) continue;
        if (nd.left != KdTree::kNone) {
            // The left child is searched first (pushed last); either order
            // gives the same answer.
            stack[top++] = nd.right;
            stack[top++] = nd.left;
            continue;
        }
        for (uint32_t s = nd.begin; s < nd.end; s++) {
            const uint32_t row = tree_.row_of_slot(s);
            if (row >= best_row) continue;
            double sum;
            if (!partial_sum(n_, tree_.slot_coords(s), x, sure_out_[s], &sum)) continue;
            if (sum <= sure_in_[s] || !(std::sqrt(sum) > radius_[s])) {
                best_row = row;
                best_sum = sum;
            }
        }
    }
    if (best_row == KdTree::kNone) return 0;
    *r_out = std::sqrt(best_sum);
    return best_row;
}

}  // namespace travo::core
