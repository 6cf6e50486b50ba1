// Parameters, the box and the per-minimum tables of a member.
#include <cmath>
#include <cstdint>

#include "generator/member.hpp"
#include "host/host_alloc.h"

namespace travo::core {
namespace {

double shortest_side(const Member &mb) { return core::shortest_side(mb.dim, mb.domain_left, mb.domain_right); }

bool bad_dimension(uint32_t n) { return n - kMinDim > kMaxDim - kMinDim; }

template <class T>
T *take(std::size_t count) {
    const std::size_t bytes = table_bytes(count, sizeof(T));
    return bytes == 0 ? nullptr : static_cast<T *>(mxMalloc(bytes));
}

void set_unit_box(Member &mb) {
    for (uint32_t i = 0; i < mb.dim; i++) {
        mb.domain_left[i] = -1.0;
        mb.domain_right[i] = 1.0;
    }
}

}  // namespace

double box_diagonal(uint32_t n, const double *lower, const double *upper) {
    double sum = 0.0;
    for (uint32_t i = 0; i < n; i++) {
        const double side = upper[i] - lower[i];
        sum += side * side;
    }
    return std::sqrt(sum);
}

double lowest_global_value(double d, double r) {
    return d * d - (r < 1.0 ? kMaxGlobalHeight * (r * r) : kMaxGlobalHeight);
}

std::size_t table_bytes(std::size_t count, std::size_t size) {
    if (count == 0 || size == 0 || count > UINT32_MAX / size) return 0;
    return count * size;
}

TravoStatus set_default(Member &mb) {
    mb.num_minima = 10;
    mb.dim = 2;
    if (mb.domain_left == nullptr || mb.domain_right == nullptr) {
        mb.domain_left = take<double>(2);
        if (mb.domain_left == nullptr) return TRAVO_NO_MEMORY;
        mb.domain_right = take<double>(mb.dim);
        if (mb.domain_right == nullptr) return TRAVO_NO_MEMORY;
        set_unit_box(mb);
    }
    const double side = shortest_side(mb);
    mb.global_value = -1.0;
    mb.global_dist = side / 3.0;
    mb.global_radius = mb.global_dist * 0.5;
    return TRAVO_STATUS_OK;
}

TravoStatus domain_alloc(Member &mb) {
    if (bad_dimension(mb.dim)) return TRAVO_BAD_DIMENSION;
    mb.domain_left = take<double>(mb.dim);
    if (mb.domain_left == nullptr) return TRAVO_NO_MEMORY;
    mb.domain_right = take<double>(mb.dim);
    if (mb.domain_right == nullptr) return TRAVO_NO_MEMORY;
    set_unit_box(mb);
    return TRAVO_STATUS_OK;
}

void domain_free(Member &mb) {
    if (mb.domain_left != nullptr) mxFree(mb.domain_left);
    if (mb.domain_right != nullptr) mxFree(mb.domain_right);
    mb.domain_left = nullptr;
    mb.domain_right = nullptr;
}

TravoStatus parameters_check(const Member &mb) {
    if (bad_dimension(mb.dim)) return TRAVO_BAD_DIMENSION;
    if (mb.num_minima < 2) return TRAVO_BAD_MINIMA_COUNT;
    if (mb.domain_left == nullptr || mb.domain_right == nullptr) return TRAVO_BAD_DOMAIN;
    for (uint32_t i = 0; i < mb.dim; i++) {
        if (mb.domain_left[i] >= mb.domain_right[i] - kTol) return TRAVO_BAD_DOMAIN;
    }
    if (mb.global_value >= -kTol) return TRAVO_BAD_GLOBAL_VALUE;
    const double side = shortest_side(mb);
    if (mb.global_dist >= 0.5 * side - kTol || mb.global_dist <= kTol) {
        return TRAVO_BAD_GLOBAL_DISTANCE;
    }
    if (mb.global_radius >= 0.5 * mb.global_dist + kTol || mb.global_radius <= kTol) {
        return TRAVO_BAD_GLOBAL_RADIUS;
    }
    // NaN and infinities pass the comparisons above, and finite numbers can
    // still make values or derivatives overflow: both are refused here,
    // after every rule above, so an input refused by one of those keeps its
    // status. A NaN global value keeps its own (no global minimum).
    if (std::isnan(mb.global_value)) return TRAVO_STATUS_OK;
    for (uint32_t i = 0; i < mb.dim; i++) {
        if (!std::isfinite(mb.domain_left[i]) || !std::isfinite(mb.domain_right[i])) return TRAVO_BAD_DOMAIN;
    }
    if (!(box_diagonal(mb.dim, mb.domain_left, mb.domain_right) <= kMaxBoxDiagonal)) return TRAVO_BAD_DOMAIN;
    if (!std::isfinite(mb.global_value)) return TRAVO_BAD_GLOBAL_VALUE;
    if (std::isnan(mb.global_dist)) return TRAVO_BAD_GLOBAL_DISTANCE;
    if (std::isnan(mb.global_radius)) return TRAVO_BAD_GLOBAL_RADIUS;
    if (mb.global_value < lowest_global_value(mb.global_dist, mb.global_radius)) return TRAVO_BAD_GLOBAL_VALUE;
    return TRAVO_STATUS_OK;
}

TravoStatus alloc_tables(Member &mb) { return alloc_tables(mb, StopCheck{}); }

TravoStatus alloc_tables(Member &mb, const StopCheck &stop) {
    if (bad_dimension(mb.dim)) return TRAVO_BAD_DIMENSION;
    if (mb.num_minima < 2) return TRAVO_BAD_MINIMA_COUNT;
    const uint32_t m = mb.num_minima;
    // Every reference starts empty, so that storage left by a failure part
    // way can still be released with free_tables.
    mb.minima = MinimaTable{};
    mb.glob.indices = nullptr;

    mb.minima.points = take<double *>(m);
    if (mb.minima.points == nullptr) return TRAVO_NO_MEMORY;
    for (uint32_t i = 0; i < m; i++) mb.minima.points[i] = nullptr;
    for (uint32_t i = 0; i < m; i++) {
        if (i % kStopEvery == kStopEvery - 1 && !stop()) return kAbandoned;
        mb.minima.points[i] = take<double>(mb.dim);
        if (mb.minima.points[i] == nullptr) return TRAVO_NO_MEMORY;
    }
    double **const tables[] = {&mb.minima.weights, &mb.minima.peaks, &mb.minima.radii, &mb.minima.values};
    for (double **table : tables) {
        *table = take<double>(m);
        if (*table == nullptr) return TRAVO_NO_MEMORY;
    }
    mb.glob.indices = take<uint32_t>(m);
    if (mb.glob.indices == nullptr) return TRAVO_NO_MEMORY;
    mb.glob.count = 0;
    return TRAVO_STATUS_OK;
}

void free_tables(Member &mb) {
    if (mb.minima.points != nullptr) {
        for (uint32_t i = 0; i < mb.num_minima; i++) {
            if (mb.minima.points[i] != nullptr) mxFree(mb.minima.points[i]);
        }
    }
    void *const tables[] = {mb.minima.points, mb.minima.weights, mb.minima.peaks,
                            mb.minima.radii,  mb.minima.values,  mb.glob.indices};
    for (void *table : tables) {
        if (table != nullptr) mxFree(table);
    }
    mb.minima = MinimaTable{};
    mb.glob.indices = nullptr;
    mb.isArgSet = 0;
}

}  // namespace travo::core
