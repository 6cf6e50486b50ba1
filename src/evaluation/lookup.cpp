#include "evaluation/lookup.hpp"

#include <cmath>
#include <limits>

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

RegionIndex::RegionIndex(const Member &mb, Layout layout) : n_(mb.dim), m_(mb.num_minima) {
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

    const bool tree = layout == Layout::Tree || (layout == Layout::Chosen && tree_pays(n_, m_));
    if (tree) {
        mode_ = Mode::Tree;
        tree_ = KdTree(n_, tab.points, 1, m_);
        tree_.set_radii(tab.radii);
        for (uint32_t s = 0; s < regions; s++) set_bounds(s, tab.radii[tree_.row_of_slot(s)]);
        node_reach2_.resize(tree_.nodes().size());
        for (std::size_t k = 0; k < node_reach2_.size(); k++) {
            node_reach2_[k] = KdTree::reach2(tree_.nodes()[k].max_radius);
        }
    } else {
        mode_ = Mode::Rows;
        coords_.resize(std::size_t(regions) * n_);
        for (uint32_t k = 1; k < m_; k++) {
            std::copy(tab.points[k], tab.points[k] + n_, &coords_[std::size_t(k - 1) * n_]);
            set_bounds(k - 1, tab.radii[k]);
        }
    }
}

uint32_t RegionIndex::find(const Member &mb, const double *x, double *r_out) const {
    if (mode_ == Mode::Scan || mb.dim != n_ || mb.num_minima != m_) return find_region_scan(mb, x, r_out);
    for (uint32_t c = 0; c < n_; c++) {
        if (!is_safe_value(x[c])) return find_region_scan(mb, x, r_out);
    }
    return mode_ == Mode::Tree ? find_tree(x, r_out) : find_rows(x, r_out);
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
