#include "generator/sizing.hpp"

#include <algorithm>
#include <limits>

namespace travo::core {

PanelTable::PanelTable(uint32_t n, uint32_t m, const double *const *rows)
    : n_(n), m_(m), panels_((m + RowPanels::kLanes - 1) / RowPanels::kLanes) {
    constexpr std::size_t lanes = RowPanels::kLanes;
    coords_.assign(std::size_t(panels_) * n * lanes, std::numeric_limits<double>::quiet_NaN());
    radius_.assign(std::size_t(panels_) * lanes, 0.0);
    panel_radius_.assign(panels_, 0.0);
    for (uint32_t i = 0; i < m; i++) {
        double *to = &coords_[std::size_t(i / lanes) * n * lanes + i % lanes];
        for (uint32_t c = 0; c < n; c++) to[std::size_t(c) * lanes] = rows[i][c];
    }
}

void PanelTable::set_radii(const double *radii) {
    std::copy(radii, radii + m_, radius_.begin());
    for (uint32_t p = 0; p < panels_; p++) {
        const uint32_t first = p * RowPanels::kLanes, last = std::min(m_, first + RowPanels::kLanes);
        panel_radius_[p] = *std::max_element(&radius_[first], &radius_[last]);
    }
}

void PanelTable::raise_radius(uint32_t row, double radius) {
    radius_[row] = radius;
    double &largest = panel_radius_[row / RowPanels::kLanes];
    largest = std::max(largest, radius);
}

RowPanels PanelTable::view() const {
    return RowPanels{n_, m_, panels_, coords_.data(), radius_.data(), panel_radius_.data()};
}

std::size_t PanelTable::bytes() const {
    return (coords_.size() + radius_.size() + panel_radius_.size()) * sizeof(double);
}

TreePanels::TreePanels(const KdTree &tree) : n_(tree.dim()) {
    constexpr std::size_t lanes = RowPanels::kLanes;
    const auto &nodes = tree.nodes();
    leaf_panel_.assign(nodes.size(), 0);
    uint32_t panels = 0;
    for (std::size_t k = 0; k < nodes.size(); k++) {
        if (nodes[k].left != KdTree::kNone) continue;
        leaf_panel_[k] = panels;
        panels += static_cast<uint32_t>((nodes[k].end - nodes[k].begin + lanes - 1) / lanes);
    }
    coords_.assign(std::size_t(panels) * n_ * lanes, std::numeric_limits<double>::quiet_NaN());
    radius_.assign(std::size_t(panels) * lanes, 0.0);
    row_.assign(std::size_t(panels) * lanes, KdTree::kNone);
    lane_of_row_.assign(tree.size(), 0);
    for (std::size_t k = 0; k < nodes.size(); k++) {
        if (nodes[k].left != KdTree::kNone) continue;
        for (uint32_t s = nodes[k].begin; s < nodes[k].end; s++) {
            const std::size_t lane = std::size_t(leaf_panel_[k]) * lanes + (s - nodes[k].begin);
            const double *from = tree.slot_coords(s);
            double *to = &coords_[lane / lanes * n_ * lanes + lane % lanes];
            for (uint32_t c = 0; c < n_; c++) to[std::size_t(c) * lanes] = from[c];
            row_[lane] = tree.row_of_slot(s);
            lane_of_row_[row_[lane]] = static_cast<uint32_t>(lane);
        }
    }
}

void TreePanels::set_radii(const double *radii) {
    for (std::size_t lane = 0; lane < row_.size(); lane++) {
        if (row_[lane] != KdTree::kNone) radius_[lane] = radii[row_[lane]];
    }
}

void TreePanels::raise_radius(uint32_t row, double radius) { radius_[lane_of_row_[row]] = radius; }

TreeLanes TreePanels::view(const KdTree &tree) const {
    return TreeLanes{n_,
                     tree.nodes().data(),
                     tree.nodes().empty() ? nullptr : tree.box_lo(0),
                     leaf_panel_.data(),
                     coords_.data(),
                     radius_.data(),
                     row_.data()};
}

std::size_t TreePanels::bytes() const {
    return (coords_.size() + radius_.size()) * sizeof(double) +
           (leaf_panel_.size() + row_.size() + lane_of_row_.size()) * sizeof(uint32_t);
}

const SizingKernels &sizing_kernels(Simd cap) {
    const auto of = [](Simd simd) {
        switch (simd) {
        case Simd::AVX512:
            return sizing_kernels_avx512();
        case Simd::AVX2:
            return sizing_kernels_avx2();
        case Simd::SSE2:
            break;
        }
        return sizing_kernels_sse2();
    };
    return *of(widest_simd(cap, [&](Simd simd) { return of(simd) != nullptr; }));
}

}  // namespace travo::core
