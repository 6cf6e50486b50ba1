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
