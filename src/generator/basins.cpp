// Attraction regions: radii from the nearest neighbours, the global region,
// widening and shrinking; then the peaks, the local minimum values and the
// list of global minimizers.
#include <new>

#include "generator/fast_paths.hpp"
#include "generator/member.hpp"
#include "generator/meter.hpp"
#include "random/lagfib.hpp"

namespace travo::core {
namespace {

// Half the distance from each row to its nearest other row.
bool first_radii(Member &mb, Meter &meter) {
    const uint32_t m = mb.num_minima;
    double *const *p = mb.minima.points;
    meter.pace(std::uint64_t(m) * mb.dim);
    for (uint32_t i = 0; i < m; i++) {
        if (!meter.step()) return false;
        double e = kHuge;
        for (uint32_t j = 0; j < m; j++) {
            if (j == i) continue;
            const double dist = norm(mb.dim, p[i], p[j]);
            if (dist < e) e = dist;
        }
        mb.minima.radii[i] = 0.5 * e;
    }
    return true;
}

}  // namespace

// The global region gets radius R; every other region ends at least 1e-10
// short of it.
void detail::global_region(Member &mb) {
    double *const *p = mb.minima.points;
    double *radii = mb.minima.radii;
    const double big_r = mb.global_radius;
    radii[1] = big_r;
    for (uint32_t i = 2; i < mb.num_minima; i++) {
        const double t = (norm(mb.dim, p[i], p[1]) - big_r) - kTol;
        if (t < radii[i]) radii[i] = t;
    }
}

namespace {

// Each region but the global one grows up to its nearest neighbour's edge,
// reading the radii as they stand (rows widened earlier count widened).
bool widen(Member &mb, Meter &meter) {
    const uint32_t m = mb.num_minima;
    double *const *p = mb.minima.points;
    double *radii = mb.minima.radii;
    meter.pace(std::uint64_t(m) * mb.dim);
    for (uint32_t i = 0; i < m; i++) {
        if (!meter.step()) return false;
        if (i == 1) continue;
        double e = kHuge;
        for (uint32_t j = 0; j < m; j++) {
            if (j == i) continue;
            const double t = norm(mb.dim, p[i], p[j]) - radii[j];
            if (t < e) e = t;
        }
        if (e > radii[i] + kTol) radii[i] = e;
    }
    return true;
}

// Steps 1 to 3 by scanning every pair of rows.
bool size_regions_reference(Member &mb, Meter &meter) {
    if (!first_radii(mb, meter)) return false;
    detail::global_region(mb);
    return widen(mb, meter);
}

void peaks_and_values(Member &mb, RandomSource &rng) {
    MinimaTable &tab = mb.minima;
    const double g = mb.global_value;
    tab.peaks[0] = 0.0;
    tab.peaks[1] = 0.0;
    for (uint32_t i = 2; i < mb.num_minima; i++) {
        const double dist = norm(mb.dim, tab.points[0], tab.points[i]);
        const double gap = tab.radii[i] - dist;
        const double edge = gap * gap + tab.values[0];
        const double u = rng.draw();
        const double a = u * (edge - g);
        const double b = u * tab.radii[i] + tab.radii[i];
        tab.peaks[i] = a < b ? a : b;
        tab.values[i] = edge - tab.peaks[i];
    }
}

// Global rows first, increasing; the others from the last slot downwards.
void list_globals(Member &mb) {
    const uint32_t m = mb.num_minima;
    const double g = mb.global_value;
    GlobalMinimaList &glob = mb.glob;
    glob.count = 0;
    for (uint32_t i = 0; i < m; i++) {
        const double v = mb.minima.values[i];
        if (g - kTol <= v && v <= g + kTol) {
            glob.indices[glob.count] = i;
            glob.count++;
        } else {
            glob.indices[m - i + glob.count - 1] = i;
        }
    }
}

bool tables_missing(const Member &mb) {
    return mb.minima.points == nullptr || mb.minima.radii == nullptr || mb.minima.peaks == nullptr ||
           mb.minima.values == nullptr || mb.minima.weights == nullptr || mb.glob.indices == nullptr;
}

// Steps 4 to 7, after the radii are sized.
TravoStatus finish_basins(Member &mb, RandomSource &rng) {
    for (uint32_t i = 0; i < mb.num_minima; i++) {
        mb.minima.radii[i] = mb.minima.weights[i] * mb.minima.radii[i];
    }
    peaks_and_values(mb, rng);
    list_globals(mb);
    return mb.glob.count == 0 ? TRAVO_NO_GLOBAL_MINIMUM : TRAVO_STATUS_OK;
}

}  // namespace

TravoStatus set_basins_reference(Member &mb, RandomSource &rng) {
    if (tables_missing(mb)) return TRAVO_NO_MEMORY;
    Meter silent;
    size_regions_reference(mb, silent);
    return finish_basins(mb, rng);
}

TravoStatus set_basins(Member &mb, RandomSource &rng, Path path, Meter *meter, const Execution &execution) {
    if (tables_missing(mb)) return TRAVO_NO_MEMORY;
    Meter silent;
    Meter &counter = meter != nullptr ? *meter : silent;
    const Path form = path == Path::Automatic ? sizing_path(mb.dim, mb.num_minima) : path;
    bool abandoned = false;
    bool sized = false;
    if (form != Path::Reference) {
        try {
            sized = size_regions_fast(mb, form, counter, &abandoned, execution);
        } catch (const std::bad_alloc &) {
            // The scans would need no storage, but at a size where the fast
            // forms pay they would take far too long.
            return TRAVO_NO_MEMORY;
        }
    }
    if (abandoned) return kAbandoned;
    if (!sized && !size_regions_reference(mb, counter)) return kAbandoned;
    const TravoStatus status = finish_basins(mb, rng);
    if (!counter.step(mb.num_minima)) return kAbandoned;
    return status;
}

TravoStatus set_basins(Member &mb, RandomSource &rng) { return set_basins(mb, rng, Path::Automatic); }

}  // namespace travo::core
