#include "spatial/spatial_index.hpp"

#include <algorithm>
#include <numeric>

namespace travo::core {

bool all_rows_safe(uint32_t n, const double *const *rows, uint32_t first, uint32_t count) {
    for (uint32_t i = first; i < count; i++) {
        const double *p = rows[i];
        for (uint32_t c = 0; c < n; c++) {
            if (!is_safe_value(p[c])) return false;
        }
    }
    return true;
}

KdTree::KdTree(uint32_t n, const double *const *rows, uint32_t first, uint32_t count, uint32_t leaf_size,
               const StopCheck &stop)
    : n_(n), stop_(stop) {
    // Larger leaves in higher dimension, where most leaves near a query are
    // visited anyway and fewer boxes cost less (bench/generation_bench).
    leaf_size_ = leaf_size != 0 ? leaf_size : (n <= 3 ? 12 : 32);
    if (count <= first) return;
    const uint32_t size = count - first;
    row_of_slot_.resize(size);
    std::iota(row_of_slot_.begin(), row_of_slot_.end(), first);
    slot_of_row_.assign(count, kNone);
    leaf_of_slot_.assign(size, kNone);
    radius_.assign(size, 0.0);
    coords_.resize(std::size_t(size) * n);
    for (uint32_t s = 0; s < size; s++) std::copy(rows[first + s], rows[first + s] + n, &coords_[std::size_t(s) * n]);
    nodes_.reserve(4 * (size / leaf_size_ + 1));
    boxes_.reserve(nodes_.capacity() * 2 * n);

    // The build reorders the slots, coordinates and row numbers together,
    // so that each node's rows lie contiguously.
    complete_ = size < kStopEvery || stop_();
    if (complete_) build(0, size, kNone);
    scratch_ = {};
    stop_ = {};
    for (uint32_t s = 0; s < size; s++) slot_of_row_[row_of_slot_[s]] = s;
}

void KdTree::split(uint32_t begin, uint32_t mid, uint32_t end, uint32_t axis) {
    scratch_.clear();
    for (uint32_t s = begin; s < end; s++) scratch_.emplace_back(coords_[std::size_t(s) * n_ + axis], s);
    std::nth_element(scratch_.begin(), scratch_.begin() + (mid - begin), scratch_.end());
    if (end - begin >= kStopEvery && !stop_()) {
        complete_ = false;
        return;
    }
    // Apply the order to the slots' coordinates and rows.
    std::vector<double> coords(std::size_t(end - begin) * n_);
    std::vector<uint32_t> rows(end - begin);
    for (uint32_t k = 0; k < end - begin; k++) {
        const uint32_t s = scratch_[k].second;
        std::copy(&coords_[std::size_t(s) * n_], &coords_[std::size_t(s) * n_] + n_, &coords[std::size_t(k) * n_]);
        rows[k] = row_of_slot_[s];
    }
    std::copy(coords.begin(), coords.end(), &coords_[std::size_t(begin) * n_]);
    std::copy(rows.begin(), rows.end(), &row_of_slot_[begin]);
}

uint32_t KdTree::build(uint32_t begin, uint32_t end, uint32_t parent) {
    const uint32_t id = static_cast<uint32_t>(nodes_.size());
    nodes_.push_back(Node{});
    nodes_[id].begin = begin;
    nodes_[id].end = end;
    nodes_[id].parent = parent;

    // Bounding box and lowest row of the node.
    boxes_.resize(boxes_.size() + 2 * std::size_t(n_));
    double *lo = &boxes_[std::size_t(id) * 2 * n_];
    double *hi = lo + n_;
    std::copy(slot_coords(begin), slot_coords(begin) + n_, lo);
    std::copy(slot_coords(begin), slot_coords(begin) + n_, hi);
    uint32_t min_row = row_of_slot_[begin];
    for (uint32_t s = begin + 1; s < end; s++) {
        const double *p = slot_coords(s);
        for (uint32_t c = 0; c < n_; c++) {
            lo[c] = std::min(lo[c], p[c]);
            hi[c] = std::max(hi[c], p[c]);
        }
        min_row = std::min(min_row, row_of_slot_[s]);
    }
    nodes_[id].min_row = min_row;

    if (end - begin <= leaf_size_) {
        for (uint32_t s = begin; s < end; s++) leaf_of_slot_[s] = id;
        return id;
    }
    uint32_t axis = 0;
    double extent = hi[0] - lo[0];
    for (uint32_t c = 1; c < n_; c++) {
        if (hi[c] - lo[c] > extent) {
            extent = hi[c] - lo[c];
            axis = c;
        }
    }
    if (!complete_ || (end - begin >= kStopEvery && !stop_())) {
        complete_ = false;
        return id;
    }
    const uint32_t mid = begin + (end - begin) / 2;
    split(begin, mid, end, axis);
    if (!complete_) return id;
    const uint32_t left = build(begin, mid, id);
    const uint32_t right = build(mid, end, id);
    nodes_[id].left = left;
    nodes_[id].right = right;
    return id;
}

void KdTree::set_radii(const double *radii) {
    for (uint32_t s = 0; s < size(); s++) radius_[s] = radii[row_of_slot_[s]];
    // Children follow their parent, so a reverse pass sees them first.
    for (std::size_t k = nodes_.size(); k-- > 0;) {
        Node &nd = nodes_[k];
        if (nd.left == kNone) {
            double r = radius_[nd.begin];
            for (uint32_t s = nd.begin + 1; s < nd.end; s++) r = std::max(r, radius_[s]);
            nd.max_radius = r;
        } else {
            nd.max_radius = std::max(nodes_[nd.left].max_radius, nodes_[nd.right].max_radius);
        }
    }
}

void KdTree::raise_radius(uint32_t row, double radius) {
    const uint32_t slot = slot_of_row_[row];
    radius_[slot] = radius;
    for (uint32_t k = leaf_of_slot_[slot]; k != kNone && nodes_[k].max_radius < radius; k = nodes_[k].parent) {
        nodes_[k].max_radius = radius;
    }
}

namespace {

// The sums of squares of q - p_k for four rows at once: four independent
// chains, each summed in increasing coordinate order, so each is the very
// number core::norm takes the square root of (interleaving them only lets
// the processor overlap the chains). The sums are left as soon as every one
// exceeds its limit (a running sum of finite squares never decreases), and
// the function then returns false.
inline bool sums_of_four(uint32_t n, const double *q, const double *const p[4], const double limit[4], double sum[4]) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    uint32_t c = 0;
    for (; c + 4 <= n; c += 4) {
        for (uint32_t k = c; k < c + 4; k++) {
            const double d0 = q[k] - p[0][k], d1 = q[k] - p[1][k], d2 = q[k] - p[2][k], d3 = q[k] - p[3][k];
            s0 += d0 * d0;
            s1 += d1 * d1;
            s2 += d2 * d2;
            s3 += d3 * d3;
        }
        if (s0 > limit[0] && s1 > limit[1] && s2 > limit[2] && s3 > limit[3]) return false;
    }
    for (; c < n; c++) {
        const double d0 = q[c] - p[0][c], d1 = q[c] - p[1][c], d2 = q[c] - p[2][c], d3 = q[c] - p[3][c];
        s0 += d0 * d0;
        s1 += d1 * d1;
        s2 += d2 * d2;
        s3 += d3 * d3;
    }
    sum[0] = s0;
    sum[1] = s1;
    sum[2] = s2;
    sum[3] = s3;
    return true;
}

// The rows of a leaf other than `skip`, four at a time. `limit(slot, best)`
// is a bound above which the slot's sum of squares cannot improve on best;
// `accept(slot, sum, best)` lowers best to the slot's exact candidate value
// when smaller. A limit taken before best decreases is only looser.
template <class Limit, class Accept>
void scan_leaf(const KdTree &tree, uint32_t begin, uint32_t end, const double *q, uint32_t skip, double &best,
               Limit limit, Accept accept) {
    for (uint32_t s = begin; s < end; s += 4) {
        const double *p[4];
        double lim[4], sum[4];
        bool live[4];
        for (uint32_t k = 0; k < 4; k++) {
            const uint32_t slot = s + k;
            live[k] = slot < end && tree.row_of_slot(slot) != skip;
            p[k] = live[k] ? tree.slot_coords(slot) : q;  // a stand-in sums to 0
            lim[k] = live[k] ? limit(slot, best) : -1.0;
        }
        if (!sums_of_four(tree.dim(), q, p, lim, sum)) continue;
        for (uint32_t k = 0; k < 4; k++) {
            if (live[k]) accept(s + k, sum[k], best);
        }
    }
}

// Depth-first search shared by the two neighbour queries, nearer child
// first. `hopeless(node, d2, best)` tells from the node's squared box
// distance d2 that no candidate in it can go below best; leaves are
// scanned with scan_leaf.
template <class Hopeless, class Limit, class Accept>
void descend(const KdTree &tree, uint32_t node, double d2, const double *q, uint32_t skip, double &best,
             Hopeless hopeless, Limit limit, Accept accept) {
    if (hopeless(node, d2, best)) return;
    const KdTree::Node &nd = tree.nodes()[node];
    if (nd.left == KdTree::kNone) {
        scan_leaf(tree, nd.begin, nd.end, q, skip, best, limit, accept);
        return;
    }
    const double dl = tree.box_distance2(nd.left, q);
    const double dr = tree.box_distance2(nd.right, q);
    if (dl <= dr) {
        descend(tree, nd.left, dl, q, skip, best, hopeless, limit, accept);
        descend(tree, nd.right, dr, q, skip, best, hopeless, limit, accept);
    } else {
        descend(tree, nd.right, dr, q, skip, best, hopeless, limit, accept);
        descend(tree, nd.left, dl, q, skip, best, hopeless, limit, accept);
    }
}

}  // namespace

