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

}  // namespace travo::core
