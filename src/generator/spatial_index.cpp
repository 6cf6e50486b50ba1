#include "generator/spatial_index.hpp"

#include <algorithm>
#include <numeric>

namespace travo::core {
namespace {

// Margins of distance_floor. Rounding moves a computed distance over at most
// 1008 coordinates by a relative 1e-12 and, through underflow of tiny
// squares, by an absolute 1e-160; these margins are orders wider.
constexpr double kRelMargin = 1e-9;
constexpr double kAbsMargin = 1e-140;

}  // namespace

bool all_rows_safe(uint32_t n, const double *const *rows, uint32_t first, uint32_t count) {
    for (uint32_t i = first; i < count; i++) {
        const double *p = rows[i];
        for (uint32_t c = 0; c < n; c++) {
            if (!is_safe_value(p[c])) return false;
        }
    }
    return true;
}

KdTree::KdTree(uint32_t n, const double *const *rows, uint32_t first, uint32_t count) : n_(n) {
    if (count <= first) return;
    const uint32_t size = count - first;
    row_of_slot_.resize(size);
    std::iota(row_of_slot_.begin(), row_of_slot_.end(), first);
    slot_of_row_.assign(count, kNone);
    leaf_of_slot_.assign(size, kNone);
    radius_.assign(size, 0.0);
    coords_.resize(std::size_t(size) * n);
    nodes_.reserve(2 * (size / kLeafSize + 1));
    boxes_.reserve(nodes_.capacity() * 2 * n);

    // The partition works on row numbers and reads coordinates through the
    // row references; the slots' contiguous copy follows.
    rows_ = rows;
    build(0, size, kNone);
    rows_ = nullptr;
    for (uint32_t s = 0; s < size; s++) {
        const uint32_t row = row_of_slot_[s];
        slot_of_row_[row] = s;
        std::copy(rows[row], rows[row] + n, &coords_[std::size_t(s) * n]);
    }
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
    const double *first = rows_[row_of_slot_[begin]];
    std::copy(first, first + n_, lo);
    std::copy(first, first + n_, hi);
    uint32_t min_row = row_of_slot_[begin];
    for (uint32_t s = begin + 1; s < end; s++) {
        const double *p = rows_[row_of_slot_[s]];
        for (uint32_t c = 0; c < n_; c++) {
            lo[c] = std::min(lo[c], p[c]);
            hi[c] = std::max(hi[c], p[c]);
        }
        min_row = std::min(min_row, row_of_slot_[s]);
    }
    nodes_[id].min_row = min_row;

    if (end - begin <= kLeafSize) {
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
    const uint32_t mid = begin + (end - begin) / 2;
    const double *const *rows = rows_;
    std::nth_element(row_of_slot_.begin() + begin, row_of_slot_.begin() + mid, row_of_slot_.begin() + end,
                     [rows, axis](uint32_t a, uint32_t b) { return rows[a][axis] < rows[b][axis]; });
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

double KdTree::box_distance2(uint32_t node, const double *q) const {
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

double KdTree::distance_floor(uint32_t node, const double *q) const {
    return std::sqrt(box_distance2(node, q)) * (1.0 - kRelMargin) - kAbsMargin;
}

namespace {

// Depth-first search shared by the two neighbour queries. `floor_of` gives
// the bound below which no candidate of a node can go, `value_of` the exact
// candidate value of a slot.
template <class Floor, class Value>
void descend(const KdTree &tree, uint32_t node, double node_floor, uint32_t skip, double &best, Floor floor_of,
             Value value_of) {
    if (!(node_floor <= best)) return;  // no candidate here can be smaller
    const KdTree::Node &nd = tree.nodes()[node];
    if (nd.left == KdTree::kNone) {
        for (uint32_t s = nd.begin; s < nd.end; s++) {
            if (tree.row_of_slot(s) == skip) continue;
            const double v = value_of(s);
            if (v < best) best = v;
        }
        return;
    }
    const double fl = floor_of(nd.left);
    const double fr = floor_of(nd.right);
    if (fl <= fr) {
        descend(tree, nd.left, fl, skip, best, floor_of, value_of);
        descend(tree, nd.right, fr, skip, best, floor_of, value_of);
    } else {
        descend(tree, nd.right, fr, skip, best, floor_of, value_of);
        descend(tree, nd.left, fl, skip, best, floor_of, value_of);
    }
}

}  // namespace

double KdTree::nearest(const double *q, uint32_t skip, double start) const {
    double best = start;
    if (nodes_.empty()) return best;
    auto floor_of = [this, q](uint32_t node) { return distance_floor(node, q); };
    auto value_of = [this, q](uint32_t s) { return exact_norm(n_, q, slot_coords(s)); };
    descend(*this, 0, floor_of(0), skip, best, floor_of, value_of);
    return best;
}

double KdTree::nearest_gap(const double *q, uint32_t skip, double start) const {
    double best = start;
    if (nodes_.empty()) return best;
    // Every candidate of a node is at least floor - max radius, rounded:
    // rounding is monotone, so it cannot fall below that rounded bound.
    auto floor_of = [this, q](uint32_t node) { return distance_floor(node, q) - nodes_[node].max_radius; };
    auto value_of = [this, q](uint32_t s) { return exact_norm(n_, q, slot_coords(s)) - radius_[s]; };
    descend(*this, 0, floor_of(0), skip, best, floor_of, value_of);
    return best;
}

}  // namespace travo::core