double KdTree::nearest(const double *q, uint32_t skip, double start, uint32_t *row_out) const {
    double best = start;
    if (row_out != nullptr) *row_out = kNone;
    if (nodes_.empty()) return best;
    auto hopeless = [](uint32_t, double d2, double b) { return d2 > reach2(b); };
    auto limit = [](uint32_t, double b) { return reach2(b); };
    auto accept = [this, row_out](uint32_t s, double sum, double &b) {
        const double v = std::sqrt(sum);
        if (v < b) {
            b = v;
            if (row_out != nullptr) *row_out = row_of_slot_[s];
        }
    };
    descend(*this, 0, box_distance2(0, q), q, skip, best, hopeless, limit, accept);
    return best;
}

double KdTree::nearest_gap(const double *q, uint32_t skip, double start, double enough) const {
    double best = start;
    if (nodes_.empty()) return best;
    // A candidate distance - radius can go below best only if its distance
    // goes below best + radius. When that sum rounds below zero it is below
    // zero exactly, and no distance (never negative) can; otherwise reach2
    // covers the rounding of the sum, which is relative to the sum itself.
    auto hopeless = [this, enough](uint32_t node, double d2, double b) {
        if (!(b > enough)) return true;
        const double reach = b + nodes_[node].max_radius;
        return reach < 0.0 || d2 > reach2(reach);
    };
    // reach2 of a negative reach is -1: such a row cannot improve on best,
    // and if its sum is completed all the same its exact value just loses.
    auto limit = [this](uint32_t s, double b) { return reach2(b + radius_[s]); };
    auto accept = [this](uint32_t s, double sum, double &b) {
        const double v = std::sqrt(sum) - radius_[s];
        if (v < b) b = v;
    };
    descend(*this, 0, box_distance2(0, q), q, skip, best, hopeless, limit, accept);
    return best;
}

}  // namespace travo::core
